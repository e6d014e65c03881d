// The kernels with SSE2, which every x86-64 processor has: two doubles or
// four floats at a time.
#if defined(__x86_64__)
#include <cstdint>
#include <immintrin.h>

#include "kernel.h"

namespace loopmass {
namespace {

#define LANES 2
#define KERNELS loopmass_sse2
#define NAME "sse2"

typedef double vd __attribute__((vector_size(8 * LANES)));
typedef float vf __attribute__((vector_size(4 * LANES)));
typedef int32_t vi __attribute__((vector_size(4 * LANES)));
typedef int64_t vl __attribute__((vector_size(8 * LANES)));
typedef float v8f __attribute__((vector_size(32)));
typedef float v4f __attribute__((vector_size(16)));

inline vd to_d(vf v) { return (vd)_mm_cvtps_pd((__m128)__builtin_shufflevector(v, v, 0, 1, 0, 1)); }

inline void pairs(const float *t, vi i, vd &a, vd &b)
{
    a = vd{t[i[0]], t[i[1]]};
    b = vd{t[i[0] + 1], t[i[1] + 1]};
}

inline bool all_lanes(vl m) { return _mm_movemask_pd((__m128d)m) == 0x3; }

inline bool inside(const v8f &s, float nf)
{
    const v4f lo = __builtin_shufflevector(s, s, 0, 1, 2, 3), hi = __builtin_shufflevector(s, s, 4, 5, 6, 7);
    const __m128 zero = _mm_setzero_ps(), top = _mm_set1_ps(nf);
    const __m128 in = _mm_and_ps(_mm_and_ps(_mm_cmpge_ps((__m128)lo, zero), _mm_cmplt_ps((__m128)lo, top)),
                                 _mm_and_ps(_mm_cmpge_ps((__m128)hi, zero), _mm_cmplt_ps((__m128)hi, top)));
    return _mm_movemask_ps(in) == 0xf;
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
#endif
