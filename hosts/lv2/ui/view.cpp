#include "view.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "canvas.h"
#include "loop.h"
#include "plots.h"
#include "scales.h"

namespace lv2ui {

using draw::Canvas;
using namespace lv2plugin;

const int GENERAL_PORTS[NGENERAL] = {PORT_MASSES, PORT_VOLUME, PORT_STRIKE, PORT_BEND_RANGE, PORT_SMOOTH, PORT_LOW_CUT};

static const double PAPER[3] = {0.97, 0.97, 0.95};
static const double BUTTON[3] = {0.86, 0.86, 0.84};
static const double LIT[3] = {0.55, 0.72, 0.88};

Layout layout(int width, int height)
{
    Layout l;
    const double W = std::max(width, 200), H = std::max(height, 150);
    const double s = std::clamp(std::min(W / DEFAULT_WIDTH, H / DEFAULT_HEIGHT), 0.5, 3.0);
    l.scale = s;
    const double m = 6, rh = std::max(16.0, 24 * s), sh = std::max(14.0, 18 * s);

    // The top row: presets, the morph, the strike button.
    const double bw = (W * 0.45 - m) / NPRESETS;
    for (int i = 0; i < NPRESETS; i++)
        l.presets[i] = Rect{m + i * bw, m, bw - 2, rh};
    l.morph = Rect{W * 0.45 + m, m, W * 0.35, rh};
    l.strike = Rect{W * 0.80 + 2 * m, m, W * 0.20 - 3 * m, rh};

    // The profiles' columns, with room on their left for the limits.
    const double left = 34, gap = s < 1 ? 30 : 34;
    const double pw = (W - left - m - (NKINDS - 1) * gap) / NKINDS;
    const double row2 = m + rh + m;
    for (int i = 0; i < NGENERAL; i++)
        l.general[i] = Rect{left + i * (pw + gap), row2, pw, sh};

    const double sliders_top = H - m - NPROFILE_PORTS * (sh + 2);
    for (int k = 0; k < NKINDS; k++)
        for (int j = 0; j < NPROFILE_PORTS; j++)
            l.profile_ports[k][j] = Rect{left + k * (pw + gap), sliders_top + j * (sh + 2), pw, sh};
    const double ph = std::max(40.0, 90 * s);
    const double plot_top = sliders_top - 16 - ph;
    for (int k = 0; k < NKINDS; k++)
        l.profiles[k] = Rect{left + k * (pw + gap), plot_top, pw, ph};

    // The ring and its past share what is left.
    // Under the colour map, its caption; over the plots, their names.
    const double top = row2 + sh + m, bottom = plot_top - 40;
    const double side = std::max(20.0, std::min(bottom - top, W * 0.45));
    l.ring = Rect{m, top, side, side};
    l.ring_cx = m + side / 2;
    l.ring_cy = top + side / 2;
    l.ring_r = 0.3 * side;
    l.ring_swing = 0.15 * side;
    l.history = Rect{m + side + 2 * m, top, W - side - 4 * m, side};
    return l;
}

Slider general_slider(int i)
{
    static const Slider sliders[NGENERAL] = {
        {PORT_MASSES, "masses", MASSES, true},        {PORT_VOLUME, "volume", VOLUME, false},
        {PORT_STRIKE, "strikes", STRIKE, true},       {PORT_BEND_RANGE, "bend range", BEND_RANGE, false},
        {PORT_SMOOTH, "smoothing ms", SMOOTH, false}, {PORT_LOW_CUT, "low cut Hz", LOW_CUT, false}};
    return sliders[i];
}

Slider profile_slider(int kind, int j)
{
    static const char *const labels[NPROFILE_PORTS] = {"morph", "gain", "offset", "phase", "extra"};
    const int port = PORT_PROFILES + (kind - 1) * NPROFILE_PORTS + j;
    return Slider{port, labels[j], j == 0 ? MORPH : META[j - 1], false};
}

float slider_value(const Slider &s, const Rect &r, double x)
{
    const double u = std::clamp((x - r.x) / r.w, 0.0, 1.0);
    double v = s.range.min + u * (s.range.max - s.range.min);
    if (s.whole)
        v = std::round(v);
    return (float)v;
}

draw::Loop ring_loop(const Layout &l)
{
    return draw::Loop{l.ring_cx, l.ring_cy, l.ring_r, l.ring_swing};
}

static void fill_rect(cairo_t *cr, const Rect &r, const double rgb[3])
{
    cairo_set_source_rgb(cr, rgb[0], rgb[1], rgb[2]);
    cairo_rectangle(cr, r.x, r.y, r.w, r.h);
    cairo_fill(cr);
}

static double font(const Layout &l)
{
    return std::max(9.0, 11 * l.scale);
}

static void button(Canvas &cv, const Layout &l, const Rect &r, const std::string &label, bool lit)
{
    fill_rect(cv.cr(), r, lit ? LIT : BUTTON);
    cv.frame(r.x, r.y, r.w, r.h);
    cv.text(label, r.x + r.w / 2, r.y + r.h / 2, 0.5, 0.5, font(l));
}

// A bar filled to the value, its label and value written on it.
static void slider(Canvas &cv, const Layout &l, const Rect &r, const char *label, const std::string &value, double u)
{
    fill_rect(cv.cr(), r, BUTTON);
    fill_rect(cv.cr(), Rect{r.x, r.y, r.w * std::clamp(u, 0.0, 1.0), r.h}, LIT);
    cv.frame(r.x, r.y, r.w, r.h);
    cv.text(label, r.x + 4, r.y + r.h / 2, 0, 0.5, font(l) * 0.9);
    cv.text(value, r.x + r.w - 4, r.y + r.h / 2, 1, 0.5, font(l) * 0.9);
}

static void port_slider(Canvas &cv, const Layout &l, const Rect &r, const Slider &s, float v)
{
    static const char *const strikes[3] = {"every note", "alone", "never"};
    std::string text = s.port == PORT_STRIKE ? strikes[std::clamp((int)std::lround(v), 0, 2)] : draw::number_text(v);
    if (!s.whole && s.port != PORT_STRIKE) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.2f", v);
        text = buf;
    }
    slider(cv, l, r, s.label, text, (v - s.range.min) / (s.range.max - s.range.min));
}

