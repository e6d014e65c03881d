// The vector passes with AVX2: four doubles or eight floats at a time, the
// ring read with gathers.  Compiled with -mavx2 only: no fused multiply-add.
#if defined(__x86_64__)
#if !defined(__AVX2__)
#error "kernel_avx2.cpp is compiled with -mavx2"
#endif
#include "passes.h"

namespace loopmass {
extern const t_kernels loopmass_avx2 = {"avx2", scan, step};
}
#endif
