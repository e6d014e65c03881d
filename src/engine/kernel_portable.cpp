// The kernels in plain C++, one sample of one oscillator and one mass at a
// time: for any machine, and on x86-64 for processors the wider kernels do
// not fit.  Without vector units nothing is gained by passes, so each
// sample is taken from start to end in one go.
#include <cmath>

#include "kernel.h"

namespace loopmass {
namespace {

// Brings a phase that left [0, N) back into the ring: a negative pitch scans
// backwards, and an infinite step (whose remainder is NaN) restarts at 0.
// fmod of a value in [0, 2N) is exact, so subtracting N once gives the same
// bits more cheaply.
double wrap(double p, double nd)
{
    if (p >= 0.0 && p < 2.0 * nd) {
        if (p >= nd)
            p -= nd;
        return p;
    }
    p = fmod(p, nd);
    if (p < 0.0)
        p += nd;
    if (p >= nd || std::isnan(p))
        p = 0.0;
    return p;
}

// One oscillator: its phase step, its gain and where it stands (a float
// value, held in double to spare conversions).
struct t_reader {
    double inc;
    double gain;
    double phase;
};

// Moves an oscillator one sample along the ring and reads both shapes
// there.
// The ring in double, as the interpolation uses it, made once per vector
// (on the stack, which every object shares in the cache).
struct t_ring {
    double now[MAXMASSES + 1];
    double old[MAXMASSES + 1];
};

inline void advance(t_reader &r, double nd, const t_ring &t, float &now, float &old)
{
    const double p = wrap(r.phase + r.inc, nd);
    r.phase = (float)p;
    const int i0 = (int)p; // p >= 0, so this is its floor
    // The float phase less a whole number below it is exact in float, so
    // taking it in double gives the same value.
    const double frac = r.phase - i0;
    now = (float)(t.now[i0] + frac * (t.now[i0 + 1] - t.now[i0]));
    old = (float)(t.old[i0] + frac * (t.old[i0 + 1] - t.old[i0]));
}

// Samples scanned at a time: the oscillators' contributions wait on the
// stack for the mix, in chunks of this many samples.
const int CHUNK = 64;

void scan(t_scanjob *job)
{
    const int n = job->n, v = job->v;
    const double nd = (float)job->nmasses;
    const double invn = (float)(1.0 / nd);
    float *mix = job->mix;
    t_ring ring;
    for (int i = 0; i <= job->nmasses; i++) {
        ring.now[i] = job->table->now[i];
        ring.old[i] = job->table->old[i];
    }
    // An oscillator whose gain ramps is weighted by 1 below, which keeps
    // every bit, and by its gain of each sample once its chunk is read.
    t_reader osc[NOSC];
    for (int k = 0; k < v; k++) {
        osc[k].inc = job->inc[k];
        osc[k].gain = job->ramps && job->ramps->len[k] > 0.0 ? 1.0 : job->gain[k];
        osc[k].phase = job->phase[k];
    }
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
                advance(osc[k], nd, ring, now, old);
                part[k][j - start] = ((dj * now + (nd - dj) * old) * invn) * osc[k].gain;
            }
        }
        const t_scanramps *r = job->ramps;
        for (int k = 0; r && k < v; k++)
            if (r->len[k] > 0.0)
                for (int j = start; j < end; j++)
                    part[k][j - start] *=
                        loopmass_ramp_gain(r->from[k], r->step[k], r->to[k], r->len[k], r->first[k] + j);
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
        job->phase[k] = (float)osc[k].phase;
}

// The new position of mass i from its neighbours at time t, kept within
// the ring's bounds.
inline float move(const t_loopmass *x, int i, double left, double right)
{
    const double sum = x->x_coef[0][i] * x->x_pos1[i] + x->x_coef[1][i] * (left + right) +
                       x->x_coef[2][i] * x->x_pos2[i] + x->x_coef[3][i] * x->x_prof[PROF_FORCES - 1][i];
    return loopmass_bound((float)(x->x_coef[4][i] * sum));
}

void step(t_loopmass *x)
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

    // The first and last masses are neighbours across the ring's seam.
    pos[0] = move(x, 0, pos1[n - 1], pos1[1]);
    for (int i = 1; i < n - 1; i++)
        pos[i] = move(x, i, pos1[i - 1], pos1[i + 1]);
    pos[n - 1] = move(x, n - 1, pos1[n - 2], pos1[0]);
}

} // namespace

extern const t_kernels loopmass_portable = {"portable", scan, step};

} // namespace loopmass
