// The preset bank in memory: "store" appends a group of the six raw profiles
// to the bank's message store and points an index entry at it; "clear" marks
// an entry cleared or empties the whole bank.  Groups are addressed by cursor
// arithmetic, so the layout of every group must stay exactly as appended.

#include <cstdint>
#include <cstring>

#include "../params/extended.h"
#include "loopmass.h"

namespace loopmass {

// Appends one group: the preset number, then the six profiles of N floats.
// Forces and initial position are kept in the 0 to 1 form.
static void loopmass_appendgroup(t_loopmass *x, int32_t number)
{
    int n = x->x_nmasses;
    t_atom values[MAXMASSES];

    binbuf_vinsert(x->x_bank, "l", (long)number);
    for (int k = PROF_MASSES; k <= PROF_INITPOS; k++) {
        const float *raw = x->x_raw[k - 1];
        for (int i = 0; i < n; i++) {
            if (k == PROF_FORCES || k == PROF_INITPOS)
                atom_setfloat(&values[i], ext_stored(raw[i]));
            else
                atom_setfloat(&values[i], raw[i]);
        }
        binbuf_insert(x->x_bank, nullptr, (short)n, values);
    }
}

void loopmass_setentry(t_loopmass *x, int e, int32_t number, int32_t g, int n)
{
    // Group g starts after the 3-long header message and g groups of one
    // number message and six profiles of n floats: 6n + 8 atoms, 48n + 4
    // value bytes each.
    x->x_index[e][0] = number;
    x->x_index[e][1] = g * (6 * n + 8) + 4;
    x->x_index[e][2] = g * (48 * n + 4) + 12;
}

void loopmass_store(t_loopmass *x, t_symbol *, short argc, t_atom *argv)
{
    int32_t number = x->x_preset;
    if (argc > 0 && argv[0].a_type == A_LONG) {
        int32_t v = argv[0].a_w.w_long;
        // The one long whose absolute value does not fit is refused below.
        number = v < 0 && v != INT32_MIN ? -v : v;
    }
    if (number < 0) {
        error("loopmass~: bad preset number %i, not stored", number);
        return;
    }

    int n = x->x_nmasses;
    int e = loopmass_find(x->x_index, x->x_bank_nentries, number);
    if (e < 0 && x->x_bank_nentries >= INDEXSIZE) {
        error("loopmass~: bank full, preset %i not stored", number);
        return;
    }
    // The cursors of the new group must fit the index's 32-bit entries.
    int64_t g = x->x_bank_nstored;
    if (g * (48 * (int64_t)n + 4) + 12 > INT32_MAX) {
        error("loopmass~: bank full, preset %i not stored", number);
        return;
    }

    if (e < 0)
        e = x->x_bank_nentries++;
    x->x_bank_nstored++;
    loopmass_setentry(x, e, number, (int32_t)g, n);
    loopmass_appendgroup(x, number);
}

// Empties the bank: a new store holding only the header.
static void loopmass_clearall(t_loopmass *x)
{
    x->x_bank_version = -2;
    x->x_bank_ncleared = 0;
    x->x_bank_nstored = 0;
    x->x_bank_nentries = 0;
    x->x_bank_nmasses = x->x_nmasses;
    freeobject(x->x_bank);
    x->x_bank = binbuf_new();
    binbuf_vinsert(x->x_bank, "lll", (long)x->x_nmasses, (long)x->x_bank_version, (long)x->x_bank_nentries);
}

void loopmass_clear(t_loopmass *x, t_symbol *, short argc, t_atom *argv)
{
    int32_t number;
    if (argc == 0)
        number = x->x_preset;
    else if (argv[0].a_type == A_LONG)
        number = argv[0].a_w.w_long;
    else {
        if (argv[0].a_type == A_SYM && argv[0].a_w.w_sym && std::strcmp(argv[0].a_w.w_sym->s_name, "all") == 0)
            loopmass_clearall(x);
        return;
    }

    int e = loopmass_find(x->x_index, x->x_bank_nentries, number);
    if (e >= 0) {
        x->x_index[e][0] = -1;
        x->x_bank_ncleared++;
    }
}

} // namespace loopmass
