#include "ui.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <lv2/midi/midi.h>

namespace lv2ui {

using namespace lv2plugin;

Ui::Ui(LV2_URID_Map *map, LV2UI_Write_Function write, LV2UI_Controller controller)
    : write_(write), controller_(controller)
{
    map_uris(&uri_, map);
    lv2_atom_forge_init(&forge_, map);
    model_clear(&model_);
    layout_ = layout(width_, height_);
}

void Ui::send(const LV2_Atom *atom)
{
    write_(controller_, PORT_MIDI_IN, lv2_atom_total_size(atom), uri_.event_transfer, atom);
}

void Ui::watch(bool open)
{
    lv2_atom_forge_set_buffer(&forge_, buf_, sizeof buf_);
    LV2_Atom_Forge_Frame frame;
    LV2_Atom *atom = (LV2_Atom *)lv2_atom_forge_object(&forge_, &frame, 0, uri_.watch);
    lv2_atom_forge_key(&forge_, uri_.rate);
    lv2_atom_forge_int(&forge_, open ? lv2window::FRAMES_MAX : 0);
    lv2_atom_forge_pop(&forge_, &frame);
    send(atom);
}

void Ui::send_strike()
{
    lv2_atom_forge_set_buffer(&forge_, buf_, sizeof buf_);
    LV2_Atom_Forge_Frame frame;
    LV2_Atom *atom = (LV2_Atom *)lv2_atom_forge_object(&forge_, &frame, 0, uri_.strike);
    lv2_atom_forge_pop(&forge_, &frame);
    send(atom);
}

void Ui::send_profile()
{
    lv2_atom_forge_set_buffer(&forge_, buf_, sizeof buf_);
    LV2_Atom_Forge_Frame frame;
    LV2_Atom *atom = (LV2_Atom *)lv2_atom_forge_object(&forge_, &frame, 0, uri_.patch_set);
    lv2_atom_forge_key(&forge_, uri_.patch_property);
    lv2_atom_forge_urid(&forge_, uri_.profile);
    lv2_atom_forge_key(&forge_, uri_.kind);
    lv2_atom_forge_int(&forge_, drawing_);
    lv2_atom_forge_key(&forge_, uri_.patch_value);
    lv2_atom_forge_vector(&forge_, sizeof(float), uri_.atom_float, drawn_n_, drawn_);
    lv2_atom_forge_pop(&forge_, &frame);
    send(atom);
    unsent_ = false;
}

// A preset the preset port already holds is not recalled again by writing
// the port, so the window recalls it as a MIDI program change does, and a
// morph as the mod wheel, in its 128 steps.
void Ui::recall_preset()
{
    const float preset = std::clamp(model_.port[PORT_PRESET], PRESET.min, PRESET.max);
    const int base = (int)std::floor(preset);
    struct {
        LV2_Atom atom;
        uint8_t midi[3];
    } ev = {{2, uri_.midi_event}, {LV2_MIDI_MSG_PGM_CHANGE, (uint8_t)base, 0}};
    send(&ev.atom);
    const int wheel = std::min((int)std::lround((preset - base) * 128), 127);
    if (wheel > 0) {
        ev.atom.size = 3;
        ev.midi[0] = LV2_MIDI_MSG_CONTROLLER;
        ev.midi[1] = 1;
        ev.midi[2] = (uint8_t)wheel;
        send(&ev.atom);
    }
}

void Ui::write_port(int port, float v)
{
    model_.port[port] = v;
    write_(controller_, port, sizeof v, 0, &v);
    dirty = true;
}

void Ui::port_event(uint32_t port, uint32_t size, uint32_t format, const void *buffer)
{
    if (format == 0 && size == sizeof(float) && port < (uint32_t)NPORTS) {
        // A drag in progress keeps the value the hand gives it.
        if (!(grab_ == GRAB_SLIDER && slider_.port == (int)port) && !(grab_ == GRAB_MORPH && port == PORT_PRESET)) {
            model_.port[port] = *(const float *)buffer;
            dirty = true;
        }
    } else if (format == uri_.event_transfer && port == PORT_NOTIFY && size >= sizeof(LV2_Atom)) {
        const LV2_Atom *atom = (const LV2_Atom *)buffer;
        if (lv2_atom_total_size(atom) <= size && model_atom(&model_, uri_, atom, drawing_))
            dirty = true;
    }
}

// The mass under x and the value at y on the drag's scale; the masses
// between the last point and this one follow a straight line.
void Ui::draw_to(double x, double y)
{
    const Rect &r = layout_.profiles[drawing_ - 1];
    const int n = drawn_n_;
    const int i = std::clamp((int)std::floor((x - r.x) / r.w * n), 0, n - 1);
    const double v = scale_.value_at(y);
    const int from = std::min(i, last_mass_), to = std::max(i, last_mass_);
    for (int j = from; j <= to; j++) {
        const double t = to == from ? 1.0 : (double)(j - last_mass_) / (i - last_mass_);
        drawn_[j] = (float)(last_value_ + t * (v - last_value_));
    }
    last_mass_ = i;
    last_value_ = v;
    unsent_ = true;
    dirty = true;
}

void Ui::press(double x, double y, int clicks)
{
    const Layout &l = layout_;
    for (int i = 0; i < NPRESETS; i++)
        if (l.presets[i].holds(x, y))
            return write_port(PORT_PRESET, (float)i);
    if (l.strike.holds(x, y) || l.ring.holds(x, y))
        return send_strike();
    if (l.morph.holds(x, y)) {
        grab_ = GRAB_MORPH;
        return motion(x, y);
    }
    for (int k = 1; k <= NKINDS; k++) {
        const Rect &r = l.profiles[k - 1];
        if (!r.holds(x, y) || model_.profile_n[k - 1] == 0)
            continue;
        if (clicks == 2) {
            drawing_ = 0;
            grab_ = GRAB_NONE;
            return recall_preset();
        }
        grab_ = GRAB_PROFILE;
        drawing_ = k;
        drawn_n_ = model_.profile_n[k - 1];
        std::memcpy(drawn_, model_.profile[k - 1], drawn_n_ * sizeof(float));
        scale_ = draw::profile_scale(drawn_, drawn_n_, r.y, r.h);
        last_mass_ = std::clamp((int)std::floor((x - r.x) / r.w * drawn_n_), 0, drawn_n_ - 1);
        last_value_ = scale_.value_at(y);
        return draw_to(x, y);
    }
    for (int i = 0; i < NGENERAL; i++)
        if (l.general[i].holds(x, y)) {
            slider_ = general_slider(i);
            slider_rect_ = l.general[i];
        }
    for (int k = 1; k <= NKINDS; k++)
        for (int j = 0; j < NPROFILE_PORTS; j++)
            if (l.profile_ports[k - 1][j].holds(x, y)) {
                slider_ = profile_slider(k, j);
                slider_rect_ = l.profile_ports[k - 1][j];
            }
    if (slider_rect_.holds(x, y)) {
        grab_ = GRAB_SLIDER;
        motion(x, y);
    }
}

void Ui::motion(double x, double y)
{
    switch (grab_) {
    case GRAB_SLIDER:
        write_port(slider_.port, slider_value(slider_, slider_rect_, x));
        break;
    case GRAB_MORPH: {
        const float base = std::floor(std::clamp(model_.port[PORT_PRESET], PRESET.min, PRESET.max));
        const Slider morph = {PORT_PRESET, "morph", {0, PRESET.max - std::floor(PRESET.max), 0}, false};
        write_port(PORT_PRESET, base + slider_value(morph, layout_.morph, x));
        break;
    }
    case GRAB_PROFILE:
        draw_to(x, y);
        break;
    case GRAB_NONE:
        break;
    }
}

void Ui::release(double x, double y)
{
    motion(x, y);
    if (grab_ == GRAB_PROFILE) {
        send_profile();
        // The drawn profile stays on show until the plugin's says what
        // the object made of it.
        model_.profile_n[drawing_ - 1] = drawn_n_;
        std::memcpy(model_.profile[drawing_ - 1], drawn_, drawn_n_ * sizeof(float));
        drawing_ = 0;
    }
    grab_ = GRAB_NONE;
    slider_rect_ = Rect{0, 0, 0, 0};
}

void Ui::idle()
{
    if (grab_ == GRAB_PROFILE && unsent_)
        send_profile();
}

void Ui::resize(int width, int height)
{
    if (width == width_ && height == height_)
        return;
    width_ = width;
    height_ = height;
    layout_ = layout(width, height);
    dirty = true;
}

void Ui::draw(cairo_t *cr)
{
    draw_window(cr, layout_, model_, drawing_, drawn_);
    dirty = false;
}

} // namespace lv2ui
