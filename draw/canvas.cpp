#include "canvas.h"

#include <cmath>
#include <cstdint>

#include "scales.h"

namespace draw {

const double INK[3] = {0.1, 0.1, 0.1};
const double GREY[3] = {0.55, 0.55, 0.55};

void put_pixel(cairo_surface_t *img, int x, int y, const double rgb[3])
{
    unsigned char *data = cairo_image_surface_get_data(img);
    if (!data)
        return;
    uint32_t *row = (uint32_t *)(data + (size_t)y * cairo_image_surface_get_stride(img));
    row[x] = (uint32_t)std::lround(rgb[0] * 255) << 16 | (uint32_t)std::lround(rgb[1] * 255) << 8 |
             (uint32_t)std::lround(rgb[2] * 255);
}

void Canvas::text(const std::string &s, double x, double y, double ax, double ay, double size)
{
    cairo_set_font_size(cr_, size);
    cairo_text_extents_t e;
    cairo_font_extents_t f;
    cairo_text_extents(cr_, s.c_str(), &e);
    cairo_font_extents(cr_, &f);
    colour(INK);
    cairo_move_to(cr_, x - ax * e.x_advance, y + f.ascent - ay * (f.ascent + f.descent));
    cairo_show_text(cr_, s.c_str());
}

void Canvas::side_text(const std::string &s, double x, double y)
{
    cairo_save(cr_);
    cairo_translate(cr_, x, y);
    cairo_rotate(cr_, -M_PI / 2);
    text(s, 0, 0, 0.5, 0.5);
    cairo_restore(cr_);
}

void Canvas::line(double x0, double y0, double x1, double y1, double width)
{
    colour(INK);
    cairo_set_line_width(cr_, width);
    cairo_move_to(cr_, x0, y0);
    cairo_line_to(cr_, x1, y1);
    cairo_stroke(cr_);
}

void Canvas::frame(double x, double y, double w, double h)
{
    colour(INK);
    cairo_set_line_width(cr_, 1);
    cairo_rectangle(cr_, x + 0.5, y + 0.5, w - 1, h - 1);
    cairo_stroke(cr_);
}

void Canvas::image(cairo_surface_t *img, double x, double y, double w, double h)
{
    const double iw = cairo_image_surface_get_width(img), ih = cairo_image_surface_get_height(img);
    cairo_save(cr_);
    cairo_rectangle(cr_, x, y, w, h);
    cairo_clip(cr_);
    cairo_translate(cr_, x, y);
    cairo_scale(cr_, w / iw, h / ih);
    cairo_set_source_surface(cr_, img, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr_), CAIRO_FILTER_NEAREST);
    cairo_paint(cr_);
    cairo_restore(cr_);
}

void Canvas::value_axis(double x, double top, double h, double lo, double hi, int most)
{
    const double step = tick_step(hi - lo, most);
    for (double v = std::ceil(lo / step) * step; v <= hi + step * 1e-9; v += step) {
        const double y = top + h - (v - lo) / (hi - lo) * h;
        line(x - 4, y, x, y);
        text(number_text(v), x - 7, y, 1, 0.5, 11);
    }
}

} // namespace draw
