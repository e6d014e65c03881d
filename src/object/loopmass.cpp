// loopmass~: the class, its registration, creation and free.

#include <cstring>

#include "loopmass.h"

namespace loopmass {

t_class *loopmass_class;

// "read" answers whether the file was read; a message has no answer.
static void loopmass_read_message(t_loopmass *x, t_symbol *s)
{
    loopmass_read(x, s);
}

// The class's messages in the order it registers them, with the type of
// their arguments (A_NOTHING: none).
static const struct {
    const char *name;
    method fn;
    short type;
} loopmass_messages[] = {
    {"dsp", (method)loopmass_dsp, A_CANT},
    {"bang", (method)loopmass_bang, A_NOTHING},
    {"list", (method)loopmass_list, A_GIMME},
    {"reset", (method)loopmass_reset, A_GIMME},
    {"inactive", (method)loopmass_inactive, A_GIMME},
    {"antialias", (method)loopmass_antialias, A_GIMME},
    {"display", (method)loopmass_display, A_GIMME},
    {"disprate", (method)loopmass_disprate, A_GIMME},
    {"store", (method)loopmass_store, A_GIMME},
    {"clear", (method)loopmass_clear, A_GIMME},
    {"read", (method)loopmass_read_message, A_DEFSYM},
    {"write", (method)loopmass_write, A_DEFSYM},
    {"stop", (method)loopmass_stop, A_NOTHING},
    {"info", (method)loopmass_info, A_GIMME},
    {"all", (method)loopmass_all, A_GIMME},
    {"gain", (method)loopmass_gain, A_GIMME},
    {"offset", (method)loopmass_offset, A_GIMME},
    {"phase", (method)loopmass_phase, A_GIMME},
    {"extra", (method)loopmass_extra, A_GIMME},
    {"fg", (method)loopmass_fg, A_GIMME},
    {"float", (method)loopmass_float, A_FLOAT},
    {"int", (method)loopmass_int, A_LONG},
    {"assist", (method)loopmass_assist, A_CANT},
    {"hostrate", (method)loopmass_hostrate, A_GIMME},
    {"ramp", (method)loopmass_ramp, A_GIMME},
    {"lowcut", (method)loopmass_lowcut, A_GIMME},
};

// bang, int and float have registration calls of their own.
static void loopmass_addmethod(const char *name, method fn, short type)
{
    if (std::strcmp(name, "bang") == 0)
        addbang(fn);
    else if (std::strcmp(name, "int") == 0)
        addint(fn);
    else if (std::strcmp(name, "float") == 0)
        addfloat(fn);
    else
        addmess(fn, name, type, 0);
}

int main(void)
{
    setup(&loopmass_class, (method)loopmass_new, (method)loopmass_free, sizeof(t_loopmass), nullptr, A_GIMME, 0);
    for (const auto &m : loopmass_messages)
        loopmass_addmethod(m.name, m.fn, m.type);
    z_add_signalmethod();

    post("loopmass~: scanned synthesis on a ring of masses");
    post("loopmass~: 3 to 256 masses, 5 scanning oscillators, 10 factory presets");
    post("loopmass~: inlets control, 6 profiles, pitches; outlets sound, parameters, motion");
    return 0;
}

// The mass count of a new object, from its first creation argument.  A
// preset file sets it to the file's own count; an unreadable one, or no
// usable argument, gives the full ring.
static int32_t loopmass_masses_from(t_loopmass *x, short argc, t_atom *argv)
{
    int32_t n = MAXMASSES;
    if (argc > 0 && argv[0].a_type == A_SYM && argv[0].a_w.w_sym->s_name[0] != '\0') {
        if (loopmass_read(x, argv[0].a_w.w_sym) == 0)
            return x->x_bank_nmasses;
    } else if (argc > 0 && argv[0].a_type == A_LONG) {
        n = argv[0].a_w.w_long;
        if (n < MINMASSES) {
            post("Masses min nb : %i", MINMASSES);
            n = MINMASSES;
        } else if (n > MAXMASSES) {
            post("Masses max nb : %i", MAXMASSES);
            n = MAXMASSES;
        }
    }
    // No file: the bank starts empty, with a header for this count.
    x->x_bank_nmasses = n;
    loopmass_bank_header(x->x_bank, n, x->x_bank_version, x->x_bank_nentries);
    return n;
}

static void loopmass_defaults(t_loopmass *x)
{
    int n = x->x_nmasses;
    x->x_display = 1;
    x->x_inactive = 0;
    x->x_disprate = 100.0;
    x->x_tick = 0;
    x->x_nsteps = 0;
    x->x_autonorm = 1.0f;
    x->x_hostrate = 0;
    x->x_sr = SAMPLE_RATE;
    for (int k = 0; k < NOSC; k++) {
        x->x_osc_phase[k] = 0.0f;
        x->x_osc_freq[k] = 0.0f;
        x->x_osc_gain[k] = 1.0f;
        x->x_ramp[k] = t_ramp{};
        x->x_osc_stop[k] = 0;
    }
    // Gains jump, and the output is not filtered.
    x->x_ramp_ms = 0.0f;
    x->x_norm_held = 0;
    x->x_norm_len = x->x_norm_done = 0;
    x->x_norm_from = x->x_norm_to = 1.0;
    x->x_norm_ms = 0.0f;
    x->x_lowcut_hz = 0.0f;
    x->x_highpass = t_highpass{};
    loopmass_neutral(x);
    // No coefficient of the haptic step is known yet, nor the scan's copy
    // of the ring.
    for (int i = 0; i < MAXMASSES; i++)
        x->x_coef_ok[i] = 0;
    x->x_table.n = 0;
    // The first display tick comes before any haptic step: it shows the
    // ring at rest.
    for (int i = 0; i < n; i++) {
        x->x_pos[i] = 0.0f;
        x->x_pos1[i] = 0.0f;
        atom_setfloat(&x->x_motion[i], 0.5f);
    }
}

void *loopmass_new(t_symbol *, short argc, t_atom *argv)
{
    t_loopmass *x = (t_loopmass *)newobject(loopmass_class);
    z_dsp_setup(&x->x_obj, 0);

    x->x_out_motion = listout(x);
    x->x_out_params = listout(x);
    outlet_new(x, "signal");

    // The host fires clocks only from its scheduler, never while creation
    // runs, so the first tick sees a finished object.
    x->x_clock = clock_new(x, (method)loopmass_tick);
    clock_fdelay(x->x_clock, 0.0);

    for (int i = 7; i >= 1; i--)
        x->x_proxy[i] = proxy_new(x, i, &x->x_in);
    x->x_filevol = defvolume();

    x->x_bank = binbuf_new();
    x->x_bank_version = BANK_VERSION;
    x->x_bank_ncleared = 0;
    x->x_bank_nstored = 0;
    x->x_bank_nentries = 0;
    x->x_preset = 0;
    x->x_nmasses = 0; // lets a preset file read below keep its own count

    loopmass_srand((uint32_t)calendar_seconds());
    x->x_nmasses = loopmass_masses_from(x, argc, argv);
    loopmass_defaults(x);

    loopmass_recall(x, x->x_raw, 0);
    loopmass_update_all(x);
    return x;
}

void loopmass_update_all(t_loopmass *x)
{
    for (int k = PROF_MASSES; k <= PROF_INITPOS; k++)
        loopmass_update(x, k);
}

void loopmass_free(t_loopmass *x)
{
    freeobject(x->x_bank);
    freeobject(x->x_clock);
    z_dsp_free(&x->x_obj);
}

} // namespace loopmass
