// The preset bank in memory: "store" appends a group of the six raw profiles
// to the bank's message store and points an index entry at it; "clear" marks
// an entry cleared or empties the whole bank.  Groups are addressed by cursor
// arithmetic, so the bank's layout is written and read here only.

#include <cstdint>
#include <cstring>

#include "loopmass.h"

namespace loopmass {

void loopmass_bank_header(t_binbuf *b, int32_t nmasses, int32_t version, int32_t count)
{
    binbuf_vinsert(b, "lll", (long)nmasses, (long)version, (long)count);
}

bool loopmass_bank_entry(t_bankentry *e, int32_t number, int64_t g, int n)
{
    // Group g starts after the header (3 longs and an end: 4 atoms, 12
    // bytes) and g groups of a number message (2 atoms, 4 bytes) and six
    // profiles of n floats and an end (6n + 6 atoms, 48n bytes).
    int64_t atoms = g * (6 * (int64_t)n + 8) + 4;
    int64_t bytes = g * (48 * (int64_t)n + 4) + 12;
    if (bytes > INT32_MAX)
        return false;
    e->number = number;
    e->atoms = (int32_t)atoms;
    e->bytes = (int32_t)bytes;
    return true;
}

void loopmass_bank_append(t_binbuf *b, int32_t number, const t_block stored, int n)
{
    t_atom values[MAXMASSES];
    binbuf_vinsert(b, "l", (long)number);
    for (int p = 0; p < NKINDS; p++) {
        for (int i = 0; i < n; i++)
            atom_setfloat(&values[i], stored[p][i]);
        binbuf_insert(b, nullptr, (short)n, values);
    }
}

void loopmass_bank_read(t_binbuf *b, const t_bankentry *e, int n, t_block stored)
{
    // Past the group's number message: one long and its end.
    long p1 = (long)e->atoms + 2;
    long p2 = (long)e->bytes + 4;
    for (int p = 0; p < NKINDS; p++) {
        for (int i = 0; i < n; i++) {
            t_atom a;
            a.a_type = A_NOTHING;
            a.a_w.w_long = 0;
            binbuf_getatom(b, &p1, &p2, &a);
            stored[p][i] = atom_getfloat(&a);
        }
        t_atom end;
        binbuf_getatom(b, &p1, &p2, &end);
    }
}

// Forces and initial position are held in -1 to 1 and stored in 0 to 1, as
// v * 0.5 + 0.5 and back as v * 2 - 1.  Each is the sum of an exact product
// and a float; worked in a double, whose 53 bits are more than twice a
// float's 24 plus two, and then rounded to a float, such a sum comes out as
// the float nearest its exact value: the first rounding never changes the
// second.  So is it with the x87's 64 bits, so these give the same bits on
// every platform as on the x87.
static bool loopmass_halfrange(int kind)
{
    return kind == PROF_FORCES || kind == PROF_INITPOS;
}

float loopmass_stored(int kind, float raw)
{
    return loopmass_halfrange(kind) ? (float)((double)raw * 0.5 + 0.5) : raw;
}

float loopmass_raw(int kind, float stored)
{
    return loopmass_halfrange(kind) ? (float)((double)stored * 2 - 1) : stored;
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
    t_bankentry entry;
    if ((e < 0 && x->x_bank_nentries >= INDEXSIZE) || !loopmass_bank_entry(&entry, number, x->x_bank_nstored, n)) {
        error("loopmass~: bank full, preset %i not stored", number);
        return;
    }

    t_block stored;
    for (int p = 0; p < NKINDS; p++)
        for (int i = 0; i < n; i++)
            stored[p][i] = loopmass_stored(p + 1, x->x_raw[p][i]);
    if (e < 0)
        e = x->x_bank_nentries++;
    x->x_bank_nstored++;
    x->x_index[e] = entry;
    loopmass_bank_append(x->x_bank, number, stored, n);
}

// Empties the bank: a new store holding only the header.
static void loopmass_clearall(t_loopmass *x)
{
    x->x_bank_version = BANK_VERSION;
    x->x_bank_ncleared = 0;
    x->x_bank_nstored = 0;
    x->x_bank_nentries = 0;
    x->x_bank_nmasses = x->x_nmasses;
    freeobject(x->x_bank);
    x->x_bank = binbuf_new();
    loopmass_bank_header(x->x_bank, x->x_nmasses, x->x_bank_version, x->x_bank_nentries);
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
        x->x_index[e].number = -1;
        x->x_bank_ncleared++;
    }
}

} // namespace loopmass
