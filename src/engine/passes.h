// The scan and the haptic step in vector form, compiled once by each of
// kernel_sse2.cpp, kernel_avx2.cpp and kernel_avx512.cpp with its own
// instruction set (two, four or eight doubles at a time), and by
// kernel_neon.cpp with Advanced SIMD on aarch64 (two doubles).  The few
// helpers that differ by instruction set come first; the passes are
// written once.
//
// Vector code does each operation lane by lane with the rounding of the
// scalar code, never fused and never reordered, so every set gives the
// bits of the plain loops.
#include <cstddef>
#include <cstdint>
#include <math.h>
#if defined(__aarch64__)
#include <arm_neon.h>
#else
#include <immintrin.h>
#endif

#include "kernel.h"

// The walk's eight-lane vectors are wider than the registers of the
// narrower sets.  Everything here is internal to one file and inlined, so
// GCC's note on how such vectors pass between separately compiled code
// does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace loopmass {
namespace {

#if defined(__AVX512F__)
#define LANES 8
#elif defined(__AVX2__)
#define LANES 4
#else
#define LANES 2
#endif

typedef double vd __attribute__((vector_size(8 * LANES))); // LANES doubles
typedef float vf __attribute__((vector_size(4 * LANES)));  // LANES floats
typedef int32_t vi __attribute__((vector_size(4 * LANES)));
typedef int64_t vl __attribute__((vector_size(8 * LANES))); // masks of vd
typedef float v4f __attribute__((vector_size(16)));
typedef float v8f __attribute__((vector_size(32))); // one lane per oscillator
typedef float v16f __attribute__((vector_size(64)));

// ---------------------------------------------------------------- per set
//
//   to_d(f)            the floats f as doubles
//   pairs(t, i, a, b)  the floats t[i[l]] and t[i[l] + 1] of each lane l,
//                      as doubles in a and b
//   all_lanes(m)       whether every lane of the mask m is set

#if defined(__AVX512F__)

// The zero-masked forms leave no lane undefined (the plain intrinsics start
// from an undefined register, which GCC 12 warns about).
inline vd to_d(vf v)
{
    return (vd)_mm512_maskz_cvtps_pd(0xff, (__m256)v);
}

// Each lane's two neighbouring floats in one 64-bit gather, then parted.
inline void pairs(const float *t, vi i, vd &a, vd &b)
{
    const v16f both = (v16f)_mm512_mask_i32gather_pd(_mm512_setzero_pd(), 0xff, (__m256i)i, t, 4);
    a = to_d(__builtin_shufflevector(both, both, 0, 2, 4, 6, 8, 10, 12, 14));
    b = to_d(__builtin_shufflevector(both, both, 1, 3, 5, 7, 9, 11, 13, 15));
}

inline bool all_lanes(vl m)
{
    return _mm512_movepi64_mask((__m512i)m) == 0xff;
}

#elif defined(__AVX2__)

inline vd to_d(vf v)
{
    return (vd)_mm256_cvtps_pd((__m128)v);
}

// Each lane's two neighbouring floats in one 64-bit gather, then parted.
inline void pairs(const float *t, vi i, vd &a, vd &b)
{
    const v8f both =
        (v8f)_mm256_mask_i32gather_pd(_mm256_setzero_pd(), (const double *)t, (__m128i)i, _mm256_set1_pd(-1.0), 4);
    a = to_d(__builtin_shufflevector(both, both, 0, 2, 4, 6));
    b = to_d(__builtin_shufflevector(both, both, 1, 3, 5, 7));
}

inline bool all_lanes(vl m)
{
    return _mm256_movemask_pd((__m256d)m) == 0xf;
}

#elif defined(__aarch64__)

inline vd to_d(vf v)
{
    return (vd)vcvt_f64_f32((float32x2_t)v);
}

// Each lane's two neighbouring floats in one 64-bit load, then parted.
inline void pairs(const float *t, vi i, vd &a, vd &b)
{
    const float32x2_t p0 = vld1_f32(&t[i[0]]), p1 = vld1_f32(&t[i[1]]);
    a = (vd)vcvt_f64_f32(vzip1_f32(p0, p1));
    b = (vd)vcvt_f64_f32(vzip2_f32(p0, p1));
}

inline bool all_lanes(vl m)
{
    return vminvq_u32((uint32x4_t)m) == 0xffffffffu;
}

#else

inline vd to_d(vf v)
{
    return (vd)_mm_cvtps_pd((__m128)__builtin_shufflevector(v, v, 0, 1, 0, 1));
}

inline void pairs(const float *t, vi i, vd &a, vd &b)
{
    a = vd{t[i[0]], t[i[1]]};
    b = vd{t[i[0] + 1], t[i[1] + 1]};
}

inline bool all_lanes(vl m)
{
    return _mm_movemask_pd((__m128d)m) == 0x3;
}

#endif

//   inside(s, nf)      whether every lane of s lies in [0, nf)
//   store_pairs(w, stride, s0, s1)  s0[k] and s1[k] side by side at
//                      w + k * stride, for k = 0 to NOSC - 1

#if defined(__AVX2__)

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

#elif defined(__aarch64__)

// As unsigned integers the floats in [+0, nf) are exactly those below nf's
// bits, as for AVX2.
inline bool inside(const v8f &s, float nf)
{
    uint32_t top;
    __builtin_memcpy(&top, &nf, sizeof top);
    const uint32x4_t below = vdupq_n_u32(top);
    const uint32x4_t lo = (uint32x4_t)__builtin_shufflevector(s, s, 0, 1, 2, 3);
    const uint32x4_t hi = (uint32x4_t)__builtin_shufflevector(s, s, 4, 5, 6, 7);
    return vminvq_u32(vandq_u32(vcltq_u32(lo, below), vcltq_u32(hi, below))) != 0;
}

// Lanes 0 and 1 side by side for each oscillator (zip), then stored as
// 64-bit halves.
inline void store_pairs(float *w, int stride, const v8f &s0, const v8f &s1)
{
    const float32x4_t a0 = (float32x4_t)__builtin_shufflevector(s0, s0, 0, 1, 2, 3);
    const float32x4_t a1 = (float32x4_t)__builtin_shufflevector(s1, s1, 0, 1, 2, 3);
    const float32x4_t lo = vzip1q_f32(a0, a1), hi = vzip2q_f32(a0, a1);
    vst1_f32(w, vget_low_f32(lo));
    vst1_f32(&w[1 * stride], vget_high_f32(lo));
    vst1_f32(&w[2 * stride], vget_low_f32(hi));
    vst1_f32(&w[3 * stride], vget_high_f32(hi));
    const float32x2_t last = {s0[4], s1[4]};
    vst1_f32(&w[4 * stride], last);
}

#else

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
    for (int k = 0; k < NOSC; k++) {
        w[k * stride] = s0[k];
        w[k * stride + 1] = s1[k];
    }
}

