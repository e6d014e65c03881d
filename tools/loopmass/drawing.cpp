// Draws a Picture with Cairo: the ring as a colour map, the output's
// envelope under it, the six profiles in a row at the bottom.
#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "canvas.h"
#include "picture.h"
#include "plots.h"
#include "scales.h"

namespace score {

namespace {

using draw::Canvas;
using draw::GREY;
using draw::number_text;
using draw::position_colour;
using draw::put_pixel;
using draw::tick_step;

// The page, in pixels.  The ring and the envelope share the plot's width,
// so a column of the picture is one pixel wide or more.
const int WIDTH = PICTURE_WIDTH, HEIGHT = PICTURE_HEIGHT;
const double LEFT = 70, PLOT_W = PICTURE_COLUMNS;
const double RING_TOP = 72, RING_H = 256; // a pixel per mass on the full ring
const double ENV_TOP = 344, ENV_H = 110;
const double PROF_TOP = 556, PROF_H = 120, PROF_GAP = 34;

// Time across, masses up, one column of the picture per pixel column or
// more.
void draw_ring(Canvas &cv, const Picture &p)
{
    const std::vector<Picture::Column> &cols = p.columns();
    const int rows = p.rows();
    if (cols.empty() || rows == 0) {
        cv.colour(GREY);
        cairo_rectangle(cv.cr(), LEFT, RING_TOP, PLOT_W, RING_H);
        cairo_fill(cv.cr());
        cv.text("no ring", LEFT + PLOT_W / 2, RING_TOP + RING_H / 2, 0.5, 0.5);
    } else {
        cairo_surface_t *img = cairo_image_surface_create(CAIRO_FORMAT_RGB24, (int)cols.size(), rows);
        cairo_surface_flush(img);
        for (size_t c = 0; c < cols.size(); c++)
            draw::colour_column(img, (int)c, cols[c].pos, cols[c].masses, rows);
        cairo_surface_mark_dirty(img);
        cv.image(img, LEFT, RING_TOP, PLOT_W, RING_H);
        cairo_surface_destroy(img);

        // Mass indices, each at the middle of its row.
        const double step = std::max(1.0, tick_step(rows - 1, 8));
        for (double m = 0; m <= rows - 1; m += step) {
            const double y = RING_TOP + RING_H - (m + 0.5) / rows * RING_H;
            cv.line(LEFT - 4, y, LEFT, y);
            cv.text(number_text(m), LEFT - 7, y, 1, 0.5, 11);
        }
    }
    cv.frame(LEFT, RING_TOP, PLOT_W, RING_H);
    cv.side_text("mass", 18, RING_TOP + RING_H / 2);
}

// The colour scale beside the ring, and the grey of no ring under it.
void draw_colour_scale(Canvas &cv)
{
    const double bx = LEFT + PLOT_W + 24, bw = 16;
    cairo_surface_t *bar = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 201);
    cairo_surface_flush(bar);
    for (int j = 0; j <= 200; j++) {
        double rgb[3];
        position_colour((float)(1.0 - j / 100.0), rgb);
        put_pixel(bar, 0, j, rgb);
    }
    cairo_surface_mark_dirty(bar);
    cv.image(bar, bx, RING_TOP, bw, RING_H);
    cairo_surface_destroy(bar);
    cv.frame(bx, RING_TOP, bw, RING_H);
    for (int j = 0; j <= 4; j++) {
        const double v = 1.0 - j * 0.5, y = RING_TOP + j * RING_H / 4;
        cv.line(bx + bw, y, bx + bw + 4, y);
        cv.text(number_text(v), bx + bw + 7, y, 0, 0.5, 11);
    }
    cv.side_text("position", bx + bw + 52, RING_TOP + RING_H / 2);
    cv.colour(GREY);
    cairo_rectangle(cv.cr(), bx, RING_TOP + RING_H + 12, bw, 12);
    cairo_fill(cv.cr());
    cv.text("no ring", bx + bw + 7, RING_TOP + RING_H + 18, 0, 0.5, 11);
}

// The output's smallest and largest sample around each column, on a scale
// symmetric about 0.
void draw_envelope(Canvas &cv, const Picture &p)
{
    const int ncols = (int)p.columns().size();
    double peak = 0;
    float low, high;
    for (int c = 0; c < ncols; c++)
        if (p.envelope(c, low, high))
            peak = std::max({peak, std::fabs((double)low), std::fabs((double)high)});
    if (!(peak > 0) || !std::isfinite(peak))
        peak = 1;
    const double step = tick_step(peak, 2);
    const double scale = std::ceil(peak / step) * step;
    auto y_of = [&](double v) { return ENV_TOP + ENV_H / 2 - std::clamp(v / scale, -1.0, 1.0) * ENV_H / 2; };

    cairo_t *cr = cv.cr();
    cairo_set_source_rgb(cr, 0.16, 0.33, 0.55);
    const double cw = ncols ? PLOT_W / ncols : 0;
    for (int c = 0; c < ncols; c++) {
        if (!p.envelope(c, low, high))
            continue;
        const double top = y_of(high), bottom = std::max(y_of(low), top + 1);
        cairo_rectangle(cr, LEFT + c * cw, top, cw, bottom - top);
    }
    cairo_fill(cr);
    cv.line(LEFT, ENV_TOP + ENV_H / 2, LEFT + PLOT_W, ENV_TOP + ENV_H / 2, 0.5);
    cv.frame(LEFT, ENV_TOP, PLOT_W, ENV_H);
    cv.value_axis(LEFT, ENV_TOP, ENV_H, -scale, scale, 4);
    cv.side_text("output", 18, ENV_TOP + ENV_H / 2);
}

// Seconds along the bottom of the envelope, tick marks on both panels.
void draw_time_axis(Canvas &cv, const Picture &p)
{
    const double seconds = p.total_samples() / (double)p.rate();
    if (seconds > 0) {
        const double step = tick_step(seconds, 10);
        for (double t = 0; t <= seconds + step * 1e-9; t += step) {
            const double x = LEFT + t / seconds * PLOT_W;
            cv.line(x, RING_TOP + RING_H, x, RING_TOP + RING_H + 4);
            cv.line(x, ENV_TOP + ENV_H, x, ENV_TOP + ENV_H + 4);
            cv.text(number_text(t), x, ENV_TOP + ENV_H + 7, 0.5, 0, 11);
        }
    }
    cv.text("time (s)", LEFT + PLOT_W / 2, ENV_TOP + ENV_H + 26, 0.5, 0);
}

// The six effective profiles side by side, each on its own scale, which
// always takes in 0.
void draw_profiles(Canvas &cv, const Picture &p)
{
    const int n = p.profile_masses();
    cv.text(n ? "effective profiles at the end, over the " + std::to_string(n) + " masses" : "no object was made", LEFT,
            PROF_TOP - 48, 0, 0, 13);
    if (n == 0)
        return;
    const double w = (WIDTH - LEFT - 30 - 5 * PROF_GAP) / loopmass::NKINDS;
    for (int k = 1; k <= loopmass::NKINDS; k++)
        draw::profile_plot(cv, draw::PROFILE_NAMES[k - 1], p.profile(k), n, LEFT + (k - 1) * (w + PROF_GAP), PROF_TOP,
                           w, PROF_H);
    cv.text("mass", LEFT + (WIDTH - LEFT - 30) / 2, PROF_TOP + PROF_H + 20, 0.5, 0);
}

// What a column stands for, in words.
std::string column_text(const Picture &p)
{
    const std::vector<Picture::Column> &cols = p.columns();
    if (cols.empty())
        return "no sound was run";
    int most = 0;
    for (const Picture::Column &c : cols)
        most = std::max(most, c.steps);
    char buf[200];
    const double ms = 1000.0 * p.total_samples() / (double)p.rate() / cols.size();
    std::snprintf(buf, sizeof buf, "%lld haptic steps in %zu columns of %.3g ms", (long long)p.steps(), cols.size(),
                  ms);
    std::string s = buf;
    if (most > 1)
        s += "; a column merges up to " + std::to_string(most) + " steps into the position farthest from 0";
    return s;
}

cairo_status_t append_to(void *closure, const unsigned char *data, unsigned int length)
{
    ((std::string *)closure)->append((const char *)data, length);
    return CAIRO_STATUS_SUCCESS;
}

} // namespace

