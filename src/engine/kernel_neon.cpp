// The vector passes with Advanced SIMD, which every aarch64 processor has:
// two doubles or four floats at a time.  Compiled without fused
// multiply-add (the project's -ffp-contract=off), as every set is.
#if defined(__aarch64__)
#include "passes.h"

namespace loopmass {
extern const t_kernels loopmass_neon = {"neon", scan, step};
}
#endif
