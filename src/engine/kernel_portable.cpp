// The kernels in plain C++, one value at a time: for any machine, and the
// fallback on x86-64 processors the wider kernels do not fit.
#include <cstdint>

#include "kernel.h"

namespace loopmass {
namespace {

#define LANES 1
#define KERNELS loopmass_portable
#define NAME "portable"

typedef double vd __attribute__((vector_size(8 * LANES)));
typedef float vf __attribute__((vector_size(4 * LANES)));
typedef int32_t vi __attribute__((vector_size(4 * LANES)));
typedef int64_t vl __attribute__((vector_size(8 * LANES)));
typedef float v8f __attribute__((vector_size(32)));

inline vd to_d(vf v) { return __builtin_convertvector(v, vd); }

inline vd gather(const double *t, vi i) { return vd{t[i[0]]}; }

inline bool all_lanes(vl m) { return m[0] != 0; }

inline bool inside(const v8f &s, float nf)
{
    bool all = true;
    for (int l = 0; l < 8; l++)
        all = all && s[l] >= 0.0f && s[l] < nf;
    return all;
}

inline void store_pairs(float *w, int stride, const v8f &s0, const v8f &s1)
{
    for (int k = 0; k < 5; k++) {
        w[k * stride] = s0[k];
        w[k * stride + 1] = s1[k];
    }
}

inline void put_motion(t_atom *a, const float *v, int n)
{
    for (int i = 0; i < n; i++)
        atom_setfloat(&a[i], v[i]);
}

} // namespace
} // namespace loopmass

#include "passes.h"
