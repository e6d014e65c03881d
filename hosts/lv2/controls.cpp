// What the control ports and MIDI send to the object: the preset, morphs
// and metaparameters as they differ from what it holds, and the notes of
// the keys as fg pairs.

#include <algorithm>
#include <cmath>
#include <cstring>

#include <lv2/midi/midi.h>

#include "plugin.h"

namespace lv2plugin {

void held_fresh(Held *h)
{
    h->choice = Choice{false, PRESET.fresh};
    for (int k = 0; k < NKINDS; k++) {
        h->morph[k] = MORPH.fresh;
        for (int j = 0; j < NMETA; j++)
            h->meta[k][j] = META[j].fresh;
    }
    for (int i = 0; i < lv2keys::MAXNOTES; i++)
        h->pitch[i] = h->gain[i] = 0;
    h->ramp = h->lowcut = 0;
    h->fresh = true;
}

// Brings the object to the choice, morphs and metaparameters asked for,
// sending only what differs.  A recall rewrites every raw profile, so the
// morphs are sent again after it, and a morph back to 0 (which the object
// takes as "leave the profile") is made by a recall.
static void sync(Plugin *p)
{
    Controls &c = p->controls;
    Held &h = p->held;
    bool recall = c.recall || c.choice.morph != h.choice.morph || c.choice.value != h.choice.value;
    for (int k = 0; k < NKINDS; k++)
        recall = recall || (c.morph[k] == 0 && h.morph[k] != 0);
    if (recall) {
        if (c.choice.morph)
            lv2host::send_float(p->object, 0, c.choice.value);
        else
            lv2host::send_long(p->object, 0, (int32_t)c.choice.value);
        h.choice = c.choice;
        for (int k = 0; k < NKINDS; k++)
            h.morph[k] = 0;
        c.recall = false;
        forget_drawn(p);
    }
    for (int k = 0; k < NKINDS; k++) {
        if (c.morph[k] != h.morph[k]) {
            lv2host::send_float(p->object, k + 1, c.morph[k]);
            h.morph[k] = c.morph[k];
            forget_drawn_kind(p, k + 1);
        }
        for (int j = 0; j < NMETA; j++) {
            if (c.meta[k][j] == h.meta[k][j])
                continue;
            t_atom a;
            a.a_type = patcher::A_FLOAT;
            a.a_w.w_float = c.meta[k][j];
            lv2host::send(p->object, k + 1, (lv2host::e_message)(lv2host::MSG_GAIN + j), 1, &a);
            h.meta[k][j] = c.meta[k][j];
        }
    }
}

// Sends every oscillator's pitch and gain as fg pairs; unless always, only
// when they differ from what the object plays.
void play_notes(Plugin *p, bool always)
{
    float pitch[lv2keys::MAXNOTES], gain[lv2keys::MAXNOTES];
    lv2keys::keys_pairs(&p->keys, p->controls.bend_range, p->controls.volume * NOTE_GAIN, p->rate, pitch, gain);
    Held &h = p->held;
    bool same = std::memcmp(pitch, h.pitch, sizeof pitch) == 0 && std::memcmp(gain, h.gain, sizeof gain) == 0;
    if (same && !always)
        return;
    t_atom pairs[2 * lv2keys::MAXNOTES];
    for (int i = 0; i < lv2keys::MAXNOTES; i++) {
        pairs[2 * i].a_type = pairs[2 * i + 1].a_type = patcher::A_FLOAT;
        pairs[2 * i].a_w.w_float = h.pitch[i] = pitch[i];
        pairs[2 * i + 1].a_w.w_float = h.gain[i] = gain[i];
    }
    lv2host::send(p->object, PITCH_INLET, lv2host::MSG_FG, (short)(2 * lv2keys::MAXNOTES), pairs);
}

void send_value(Plugin *p, lv2host::e_message m, float v)
{
    t_atom a;
    a.a_type = patcher::A_FLOAT;
    a.a_w.w_float = v;
    lv2host::send(p->object, 0, m, 1, &a);
}

// The smoothing ramp and the low cut, sent when they change.
static void send_filters(Plugin *p)
{
    Held &h = p->held;
    if (p->controls.ramp != h.ramp) {
        send_value(p, lv2host::MSG_RAMP, p->controls.ramp);
        h.ramp = p->controls.ramp;
    }
    if (p->controls.lowcut != h.lowcut) {
        send_value(p, lv2host::MSG_LOWCUT, p->controls.lowcut);
        h.lowcut = p->controls.lowcut;
    }
}

void strike(Plugin *p)
{
    lv2host::send(p->object, 0, lv2host::MSG_BANG, 0, nullptr);
}

float control(const Plugin *p, int port, const Range &r)
{
    const float *v = (const float *)p->ports[port];
    if (!v || std::isnan(*v))
        return r.fresh;
    return std::min(std::max(*v, r.min), r.max);
}

// The smoothing and the low cut, in real milliseconds and hertz at the
// plugin host's rate, become the object's, which counts 44100 samples a
// second.  A released note keeps its oscillator for as long as its ramp
// down may take, so that no other note moves onto it before it is silent.
static void read_smoothing(Plugin *p)
{
    Controls &c = p->controls;
    float smooth = control(p, PORT_SMOOTH, SMOOTH);
    float low_cut = control(p, PORT_LOW_CUT, LOW_CUT);
    c.ramp = std::min((float)(smooth * p->rate / OBJECT_RATE), RAMP_MAX);
    c.lowcut = low_cut == 0 ? 0 : std::min((float)(low_cut * OBJECT_RATE / p->rate), LOWCUT_MAX);
    c.fade = (uint64_t)std::ceil(c.ramp * (OBJECT_RATE / 1000));
}

void read_controls(Plugin *p)
{
    Controls &c = p->controls;
    Worker &w = p->worker;
    w.want_masses = (int)std::lround(control(p, PORT_MASSES, MASSES));
    if (w.want_masses != w.asked_masses && room(p) && ask(p, WORK_BUILD, nullptr, nullptr))
        w.asked_masses = w.want_masses;

    float preset = control(p, PORT_PRESET, PRESET);
    if (!(preset == c.last_preset)) {
        c.last_preset = preset;
        c.choice = Choice{preset != std::floor(preset), preset};
        c.base = (int)std::floor(preset);
    }
    float volume = control(p, PORT_VOLUME, VOLUME);
    float bend_range = control(p, PORT_BEND_RANGE, BEND_RANGE);
    bool notes_changed = volume != c.volume || bend_range != c.bend_range;
    c.volume = volume;
    c.bend_range = bend_range;
    c.strike = (int)std::lround(control(p, PORT_STRIKE, STRIKE));
    for (int k = 0; k < NKINDS; k++) {
        int first = PORT_PROFILES + k * (NMETA + 1);
        c.morph[k] = control(p, first, MORPH);
        for (int j = 0; j < NMETA; j++)
            c.meta[k][j] = control(p, first + 1 + j, META[j]);
    }
    read_smoothing(p);

    sync(p);
    send_filters(p);
    lv2keys::keys_time(&p->keys, vector_start(p));
    if (p->held.fresh || notes_changed)
        play_notes(p, false);
    if (p->held.fresh && lv2keys::keys_holding(&p->keys) && c.strike != STRIKE_NEVER)
        strike(p);
    p->held.fresh = false;
}

static void choose(Plugin *p, Choice c)
{
    p->controls.choice = c;
    p->controls.recall = true;
    sync(p);
}

static void control_change(Plugin *p, int number, int value)
{
    switch (number) {
    case 1: // mod wheel: toward the next preset
    {
        int base = p->controls.base;
        choose(p, value == 0 ? Choice{false, (float)base} : Choice{true, (float)(base + value / 128.0)});
        break;
    }
    case 64:
        if (lv2keys::keys_pedal(&p->keys, value >= 64, p->controls.fade))
            play_notes(p, true);
        break;
    case 120: // all sound off
        lv2host::send(p->object, 0, lv2host::MSG_STOP, 0, nullptr);
        break;
    case 123: // all notes off
        lv2keys::keys_release_all(&p->keys, p->controls.fade);
        play_notes(p, true);
        break;
    }
}

void midi(Plugin *p, const uint8_t *m, uint32_t size)
{
    if (size < 2)
        return;
    lv2keys::keys_time(&p->keys, vector_start(p));
    int status = m[0] & 0xf0, a = m[1] & 0x7f, b = size > 2 ? m[2] & 0x7f : 0;
    if (status == LV2_MIDI_MSG_PGM_CHANGE) {
        p->controls.base = a;
        choose(p, Choice{false, (float)a});
        return;
    }
    if (size < 3)
        return;
    switch (status) {
    case LV2_MIDI_MSG_NOTE_ON:
        if (b > 0) {
            bool others = lv2keys::keys_press(&p->keys, a, b);
            play_notes(p, true);
            int strikes = p->controls.strike;
            if (strikes == STRIKE_EVERY || (strikes == STRIKE_ALONE && !others))
                strike(p);
            break;
        }
        // Velocity 0 is a note off.
        [[fallthrough]];
    case LV2_MIDI_MSG_NOTE_OFF:
        if (lv2keys::keys_release(&p->keys, a, p->controls.fade))
            play_notes(p, true);
        break;
    case LV2_MIDI_MSG_BENDER:
        p->keys.bend = a | b << 7;
        play_notes(p, true);
        break;
    case LV2_MIDI_MSG_CONTROLLER:
        control_change(p, a, b);
        break;
    }
}

} // namespace lv2plugin
