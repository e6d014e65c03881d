// The window's face at any size: where each part lies, and the drawing of
// the model into a Cairo context, with the same colours, scales and
// profile plots as the command line's pictures.
#pragma once

#include <cairo.h>

#include "loop.h"
#include "model.h"

namespace lv2ui {

const int DEFAULT_WIDTH = 900, DEFAULT_HEIGHT = 600;
const int NPRESETS = 10;

struct Rect {
    double x, y, w, h;
    bool holds(double px, double py) const { return px >= x && px < x + w && py >= y && py < y + h; }
};

// The sliders: the controls of the whole instrument in a row, then each
// profile's morph and metaparameters in a column under its plot.
const int NGENERAL = 6;
extern const int GENERAL_PORTS[NGENERAL];
const int NPROFILE_PORTS = lv2plugin::NMETA + 1;

struct Layout {
    double scale; // of the fonts and the fixed heights, 1 at the default size
    Rect presets[NPRESETS];
    Rect morph;  // the preset port's fraction: the morph toward the next preset
    Rect strike; // the strike button
    Rect general[NGENERAL];
    Rect ring;                       // the ring as a loop: clicked, it strikes
    double ring_cx, ring_cy, ring_r; // the circle the masses rest on
    double ring_swing;               // radius a position of 1 moves a mass by
    Rect history;                    // the colour map of the recent past
    Rect profiles[NKINDS];           // the plots, drawn on with the mouse
    Rect profile_ports[NKINDS][NPROFILE_PORTS];
};

Layout layout(int width, int height);

// A slider's port, its range, and whether it takes whole numbers.
struct Slider {
    int port;
    const char *label;
    lv2plugin::Range range;
    bool whole;
};
Slider general_slider(int i);
Slider profile_slider(int kind, int j); // kind 1 to 6, j 0 (morph) to 4
// The value at x along a slider's rectangle.
float slider_value(const Slider &s, const Rect &r, double x);

// The loop the ring is drawn as.
draw::Loop ring_loop(const Layout &l);

// Draws the whole window.  `drawn` replaces the model's profile of that
// kind (0 none) while the hand draws it.
void draw_window(cairo_t *cr, const Layout &l, const Model &m, int drawn, const float *drawn_values);

} // namespace lv2ui