static void draw_controls(Canvas &cv, const Layout &l, const Model &m)
{
    const float preset = std::clamp(m.port[PORT_PRESET], PRESET.min, PRESET.max);
    const int base = (int)std::floor(preset);
    for (int i = 0; i < NPRESETS; i++)
        button(cv, l, l.presets[i], std::to_string(i), i == base);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%d to %d: %.2f", base, std::min(base + 1, NPRESETS - 1), preset - base);
    slider(cv, l, l.morph, "morph", buf, (preset - base) / (PRESET.max - std::floor(PRESET.max)));
    button(cv, l, l.strike, "strike", false);
    for (int i = 0; i < NGENERAL; i++)
        port_slider(cv, l, l.general[i], general_slider(i), m.port[general_slider(i).port]);
    for (int k = 1; k <= NKINDS; k++)
        for (int j = 0; j < NPROFILE_PORTS; j++) {
            const Slider s = profile_slider(k, j);
            port_slider(cv, l, l.profile_ports[k - 1][j], s, m.port[s.port]);
        }
}

// The ring as a closed loop around the circle its masses rest on, each
// mass in its position's colour, and the oscillators' marks on it.
static void draw_ring(Canvas &cv, const Layout &l, const Model &m)
{
    cairo_t *cr = cv.cr();
    fill_rect(cr, l.ring, PAPER);
    if (m.nmasses == 0)
        cv.text("the ring shows while the plugin runs", l.ring_cx, l.ring_cy, 0.5, 0.5, font(l));
    draw::draw_loop(cv, ring_loop(l), m.ring, m.nmasses, m.phases, m.gains, std::max(1.0, 1.5 * l.scale),
                    std::max(4.0, 7 * l.scale));
    cv.frame(l.ring.x, l.ring.y, l.ring.w, l.ring.h);
    cv.text("click: strike", l.ring.x + 4, l.ring.y + l.ring.h - 4, 0, 1, font(l) * 0.9);
}

// The recent past as the command line's colour map: time across, newest
// on the right, mass 0 at the bottom.
static void draw_history(Canvas &cv, const Layout &l, const Model &m)
{
    int rows = 0;
    for (int j = 0; j < HISTORY; j++)
        rows = std::max(rows, m.history_n[j]);
    if (rows == 0) {
        fill_rect(cv.cr(), l.history, draw::GREY);
    } else {
        cairo_surface_t *img = cairo_image_surface_create(CAIRO_FORMAT_RGB24, HISTORY, rows);
        cairo_surface_flush(img);
        for (int c = 0; c < HISTORY; c++) {
            const int j = (m.head + c) % HISTORY;
            draw::colour_column(img, c, m.history[j], m.history_n[j], rows);
        }
        cairo_surface_mark_dirty(img);
        cv.image(img, l.history.x, l.history.y, l.history.w, l.history.h);
        cairo_surface_destroy(img);
    }
    cv.frame(l.history.x, l.history.y, l.history.w, l.history.h);
    cv.text("the last 10 s at 30 frames a second", l.history.x + l.history.w, l.history.y + l.history.h + 2, 1, 0,
            font(l) * 0.9);
}

static void draw_profiles(Canvas &cv, const Layout &l, const Model &m, int drawn, const float *drawn_values)
{
    for (int k = 1; k <= NKINDS; k++) {
        const Rect &r = l.profiles[k - 1];
        const int n = m.profile_n[k - 1];
        const float *v = k == drawn ? drawn_values : m.profile[k - 1];
        fill_rect(cv.cr(), r, PAPER);
        if (n > 0)
            draw::profile_plot(cv, draw::PROFILE_NAMES[k - 1], v, n, r.x, r.y, r.w, r.h);
        else {
            cv.text(draw::PROFILE_NAMES[k - 1], r.x + r.w / 2, r.y - 6, 0.5, 1);
            cv.frame(r.x, r.y, r.w, r.h);
        }
    }
}

void draw_window(cairo_t *cr, const Layout &l, const Model &m, int drawn, const float *drawn_values)
{
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    Canvas cv(cr);
    draw_controls(cv, l, m);
    draw_ring(cv, l, m);
    draw_history(cv, l, m);
    draw_profiles(cv, l, m, drawn, drawn_values);
}

} // namespace lv2ui
