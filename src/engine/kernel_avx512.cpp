// The vector passes with AVX-512 (F, DQ and VL): eight doubles at a time,
// the ring read with gathers.  No fused multiply-add is ever asked for.
#if defined(__x86_64__)
#if !defined(__AVX512F__) || !defined(__AVX512DQ__) || !defined(__AVX512VL__)
#error "kernel_avx512.cpp is compiled with -mavx512f -mavx512dq -mavx512vl"
#endif
#include "passes.h"

namespace loopmass {
extern const t_kernels loopmass_avx512 = {"avx512", scan, step};
}
#endif
