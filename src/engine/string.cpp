// The string model: a closed ring of masses, each tied to its two
// neighbours by a tension spring, held toward its rest point by a centering
// spring and slowed by damping, advanced by one explicit finite-difference
// step per 256 output samples.
#include <cmath>
#include <cstring>

#include "loopmass.h"

namespace loopmass {

// The time step, 256 samples at 44100 Hz, enters every formula as a float.
static const float DT = (float)(HAPTIC_PERIOD / SAMPLE_RATE);

// Derives the coefficients of mass i from its four profile values.  Each
// power of ten is rounded to float, as the ring's physical constants are
// single-precision values; the five products the update needs are kept in
// double exactly as the update groups them.
static void loopmass_coef(t_loopmass *x, int i, const float v[4])
{
    const double dt = DT;
    const double M = (float)pow(10.0, (double)v[0]);
    const double K = (float)pow(10.0, 5.0 * v[1] - 1.0);
    const double S = (float)pow(10.0, 5.0 * v[2] - 1.0);
    const double D = (float)pow(10.0, 3.0 * v[3] - 1.0);
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

// The new position of mass i from its neighbours at time t, kept within
// the ring's bounds.
static inline float loopmass_move(const t_loopmass *x, int i, double left, double right)
{
    const double sum = x->x_coef[0][i] * x->x_pos1[i] + x->x_coef[1][i] * (left + right) +
                       x->x_coef[2][i] * x->x_pos2[i] + x->x_coef[3][i] * x->x_prof[PROF_FORCES - 1][i];
    return loopmass_bound((float)(x->x_coef[4][i] * sum));
}

void loopmass_step(t_loopmass *x)
{
    const int n = x->x_nmasses;
    float *pos = x->x_pos, *pos1 = x->x_pos1, *pos2 = x->x_pos2;

    // Shift the ring's history; the motion list shows the shape the step
    // starts from, mapped from [-1, 1] onto [0, 1].
    for (int i = 0; i < n; i++) {
        pos2[i] = pos1[i];
        pos1[i] = pos[i];
        atom_setfloat(&x->x_motion[i], (float)(pos[i] * 0.5 + 0.5));
    }

    loopmass_coefs(x, n);
    // The first and last masses are neighbours across the ring's seam.
    pos[0] = loopmass_move(x, 0, pos1[n - 1], pos1[1]);
    for (int i = 1; i < n - 1; i++)
        pos[i] = loopmass_move(x, i, pos1[i - 1], pos1[i + 1]);
    pos[n - 1] = loopmass_move(x, n - 1, pos1[n - 2], pos1[0]);
    x->x_nsteps++;
}

} // namespace loopmass