#endif

//   put_motion(a, v, n)  the atoms a[0 .. n-1] set to the floats v

#if defined(__AVX512F__)

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

#elif defined(__aarch64__)

// Four atoms at a time as two interleaving stores: each atom is its type
// in the first eight bytes and the float, widened with zeros, in the
// second.
static_assert(sizeof(t_atom) == 16 && offsetof(t_atom, a_w) == 8, "atom layout");

inline void put_motion(t_atom *a, const float *v, int n)
{
    const uint64x2_t type = vdupq_n_u64(A_FLOAT);
    int i = 0;
    for (; i + 4 <= n; i += 4) {
        const uint32x4_t bits = vreinterpretq_u32_f32(vld1q_f32(&v[i]));
        const uint64x2x2_t lo = {{type, vmovl_u32(vget_low_u32(bits))}};
        const uint64x2x2_t hi = {{type, vmovl_u32(vget_high_u32(bits))}};
        vst2q_u64((uint64_t *)&a[i], lo);
        vst2q_u64((uint64_t *)&a[i + 2], hi);
    }
    for (; i < n; i++)
        atom_setfloat(&a[i], v[i]);
}

#else

inline void put_motion(t_atom *a, const float *v, int n)
{
    for (int i = 0; i < n; i++)
        atom_setfloat(&a[i], v[i]);
}

#endif

// ---------------------------------------------------------------- all sets

// Whole vectors from and to memory of any alignment.  Always inlined: the
// vector goes by value, and a vector held in a register must not be made
// to live in memory because its address was taken.
template <class V, class T> __attribute__((always_inline)) inline V load(const T *p)
{
    V v;
    __builtin_memcpy(&v, p, sizeof v);
    return v;
}

template <class V, class T> __attribute__((always_inline)) inline void store(T *p, V v)
{
    __builtin_memcpy(p, &v, sizeof v);
}

inline vf to_f(vd v)
{
    return __builtin_convertvector(v, vf);
}
// Truncation, which is the floor for the values in [0, N) it is given.
inline vi to_i(vd v)
{
    return __builtin_convertvector(v, vi);
}

