#include "loop.h"

#include <algorithm>
#include <cmath>

#include "scales.h"

namespace draw {

const double MARK_COLOURS[NMARKS][3] = {{240 / 255.0, 150 / 255.0, 0},
                                        {0, 160 / 255.0, 115 / 255.0},
                                        {205 / 255.0, 50 / 255.0, 205 / 255.0},
                                        {90 / 255.0, 180 / 255.0, 230 / 255.0},
                                        {230 / 255.0, 215 / 255.0, 25 / 255.0}};

void loop_point(const Loop &l, double f, double pos, int n, double *x, double *y)
{
    const double a = 2 * M_PI * f / n, r = l.r + l.swing * std::clamp(pos, -1.0, 1.0);
    *x = l.cx + r * std::sin(a);
    *y = l.cy - r * std::cos(a);
}

void loop_mark(const Loop &l, const float *ring, int n, float phase, double *x, double *y)
{
    const double f = (phase - std::floor(phase)) * n;
    const int i = std::min((int)f, n - 1);
    const double t = f - i;
    loop_point(l, f, ring[i] * (1 - t) + ring[(i + 1) % n] * t, n, x, y);
}

void draw_loop(Canvas &cv, const Loop &l, const float *ring, int n, const float *phases, const float *gains,
               double line, double mark)
{
    cairo_t *cr = cv.cr();
    cairo_set_source_rgb(cr, 0.75, 0.75, 0.75);
    cairo_set_line_width(cr, 1);
    cairo_new_path(cr);
    cairo_arc(cr, l.cx, l.cy, l.r, 0, 2 * M_PI);
    cairo_stroke(cr);
    if (n < 1)
        return;
    double x, y;
    for (int i = 0; i < n; i++) {
        loop_point(l, i, ring[i], n, &x, &y);
        cairo_line_to(cr, x, y);
    }
    cairo_close_path(cr);
    cv.colour(INK);
    cairo_set_line_width(cr, line);
    cairo_stroke(cr);
    const double dot = std::max(1.5, std::min(4.0, 3 * l.r / n));
    for (int i = 0; i < n; i++) {
        double rgb[3];
        position_colour(ring[i], rgb);
        loop_point(l, i, ring[i], n, &x, &y);
        cv.colour(rgb);
        cairo_arc(cr, x, y, dot, 0, 2 * M_PI);
        cairo_fill(cr);
    }
    for (int k = 0; k < NMARKS; k++) {
        if (!(gains[k] > 0))
            continue;
        loop_mark(l, ring, n, phases[k], &x, &y);
        cv.colour(MARK_COLOURS[k]);
        cairo_arc(cr, x, y, mark, 0, 2 * M_PI);
        cairo_fill(cr);
    }
}

} // namespace draw
