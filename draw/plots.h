// The plots of the ring every picture of it shares: a column of the colour
// map of its motion, and a profile over the masses on a scale of its own.
#pragma once

#include <cairo.h>

#include "canvas.h"

namespace draw {

const int NPROFILES = 6;
// The profiles' names, kind 1 to 6 at 0 to 5.
extern const char *const PROFILE_NAMES[NPROFILES];

// Column x of an RGB24 image `rows` high: mass i's position as a colour in
// row rows - 1 - i (mass 0 at the bottom), grey above the `masses` there
// are.
void colour_column(cairo_surface_t *img, int x, const float *pos, int masses, int rows);

// The scale a profile is plotted on: its values' range, which always takes
// in 0, rounded out to a tenth of it.
struct ProfileScale {
    double lo, hi;
    double top, h; // the plot's frame
    double y_of(double v) const;
    // The value at height y, clamped to the scale: y_of's inverse.
    double value_at(double y) const;
};
ProfileScale profile_scale(const float *v, int n, double top, double h);

// Profile v of n masses in the frame x, top, w, h, named above it, with
// its limits on the left and its first and last mass under it.
void profile_plot(Canvas &cv, const char *name, const float *v, int n, double x, double top, double w, double h);

} // namespace draw