// Every lane x.  Subtracting +0 keeps every value, -0 included; adding x
// to a zero vector would turn -0 into +0.
inline vd splat(double x)
{
    return x - vd{};
}

inline vd ramp()
{
    vd r;
    for (int l = 0; l < LANES; l++)
        r[l] = l;
    return r;
}

// ---------------------------------------------------------------- scan

// The eight lanes of a walk vector, copied one by one: never passed by
// value (on the narrower paths that is a 32-byte parameter) and never
// made to live in memory.
inline void put(float *to, const v8f &v)
{
    for (int l = 0; l < 8; l++)
        to[l] = v[l];
}

// Samples the passes take at a time, a multiple of every LANES.
const int CHUNK = 64;

// What the passes hand on to each other for one chunk, per oscillator.
// walk[k][0] is where oscillator k stood before the chunk and walk[k][j+1]
// where it stands after sample j; entries past the chunk's end, up to a
// whole vector, are 0.
struct t_chunk {
    float walk[NOSC][CHUNK + 1 + LANES];
    int32_t index[NOSC][CHUNK];
    // Samples at which the walk wrapped, with the index of every
    // oscillator there (below).
    struct {
        int at;
        int32_t index[8];
    } fix[CHUNK];
    int nfix;
};

// The wrap of a phase that left [0, N), one at a time: fmod, which has the
// sign of its first operand, then N added to a negative remainder; a sum
// that rounds up to N, or a remainder that is not a number (an infinite
// step), restarts at 0.
__attribute__((noinline)) double wrap(double p, double nd)
{
    p = fmod(p, nd);
    if (p < 0.0)
        p += nd;
    if (p >= nd || p != p)
        p = 0.0;
    return p;
}

// A sample of the walk at which some oscillator left [0, N), redone in
// double for all of them: each phase plus its step, brought back onto the
// ring, rounded to float.  For a sum in [-N, 2N) the remainder needs no
// fmod: from [N, 2N) N is subtracted exactly, from (-N, 0) the sum is its
// own remainder, and -N leaves -0; other sums (steps of N or more, steps
// that are not finite) go through wrap.  The lanes that stayed inside get
// their float sum back, its rounding to float.  The index of the mass
// below each phase is the floor of the double phase, kept for pass 2.
inline void walk_wrap(const t_scanjob &job, t_chunk &c, const float *from, float *to, int j)
{
    const double nd = (float)job.nmasses;
    const vd zero = {}, n = splat(nd);
    int32_t *index = c.fix[c.nfix].index;
    bool usual = true;
    for (int g = 0; g < 8; g += LANES) {
        const vd q = to_d(load<vf>(&from[g])) + to_d(load<vf>(&job.inc[g]));
        vd p = q >= n ? q - n : q;
        p = p < zero ? p + n : p;
        p = q == -n ? -zero : p;
        p = p >= n ? zero : p;
        const vl in = (q >= -n) & (q < n + n);
        usual &= all_lanes(in);
        p = in ? p : zero;
        store(&to[g], to_f(p));
        store(&index[g], to_i(p));
    }
    if (!usual)
        for (int k = 0; k < job.v; k++) {
            const double q = (double)from[k] + (double)job.inc[k];
            if (!(q >= -nd && q < 2.0 * nd)) {
                const double p = wrap(q, nd);
                to[k] = (float)p;
                index[k] = (int32_t)p;
            }
        }
    c.fix[c.nfix].at = j;
    c.nfix++;
}

