// loopmass~ as a WebAssembly module for the page's audio worklet: one
// object, run through the LV2 layer's host (64-sample vectors, a scheduler
// pass before each, the bank text for relative file names) and played by
// the LV2 instrument's keys, gains and scaling, so that a performance here
// is the same to the bit as the command line playing the same messages.
//
// The object counts 44100 samples a second whatever the context's rate, as
// in the plugin: pitches are scaled by 44100 / rate, the smoothing and the
// low cut are sent in its terms, and hostrate stays 0.
//
// The worklet calls these functions from its audio thread.  Once the object
// is made, the notes, settings and vectors allocate nothing; text (messages
// typed as lines, preset files, the log a test asks for) goes through
// buffers the module keeps.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "../draw/scales.h"
#include "../hosts/common/classes.h"
#include "../hosts/common/store_text.h"
#include "../hosts/lv2/host.h"
#include "../hosts/lv2/keys.h"
#include "../src/object/view.h"

#define EXPORT extern "C" __attribute__((used, visibility("default")))

namespace {

using patcher::t_atom;

const int NOSC = loopmass::NOSC;
const int NMASSES = loopmass::MAXMASSES;
const int NKINDS = loopmass::NKINDS;
const double OBJECT_RATE = loopmass::SAMPLE_RATE;
// Five notes at full velocity and full volume sum to 1 before the low cut.
const double NOTE_GAIN = 1.0 / lv2keys::MAXNOTES;
enum { STRIKE_EVERY, STRIKE_ALONE, STRIKE_NEVER };
// Longest log a test may ask for, reserved when it asks.
const size_t LOG_ROOM = 4u << 20;
// Steps of the colour map, from -1 to 1.
const int NCOLOURS = 65;

// The settings of the page, in real milliseconds and hertz at the
// context's rate, and what the object was last sent for them.
struct Settings {
    float volume, bend_range, smooth, low_cut;
    int strike;
};

// What the page reads after lm_view().
struct View {
    float ring[NMASSES];
    float profile[NKINDS][NMASSES];
    float raw[NKINDS][NMASSES];
    float pitch[NOSC], gain[NOSC], phase[NOSC];
    float nmasses, steps, preset;
};

struct Web {
    patcher::t_class *c;
    lv2host::Object *object;
    lv2host::Build build;
    lv2keys::Keys keys;
    double rate;
    float out[lv2host::VECTOR];
    Settings settings;
    int base; // the preset a mod wheel morphs from
    float ramp, lowcut;
    uint64_t fade;
    float held_pitch[NOSC], held_gain[NOSC];
    bool logging;
    std::string log, text, console;
    View view;
    float colours[NCOLOURS * 3];
};

Web web;

void console_line(void *, bool is_error, const char *text)
{
    web.console += is_error ? "error: " : "";
    web.console += text;
    web.console += '\n';
}

// The message as a line of a score: "INLET [SELECTOR] ATOMS".  A number or
// a list of numbers goes without its selector, as a score writes it.
void log_message(int inlet, const char *selector, int argc, const t_atom *argv)
{
    if (!web.logging)
        return;
    if (web.log.size() + 64 + 16 * (size_t)argc > web.log.capacity()) {
        web.logging = false;
        web.log += "log full\n";
        return;
    }
    web.log += std::to_string(inlet);
    bool numbers =
        std::strcmp(selector, "int") == 0 || std::strcmp(selector, "float") == 0 || std::strcmp(selector, "list") == 0;
    if (!numbers) {
        web.log += ' ';
        web.log += selector;
    }
    for (int i = 0; i < argc; i++) {
        web.log += ' ';
        if (argv[i].a_type == patcher::A_LONG)
            web.log += std::to_string(argv[i].a_w.w_long);
        else if (argv[i].a_type == patcher::A_FLOAT)
            web.log += store::float_text(argv[i].a_w.w_float);
        else if (argv[i].a_type == patcher::A_SYM && argv[i].a_w.w_sym)
            web.log += argv[i].a_w.w_sym->s_name;
    }
    web.log += '\n';
}

const char *const MESSAGE_NAMES[lv2host::NMESSAGES] = {"int",    "float", "bang",  "stop", "fg",    "gain",
                                                       "offset", "phase", "extra", "ramp", "lowcut"};

void send(int inlet, lv2host::e_message m, short argc, t_atom *argv)
{
    log_message(inlet, MESSAGE_NAMES[m], argc, argv);
    lv2host::send(web.object, inlet, m, argc, argv);
}

void send_number(int inlet, lv2host::e_message m, float v)
{
    t_atom a;
    a.a_type = m == lv2host::MSG_INT ? patcher::A_LONG : patcher::A_FLOAT;
    if (m == lv2host::MSG_INT)
        a.a_w.w_long = (int32_t)v;
    else
        a.a_w.w_float = v;
    send(inlet, m, 1, &a);
}

// Every oscillator's pitch and gain as fg pairs; unless always, only when
// they differ from what the object plays.
void play_notes(bool always)
{
    float pitch[NOSC], gain[NOSC];
    const Settings &s = web.settings;
    lv2keys::keys_pairs(&web.keys, s.bend_range, s.volume * NOTE_GAIN, web.rate, pitch, gain);
    bool same =
        std::memcmp(pitch, web.held_pitch, sizeof pitch) == 0 && std::memcmp(gain, web.held_gain, sizeof gain) == 0;
    if (same && !always)
        return;
    t_atom pairs[2 * NOSC];
    for (int i = 0; i < NOSC; i++) {
        pairs[2 * i].a_type = pairs[2 * i + 1].a_type = patcher::A_FLOAT;
        pairs[2 * i].a_w.w_float = web.held_pitch[i] = pitch[i];
        pairs[2 * i + 1].a_w.w_float = web.held_gain[i] = gain[i];
    }
    send(loopmass::INLET_PITCH, lv2host::MSG_FG, 2 * NOSC, pairs);
}

void strike()
{
    send(0, lv2host::MSG_BANG, 0, nullptr);
}

void choose(float preset)
{
    if (preset == std::floor(preset))
        send_number(0, lv2host::MSG_INT, preset);
    else
        send_number(0, lv2host::MSG_FLOAT, preset);
}

// The smoothing and the low cut in the object's terms, sent when they
// change; a released note keeps its oscillator while its ramp may run.
void send_filters()
{
    const Settings &s = web.settings;
    float ramp = std::min((float)(s.smooth * web.rate / OBJECT_RATE), loopmass::RAMP_MAX);
    float lowcut = s.low_cut == 0 ? 0 : std::min((float)(s.low_cut * OBJECT_RATE / web.rate), loopmass::LOWCUT_MAX);
    web.fade = (uint64_t)std::ceil(ramp * (OBJECT_RATE / 1000));
    if (ramp != web.ramp)
        send_number(0, lv2host::MSG_RAMP, web.ramp = ramp);
    if (lowcut != web.lowcut)
        send_number(0, lv2host::MSG_LOWCUT, web.lowcut = lowcut);
}

void control_change(int number, int value)
{
    switch (number) {
    case 1: // mod wheel: toward the next preset
        choose(value == 0 ? (float)web.base : (float)(web.base + value / 128.0));
        break;
    case 64:
        if (lv2keys::keys_pedal(&web.keys, value >= 64, web.fade))
            play_notes(true);
        break;
    case 120: // all sound off
        send(0, lv2host::MSG_STOP, 0, nullptr);
        break;
    case 123: // all notes off
        lv2keys::keys_release_all(&web.keys, web.fade);
        play_notes(true);
        break;
    }
}

// The object's generator stands in for the thread's while a message that
// is not one of the host's own runs, as the host does for its own.
short dispatch(int inlet, const char *selector, int argc, const t_atom *argv)
{
    lv2host::Object *o = web.object;
    if (o->stuffloc)
        *o->stuffloc = inlet;
    uint32_t saved = loopmass::loopmass_rand_state();
    loopmass::loopmass_srand(o->generator);
    short failed = classes::dispatch(o->c, o->x, selector, argc, argv);
    o->generator = loopmass::loopmass_rand_state();
    loopmass::loopmass_srand(saved);
    return failed;
}

void fill_colours()
{
    for (int i = 0; i < NCOLOURS; i++) {
        double rgb[3];
        draw::position_colour((float)(i / 32.0 - 1.0), rgb);
        for (int c = 0; c < 3; c++)
            web.colours[3 * i + c] = (float)rgb[c];
    }
}

} // namespace

