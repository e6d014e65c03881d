// loopmass~: switches for sound and displays, the motion display clock, the
// "info" report and the help texts.  None of these depends on the inlet.

#include <cmath>
#include <cstring>

#include "loopmass.h"

namespace loopmass {

// Messages sent without any argument are treated like a first atom that is
// a symbol.
static bool loopmass_first_long(short argc, const t_atom *argv, int32_t *v)
{
    if (argc < 1 || argv[0].a_type != A_LONG)
        return false;
    *v = argv[0].a_w.w_long;
    return true;
}

void loopmass_inactive(t_loopmass *x, t_symbol *, short argc, t_atom *argv)
{
    int32_t n;
    if (!loopmass_first_long(argc, argv, &n))
        return;
    if (n == 0) {
        x->x_inactive = 0;
        if (x->x_disprate > 0.0)
            clock_fdelay(x->x_clock, 0.0);
    } else {
        x->x_inactive = -1;
        clock_unset(x->x_clock);
    }
}

// A long or a float: 0 tunes the oscillators to 44100 Hz, anything else to
// the host's rate.  Any other argument, not-a-number included, is ignored.
void loopmass_hostrate(t_loopmass *x, t_symbol *, short argc, t_atom *argv)
{
    if (argc < 1 || !atom_isnum(&argv[0]) || std::isnan(atom_getfloat(&argv[0])))
        return;
    x->x_hostrate = atom_getfloat(&argv[0]) != 0.0f;
    // The high-pass's corner and the ramps are set at the object's rate.
    loopmass_lowcut_design(x);
    loopmass_ramps_retime(x);
}

// Kept for patches that send it: nothing depends on it.
void loopmass_antialias(t_loopmass *, t_symbol *, short, t_atom *) {}

void loopmass_display(t_loopmass *x, t_symbol *, short argc, t_atom *argv)
{
    int32_t n;
    if (!loopmass_first_long(argc, argv, &n))
        return;
    if (n == 0) {
        x->x_display = 0;
    } else {
        x->x_display = 1;
        loopmass_update_all(x);
    }
}

void loopmass_disprate(t_loopmass *x, t_symbol *, short argc, t_atom *argv)
{
    // An interval that is not a finite number is ignored like a symbol: the
    // clock would have no delay to wait for.
    if (argc > 0 && argv[0].a_type == A_LONG)
        x->x_disprate = std::fabs((double)argv[0].a_w.w_long);
    else if (argc > 0 && argv[0].a_type == A_FLOAT && std::isfinite(argv[0].a_w.w_float))
        x->x_disprate = std::fabs((double)argv[0].a_w.w_float);
    if (x->x_disprate == 0.0)
        clock_unset(x->x_clock);
    else
        clock_fdelay(x->x_clock, 0.0);
}

void loopmass_info(t_loopmass *x, t_symbol *, short, t_atom *)
{
    static const char *const lines[NKINDS] = {
        "Masses:           gain %f, offset %f, phase %f, extra %f",
        "String tension:   gain %f, offset %f, phase %f, extra %f",
        "Centering spring: gain %f, offset %f, phase %f, extra %f",
        "Damping:          gain %f, offset %f, phase %f, extra %f",
        "Forces:           gain %f, offset %f, phase %f, extra %f",
        "Initial position: gain %f, offset %f, phase %f, extra %f",
    };
    post("info on loopmass~:");
    post("current preset: %i, number of masses: %i", (int)x->x_preset, (int)x->x_nmasses);
    post("Display (1 on, 0 off): %i, display interval (ms): %f", (int)x->x_display, x->x_disprate);
    post("Metaparameters:");
    // The phase is held as a shift in masses and shown as a fraction of the ring.
    for (int k = 0; k < NKINDS; k++)
        post(lines[k], (double)x->x_gain[k], (double)x->x_offset[k], (double)x->x_phase[k] / x->x_nmasses,
             (double)x->x_extra[k]);
    post("Gain ramp (ms): %f, low cut (Hz, 0 off): %f", (double)x->x_ramp_ms, (double)x->x_lowcut_hz);
}

// The clock's delay in whole milliseconds: the interval truncated, 0 below
// one millisecond, and no more than the longest delay a long holds here.
static long loopmass_tick_delay(double disprate)
{
    if (!(disprate >= 1.0))
        return 0;
    if (disprate >= 2147483647.0)
        return 2147483647L;
    return (long)disprate;
}

void loopmass_tick(t_loopmass *x)
{
    clock_delay(x->x_clock, loopmass_tick_delay(x->x_disprate));
    outlet_list(x->x_out_motion, nullptr, (short)x->x_nmasses, x->x_motion);
}

void loopmass_assist(t_loopmass *, void *, long kind, long number, char *text)
{
    static const char *const inlets[8] = {"Control inlet",
                                          "Masses: (f)interpol (list)gain, shift, h.gain",
                                          "String tens.: (float)interpol (list)gain, shift",
                                          "Cent sprg: (float)interpol (list)gain, shift",
                                          "Damping: (float)interpol (list)gain, shift",
                                          "Forces: (f)interpol (list)gain, shift, h.gain",
                                          "Init: (f)interpol (list)gain, shift, h.gain",
                                          "Pitches: (float) pitch, (list) pitches"};
    static const char *const outlets[3] = {"(signal) Sound Out", "(list) Display string parameters",
                                           "(list) Display string motion"};
    if (kind == 1 && number >= 0 && number < 8)
        std::strcpy(text, inlets[number]);
    else if (kind == 2 && number >= 0 && number < 3)
        std::strcpy(text, outlets[number]);
}

} // namespace loopmass
