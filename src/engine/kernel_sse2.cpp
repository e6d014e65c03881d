// The vector passes with SSE2, which every x86-64 processor has: two
// doubles or four floats at a time.
#if defined(__x86_64__)
#include "passes.h"

namespace loopmass {
extern const t_kernels loopmass_sse2 = {"sse2", scan, step};
}
#endif
