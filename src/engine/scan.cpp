// The scanning oscillators: up to five oscillators read the ring's shape as
// one period of a wavetable, blending the previous shape into the newest
// along each vector; their sum is the object's signal.
#include <cmath>

#include "loopmass.h"

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

// Brings a phase that left [0, N) back into the ring: a negative pitch scans
// backwards, and an infinite step (whose remainder is NaN) restarts at 0.
static double loopmass_wrap(double p, double nf)
{
    p = fmod(p, nf);
    if (p < 0.0)
        p += nf;
    if (p >= nf || std::isnan(p))
        p = 0.0;
    return p;
}

// The ring as the oscillators read it, made once per vector: the newest and
// the previous shape in double, as the interpolation uses them, each with
// mass 0 repeated after the last mass so that no read has to wrap.
struct t_table {
    double now[MAXMASSES + 1];
    double old[MAXMASSES + 1];
};

// Samples scanned at a time: the oscillators' contributions wait on the
// stack for the mix, in chunks of this many samples.
static const int CHUNK = 64;

// One oscillator: its phase step, its gain and where it stands (a float
// value, held in double to spare conversions).
struct t_reader {
    double inc;
    double gain;
    double phase;
};

// Moves an oscillator one sample along the ring and reads both shapes
// there.
static inline void loopmass_advance(t_reader &r, double nd, double nd2, const t_table &t, float &now, float &old)
{
    double p = r.phase + r.inc;
    // fmod of a value in [0, 2N) is exact, so subtracting N once gives the
    // same bits far more cheaply.
    if (p >= 0.0 && p < nd2) {
        if (p >= nd)
            p -= nd;
    } else {
        p = loopmass_wrap(p, nd);
    }
    r.phase = (float)p;
    const int i0 = (int)p; // p >= 0, so this is its floor
    // The float phase less a whole number below it is exact in float, so
    // taking it in double gives the same value.
    const double frac = r.phase - i0;
    now = (float)(t.now[i0] + frac * (t.now[i0 + 1] - t.now[i0]));
    old = (float)(t.old[i0] + frac * (t.old[i0 + 1] - t.old[i0]));
}

short loopmass_scan(t_loopmass *x)
{
    const int nmasses = x->x_nmasses;
    const int n = x->x_n;
    const double nd = (float)nmasses;
    const double invn = (float)(1.0 / nd);
    float *mix = x->x_mix;

    t_reader osc[NOSC];
    short v = 0;
    while (v < NOSC && !loopmass_silent(x->x_osc_freq[v])) {
        osc[v].inc = (float)(nd * x->x_osc_freq[v] / loopmass_rate(x));
        osc[v].gain = x->x_osc_gain[v];
        osc[v].phase = x->x_osc_phase[v];
        v++;
    }
    if (v == 0)
        return 0;

    t_table table;
    for (int i = 0; i < nmasses; i++) {
        table.now[i] = x->x_pos[i];
        table.old[i] = x->x_pos1[i];
    }
    table.now[nmasses] = x->x_pos[0];
    table.old[nmasses] = x->x_pos1[0];

    // The oscillators advance together, sample by sample, so that their
    // phase chains overlap in time; their contributions are then summed into
    // the mix in oscillator order, rounding after each one, which gives
    // every mix entry the same bits as running each oscillator over the
    // whole vector in turn.
    for (int start = 0; start < n; start += CHUNK) {
        const int end = n - start < CHUNK ? n : start + CHUNK;
        double part[NOSC][CHUNK];
        for (int j = start; j < end; j++) {
            const double dj = j;
            for (int k = 0; k < v; k++) {
                float now, old;
                loopmass_advance(osc[k], nd, 2.0 * nd, table, now, old);
                part[k][j - start] = ((dj * now + (nd - dj) * old) * invn) * osc[k].gain;
            }
        }
        // The first oscillator overwrites the mix (its weight on the old
        // entry is 0, which still decides the sign of a zero), the later
        // ones add to it.
        for (int j = start; j < end; j++) {
            float m = (float)(0.0 * mix[j] + part[0][j - start]);
            for (int k = 1; k < v; k++)
                m = (float)(m + part[k][j - start]);
            mix[j] = m;
        }
    }
    for (int k = 0; k < v; k++)
        x->x_osc_phase[k] = (float)osc[k].phase;
    return v;
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