// A new object of nmasses (3 to 256) at the context's rate, with the
// default settings sent; the one before is freed.  0 when it plays.
EXPORT int lm_create(double rate, int nmasses, int logging)
{
    if (web.object)
        lv2host::object_free(web.object, web.build.console);
    web.object = nullptr;
    web.build.console = lv2host::Console{console_line, nullptr};
    web.c = lv2host::load(web.build.console);
    if (!web.c || !(rate > 0))
        return 1;
    t_atom n;
    n.a_type = patcher::A_LONG;
    n.a_w.w_long = nmasses;
    web.rate = rate;
    web.object = lv2host::object_new(web.build, web.c, 1, &n, web.out, rate);
    if (!web.object)
        return 1;
    lv2keys::keys_clear(&web.keys);
    web.settings = Settings{0.5f, 2.0f, 5.0f, 20.0f, STRIKE_ALONE};
    web.base = 0;
    web.ramp = web.lowcut = 0;
    for (int i = 0; i < NOSC; i++)
        web.held_pitch[i] = web.held_gain[i] = 0;
    web.log.clear();
    web.logging = logging != 0;
    if (web.logging)
        web.log.reserve(LOG_ROOM);
    send_filters();
    fill_colours();
    return 0;
}

// One vector of 64 samples; returns where they are.
EXPORT const float *lm_perform(void)
{
    if (!web.object)
        return nullptr;
    lv2host::object_vector(web.object, lv2host::VECTOR);
    if (web.logging)
        web.log += "run 64\n";
    return web.out;
}

