// The sound engine written plainly, one mass and one sample at a time: the
// oracle every engine path is compared with, bit for bit.  It reads and
// writes the record's ring and profiles, the engine's own state.
#pragma once

#include <cmath>
#include <cstring>
#include <random>

#include "loopmass.h"

namespace test {

using loopmass::MAXMASSES;
using loopmass::NOSC;
using loopmass::t_loopmass;

// The time step as the float nearest to 256 / 44100.
const float DT = 0.00580498855561018f;

// The haptic step written plainly: four powers of ten per mass at every
// step, nothing kept between steps.  clamp = false leaves the raw result.
struct Ring {
    int n;
    float prof[5][MAXMASSES];
    float pos[MAXMASSES], pos1[MAXMASSES], pos2[MAXMASSES], motion[MAXMASSES];
};

inline void ref_step(Ring &r, bool clamp = true)
{
    const int n = r.n;
    for (int i = 0; i < n; i++) {
        r.pos2[i] = r.pos1[i];
        r.pos1[i] = r.pos[i];
        r.motion[i] = (float)(r.pos[i] * 0.5 + 0.5);
    }
    const double dt = DT;
    for (int i = 0; i < n; i++) {
        const double M = (float)pow(10.0, (double)r.prof[0][i]);
        const double K = (float)pow(10.0, 5.0 * (double)r.prof[1][i] - 1.0);
        const double S = (float)pow(10.0, 5.0 * (double)r.prof[2][i] - 1.0);
        const double D = (float)pow(10.0, 3.0 * (double)r.prof[3][i] - 1.0);
        const double F = r.prof[4][i];
        const double X1 = r.pos1[i], X2 = r.pos2[i];
        const double Lf = r.pos1[(i + n - 1) % n], Rt = r.pos1[(i + 1) % n];
        const double A = (2.0 * M / dt - D) - (2.0 * K + S) * dt;
        r.pos[i] = (float)((dt / M) * (A * X1 + (dt * K) * (Lf + Rt) + (D - M / dt) * X2 + (dt * S) * F));
    }
    if (clamp)
        for (int i = 0; i < n; i++)
            r.pos[i] = r.pos[i] > 1.0f ? 1.0f : r.pos[i] >= -1.0f ? r.pos[i] : -1.0f;
}

// A ring in motion: random mass, tension, centering and damping profiles
// (some below 0), forces and positions within [-1, 1] at rest.
inline void random_ring(t_loopmass *x, std::mt19937 &rng)
{
    std::uniform_real_distribution<float> unit(-0.3f, 1.0f), shape(-1.0f, 1.0f);
    const int n = x->x_nmasses;
    for (int k = 0; k < 5; k++)
        for (int i = 0; i < n; i++)
            x->x_prof[k][i] = k == 4 ? shape(rng) : unit(rng);
    for (int i = 0; i < n; i++)
        x->x_pos[i] = x->x_pos1[i] = shape(rng);
}

inline Ring ring_of(const t_loopmass *x)
{
    Ring r;
    r.n = x->x_nmasses;
    for (int k = 0; k < 5; k++)
        std::memcpy(r.prof[k], x->x_prof[k], sizeof r.prof[k]);
    std::memcpy(r.pos, x->x_pos, sizeof r.pos);
    std::memcpy(r.pos1, x->x_pos1, sizeof r.pos1);
    std::memcpy(r.pos2, x->x_pos2, sizeof r.pos2);
    return r;
}

// The phase step of an oscillator, in masses per sample.
inline float ref_inc(int nmasses, float pitch)
{
    return (float)((double)(float)nmasses * pitch / 44100.0);
}

// A gain ramp: the s-th sample after the change that started it (s from
// 1) has the gain from + ((to - from) / len) s rounded to float, then to.
// done samples of it were played before the vector; len 0 is no ramp.
struct RefRamp {
    float from, to;
    int len, done;
};

inline float ref_ramp_gain(const RefRamp &r, int s)
{
    if (s >= r.len)
        return r.to;
    return (float)(r.from + (((double)r.to - r.from) / r.len) * s);
}

// The scan written plainly: fmod at every sample, then the index guards.
// An oscillator whose ramp runs takes its gain from the ramp at every
// sample.
inline void ref_scan(int nmasses, const float *pos, const float *pos1, const float *freq, const float *gain,
                     float *phases, float *mix, int n, const RefRamp *ramps = nullptr)
{
    const float nf = (float)nmasses;
    const float invn = (float)(1.0 / nf);
    for (int k = 0; k < NOSC && freq[k] != 0 && !std::isnan(freq[k]); k++) {
        const double w = k == 0 ? 0 : 1;
        const float inc = ref_inc(nmasses, freq[k]);
        float phase = phases[k];
        for (int j = 0; j < n; j++) {
            double p = fmod((double)phase + inc, (double)nf);
            if (p < 0)
                p += nf;
            if (p >= nf || std::isnan(p))
                p = 0;
            phase = (float)p;
            const int i0 = (int)floor(p);
            const int i1 = (i0 + 1) % nmasses;
            const float frac = phase - i0;
            const float now = (float)(pos[i0] + (double)frac * ((double)pos[i1] - pos[i0]));
            const float old = (float)(pos1[i0] + (double)frac * ((double)pos1[i1] - pos1[i0]));
            const double g = ramps && ramps[k].len > 0 ? ref_ramp_gain(ramps[k], ramps[k].done + 1 + j) : gain[k];
            mix[j] = (float)(w * mix[j] + (((double)j * now + ((double)nf - j) * old) * invn) * g);
        }
        phases[k] = phase;
    }
}

} // namespace test
