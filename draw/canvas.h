// A Cairo context with the few strokes every picture of the ring is made
// of: text anchored by a corner or a side, lines and frames in ink,
// images stretched with square pixels, a value axis.  The command line's
// PNGs, the plugin's window and its inline display draw with it.
#pragma once

#include <cairo.h>

#include <string>

namespace draw {

extern const double INK[3];  // text, frames and ticks
extern const double GREY[3]; // where there is no ring

// Sets a pixel of an RGB24 image (left alone when the image could not be
// made: Cairo then reports the failure when the image is used).
void put_pixel(cairo_surface_t *img, int x, int y, const double rgb[3]);

class Canvas {
public:
    explicit Canvas(cairo_t *cr) : cr_(cr) {}

    void colour(const double rgb[3]) { cairo_set_source_rgb(cr_, rgb[0], rgb[1], rgb[2]); }

    // Text whose anchor point (ax, ay: 0 left or top, 1 right or bottom)
    // lies at x, y.  Heights are the font's, not the letters', so that
    // texts side by side share their baseline.
    void text(const std::string &s, double x, double y, double ax, double ay, double size = 12);
    // Text turned a quarter left, centred on x, y.
    void side_text(const std::string &s, double x, double y);
    void line(double x0, double y0, double x1, double y1, double width = 1);
    void frame(double x, double y, double w, double h);
    // An image stretched over a rectangle, its pixels kept square-edged.
    void image(cairo_surface_t *img, double x, double y, double w, double h);
    // Ticks with labels on the left of a vertical axis from lo (at bottom)
    // to hi (at top).
    void value_axis(double x, double top, double h, double lo, double hi, int most);

    cairo_t *cr() { return cr_; }

private:
    cairo_t *cr_;
};

} // namespace draw