// Where lm_perform writes, for a view made once.
EXPORT const float *lm_perform_address(void)
{
    return web.out;
}

// A MIDI message of two or three bytes, acting at the start of the next
// vector, as the LV2 instrument plays it.
EXPORT void lm_midi(int status, int a, int b)
{
    if (!web.object)
        return;
    lv2keys::keys_time(&web.keys, web.object->samples);
    status &= 0xf0;
    a &= 0x7f;
    b &= 0x7f;
    switch (status) {
    case 0xc0: // program change
        web.base = a;
        choose((float)a);
        break;
    case 0x90:
        if (b > 0) {
            bool others = lv2keys::keys_press(&web.keys, a, b);
            play_notes(true);
            int strikes = web.settings.strike;
            if (strikes == STRIKE_EVERY || (strikes == STRIKE_ALONE && !others))
                strike();
            break;
        }
        [[fallthrough]]; // velocity 0 is a note off
    case 0x80:
        if (lv2keys::keys_release(&web.keys, a, web.fade))
            play_notes(true);
        break;
    case 0xe0:
        web.keys.bend = a | b << 7;
        play_notes(true);
        break;
    case 0xb0:
        control_change(a, b);
        break;
    }
}

// A whole value recalls that preset, any other morphs toward the next.
EXPORT void lm_preset(float preset)
{
    if (!web.object || !(preset >= 0) || preset >= 1000)
        return;
    web.base = (int)std::floor(preset);
    choose(preset);
}

// volume 0 to 1, strike 0 (every note) 1 (a note alone) 2 (never), bend
// range in semitones, smoothing in ms, low cut in Hz (0 off); each is
// clamped to the LV2 instrument's range.
EXPORT void lm_settings(float volume, int strike_mode, float bend_range, float smooth, float low_cut)
{
    if (!web.object)
        return;
    auto clamp = [](float v, float lo, float hi, float fresh) {
        return std::isnan(v) ? fresh : std::min(std::max(v, lo), hi);
    };
    Settings &s = web.settings;
    float v = clamp(volume, 0, 1, 0.5f), r = clamp(bend_range, 0, 24, 2);
    bool notes = v != s.volume || r != s.bend_range;
    s.volume = v;
    s.bend_range = r;
    s.strike = std::min(std::max(strike_mode, 0), 2);
    s.smooth = clamp(smooth, 0, 50, 5);
    s.low_cut = clamp(low_cut, 0, 200, 20);
    lv2keys::keys_time(&web.keys, web.object->samples);
    send_filters();
    if (notes)
        play_notes(false);
}

