// The string model: a closed ring of masses, each tied to its two
// neighbours by a tension spring, held toward its rest point by a centering
// spring and slowed by damping, advanced by one explicit finite-difference
// step per 256 output samples.
#include <cmath>
#include <cstring>

#include "kernel.h"

namespace loopmass {

// The time step, 256 samples at 44100 Hz, enters every formula as a float.
static const float DT = (float)(HAPTIC_PERIOD / SAMPLE_RATE);

// The power of ten behind the physical constant of one profile value
// (kinds 1 to 4: mass, tension, centering, damping).  Everything the ring
// does with the constant is IEEE arithmetic, rounded alike on every
// machine; only this pow comes from the C library, so tools/mathcheck
// enumerates it on every value a profile can hold.
double loopmass_power(int kind, float v)
{
    switch (kind) {
    case PROF_MASSES:
        return pow(10.0, (double)v);
    case PROF_TENSION:
    case PROF_CENTERING:
        return pow(10.0, 5.0 * v - 1.0);
    default:
        return pow(10.0, 3.0 * v - 1.0);
    }
}

// The constant itself is rounded to float, as the ring's physical constants
// are single-precision values.
float loopmass_constant(int kind, float v)
{
    return (float)loopmass_power(kind, v);
}

// Derives the coefficients of mass i from its four profile values; the
// five products the update needs are kept in double exactly as the update
// groups them.
static void loopmass_coef(t_loopmass *x, int i, const float v[4])
{
    const double dt = DT;
    const double M = loopmass_constant(PROF_MASSES, v[0]);
    const double K = loopmass_constant(PROF_TENSION, v[1]);
    const double S = loopmass_constant(PROF_CENTERING, v[2]);
    const double D = loopmass_constant(PROF_DAMPING, v[3]);
    x->x_coef[0][i] = (2.0 * M / dt - D) - (2.0 * K + S) * dt;
    x->x_coef[1][i] = dt * K;
    x->x_coef[2][i] = D - M / dt;
    x->x_coef[3][i] = dt * S;
    x->x_coef[4][i] = dt / M;
}

// Recomputes the coefficients of the masses whose profile values changed
// since the last step.  The key is the values' bit patterns, so that any
// change at all (even between two NaNs or from -0 to 0) counts.
static void loopmass_coefs(t_loopmass *x, int n)
{
    // Most steps find nothing changed: compare whole profiles first.
    bool same = std::memchr(x->x_coef_ok, 0, (size_t)n) == nullptr;
    for (int k = 0; k < 4 && same; k++)
        same = std::memcmp(x->x_coef_key[k], x->x_prof[PROF_MASSES - 1 + k], sizeof(float) * (size_t)n) == 0;
    if (same)
        return;
    for (int i = 0; i < n; i++) {
        float v[4];
        uint32_t key[4], changed = x->x_coef_ok[i] ? 0 : 1;
        for (int k = 0; k < 4; k++) {
            v[k] = x->x_prof[PROF_MASSES - 1 + k][i];
            std::memcpy(&key[k], &v[k], sizeof key[k]);
            changed |= key[k] ^ x->x_coef_key[k][i];
        }
        if (changed == 0)
            continue;
        loopmass_coef(x, i, v);
        for (int k = 0; k < 4; k++)
            x->x_coef_key[k][i] = key[k];
        x->x_coef_ok[i] = 1;
    }
}

// The coefficients depend on the profiles alone, so they are brought up to
// date before the ring moves (src/engine/passes.h and kernel_portable.cpp
// hold the shift, the motion list and the update).
void loopmass_step(t_loopmass *x)
{
    loopmass_coefs(x, x->x_nmasses);
    loopmass_kernels->step(x);
    x->x_nsteps++;
}

// The haptic steps that fall in a vector of n samples: one per 256 samples
// of a long vector; a short one steps every so many vectors, counted in
// x_tick.
void loopmass_pace(t_loopmass *x, int n)
{
    if (n >= HAPTIC_PERIOD) {
        for (int s = 0; s < n / HAPTIC_PERIOD; s++)
            loopmass_step(x);
        return;
    }
    // Vectors per haptic step, rounded to the nearest whole number for
    // sizes that do not divide 256. When one vector makes a step (171 to
    // 255 samples) the counter stays at 0 and the ring steps on every
    // vector: a cycle that always set it to 1 after a step would skip
    // every other vector and halve the haptic rate.
    const int per = (2 * HAPTIC_PERIOD + n) / (2 * n);
    if (x->x_tick == 0)
        loopmass_step(x);
    x->x_tick = (x->x_tick + 1) % per;
}

} // namespace loopmass