// Pass 1: the phases of all oscillators advance together, one lane each,
// sample by sample.  Each phase is a float and the step is a float; their
// double sum is exact or rounded once, and rounding it to float gives the
// float sum (53 bits hold more than twice 24 plus 2, so rounding twice is
// rounding once).  While that sum stays in [+0, N) the double sum is in
// [-0, N) too (rounding never crosses 0 or a whole number N), which is the
// case where no wrap happens: the float add alone gives the new phase.
// A wrap, or a step that is not finite, is redone in double.  Subtracting N
// from the float sum instead would lose the bits the sum rounded away.
void walk(const t_scanjob &job, t_chunk &c, v8f &phase, int m)
{
    // Eight-float vectors are copied with memcpy or put, never passed by
    // value: on the narrower sets they span several registers.
    v8f inc, ph = phase;
    __builtin_memcpy(&inc, job.inc, sizeof inc);
    const float nf = (float)job.nmasses;
    float lane[8];
    __builtin_memcpy(lane, &ph, sizeof lane);
    for (int k = 0; k < NOSC; k++)
        c.walk[k][0] = lane[k];
    c.nfix = 0;
    // Two samples at a time, each oscillator's pair of phases in one store.
    // The phases go through memory only at a wrap, so that the chain of
    // adds stays in registers.
    float from[8], to[8];
    int j = 0;
    for (; j + 1 < m; j += 2) {
        v8f s0 = ph + inc;
        if (!inside(s0, nf)) {
            put(from, ph);
            walk_wrap(job, c, from, to, j);
            s0 = load<v8f>(to);
        }
        v8f s1 = s0 + inc;
        if (!inside(s1, nf)) {
            put(from, s0);
            walk_wrap(job, c, from, to, j + 1);
            s1 = load<v8f>(to);
        }
        store_pairs(&c.walk[0][j + 1], CHUNK + 1 + LANES, s0, s1);
        ph = s1;
    }
    if (j < m) {
        v8f s0 = ph + inc;
        if (!inside(s0, nf)) {
            put(from, ph);
            walk_wrap(job, c, from, to, j);
            s0 = load<v8f>(to);
        }
        put(lane, s0);
        for (int k = 0; k < NOSC; k++)
            c.walk[k][j + 1] = lane[k];
        ph = s0;
    }
    // A chunk that does not end on a whole vector is read as one.
    const int end = (m + LANES - 1) / LANES * LANES;
    for (int k = 0; k < NOSC; k++)
        for (j = m + 1; j <= end; j++)
            c.walk[k][j] = 0.0f;
    phase = ph;
}

// Pass 2: the mass below each phase, the floor of the double sum.  Taking
// it from the float phase would be wrong when the sum lies just below a
// whole number and rounds up to it: the index is then one less, and the
// fraction below is exactly 1.  A sum outside [0, N) is a wrap, whose index
// the walk kept.
void indices(const t_scanjob &job, t_chunk &c, int m)
{
    const vd nd = splat((double)(float)job.nmasses);
    for (int k = 0; k < job.v; k++) {
        const vd inc = splat((double)job.inc[k]);
        for (int j = 0; j < m; j += LANES) {
            const vd q = to_d(load<vf>(&c.walk[k][j])) + inc;
            const vl on = (q >= 0.0) & (q < nd);
            store(&c.index[k][j], to_i(on ? q : 0.0));
        }
    }
    for (int f = 0; f < c.nfix; f++)
        for (int k = 0; k < job.v; k++)
            c.index[k][c.fix[f].at] = c.fix[f].index[k];
}

// Oscillator k's contribution to samples j to j + LANES - 1 of the chunk,
// with dj and dn their cross-fade weights j and N - j (j counted in the
// whole vector), invn 1 / N and gain the oscillator's gain.  The fraction
// is the float phase less its index, exact in float: the phase lies
// between the index and the next whole number, and both are floats.  Both
// shapes are read there in double (the difference of two floats taken in
// double, as the plain loop takes it) and rounded to float, then
// cross-faded and weighted, in double.
inline vd part(const t_table &t, const t_chunk &c, int k, int j, vd dj, vd dn, vd invn, vd gain)
{
    const vi i0 = load<vi>(&c.index[k][j]);
    const vd frac = to_d(load<vf>(&c.walk[k][j + 1]) - __builtin_convertvector(i0, vf));
    vd a, b;
    pairs(t.now, i0, a, b);
    const vd now = to_d(to_f(a + frac * (b - a)));
    pairs(t.old, i0, a, b);
    const vd old = to_d(to_f(a + frac * (b - a)));
    return ((dj * now + dn * old) * invn) * gain;
}

// The gains of ramping oscillator k at samples j to j + LANES - 1 of the
// vector, as loopmass_ramp_gain gives them.
inline vd ramp_gains(const t_scanramps &r, int k, int j)
{
    const vd s = ramp() + (r.first[k] + (double)j), len = splat(r.len[k]);
    const vd on = to_d(to_f(splat(r.from[k]) + splat(r.step[k]) * s));
    return s >= len ? splat(r.to[k]) : on;
}

