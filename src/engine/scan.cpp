// The scanning oscillators: up to five oscillators read the ring's shape as
// one period of a wavetable, blending the previous shape into the newest
// along each vector; their sum is the object's signal.
#include <cmath>
#include <cstring>

#include "kernel.h"

namespace loopmass {

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

// The normalisation of a sum of v oscillators, 1 / sqrt(v) for a pitch or a
// pitch list (autonorm 1), 1 for fg (autonorm 0).
static double loopmass_norm_of(int v, float autonorm)
{
    return (1.0 / sqrt((double)v) - 1.0) * autonorm + 1.0;
}

// The normalisation of the s-th sample of the vector to come (s from 1)
// while it is held by a ramp, with step the ramp's loopmass_norm_step.
static double loopmass_norm_step(const t_loopmass *x)
{
    return (x->x_norm_to - x->x_norm_from) / x->x_norm_len;
}

static double loopmass_norm_at(const t_loopmass *x, double step, int s)
{
    const int32_t at = x->x_norm_done + s;
    return at >= x->x_norm_len ? x->x_norm_to : x->x_norm_from + step * at;
}

// The gain oscillator k stands at while no ramp runs on it: its own while
// it sounds as the messages left it (its pitch and every pitch before it
// not 0, none on its way to 0), else 0.
static float loopmass_steady_gain(const t_loopmass *x, int k)
{
    for (int j = 0; j <= k; j++)
        if (loopmass_silent(x->x_osc_freq[j]) || x->x_osc_stop[j])
            return 0.0f;
    return x->x_osc_gain[k];
}

// The gain oscillator k sounds at after the samples played so far.
float loopmass_gain_now(const t_loopmass *x, int k)
{
    const t_ramp &r = x->x_ramp[k];
    if (r.len == 0)
        return loopmass_steady_gain(x, k);
    if (r.done == 0)
        return r.from;
    return (float)loopmass_ramp_gain(r.from, loopmass_ramp_step(r.from, r.to, r.len), r.to, r.len, r.done);
}

// An oscillator on its way to 0 gets pitch 0 once no ramp runs on it or on
// an oscillator after it: until then those are still scanned, and would
// leave at once if it stopped the list.
static void loopmass_settle(t_loopmass *x)
{
    bool ramping = false;
    for (int k = NOSC - 1; k >= 0; k--) {
        ramping = ramping || x->x_ramp[k].len > 0;
        if (x->x_osc_stop[k] && !ramping) {
            x->x_osc_freq[k] = 0.0f;
            x->x_osc_stop[k] = 0;
        }
    }
}

// The ramps after n more samples.
static void loopmass_ramps_advance(t_loopmass *x, int n)
{
    bool ended = false;
    for (int k = 0; k < NOSC; k++) {
        t_ramp &r = x->x_ramp[k];
        if (r.len == 0)
            continue;
        if (r.len - r.done <= n) {
            r.len = 0;
            ended = true;
        } else {
            r.done += n;
        }
    }
    if (ended)
        loopmass_settle(x);
}

short loopmass_scan(t_loopmass *x, int n)
{
    const double nd = (float)x->x_nmasses;
    t_scanjob job = {};
    bool sounds = true, ramping = false;
    while (job.v < NOSC && !loopmass_silent(x->x_osc_freq[job.v])) {
        const int k = job.v;
        // The phase step, once per oscillator per vector, rounded to float.
        job.inc[k] = (float)(nd * x->x_osc_freq[k] / loopmass_rate(x));
        sounds = sounds && !x->x_osc_stop[k];
        job.gain[k] = sounds ? x->x_osc_gain[k] : 0.0f;
        job.phase[k] = x->x_osc_phase[k];
        ramping = ramping || x->x_ramp[k].len > 0;
        job.v++;
    }
    // Only a vector in which some gain ramps fills in the ramps.
    t_scanramps ramps;
    for (int k = 0; ramping && k < job.v; k++) {
        const t_ramp &r = x->x_ramp[k];
        ramps.len[k] = r.len;
        if (r.len > 0) {
            ramps.from[k] = r.from;
            ramps.to[k] = r.to;
            ramps.step[k] = loopmass_ramp_step(r.from, r.to, r.len);
            ramps.first[k] = r.done + 1.0;
        }
        job.ramps = &ramps;
    }
    if (job.v == 0) {
        loopmass_ramps_advance(x, n);
        return 0;
    }

    loopmass_table(x);
    job.n = n;
    job.nmasses = x->x_nmasses;
    job.table = &x->x_table;
    job.mix = x->x_mix;
    loopmass_kernels->scan(&job);
    for (int k = 0; k < job.v; k++)
        x->x_osc_phase[k] = job.phase[k];
    loopmass_ramps_advance(x, job.n);
    return (short)job.v;
}

// The output of one vector through the high-pass: each sample the mix
// times norm, or the normalisation a ramp holds, in double (0 where no
// oscillator plays, so that the filter's tail decays), filtered, then
// rounded to float.
static void loopmass_highpass(t_loopmass *x, const float *mix, double norm, bool held, float *out, int n)
{
    t_highpass &h = x->x_highpass;
    double x1 = h.x1, x2 = h.x2, y1 = h.y1, y2 = h.y2;
    const double step = held ? loopmass_norm_step(x) : 0.0;
    for (int i = 0; i < n; i++) {
        const double in = mix ? mix[i] * (held ? loopmass_norm_at(x, step, i + 1) : norm) : 0.0;
        // The newest output enters last, so that one product and one
        // subtraction stand between two samples.
        const double y = (h.b0 * in + h.b1 * x1 + h.b2 * x2 - h.a2 * y2) - h.a1 * y1;
        x2 = x1;
        x1 = in;
        y2 = y1;
        y1 = y;
        out[i] = (float)y;
    }
    // A tail far below any float the output can hold is ended, before it
    // reaches the subnormal doubles, which are slow on many processors.
    const double tiny = 1e-200;
    h.x1 = std::fabs(x1) < tiny ? 0.0 : x1;
    h.x2 = std::fabs(x2) < tiny ? 0.0 : x2;
    h.y1 = std::fabs(y1) < tiny ? 0.0 : y1;
    h.y2 = std::fabs(y2) < tiny ? 0.0 : y2;
}

// A vector while the normalisation is held by a ramp: each sample of the
// mix times its own normalisation, then the high-pass when it is on.
static void loopmass_vector_held(t_loopmass *x, short v, float *out, int n)
{
    const float *mix = v > 0 ? x->x_mix : nullptr;
    const double step = loopmass_norm_step(x);
    if (x->x_lowcut_hz > 0.0f)
        loopmass_highpass(x, mix, 0.0, true, out, n);
    else if (!mix)
        for (int i = 0; i < n; i++)
            out[i] = 0.0f;
    else if (x->x_norm_from == x->x_norm_to)
        for (int i = 0; i < n; i++)
            out[i] = (float)(mix[i] * x->x_norm_to);
    else
        for (int i = 0; i < n; i++)
            out[i] = (float)(mix[i] * loopmass_norm_at(x, step, i + 1));
    x->x_norm_done = x->x_norm_len - x->x_norm_done > n ? x->x_norm_done + n : x->x_norm_len;
    if (x->x_norm_done == x->x_norm_len) {
        bool ramping = false;
        for (int k = 0; k < NOSC; k++)
            ramping = ramping || x->x_ramp[k].len > 0;
        x->x_norm_held = ramping;
    }
}

// One vector of at most MIXSIZE samples.
static void loopmass_vector(t_loopmass *x, float *out, int n)
{
    if (x->x_inactive == -1) {
        for (int i = 0; i < n; i++)
            out[i] = 0.0f;
        return;
    }

    loopmass_pace(x, n);
    const short v = loopmass_scan(x, n);
    if (x->x_norm_held) {
        loopmass_vector_held(x, v, out, n);
        return;
    }
    if (v == 0) {
        if (x->x_lowcut_hz > 0.0f) {
            loopmass_highpass(x, nullptr, 0.0, false, out, n);
            return;
        }
        for (int i = 0; i < n; i++)
            out[i] = 0.0f;
        return;
    }
    const double norm = loopmass_norm_of(v, x->x_autonorm);
    if (x->x_lowcut_hz > 0.0f) {
        loopmass_highpass(x, x->x_mix, norm, false, out, n);
        return;
    }
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
    loopmass_lowcut_design(x);
    loopmass_ramps_retime(x);
    dsp_add(loopmass_perform, 3, (t_int)sp[0]->s_vec - (t_int)sizeof(float), (t_int)x, (t_int)sp[0]->s_n + 1);
}

void loopmass_osc_begin(t_loopmass *x, t_oscwas *was)
{
    was->scanned = 0;
    while (was->scanned < NOSC && !loopmass_silent(x->x_osc_freq[was->scanned]))
        was->scanned++;
    was->norm = x->x_norm_held     ? loopmass_norm_at(x, loopmass_norm_step(x), 0)
                : was->scanned > 0 ? loopmass_norm_of(was->scanned, x->x_autonorm)
                                   : 1.0;
    for (int k = 0; k < NOSC; k++) {
        was->freq[k] = x->x_osc_freq[k];
        was->gain[k] = loopmass_gain_now(x, k);
        was->to[k] = x->x_ramp[k].len > 0 ? x->x_ramp[k].to : loopmass_steady_gain(x, k);
    }
    for (int k = 0; k < NOSC; k++)
        if (x->x_osc_stop[k]) {
            x->x_osc_freq[k] = 0.0f;
            x->x_osc_stop[k] = 0;
        }
}

// The samples a ramp of ms takes at the object's rate, rounded to the
// nearest whole number, halves up (5 ms at 44100 Hz: 220.5, so 221).
static int32_t loopmass_ramp_samples(const t_loopmass *x, float ms)
{
    const double samples = std::floor((double)ms * loopmass_rate(x) / 1000.0 + 0.5);
    return samples < 1073741824.0 ? (int32_t)samples : 1073741824;
}

// A message before the signal processing starts measures its ramps at the
// rate the object had then (44100 Hz until the first dsp call).
void loopmass_ramps_retime(t_loopmass *x)
{
    for (int k = 0; k < NOSC; k++) {
        t_ramp &r = x->x_ramp[k];
        if (r.len > 0 && r.done == 0)
            r.len = loopmass_ramp_samples(x, r.ms);
    }
    if (x->x_norm_held && x->x_norm_done == 0)
        x->x_norm_len = loopmass_ramp_samples(x, x->x_norm_ms);
    loopmass_settle(x);
}

// The normalisation goes with the gains from where it stands to where the
// oscillators that sound after the message put it: a pitch list that drops
// from three pitches to one must not jump from 1 / sqrt(3) to 1 when the
// last two are silent.  With nothing sounding on one side it holds the
// other side's value; with no ramp, or nothing to move, it is not held.
static void loopmass_norm_ramp(t_loopmass *x, const t_oscwas *was, int32_t len)
{
    int sounding = 0;
    while (sounding < NOSC && !loopmass_silent(x->x_osc_freq[sounding]) && !x->x_osc_stop[sounding])
        sounding++;
    bool ramping = false;
    for (int k = 0; k < NOSC; k++)
        ramping = ramping || x->x_ramp[k].len > 0;
    const double to = sounding > 0 ? loopmass_norm_of(sounding, x->x_autonorm) : was->norm;
    const double from = was->scanned > 0 ? was->norm : to;
    if (len == 0 || (was->scanned == 0 && sounding == 0) || (from == to && !ramping)) {
        x->x_norm_held = 0;
        return;
    }
    x->x_norm_held = 1;
    x->x_norm_from = from;
    x->x_norm_to = to;
    x->x_norm_len = len;
    x->x_norm_done = 0;
    x->x_norm_ms = x->x_ramp_ms;
}

static bool loopmass_same_bits(float a, float b)
{
    return a == b && std::signbit(a) == std::signbit(b);
}

void loopmass_osc_end(t_loopmass *x, const t_oscwas *was)
{
    const int32_t len = loopmass_ramp_samples(x, x->x_ramp_ms);
    // An oscillator scanned before the message and silenced by it keeps
    // its pitch (and so its phase) while its gain comes down.
    bool scanned = true;
    for (int k = 0; k < NOSC; k++) {
        scanned = scanned && !loopmass_silent(was->freq[k]);
        if (len > 0 && scanned && loopmass_silent(x->x_osc_freq[k])) {
            x->x_osc_freq[k] = was->freq[k];
            x->x_osc_stop[k] = 1;
        }
    }
    // A gain whose destination changed sets off from where it stands; one
    // whose destination is the same goes on as it went.
    for (int k = 0; k < NOSC; k++) {
        t_ramp &r = x->x_ramp[k];
        const float to = loopmass_steady_gain(x, k);
        if (len == 0) {
            r.len = 0;
        } else if (!loopmass_same_bits(to, was->to[k])) {
            r.from = was->gain[k];
            r.to = to;
            r.len = len;
            r.done = 0;
            r.ms = x->x_ramp_ms;
        }
    }
    loopmass_settle(x);
    loopmass_norm_ramp(x, was, len);
}

// "ramp MS": 0 to RAMP_MAX milliseconds; anything else changes nothing.
void loopmass_ramp(t_loopmass *x, t_symbol *, short argc, t_atom *argv)
{
    const float ms = argc > 0 && atom_isnum(&argv[0]) ? atom_getfloat(&argv[0]) : -1.0f;
    if (!(ms >= 0.0f && ms <= RAMP_MAX)) {
        error("loopmass~: ramp takes 0 to %g milliseconds", (double)RAMP_MAX);
        return;
    }
    x->x_ramp_ms = ms + 0.0f; // -0 is 0
}

// tan(a) for 0 <= a < pi/2 from the series of sin and cos: only additions,
// multiplications and a division, so that every platform gives the same
// coefficients.
static double loopmass_tan(double a)
{
    double sin = 0.0, cos = 0.0, term = 1.0;
    for (int i = 1; i <= 30; i++) {
        if (i % 2 == 1)
            cos += (i % 4 == 1 ? term : -term);
        else
            sin += (i % 4 == 2 ? term : -term);
        term = term * a / i;
    }
    return sin / cos;
}

// A second-order Butterworth high-pass by the bilinear transform, its
// corner prewarped so that it falls at x_lowcut_hz exactly.  A corner
// beyond 0.45 of the rate (at rates below 445 Hz) is taken as 0.45 of it:
// at half the rate the design has no filter.
void loopmass_lowcut_design(t_loopmass *x)
{
    t_highpass &h = x->x_highpass;
    const double rate = loopmass_rate(x);
    double hz = x->x_lowcut_hz;
    if (hz > 0.45 * rate)
        hz = 0.45 * rate;
    const double k = loopmass_tan(3.14159265358979323846 * hz / rate);
    const double root2 = 1.41421356237309504880; // 1 / Q
    const double norm = 1.0 / (1.0 + root2 * k + k * k);
    h.b0 = norm;
    h.b1 = -2.0 * norm;
    h.b2 = norm;
    h.a1 = 2.0 * (k * k - 1.0) * norm;
    h.a2 = (1.0 - root2 * k + k * k) * norm;
}

// "lowcut HZ": a corner above 0 up to LOWCUT_MAX turns the high-pass on or
// moves it (its state is kept); 0 turns it off and clears its state;
// anything else changes nothing.
void loopmass_lowcut(t_loopmass *x, t_symbol *, short argc, t_atom *argv)
{
    const float hz = argc > 0 && atom_isnum(&argv[0]) ? atom_getfloat(&argv[0]) : -1.0f;
    if (!(hz >= 0.0f && hz <= LOWCUT_MAX)) {
        error("loopmass~: lowcut takes 0 (off) or a corner up to %g Hz", (double)LOWCUT_MAX);
        return;
    }
    x->x_lowcut_hz = hz + 0.0f;
    if (hz == 0.0f) {
        t_highpass &h = x->x_highpass;
        h.x1 = h.x2 = h.y1 = h.y2 = 0.0;
    }
    loopmass_lowcut_design(x);
}

} // namespace loopmass
