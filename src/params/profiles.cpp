// Effective profiles: each raw profile rotated by its phase, scaled by its
// gain, moved by its offset, clamped to what the string model can use and
// optionally stretched under a window; and the five messages that set these
// four metaparameters from the profile inlets.
#include <cmath>

#include "loopmass.h"

namespace loopmass {

// A stored shift outside this range did not come from a phase message; it is
// not used, so that i + s always fits an int.
const double MAXSHIFT = 1073741824.0; // 2^30

// Which metaparameter an atom of `all` sets, in the order of its atoms.
enum { META_GAIN, META_OFFSET, META_PHASE, META_EXTRA, NMETA };

// The mass of raw profile whose value effective mass i takes under shift s.
static int loopmass_rotate(int i, float s, int n)
{
    if (!std::isfinite(s) || s < -MAXSHIFT || s > MAXSHIFT)
        return i;
    // In double, i + s is exact, so a shift just below a whole number never
    // rounds up to it.
    int j = (int)(i + (double)s) % n;
    return j < 0 ? j + n : j;
}

// Every kind but forces is at most 1; masses are also at least 0.  The
// comparisons see the unrounded value.
static float loopmass_clamp(int k, double v)
{
    if (k != PROF_FORCES && v >= 1.0)
        v = 1.0;
    if (k == PROF_MASSES && v <= 0.0)
        v = 0.0;
    return (float)v;
}

// a = *hi + *lo exactly, each half at most 26 bits wide, so that the
// product of two halves is exact in double (Veltkamp's split).
static void loopmass_split(double a, double *hi, double *lo)
{
    double c = 134217729.0 * a; // 2^27 + 1
    *hi = c - (c - a);
    *lo = a - *hi;
}

// a * b = *p + *e exactly, from plain products (Dekker): no fused
// multiply-add, which not every machine has.
static void loopmass_exact_product(double a, double b, double *p, double *e)
{
    double ah, al, bh, bl;
    loopmass_split(a, &ah, &al);
    loopmass_split(b, &bh, &bl);
    *p = a * b;
    *e = ((ah * bh - *p) + ah * bl + al * bh) + al * bl;
}

// The window's x^4, for x = 2i/n - 1, correctly rounded: the C library's
// pow rounds a few of these x the other way, and not the same ones in every
// library, nor on every processor (glibc's x86-64 pow differs with and
// without fused multiply-add).  x^2 = s + e and s^2 = p + q exactly; the
// tail q + 2se + e^2 is off by about 2^-105 of x^4, so the sum rounds as
// x^4 does unless x^4 lies that close to halfway between two doubles, which
// no input of the window does (checked once with exact rationals); and
// tools/mathcheck shows that every input gives the recorded result.
static double loopmass_fourth_power(double x)
{
    // At x = 2 * 117/122 - 1, x^4 lies 1.2e-4 of a unit in the last place
    // from halfway; the library these profiles were first recorded with
    // (glibc on x86-64) rounds it down, and stretched profiles keep that
    // result bit for bit.
    if (x == 0x1.d60864b8a7de6p-1)
        return 0x1.6baa80947fbf0p-1;
    double s, e, p, q;
    loopmass_exact_product(x, x, &s, &e);
    loopmass_exact_product(s, s, &p, &q);
    return p + (q + 2 * s * e + e * e);
}

double loopmass_stretch(const float *values, float f, int i, int n)
{
    double r = std::fmod(i * (double)f, (double)n);
    // A factor that is not finite or negative (callers pass |extra|, which
    // the messages keep finite) has no place on the ring: start at mass 0.
    if (!(r >= 0.0 && r < n))
        r = 0.0;
    int j = (int)std::floor(r);
    float r1 = (float)r;
    // r1 can round up to j + 1, and t is then 1.
    double t = (double)(r1 - (float)j);
    double w = loopmass_fourth_power((2.0 * i) / n - 1);
    double a = values[j];
    double b = values[(j + 1) % n];
    return (1 - w) * (a + t * (b - a));
}

void loopmass_update(t_loopmass *x, int32_t k)
{
    int n = x->x_nmasses;
    if (k >= 1 && k <= NKINDS) {
        const float *raw = x->x_raw[k - 1];
        float *prof = x->x_prof[k - 1];
        double g = x->x_gain[k - 1];
        double o = x->x_offset[k - 1];
        float s = x->x_phase[k - 1];
        float e = x->x_extra[k - 1];

        if (x->x_display == 1)
            atom_setfloat(&x->x_paramlist[0], (float)k);
        // A stretch reads around the ring, so it needs every clamped value
        // before it writes the first of its own.
        float clamped[MAXMASSES];
        float *to = e == 0.0f ? prof : clamped;
        for (int i = 0; i < n; i++)
            to[i] = loopmass_clamp(k, raw[loopmass_rotate(i, s, n)] * g + o);
        if (e != 0.0f) {
            float f = std::fabs(e);
            for (int i = 0; i < n; i++)
                prof[i] = (float)loopmass_stretch(clamped, f, i, n);
        }
        if (x->x_display == 1) {
            // Forces and initial position are shown on 0 to 1, as they are
            // given in lists.
            for (int i = 0; i < n; i++)
                atom_setfloat(&x->x_paramlist[i + 1], loopmass_stored(k, prof[i]));
        }
    }
    // A kind that names no profile rebuilds nothing, but the list of the
    // last rebuild is still sent.
    if (x->x_display == 1)
        outlet_list(x->x_out_params, nullptr, (short)(n + 1), x->x_paramlist);
}

// Stores one metaparameter of kind k from an atom.  An atom that is not a
// number, and a phase or extra that is not finite, leave it as it was.
static void loopmass_setmeta(t_loopmass *x, int k, int which, const t_atom *a)
{
    if (!atom_isnum(a))
        return;
    float v = atom_getfloat(a);
    switch (which) {
    case META_GAIN:
        x->x_gain[k - 1] = v;
        break;
    case META_OFFSET:
        x->x_offset[k - 1] = v;
        break;
    case META_PHASE:
        // The phase is held as a shift in masses: 0 to N for any finite p.
        if (std::isfinite(v)) {
            double p = v;
            x->x_phase[k - 1] = (float)((std::floor(p) + (1.0 - p)) * x->x_nmasses);
        }
        break;
    case META_EXTRA:
        if (std::isfinite(v))
            x->x_extra[k - 1] = v;
        break;
    }
}

// Metaparameters belong to the profile inlets; elsewhere these messages do
// nothing.  The profile is rebuilt (and shown) even when nothing was stored.
static void loopmass_meta(t_loopmass *x, int which, short argc, t_atom *argv)
{
    int k = x->x_in;
    if (k < 1 || k > NKINDS)
        return;
    if (argc > 0)
        loopmass_setmeta(x, k, which, argv);
    loopmass_update(x, k);
}

void loopmass_gain(t_loopmass *x, t_symbol *, short argc, t_atom *argv)
{
    loopmass_meta(x, META_GAIN, argc, argv);
}

void loopmass_offset(t_loopmass *x, t_symbol *, short argc, t_atom *argv)
{
    loopmass_meta(x, META_OFFSET, argc, argv);
}

void loopmass_phase(t_loopmass *x, t_symbol *, short argc, t_atom *argv)
{
    loopmass_meta(x, META_PHASE, argc, argv);
}

void loopmass_extra(t_loopmass *x, t_symbol *, short argc, t_atom *argv)
{
    loopmass_meta(x, META_EXTRA, argc, argv);
}

void loopmass_neutral(t_loopmass *x)
{
    for (int k = 0; k < NKINDS; k++) {
        x->x_gain[k] = 1.0f;
        x->x_offset[k] = 0.0f;
        x->x_phase[k] = 0.0f;
        x->x_extra[k] = 0.0f;
    }
}

// gain, offset, phase, extra in this order; atoms past the fourth are
// ignored, and a missing one leaves its metaparameter as it was.
void loopmass_all(t_loopmass *x, t_symbol *, short argc, t_atom *argv)
{
    int k = x->x_in;
    if (k < 1 || k > NKINDS)
        return;
    for (int m = 0; m < argc && m < NMETA; m++)
        loopmass_setmeta(x, k, m, &argv[m]);
    loopmass_update(x, k);
}

} // namespace loopmass
