// Preset files: the live presets of the bank saved as a message store in
// text form, and read back.  A file is read into a store of its own and
// checked from end to end before the bank is touched, so that a broken or
// hostile file leaves the bank, its index and its counters as they were.
// A file of another mass count is resampled to the object's.

#include <cmath>
#include <cstdint>
#include <cstring>

#include "../params/extended.h"
#include "loopmass.h"

namespace loopmass {

static t_fourcc loopmass_filetypes[1] = {FOUR_CHAR_TEXT};

// A pair of read cursors on a store.
struct t_cursor {
    t_binbuf *b;
    long p1;
    long p2;
};

// The next atom, or false past the end of the store.
static bool loopmass_next(t_cursor *c, t_atom *a)
{
    a->a_type = A_NOTHING;
    a->a_w.w_long = 0;
    return binbuf_getatom(c->b, &c->p1, &c->p2, a) == 0;
}

static bool loopmass_nextlong(t_cursor *c, int32_t *v)
{
    t_atom a;
    if (!loopmass_next(c, &a) || a.a_type != A_LONG)
        return false;
    *v = a.a_w.w_long;
    return true;
}

static bool loopmass_nextend(t_cursor *c)
{
    t_atom a;
    return loopmass_next(c, &a) && a.a_type == A_SEMI;
}

// What a checked file holds besides its presets.
struct t_presetfile {
    int32_t nmasses;
    int32_t version;
    int32_t npresets;
    int32_t numbers[INDEXSIZE];
};

// Reads one profile of m values, longs taken as floats.
static bool loopmass_nextprofile(t_cursor *c, int m, float *values)
{
    for (int i = 0; i < m; i++) {
        t_atom a;
        if (!loopmass_next(c, &a) || !atom_isnum(&a))
            return false;
        values[i] = atom_getfloat(&a);
    }
    return loopmass_nextend(c);
}

// Checks the whole content of a store read from a file, copying it into the
// empty store dest laid out exactly as the bank is (every profile value a
// float atom).  Returns false when the content is not a preset file this
// object can hold; dest is then to be thrown away.
static bool loopmass_checkfile(t_binbuf *src, t_presetfile *f, t_binbuf *dest)
{
    t_cursor c = {src, 0, 0};
    t_block group;

    if (!loopmass_nextlong(&c, &f->nmasses) || !loopmass_nextlong(&c, &f->version) ||
        !loopmass_nextlong(&c, &f->npresets) || !loopmass_nextend(&c))
        return false;
    if (f->nmasses < MINMASSES || f->nmasses > MAXMASSES || f->npresets < 0 || f->npresets > INDEXSIZE)
        return false;
    loopmass_bank_header(dest, f->nmasses, f->version, f->npresets);

    for (int k = 0; k < f->npresets; k++) {
        int32_t number;
        if (!loopmass_nextlong(&c, &number) || number < 0 || !loopmass_nextend(&c))
            return false;
        f->numbers[k] = number;
        for (int p = 0; p < NKINDS; p++)
            if (!loopmass_nextprofile(&c, f->nmasses, group[p]))
                return false;
        loopmass_bank_append(dest, number, group, f->nmasses);
    }
    t_atom extra;
    return !loopmass_next(&c, &extra);
}

// Points index entry k at group k of a bank of m values per profile (at
// most 128 groups, whose cursors always fit).
static void loopmass_setindex(t_loopmass *x, const int32_t *numbers, int32_t count, int m)
{
    for (int k = 0; k < count; k++)
        loopmass_bank_entry(&x->x_index[k], numbers[k], k, m);
}

short loopmass_readfile(t_loopmass *x, char *name, short path, t_fourcc type)
{
    t_binbuf *raw = binbuf_new();
    t_binbuf *accepted = binbuf_new();
    t_presetfile f;
    bool ok = binbuf_read(raw, name, path, type != FOUR_CHAR_TEXT) == 0 && loopmass_checkfile(raw, &f, accepted);
    freeobject(raw);
    if (!ok) {
        freeobject(accepted);
        error("loopmass~: error reading %s", name);
        return 1;
    }

    if (f.version > BANK_VERSION)
        post("loopmass~: this file is from a more recent version of the object");
    x->x_bank_nmasses = f.nmasses;
    x->x_bank_version = f.version;
    x->x_bank_nentries = f.npresets;
    x->x_bank_nstored = f.npresets;
    x->x_bank_ncleared = 0;
    loopmass_setindex(x, f.numbers, f.npresets, f.nmasses);

    // At creation N is still 0 and the file's count becomes the object's.
    if (x->x_nmasses <= 0 || f.nmasses == x->x_nmasses) {
        freeobject(x->x_bank);
        x->x_bank = accepted;
        return 0;
    }
    post("loopmass~: number of masses in the file: %i", f.nmasses);
    post("Data have been resized to %i masses", x->x_nmasses);
    loopmass_resample(x, accepted);
    freeobject(accepted);
    return 0;
}

// Linear interpolation around the ring, from m source values to n.  A
// position i * r is exact in a double (8 bits times 24), and so is its
// fraction; the blend is worked with a 64-bit significand and rounded once
// to a float, so a resampled file gives the same values wherever it is read.
static void loopmass_resampleprofile(const float *src, int m, float *out, int n)
{
    float r = (float)((double)m / n);
    for (int i = 0; i < n - 1; i++) {
        double p = i * (double)r;
        long f = (long)std::floor(p);
        float next = f + 1 < m ? src[f + 1] : src[0];
        out[i] = ext_blend(src[f], next, p - f);
    }
    // The last value always blends toward the first source value.
    double p = (n - 1) * (double)r;
    long f = (long)std::floor(p);
    out[n - 1] = ext_blend(src[f], src[0], p - f);
}

void loopmass_resample(t_loopmass *x, t_binbuf *src)
{
    int m = x->x_bank_nmasses;
    int n = x->x_nmasses;
    int32_t count = x->x_bank_nentries;
    int32_t numbers[INDEXSIZE];
    t_block in, out;

    // Values stay in their stored form: forces and initial position are
    // resampled on 0 to 1.
    freeobject(x->x_bank);
    x->x_bank = binbuf_new();
    loopmass_bank_header(x->x_bank, n, x->x_bank_version, count);
    for (int k = 0; k < count; k++) {
        numbers[k] = x->x_index[k].number;
        loopmass_bank_read(src, &x->x_index[k], m, in);
        for (int p = 0; p < NKINDS; p++)
            loopmass_resampleprofile(in[p], m, out[p], n);
        loopmass_bank_append(x->x_bank, numbers[k], out, n);
    }
    loopmass_setindex(x, numbers, count, n);
    x->x_bank_nmasses = n;
    x->x_bank_nstored = count;
    x->x_bank_ncleared = 0;
}

// Copies a file name given in a message into a name buffer; false when it
// does not fit.
static bool loopmass_copyname(char *buf, const t_symbol *s)
{
    size_t len = std::strlen(s->s_name);
    if (len >= (size_t)MAX_FILENAME_CHARS)
        return false;
    std::memcpy(buf, s->s_name, len + 1);
    return true;
}

static bool loopmass_noname(const t_symbol *s)
{
    return s == nullptr || s->s_name == nullptr || s->s_name[0] == 0;
}

short loopmass_read(t_loopmass *x, t_symbol *s)
{
    char name[MAX_FILENAME_CHARS] = "";
    short path = x->x_filevol;
    t_fourcc type = FOUR_CHAR_TEXT;

    if (loopmass_noname(s)) {
        if (open_dialog(name, &path, &type, loopmass_filetypes, 1))
            return 1;
        short status = loopmass_readfile(x, name, path, type);
        x->x_filevol = path;
        return status;
    }
    if (!loopmass_copyname(name, s)) {
        error("loopmass~: error reading %s", s->s_name);
        return 1;
    }
    if (locatefile_extended(name, &path, &type, loopmass_filetypes, 1)) {
        error("loopmass~: can't find file %s", name);
        return 1;
    }
    return loopmass_readfile(x, name, path, type);
}

void loopmass_copylive(t_loopmass *x, t_binbuf *dest)
{
    int n = x->x_nmasses;
    t_block group;

    loopmass_bank_header(dest, n, x->x_bank_version, x->x_bank_nentries - x->x_bank_ncleared);
    for (int e = 0; e < x->x_bank_nentries; e++) {
        if (x->x_index[e].number == -1)
            continue;
        loopmass_bank_read(x->x_bank, &x->x_index[e], n, group);
        loopmass_bank_append(dest, x->x_index[e].number, group, n);
    }
}

void loopmass_write(t_loopmass *x, t_symbol *s)
{
    char name[MAX_FILENAME_CHARS] = "";
    short path = x->x_filevol;
    t_fourcc type = FOUR_CHAR_TEXT;
    bool dialog = loopmass_noname(s);

    if (dialog) {
        if (saveasdialog_extended(name, &path, &type, loopmass_filetypes, 1))
            return;
    } else if (!loopmass_copyname(name, s)) {
        error("loopmass~: error writing %s", s->s_name);
        return;
    }

    t_binbuf *b = binbuf_new();
    loopmass_copylive(x, b);
    short failed = binbuf_write(b, name, path, 0);
    freeobject(b);
    // The folder chosen in a save panel is where later named writes go,
    // whether or not this write succeeded.
    if (dialog)
        x->x_filevol = path;
    if (failed) {
        error("loopmass~: error writing %s", name);
        return;
    }
    // Reading the file back compacts the bank to its live presets.
    if (dialog)
        loopmass_readfile(x, name, path, type);
    else
        loopmass_read(x, s);
}

} // namespace loopmass
