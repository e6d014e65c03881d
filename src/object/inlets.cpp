// loopmass~: the everyday inlet messages.  int, float, list and bang act by
// the inlet they arrive on (x_in): 0 control, 1 to 6 one profile kind each,
// 7 pitches; fg, pitch and gain pairs, only on the pitch inlet.  stop and
// reset act the same on every inlet.

#include <cmath>

#include "loopmass.h"

namespace loopmass {

// Above this magnitude fg refuses a gain.  Below it the output stays finite:
// a ring value is at most 1, the cross-fade extrapolates at most about 1400
// times over a full mix buffer on the smallest ring, and five oscillators
// add up, which stays far below the largest float.
static const float GAIN_MAX = 1e30f;

// The absolute value of a preset number; the one number whose absolute
// value does not fit is taken as the largest, which names no preset.
static int32_t loopmass_preset_abs(int32_t n)
{
    if (n == INT32_MIN)
        return INT32_MAX;
    return n < 0 ? -n : n;
}

// One pitch on oscillator 0, which then plays alone at full gain.
static void loopmass_single_pitch(t_loopmass *x, float hz)
{
    t_oscwas was;
    loopmass_osc_begin(x, &was);
    x->x_autonorm = 1.0f;
    x->x_osc_gain[0] = 1.0f;
    x->x_osc_freq[0] = hz;
    for (int k = 1; k < NOSC; k++)
        x->x_osc_freq[k] = 0.0f;
    loopmass_osc_end(x, &was);
}

void loopmass_int(t_loopmass *x, int32_t n)
{
    if (x->x_in == INLET_CONTROL) {
        int32_t preset = loopmass_preset_abs(n);
        loopmass_recall(x, x->x_raw, preset);
        x->x_preset = preset;
        loopmass_update_all(x);
    } else if (x->x_in == INLET_PITCH) {
        loopmass_single_pitch(x, (float)std::fabs((double)n));
    }
}

void loopmass_float(t_loopmass *x, double f)
{
    if (x->x_in == INLET_CONTROL) {
        double a = std::fabs(f);
        loopmass_interp_all(x, x->x_raw, (float)a);
        // A value whose integer part is no preset number (not a number, or
        // beyond 32 bits) keeps the current preset.
        if (a < 2147483648.0)
            x->x_preset = (int32_t)a;
        loopmass_update_all(x);
    } else if (x->x_in >= PROF_MASSES && x->x_in <= PROF_INITPOS) {
        loopmass_interp_one(x, (short)x->x_in, (float)f);
        loopmass_update(x, x->x_in);
    } else if (x->x_in == INLET_PITCH) {
        loopmass_single_pitch(x, (float)std::fabs(f));
    }
}

// The kind named by the first atom of a control-inlet list, truncated
// toward zero; 0 (no kind) when it cannot be an integer.
static int32_t loopmass_list_kind(const t_atom *a)
{
    if (a->a_type == A_LONG)
        return a->a_w.w_long;
    double k = std::trunc((double)a->a_w.w_float);
    return (k > -2147483648.0 && k < 2147483648.0) ? (int32_t)k : 0;
}

// Writes values into raw profile `kind` from entry 0 on, forces and initial
// position given in their 0..1 form.  A symbol gives no value and leaves its
// entry as it was; entries beyond the list keep theirs.
static void loopmass_write_profile(t_loopmass *x, int kind, int argc, const t_atom *argv)
{
    float *raw = x->x_raw[kind - 1];
    for (int i = 0; i < argc; i++)
        if (atom_isnum(&argv[i]))
            raw[i] = loopmass_raw(kind, atom_getfloat(&argv[i]));
}

static void loopmass_list_control(t_loopmass *x, short argc, t_atom *argv)
{
    // No kind can be read from an empty list or one that starts with a
    // symbol: such a list is ignored.
    if (argc < 1 || !atom_isnum(&argv[0]))
        return;
    if (argc > x->x_nmasses + 1)
        argc = (short)(x->x_nmasses + 1);
    int32_t kind = loopmass_list_kind(&argv[0]);
    if (kind >= PROF_MASSES && kind <= PROF_INITPOS)
        loopmass_write_profile(x, kind, argc - 1, argv + 1);
    loopmass_update(x, kind);
}

static void loopmass_list_profile(t_loopmass *x, short argc, t_atom *argv)
{
    if (argc > x->x_nmasses)
        argc = (short)x->x_nmasses;
    if (argc > 0 && atom_isnum(&argv[0]))
        loopmass_write_profile(x, x->x_in, argc, argv);
    loopmass_update(x, x->x_in);
}

static void loopmass_list_pitches(t_loopmass *x, short argc, t_atom *argv)
{
    if (argc > NOSC)
        argc = NOSC;
    t_oscwas was;
    loopmass_osc_begin(x, &was);
    for (int k = 0; k < argc; k++)
        if (atom_isnum(&argv[k]))
            x->x_osc_freq[k] = atom_getfloat(&argv[k]);
    for (int k = argc; k < NOSC; k++)
        x->x_osc_freq[k] = 0.0f;
    for (int k = 0; k < NOSC; k++)
        x->x_osc_gain[k] = 1.0f;
    x->x_autonorm = 1.0f;
    loopmass_osc_end(x, &was);
}

// Pitch and gain pairs on the pitch inlet.  A pitch or gain that is not a
// finite number is refused (that value stays as it was), and so is a gain
// beyond GAIN_MAX, so that the output always stays finite.
void loopmass_fg(t_loopmass *x, t_symbol *s, short argc, t_atom *argv)
{
    (void)s;
    if (x->x_in != INLET_PITCH)
        return;
    t_oscwas was;
    loopmass_osc_begin(x, &was);
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
    loopmass_osc_end(x, &was);
}

void loopmass_list(t_loopmass *x, t_symbol *, short argc, t_atom *argv)
{
    if (x->x_in == INLET_CONTROL)
        loopmass_list_control(x, argc, argv);
    else if (x->x_in >= PROF_MASSES && x->x_in <= PROF_INITPOS)
        loopmass_list_profile(x, argc, argv);
    else if (x->x_in == INLET_PITCH)
        loopmass_list_pitches(x, argc, argv);
}

// Strikes the ring: it takes the shape of the initial-position profile, at
// rest, and the next haptic step releases it.  The profile has no lower
// bound (a negative gain or offset takes it below -1), while the ring never
// leaves [-1, 1]: the shape is bounded as a step would bound it.
void loopmass_bang(t_loopmass *x)
{
    if (x->x_in != INLET_CONTROL)
        return;
    for (int k = 0; k < NOSC; k++)
        x->x_osc_phase[k] = 0.0f;
    const float *init = x->x_prof[PROF_INITPOS - 1];
    for (int i = 0; i < x->x_nmasses; i++) {
        x->x_pos1[i] = loopmass_bound(init[i]);
        x->x_pos[i] = x->x_pos1[i];
    }
}

void loopmass_stop(t_loopmass *x)
{
    for (int i = 0; i < x->x_nmasses; i++) {
        x->x_pos1[i] = 0.0f;
        x->x_pos[i] = 0.0f;
    }
}

// Back to the current preset as recalled, with neutral metaparameters.
void loopmass_reset(t_loopmass *x, t_symbol *, short, t_atom *)
{
    loopmass_neutral(x);
    for (short k = PROF_MASSES; k <= PROF_INITPOS; k++)
        loopmass_interp_one(x, k, 0.0f);
    loopmass_interp_all(x, x->x_raw, (float)x->x_preset);
    loopmass_update_all(x);
}

} // namespace loopmass
