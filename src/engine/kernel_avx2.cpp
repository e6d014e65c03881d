// The kernels with AVX2: four doubles or eight floats at a time, the table
// read with gathers.  Compiled with -mavx2 only: no fused multiply-add.
#if defined(__x86_64__)
#include <cstdint>
#include <immintrin.h>

#include "kernel.h"

namespace loopmass {
namespace {

#define LANES 4
#define KERNELS loopmass_avx2
#define NAME "avx2"

typedef double vd __attribute__((vector_size(8 * LANES)));
typedef float vf __attribute__((vector_size(4 * LANES)));
typedef int32_t vi __attribute__((vector_size(4 * LANES)));
typedef int64_t vl __attribute__((vector_size(8 * LANES)));
typedef float v8f __attribute__((vector_size(32)));

inline vd to_d(vf v) { return (vd)_mm256_cvtps_pd((__m128)v); }

// Each lane's two neighbouring floats in one 64-bit gather, then parted.
inline void pairs(const float *t, vi i, vd &a, vd &b)
{
    const v8f both = (v8f)_mm256_mask_i32gather_pd(_mm256_setzero_pd(), (const double *)t, (__m128i)i,
                                                   _mm256_set1_pd(-1.0), 4);
    a = to_d(__builtin_shufflevector(both, both, 0, 2, 4, 6));
    b = to_d(__builtin_shufflevector(both, both, 1, 3, 5, 7));
}

inline bool all_lanes(vl m) { return _mm256_movemask_pd((__m256d)m) == 0xf; }

// As unsigned integers the floats in [+0, nf) are exactly those below nf's
// bits: integer units, which the walk's stores and shuffles leave free.
inline bool inside(const v8f &s, float nf)
{
    int32_t top;
    __builtin_memcpy(&top, &nf, sizeof top);
    const __m256i bits = (__m256i)s, below = _mm256_set1_epi32(top - 1);
    return _mm256_movemask_ps((__m256)_mm256_cmpeq_epi32(_mm256_min_epu32(bits, below), bits)) == 0xff;
}

// Lanes 0 and 1 side by side for each oscillator (unpack), then stored as
// 64-bit halves.
inline void store_pairs(float *w, int stride, const v8f &s0, const v8f &s1)
{
    const __m256 lo = _mm256_unpacklo_ps((__m256)s0, (__m256)s1), hi = _mm256_unpackhi_ps((__m256)s0, (__m256)s1);
    _mm_storel_pi((__m64 *)w, _mm256_castps256_ps128(lo));
    _mm_storeh_pi((__m64 *)&w[1 * stride], _mm256_castps256_ps128(lo));
    _mm_storel_pi((__m64 *)&w[2 * stride], _mm256_castps256_ps128(hi));
    _mm_storeh_pi((__m64 *)&w[3 * stride], _mm256_castps256_ps128(hi));
    _mm_storel_pi((__m64 *)&w[4 * stride], _mm256_extractf128_ps(lo, 1));
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
