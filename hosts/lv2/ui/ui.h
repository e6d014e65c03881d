// The window's behaviour, apart from any display: what the plugin's atoms
// and ports change, what the mouse does, and the messages it sends.  The X
// window (window.cpp) feeds it events and shows what it draws; a test may
// drive it through the view interface below and draw it into an image.
#pragma once

#include <cstdint>

#include <lv2/atom/forge.h>
#include <lv2/ui/ui.h>

#include "model.h"
#include "plots.h"
#include "view.h"
#include "../window.h"

// The view interface, in the window's extension data: the window drawn into
// any Cairo context and handed mouse events, without a display.
#define LOOPMASS_VIEW_URI "urn:loopmass:lv2#view"

namespace lv2ui {

struct ViewInterface {
    void (*draw)(LV2UI_Handle ui, cairo_t *cr, int width, int height);
    // clicks: 1 a press, 2 the second press of a double click.
    void (*press)(LV2UI_Handle ui, double x, double y, int clicks);
    void (*motion)(LV2UI_Handle ui, double x, double y);
    void (*release)(LV2UI_Handle ui, double x, double y);
};

class Ui {
public:
    Ui(LV2_URID_Map *map, LV2UI_Write_Function write, LV2UI_Controller controller);

    // The window opens or closes: asks the plugin for frames, or stops.
    void watch(bool open);
    void port_event(uint32_t port, uint32_t size, uint32_t format, const void *buffer);
    void press(double x, double y, int clicks);
    void motion(double x, double y);
    void release(double x, double y);
    // Sends what a drag changed since the last idle call.
    void idle();
    void resize(int width, int height);
    void draw(cairo_t *cr);

    int width() const { return width_; }
    int height() const { return height_; }
    // Something changed since the last draw.
    bool dirty = true;

private:
    enum Grab { GRAB_NONE, GRAB_SLIDER, GRAB_MORPH, GRAB_PROFILE };

    void write_port(int port, float v);
    void send(const LV2_Atom *atom);
    void send_strike();
    void send_profile();
    void recall_preset();
    void draw_to(double x, double y);

    LV2UI_Write_Function write_;
    LV2UI_Controller controller_;
    Uris uri_;
    LV2_Atom_Forge forge_;
    uint8_t buf_[sizeof(float) * MAXMASSES + 256];

    Model model_;
    int width_ = DEFAULT_WIDTH, height_ = DEFAULT_HEIGHT;
    Layout layout_;

    Grab grab_ = GRAB_NONE;
    Slider slider_ = {};
    Rect slider_rect_ = {0, 0, 0, 0};
    // The profile the hand draws: its kind (0 none), values, the scale
    // the mouse is read on (the plot's when the drag began), the last mass
    // and value drawn, and whether it changed since it was last sent.
    int drawing_ = 0;
    float drawn_[MAXMASSES];
    int drawn_n_ = 0;
    draw::ProfileScale scale_;
    int last_mass_ = 0;
    double last_value_ = 0;
    bool unsent_ = false;
};

} // namespace lv2ui
