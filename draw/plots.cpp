#include "plots.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "scales.h"

namespace draw {

const char *const PROFILE_NAMES[NPROFILES] = {"masses",  "tension", "centering",
                                              "damping", "forces",  "initial position"};

const double INSET = 6; // between a profile's extremes and its frame

void colour_column(cairo_surface_t *img, int x, const float *pos, int masses, int rows)
{
    for (int i = 0; i < rows; i++) {
        double rgb[3];
        position_colour(pos[i], rgb);
        put_pixel(img, x, rows - 1 - i, i < masses ? rgb : GREY);
    }
}

double ProfileScale::y_of(double v) const
{
    return top + h - INSET - (std::clamp(v, lo, hi) - lo) / (hi - lo) * (h - 2 * INSET);
}

double ProfileScale::value_at(double y) const
{
    const double u = (top + h - INSET - y) / (h - 2 * INSET);
    return lo + std::clamp(u, 0.0, 1.0) * (hi - lo);
}

ProfileScale profile_scale(const float *v, int n, double top, double h)
{
    double lo = 0, hi = 0;
    for (int i = 0; i < n; i++)
        if (std::isfinite(v[i])) {
            lo = std::min(lo, (double)v[i]);
            hi = std::max(hi, (double)v[i]);
        }
    if (hi - lo < 1e-6) {
        lo -= 1;
        hi += 1;
    }
    // Limits rounded out to a tenth of the range, so that they read short;
    // a float just past a step (0.4f is above 0.4) keeps it.
    const double step = tick_step(hi - lo, 10);
    lo = std::floor(lo / step + 1e-5) * step;
    hi = std::ceil(hi / step - 1e-5) * step;
    return ProfileScale{lo, hi, top, h};
}

void profile_plot(Canvas &cv, const char *name, const float *v, int n, double x, double top, double w, double h)
{
    const ProfileScale s = profile_scale(v, n, top, h);
    cairo_t *cr = cv.cr();
    cv.text(name, x + w / 2, top - 6, 0.5, 1);
    cairo_set_source_rgb(cr, 0.7, 0.7, 0.7);
    cairo_set_line_width(cr, 1);
    cairo_move_to(cr, x, s.y_of(0));
    cairo_line_to(cr, x + w, s.y_of(0));
    cairo_stroke(cr);
    cairo_set_source_rgb(cr, 0.16, 0.33, 0.55);
    cairo_set_line_width(cr, 1.5);
    for (int i = 0; i < n; i++)
        cairo_line_to(cr, x + (i + 0.5) / n * w, s.y_of(v[i]));
    cairo_stroke(cr);
    cv.frame(x, top, w, h);
    cv.text(number_text(s.hi), x - 3, s.y_of(s.hi), 1, 0.5, 10);
    cv.text(number_text(s.lo), x - 3, s.y_of(s.lo), 1, 0.5, 10);
    cv.text("0", x, top + h + 4, 0, 0, 10);
    cv.text(std::to_string(n - 1), x + w, top + h + 4, 1, 0, 10);
}

} // namespace draw