bool draw_picture(const Picture &p, const std::string &caption, std::string &png, std::string &error)
{
    cairo_surface_t *page = cairo_image_surface_create(CAIRO_FORMAT_RGB24, WIDTH, HEIGHT);
    cairo_t *cr = cairo_create(page);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);

    Canvas cv(cr);
    cv.text(caption, LEFT, 16, 0, 0, 16);
    cv.text(column_text(p), LEFT, 42, 0, 0, 12);
    draw_ring(cv, p);
    draw_colour_scale(cv);
    draw_envelope(cv, p);
    draw_time_axis(cv, p);
    draw_profiles(cv, p);

    cairo_status_t status = cairo_status(cr);
    cairo_destroy(cr);
    if (status == CAIRO_STATUS_SUCCESS)
        status = cairo_surface_write_to_png_stream(page, append_to, &png);
    cairo_surface_destroy(page);
    // Cairo's font caches and the font configuration they were found with
    // are dropped with the picture, so that a leak checker sees the program
    // release all it took.  A later picture loads them again.
    cairo_debug_reset_static_data();
    FcFini();
    if (status != CAIRO_STATUS_SUCCESS)
        error = cairo_status_to_string(status);
    return status == CAIRO_STATUS_SUCCESS;
}

bool PictureFile::open(const std::string &path, std::string &error)
{
    return out_.open(path, error);
}

bool PictureFile::finish(const Picture &p, const std::string &caption, std::string &error)
{
    if (out_.fd() < 0) {
        error = "no file open";
        return false;
    }
    std::string png, why;
    if (!draw_picture(p, caption, png, why)) {
        error = "cannot draw " + out_.path() + ": " + why;
        out_.discard();
        return false;
    }
    return out_.append(png, error) && out_.commit(error);
}

} // namespace score
