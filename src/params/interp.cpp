// Morphing between presets: all six raw profiles between two consecutive
// preset numbers, or one raw profile between the current preset and its
// neighbour.  Both write raw values only; the caller rebuilds.
#include <cmath>

#include "extended.h"
#include "loopmass.h"

namespace loopmass {

// dest = (to - from) * w + from for the first n values, worked with a 64-bit
// significand and rounded once, so values that fall almost halfway between
// two floats still round the same way wherever the object runs.
static void loopmass_blend(float *dest, const float *from, const float *to, double w, int n)
{
    for (int i = 0; i < n; i++)
        dest[i] = ext_blend(from[i], to[i], w);
}

short loopmass_interp_all(t_loopmass *x, t_block dest, float v)
{
    // Only a finite v whose floor fits 32 bits can name a preset.
    double fl = std::floor((double)v);
    if (!std::isfinite(fl) || fl < -2147483648.0 || fl >= 2147483648.0)
        return 1;
    int32_t n = (int32_t)fl;
    float frac = (float)(v - fl);

    if (loopmass_recall(x, dest, n))
        return 1;
    if (!(frac > 0))
        return 1;
    // A float with a fractional part is below 2^23, so n + 1 cannot overflow.
    t_block next;
    if (loopmass_recall(x, next, n + 1))
        return 1;
    for (int p = 0; p < NKINDS; p++)
        loopmass_blend(dest[p], dest[p], next[p], frac, x->x_nmasses);
    return 0;
}

short loopmass_interp_one(t_loopmass *x, short k, float v)
{
    // Not a number fails both tests: toward the preset below, all the way.
    int d = v > 0 ? 1 : -1;
    double mag = std::fabs((double)v);
    float w = (float)(mag < 1.0 ? mag : 1.0);

    t_block here, there;
    if (loopmass_recall(x, here, x->x_preset))
        return 1;
    if (!(w > 0))
        return 1;
    // The neighbour of the first or last 32-bit number does not exist.
    int64_t nb = (int64_t)x->x_preset + d;
    if (nb < INT32_MIN || nb > INT32_MAX)
        return 1;
    if (loopmass_recall(x, there, (int32_t)nb))
        return 1;
    if (k < 1 || k > NKINDS)
        return 0;
    loopmass_blend(x->x_raw[k - 1], here[k - 1], there[k - 1], w, x->x_nmasses);
    return 0;
}

} // namespace loopmass
