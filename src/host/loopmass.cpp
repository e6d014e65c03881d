// loopmass~: the class, its registration, creation and free.

#include "loopmass.h"

namespace loopmass {

t_class *loopmass_class;

int main(void)
{
    setup(&loopmass_class, (method)loopmass_new, (method)loopmass_free, sizeof(t_loopmass), nullptr, A_GIMME, 0);
    addmess((method)loopmass_dsp, "dsp", A_CANT, 0);
    addbang((method)loopmass_bang);
    addmess((method)loopmass_list, "list", A_GIMME, 0);
    addmess((method)loopmass_reset, "reset", A_GIMME, 0);
    addmess((method)loopmass_inactive, "inactive", A_GIMME, 0);
    addmess((method)loopmass_antialias, "antialias", A_GIMME, 0);
    addmess((method)loopmass_display, "display", A_GIMME, 0);
    addmess((method)loopmass_disprate, "disprate", A_GIMME, 0);
    addmess((method)loopmass_store, "store", A_GIMME, 0);
    addmess((method)loopmass_clear, "clear", A_GIMME, 0);
    addmess((method)loopmass_read, "read", A_DEFSYM, 0);
    addmess((method)loopmass_write, "write", A_DEFSYM, 0);
    addmess((method)loopmass_stop, "stop", 0);
    addmess((method)loopmass_info, "info", A_GIMME, 0);
    addmess((method)loopmass_all, "all", A_GIMME, 0);
    addmess((method)loopmass_gain, "gain", A_GIMME, 0);
    addmess((method)loopmass_offset, "offset", A_GIMME, 0);
    addmess((method)loopmass_phase, "phase", A_GIMME, 0);
    addmess((method)loopmass_extra, "extra", A_GIMME, 0);
    addmess((method)loopmass_fg, "fg", A_GIMME, 0);
    addfloat((method)loopmass_float);
    addint((method)loopmass_int);
    addmess((method)loopmass_assist, "assist", A_CANT, 0);
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
    binbuf_vinsert(x->x_bank, "lll", (long)n, (long)x->x_bank_version, (long)x->x_bank_nentries);
    return n;
}

static void loopmass_defaults(t_loopmass *x)
{
    int n = x->x_nmasses;
    x->x_display = 1;
    x->x_inactive = 0;
    x->x_disprate = 100.0;
    x->x_tick = 0;
    x->x_autonorm = 1.0f;
    for (int k = 0; k < NOSC; k++) {
        x->x_osc_phase[k] = 0.0f;
        x->x_osc_freq[k] = 0.0f;
        x->x_osc_gain[k] = 1.0f;
    }
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
    x->x_bank_version = -2;
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