// Pass 3: the oscillators' contributions mixed in oscillator order, rounded
// to float after each.  The first overwrites the mix; its weight of 0 on
// the old entry still decides the sign of a zero.
void mix(const t_scanjob &job, const t_chunk &c, int start, int m)
{
    const t_table &t = *job.table;
    const vd nd = splat((double)(float)job.nmasses);
    const vd invn = splat((double)(float)(1.0 / (double)(float)job.nmasses));
    vd gain[NOSC];
    for (int k = 0; k < job.v; k++)
        gain[k] = splat(job.gain[k]);
    float *out = job.mix + start;
    for (int j = 0; j < m; j += LANES) {
        // The last few samples of a vector go through a whole vector of
        // which only they are stored.
        const int count = m - j < LANES ? m - j : LANES;
        float tail[LANES] = {};
        for (int l = 0; count < LANES && l < count; l++)
            tail[l] = out[j + l];
        const vf prev = load<vf>(count < LANES ? tail : out + j);
        const vd dj = ramp() + (double)(start + j), dn = nd - dj;
        for (int k = 0; job.ramps && k < job.v; k++)
            if (job.ramps->len[k] > 0.0)
                gain[k] = ramp_gains(*job.ramps, k, start + j);
        vf acc = to_f(0.0 * to_d(prev) + part(t, c, 0, j, dj, dn, invn, gain[0]));
        for (int k = 1; k < job.v; k++)
            acc = to_f(to_d(acc) + part(t, c, k, j, dj, dn, invn, gain[k]));
        if (count < LANES) {
            store(tail, acc);
            for (int l = 0; l < count; l++)
                out[j + l] = tail[l];
        } else {
            store(out + j, acc);
        }
    }
}

void scan(t_scanjob *job)
{
    t_chunk c;
    v8f ph;
    __builtin_memcpy(&ph, job->phase, sizeof ph);
    for (int start = 0; start < job->n; start += CHUNK) {
        const int m = job->n - start < CHUNK ? job->n - start : CHUNK;
        walk(*job, c, ph, m);
        indices(*job, c, m);
        mix(*job, c, start, m);
    }
    __builtin_memcpy(job->phase, &ph, sizeof ph);
}

// ---------------------------------------------------------------- step

// Masses i to i + LANES - 1 of the update, with ring[i] and ring[i + 2] the
// left and right neighbours of mass i at time t: the sum grouped and
// rounded as mass by mass, then held within [-1, 1] as loopmass_bound does.
inline vf move(const t_loopmass *x, const double *ring, int i)
{
    const vd x2 = to_d(load<vf>(&x->x_pos2[i]));
    const vd f = to_d(load<vf>(&x->x_prof[PROF_FORCES - 1][i]));
    const vd sum = load<vd>(&x->x_coef[0][i]) * load<vd>(&ring[i + 1]) +
                   load<vd>(&x->x_coef[1][i]) * (load<vd>(&ring[i]) + load<vd>(&ring[i + 2])) +
                   load<vd>(&x->x_coef[2][i]) * x2 + load<vd>(&x->x_coef[3][i]) * f;
    vf v = to_f(load<vd>(&x->x_coef[4][i]) * sum);
    v = v > 1.0f ? 1.0f : v;
    return v >= -1.0f ? v : -1.0f;
}

void step(t_loopmass *x)
{
    const int n = x->x_nmasses;
    float *pos = x->x_pos, *pos1 = x->x_pos1, *pos2 = x->x_pos2;
    // The positions at time t in double, ring[i + 1] being mass i, with the
    // neighbours across the seam on both sides; padded so that whole vectors
    // can be read past the last mass.
    double ring[MAXMASSES + 2 + LANES];
    float motion[MAXMASSES];
    // Shift the ring's history; the motion list shows the shape the step
    // starts from, mapped from [-1, 1] onto [0, 1].
    ring[0] = pos[n - 1];
    int i = 0;
    for (; i + LANES <= n; i += LANES) {
        const vf p = load<vf>(&pos[i]);
        const vd d = to_d(p);
        store(&pos2[i], load<vf>(&pos1[i]));
        store(&pos1[i], p);
        store(&ring[i + 1], d);
        store(&motion[i], to_f(d * 0.5 + 0.5));
    }
    for (; i < n; i++) {
        pos2[i] = pos1[i];
        pos1[i] = pos[i];
        ring[i + 1] = pos[i];
        motion[i] = (float)(pos[i] * 0.5 + 0.5);
    }
    ring[n + 1] = pos1[0];
    for (i = n + 2; i < n + 2 + LANES; i++)
        ring[i] = 0.0;
    put_motion(x->x_motion, motion, n);

    for (i = 0; i + LANES <= n; i += LANES)
        store(&pos[i], move(x, ring, i));
    if (i < n) {
        // The last few masses: a whole vector, of which only the masses
        // that exist are stored.
        float tail[LANES];
        store(tail, move(x, ring, i));
        for (int l = 0; i + l < n; l++)
            pos[i + l] = tail[l];
    }
}

} // namespace
} // namespace loopmass
