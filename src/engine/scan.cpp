// The scanning oscillators: up to five oscillators read the ring's shape as
// one period of a wavetable, blending the previous shape into the newest
// along each vector; their sum is the object's signal.
#include <cmath>
#include <cstring>

#include "kernel.h"

namespace loopmass {

// Above this magnitude fg refuses a gain.  Below it the output stays finite:
// a ring value is at most 1, the cross-fade extrapolates at most about 1400
// times over a full mix buffer on the smallest ring, and five oscillators
// add up, which stays far below the largest float.
static const float GAIN_MAX = 1e30f;

// A pitch of 0 ends the list of active oscillators; so does NaN.
static bool loopmass_silent(float pitch)
{
    return !(pitch < 0.0f || pitch > 0.0f);
}

// Copies the ring into the table unless it holds these positions already.
static void loopmass_table(t_loopmass *x)
{
    t_table &t = x->x_table;
    const int n = x->x_nmasses;
    const size_t bytes = sizeof(float) * (size_t)n;
    if (t.n == n && std::memcmp(t.now, x->x_pos, bytes) == 0 && std::memcmp(t.old, x->x_pos1, bytes) == 0)
        return;
    t.n = n;
    std::memcpy(t.now, x->x_pos, bytes);
    std::memcpy(t.old, x->x_pos1, bytes);
    t.now[n] = t.now[0];
    t.old[n] = t.old[0];
}

short loopmass_scan(t_loopmass *x)
{
    const double nd = (float)x->x_nmasses;
    t_scanjob job = {};
    while (job.v < NOSC && !loopmass_silent(x->x_osc_freq[job.v])) {
        const int k = job.v;
        // The phase step, once per oscillator per vector, rounded to float.
        job.inc[k] = (float)(nd * x->x_osc_freq[k] / loopmass_rate(x));
        job.gain[k] = x->x_osc_gain[k];
        job.phase[k] = x->x_osc_phase[k];
        job.v++;
    }
    if (job.v == 0)
        return 0;

    loopmass_table(x);
    job.n = x->x_n;
    job.nmasses = x->x_nmasses;
    job.table = &x->x_table;
    job.mix = x->x_mix;
    loopmass_kernels->scan(&job);
    for (int k = 0; k < job.v; k++)
        x->x_osc_phase[k] = job.phase[k];
    return (short)job.v;
}

// One vector of at most MIXSIZE samples.
static void loopmass_vector(t_loopmass *x, float *out, int n)
{
    x->x_n = n;
    if (x->x_inactive == -1) {
        for (int i = 0; i < n; i++)
            out[i] = 0.0f;
        return;
    }

    if (n >= HAPTIC_PERIOD) {
        for (int s = 0; s < n / HAPTIC_PERIOD; s++)
            loopmass_step(x);
    } else {
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

    const short v = loopmass_scan(x);
    if (v == 0) {
        for (int i = 0; i < n; i++)
            out[i] = 0.0f;
        return;
    }
    const double norm = (1.0 / sqrt((double)v) - 1.0) * x->x_autonorm + 1.0;
    for (int i = 0; i < n; i++)
        out[i] = (float)(x->x_mix[i] * norm);
}

t_int *loopmass_perform(t_int *w)
{
    // The output address arrives one sample early, as an integer, so that
    // no pointer outside the vector is ever formed.
    float *out = (float *)(w[1] + (t_int)sizeof(float));
    t_loopmass *x = (t_loopmass *)w[2];
    t_int n = w[3] - 1;

    // A vector longer than the mix buffer runs as consecutive slices, each
    // behaving exactly like a vector of its own size.
    while (n > 0) {
        const int m = n > MIXSIZE ? MIXSIZE : (int)n;
        loopmass_vector(x, out, m);
        out += m;
        n -= m;
    }
    return w + 4;
}

void loopmass_dsp(t_loopmass *x, t_signal **sp, short *count)
{
    (void)count;
    // Kept for "hostrate"; a rate that is no positive number is not one.
    if (sp[0]->s_sr > 0.0 && std::isfinite(sp[0]->s_sr))
        x->x_sr = sp[0]->s_sr;
    dsp_add(loopmass_perform, 3, (t_int)sp[0]->s_vec - (t_int)sizeof(float), (t_int)x, (t_int)sp[0]->s_n + 1);
}

// Pitch and gain pairs on the pitch inlet.  A pitch or gain that is not a
// finite number is refused (that value stays as it was), and so is a gain
// beyond GAIN_MAX, so that the output always stays finite.
void loopmass_fg(t_loopmass *x, t_symbol *s, short argc, t_atom *argv)
{
    (void)s;
    if (x->x_in != INLET_PITCH)
        return;
    const int count = argc > 2 * NOSC ? 2 * NOSC : argc < 0 ? 0 : argc;
    const int pairs = count / 2;
    int a = 0;
    for (int i = 0; i < pairs; i++) {
        // A symbol keeps this oscillator as it was and uses up one atom only.
        if (!atom_isnum(&argv[a])) {
            a++;
            continue;
        }
        const float pitch = atom_getfloat(&argv[a]);
        if (std::isfinite(pitch))
            x->x_osc_freq[i] = pitch;
        if (atom_isnum(&argv[a + 1])) {
            const float gain = atom_getfloat(&argv[a + 1]);
            if (std::fabs(gain) <= GAIN_MAX)
                x->x_osc_gain[i] = gain;
        }
        a += 2;
    }
    for (int i = pairs; i < NOSC; i++)
        x->x_osc_freq[i] = 0.0f;
    x->x_autonorm = 0.0f;
}

} // namespace loopmass
