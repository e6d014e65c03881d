// The engine's inner loops (the scan and the haptic step) for each set of
// vector units the object can use: plain C++ for any machine
// (kernel_portable.cpp), and the vector passes of passes.h compiled for
// SSE2, AVX2 and AVX-512 on x86-64 and for Advanced SIMD (NEON) on
// aarch64.  Every set gives the same bits; the widest one the processor
// has is chosen when the library loads.
//
// The files for AVX2 and AVX-512 are compiled with those instruction sets,
// so they call no inline function shared with the rest of the object
// (loopmass.h keeps its helpers static) and nothing of the C++ library but
// memcpy and fmod: a shared copy made there could be picked for code that
// runs on any machine.
#pragma once

#include "loopmass.h"

namespace loopmass {

// One vector of the scan, as the shared code prepares it: the active
// oscillators, each with its phase step, gain and phase in lanes 0 to v - 1
// (the lanes beyond are zero), and the copy of the ring they read.
//
// When some oscillator's gain ramps, ramps gives every oscillator's ramp:
// one whose len[k] is above 0 takes at sample j of the vector the gain
// loopmass_ramp_gain(from, step, to, len, first + j) instead of gain[k];
// the others keep gain[k] for the whole vector.
struct t_scanramps {
    // Each value held in double: from, to, the step per sample
    // (loopmass_ramp_step), the ramp's length in samples (0: none) and the
    // ramp's sample number of the vector's first sample; lanes 0 to v - 1.
    double from[8], to[8], step[8], len[8], first[8];
};

struct t_scanjob {
    int32_t n;       // samples, 1 to MIXSIZE
    int32_t v;       // oscillators, 1 to NOSC
    int32_t nmasses; // masses, 3 to MAXMASSES
    float inc[8];
    float phase[8]; // where each oscillator stands; advanced by the scan
    double gain[8];
    const t_scanramps *ramps; // null while no gain ramps
    const t_table *table;
    float *mix;
};

// The gain at sample s of a ramp (s from 1): a straight line from `from` to
// `to` over len samples, rounded to float, then `to`.  The vector passes
// compute the same lane by lane.  The step is divided out once per ramp so
// that a sample costs a multiplication, not a division.
static inline double loopmass_ramp_step(float from, float to, int32_t len)
{
    return ((double)to - (double)from) / len;
}

static inline double loopmass_ramp_gain(double from, double step, double to, double len, double s)
{
    return s >= len ? to : (double)(float)(from + step * s);
}

struct t_kernels {
    const char *name;
    // Fills job->mix[0 .. n-1] and advances job->phase.
    void (*scan)(t_scanjob *job);
    // The haptic step once the coefficients are current: shifts the ring's
    // history, fills the motion atoms and moves every mass.
    void (*step)(t_loopmass *x);
};

extern const t_kernels loopmass_portable;
#if defined(__x86_64__)
extern const t_kernels loopmass_sse2;
extern const t_kernels loopmass_avx2;
extern const t_kernels loopmass_avx512;
#endif
#if defined(__aarch64__)
extern const t_kernels loopmass_neon;
#endif

// The kernels in use: the widest set the processor has, unless the
// environment variable LOOPMASS_SIMD names another set it can run when the
// library loads, or loopmass_simd_use switches.
extern const t_kernels *loopmass_kernels;

} // namespace loopmass