// Room for a text of length bytes that the next call reads (a message
// line or a preset file); nullptr when there is none.
EXPORT char *lm_text(int length)
{
    if (length < 0)
        return nullptr;
    web.text.assign((size_t)length, '\0');
    return &web.text[0];
}

// The text is a message as a score line, "INLET MESSAGE" ("0 3",
// "2 gain 1.5", "5 0.1 0.2 0.3"); 0 when the object took it.
EXPORT int lm_message(void)
{
    std::vector<t_atom> atoms;
    if (!web.object || !store::parse(web.text, atoms) || atoms.size() < 2)
        return 1;
    for (const t_atom &a : atoms)
        if (a.a_type == patcher::A_SEMI)
            return 1;
    if (atoms[0].a_type != patcher::A_LONG || atoms[0].a_w.w_long < 0 || atoms[0].a_w.w_long > loopmass::INLET_PITCH)
        return 1;
    int inlet = atoms[0].a_w.w_long;
    const t_atom *args = &atoms[1];
    int argc = (int)atoms.size() - 1;
    const char *selector;
    if (args[0].a_type == patcher::A_SYM) {
        selector = args[0].a_w.w_sym->s_name;
        args++;
        argc--;
    } else {
        selector = argc == 1 ? (args[0].a_type == patcher::A_LONG ? "int" : "float") : "list";
    }
    short failed = dispatch(inlet, selector, argc, args);
    if (!failed)
        log_message(inlet, selector, argc, args);
    return failed;
}

// The text is a preset file: its presets become the bank, read through the
// object's own read message.  0 when it was read.
EXPORT int lm_read(void)
{
    if (!web.object)
        return 1;
    web.build.bank = web.text;
    short failed = lv2host::object_read(web.object, web.build, "bank.txt");
    web.build.bank.clear();
    return failed;
}

// The bank as a preset file's text, in lm_result(); its length.
EXPORT int lm_save(void)
{
    if (!web.object)
        return -1;
    web.text = store::text(loopmass::loopmass_view_bank((loopmass::t_loopmass *)web.object->x).store);
    return (int)web.text.size();
}

EXPORT const char *lm_result(void)
{
    return web.text.c_str();
}

// The console lines since the last call, and the log of messages as a
// score's lines since creation; each with its length in lm_result_length.
EXPORT const char *lm_console(void)
{
    web.text = web.console;
    web.console.clear();
    return web.text.c_str();
}

EXPORT const char *lm_log(void)
{
    return web.log.c_str();
}

EXPORT int lm_log_length(void)
{
    return (int)web.log.size();
}

EXPORT int lm_result_length(void)
{
    return (int)web.text.size();
}

// The ring, profiles and oscillators into the view (lm_view_address).
EXPORT void lm_view(void)
{
    if (!web.object)
        return;
    const loopmass::t_loopmass *x = (const loopmass::t_loopmass *)web.object->x;
    View &v = web.view;
    loopmass::t_floats ring = loopmass::loopmass_view_ring(x);
    std::memcpy(v.ring, ring.v, sizeof(float) * ring.n);
    for (int k = 0; k < NKINDS; k++) {
        loopmass::t_floats p = loopmass::loopmass_view_profile(x, k + 1), r = loopmass::loopmass_view_raw(x, k + 1);
        std::memcpy(v.profile[k], p.v, sizeof(float) * p.n);
        std::memcpy(v.raw[k], r.v, sizeof(float) * r.n);
    }
    loopmass::t_floats pitches = loopmass::loopmass_view_pitches(x), phases = loopmass::loopmass_view_phases(x);
    for (int i = 0; i < NOSC; i++) {
        v.pitch[i] = pitches[i];
        v.phase[i] = phases[i];
        v.gain[i] = loopmass::loopmass_view_gain_now(x, i);
    }
    v.nmasses = (float)loopmass::loopmass_view_nmasses(x);
    v.steps = (float)(loopmass::loopmass_view_steps(x) & 0xffffff);
    v.preset = (float)loopmass::loopmass_view_preset(x);
}

EXPORT const View *lm_view_address(void)
{
    return &web.view;
}

// The pictures' colour map: 65 colours (r, g, b from 0 to 1) for positions
// -1 to 1 in steps of 1/32.
EXPORT const float *lm_colours(void)
{
    fill_colours();
    return web.colours;
}
