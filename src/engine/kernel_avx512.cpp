// The kernels with AVX-512 (F, DQ and VL): eight doubles at a time, the
// table read with gathers.  No fused multiply-add is ever asked for.
#if defined(__x86_64__)
#include <cstddef>
#include <cstdint>
#include <immintrin.h>

#include "kernel.h"

namespace loopmass {
namespace {

#define LANES 8
#define KERNELS loopmass_avx512
#define NAME "avx512"

typedef double vd __attribute__((vector_size(8 * LANES)));
typedef float vf __attribute__((vector_size(4 * LANES)));
typedef int32_t vi __attribute__((vector_size(4 * LANES)));
typedef int64_t vl __attribute__((vector_size(8 * LANES)));
typedef float v8f __attribute__((vector_size(32)));
typedef float v16f __attribute__((vector_size(64)));

// The zero-masked forms leave no lane undefined (the plain intrinsics start
// from an undefined register, which GCC 12 warns about).
inline vd to_d(vf v) { return (vd)_mm512_maskz_cvtps_pd(0xff, (__m256)v); }

// Each lane's two neighbouring floats in one 64-bit gather, then parted.
inline void pairs(const float *t, vi i, vd &a, vd &b)
{
    const v16f both = (v16f)_mm512_mask_i32gather_pd(_mm512_setzero_pd(), 0xff, (__m256i)i, t, 4);
    a = to_d(__builtin_shufflevector(both, both, 0, 2, 4, 6, 8, 10, 12, 14));
    b = to_d(__builtin_shufflevector(both, both, 1, 3, 5, 7, 9, 11, 13, 15));
}

inline bool all_lanes(vl m) { return _mm512_movepi64_mask((__m512i)m) == 0xff; }

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

// Eight atoms at a time as two 64-byte stores: each atom is its type in
// the first eight bytes and the float, widened with zeros, in the second.
static_assert(sizeof(t_atom) == 16 && offsetof(t_atom, a_w) == 8, "atom layout");

inline void put_motion(t_atom *a, const float *v, int n)
{
    const __m512i type = _mm512_set1_epi64(A_FLOAT);
    const __m512i lo = _mm512_setr_epi64(0, 8, 0, 9, 0, 10, 0, 11), hi = _mm512_setr_epi64(0, 12, 0, 13, 0, 14, 0, 15);
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m512i bits = _mm512_maskz_cvtepu32_epi64(0xff, _mm256_loadu_si256((const __m256i *)&v[i]));
        _mm512_storeu_si512(&a[i], _mm512_permutex2var_epi64(type, lo, bits));
        _mm512_storeu_si512(&a[i + 4], _mm512_permutex2var_epi64(type, hi, bits));
    }
    for (; i < n; i++)
        atom_setfloat(&a[i], v[i]);
}

} // namespace
} // namespace loopmass

#include "passes.h"
#endif
