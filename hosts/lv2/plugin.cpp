// loopmass as an LV2 instrument.  MIDI and control ports become messages to
// the object, which runs in 64-sample vectors whatever the plugin host's
// block size, on a grid that follows the host's timeline (host.h).  A new
// object for a change during play (another mass count, a preset file) is
// built by the worker and swapped in between two vectors; the one it
// replaces goes back to the worker to be freed.  The session's object is
// built where the host allows it: at instantiation, restore, activation.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>

#include <lv2/atom/atom.h>
#include <lv2/atom/forge.h>
#include <lv2/atom/util.h>
#include <lv2/core/lv2.h>
#include <lv2/core/lv2_util.h>
#include <lv2/log/log.h>
#include <lv2/log/logger.h>
#include <lv2/midi/midi.h>
#include <lv2/patch/patch.h>
#include <lv2/state/state.h>
#include <lv2/time/time.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include "host.h"
#include "keys.h"

#define LOOPMASS_URI "urn:loopmass:lv2"

namespace {

using lv2host::Object;
using patcher::t_atom;

// Ports, in the order of the plugin's description.
enum {
    PORT_MIDI_IN,
    PORT_OUT,
    PORT_LATENCY,
    PORT_NOTIFY,
    PORT_MASSES,
    PORT_PRESET,
    PORT_VOLUME,
    PORT_STRIKE,
    PORT_BEND_RANGE,
    PORT_PROFILES, // per profile: morph, then gain, offset, phase, extra
    PORT_SMOOTH = PORT_PROFILES + 30,
    PORT_LOW_CUT,
    NPORTS
};

const int NKINDS = 6;
const int NMETA = 4;
const int PITCH_INLET = 7;

// A vector is run once the events of its last sample are known, so its
// first sample leaves VECTOR - 1 samples after it was due, whatever the
// block size; events then act at the start of the vector they fall in.
// Vectors cut short by the timeline leave just as late: each sample waits
// in a line of two vectors.
const float LATENCY = lv2host::VECTOR - 1;
const int DELAYED = 2 * lv2host::VECTOR;

struct Range {
    float min, max, fresh; // fresh: what a new object holds
};
const Range MASSES = {3, 256, 256};
const Range PRESET = {0, 9.99f, 0};
const Range VOLUME = {0, 1, 0.5f};
const Range STRIKE = {0, 2, 1};
const Range BEND_RANGE = {0, 24, 2};
const Range MORPH = {-1, 1, 0};
const Range META[NMETA] = {{0, 4, 1}, {-1, 1, 0}, {0, 1, 0}, {0, 4, 0}};
const Range SMOOTH = {0, 50, 5};
const Range LOW_CUT = {0, 200, 20};

// What the object accepts, in its own milliseconds and hertz at 44100 Hz.
const float RAMP_MAX = 1000;
const float LOWCUT_MAX = 200;
const double OBJECT_RATE = 44100;

// A note's gain at full velocity and volume: the ring's values being
// within [-1, 1], five notes together stay within full scale before the
// low cut, which may lift the peaks of a ring whose offset moves.
const double NOTE_GAIN = 1.0 / lv2keys::MAXNOTES;

enum { STRIKE_EVERY, STRIKE_ALONE, STRIKE_NEVER };

// A preset chosen on the control inlet: a long recalls it, a float morphs.
struct Choice {
    bool morph;
    float value;
};

// What the object holds of what the layer sent it.
struct Held {
    Choice choice;
    float morph[NKINDS];
    float meta[NKINDS][NMETA];
    float pitch[lv2keys::MAXNOTES];
    float gain[lv2keys::MAXNOTES];
    float ramp, lowcut;
};

// Work for the worker, and its replies.  Paths are at most PATHMAX bytes
// with the terminating zero.
const int PATHMAX = 4096;
enum { WORK_BUILD, WORK_LOAD, WORK_FREE };
struct Request {
    uint32_t type;
    uint32_t generation;
    int32_t nmasses;
    Object *object; // WORK_FREE
    char path[PATHMAX];  // WORK_LOAD
};
struct Reply {
    Object *object; // nullptr when the build failed
    uint32_t generation;
    char path[PATHMAX]; // the file loaded, or ""
};

// Objects the audio thread may hold at once: playing, arrived, waiting to
// be freed, or being built.  New work is asked only while there is room.
const int NSLOTS = 16;

struct Uris {
    LV2_URID midi_event, atom_path, atom_string, atom_int, patch_set, patch_get, patch_property, patch_value;
    LV2_URID bank, bank_text, masses;
    LV2_URID atom_long, atom_float, atom_double, time_position, time_frame, time_speed;
};

struct Plugin {
    LV2_URID_Map *map;
    LV2_Worker_Schedule *schedule;
    LV2_Log_Logger logger;
    LV2_Atom_Forge forge;
    LV2_Atom_Forge_Frame notify_frame;
    Uris uri;
    double rate;
    patcher::t_class *object_class;
    void *ports[NPORTS];

    // Audio thread (and the functions that never run beside it).
    Object *object;
    Object *arrived;
    char arrived_path[PATHMAX];
    Object *discard[NSLOTS];
    int ndiscard;
    int outstanding;
    uint32_t generation;
    float vector[lv2host::VECTOR];
    float delayed[DELAYED]; // by frame since activation, modulo DELAYED
    uint64_t time;          // samples since activation
    uint64_t vstart, vend;  // the vector under way, in samples since activation
    bool rolling;           // the host's transport, as its timeline said
    int64_t timeline;       // its frame minus the time, while rolling
    lv2keys::Keys keys;
    Choice choice;
    int base;     // the preset the mod wheel morphs from
    bool recall;  // recall the choice even when the object holds it
    float last_preset;
    float morph[NKINDS];
    float meta[NKINDS][NMETA];
    float volume, bend_range;
    int strike;
    float ramp, lowcut; // in the object's terms
    uint64_t fade;      // samples a gain may take to reach 0 at that ramp
    int want_masses, asked_masses;
    bool load_waiting;
    char load_path[PATHMAX];
    bool fresh; // the object is new: the held notes are played again
    Held held;
    char bank_path[PATHMAX];
    bool notifying;

    // Shared by the worker, save and restore.
    std::mutex lock;
    std::string bank; // the bank, as the text of a preset file ("" none)
    int bank_masses;  // mass count of the newest object built
    uint32_t kept_generation; // the generation whose work may change them
};

// ------------------------------------------------------------ console

void log_line(void *owner, bool is_error, const char *text)
{
    Plugin *p = (Plugin *)owner;
    if (is_error)
        lv2_log_error(&p->logger, "%s\n", text);
    else
        lv2_log_note(&p->logger, "%s\n", text);
}

lv2host::Console console_of(Plugin *p) { return lv2host::Console{log_line, p}; }

// An object of nmasses masses with the bank given (a preset file's text) or
// read from path; read receives the text of the file.
Object *build(Plugin *p, int nmasses, const std::string &bank, const char *path, std::string *read)
{
    lv2host::Build b{console_of(p), bank, std::string()};
    t_atom arg;
    arg.a_type = patcher::A_LONG;
    arg.a_w.w_long = nmasses;
    Object *o = lv2host::object_new(b, p->object_class, 1, &arg, p->vector, p->rate);
    const char *name = path ? path : bank.empty() ? nullptr : "bank";
    if (o && name && lv2host::object_read(o, b, name) != 0) {
        lv2host::object_free(o, b.console);
        return nullptr;
    }
    if (o && read)
        *read = b.read;
    return o;
}

// --------------------------------------------------- what the object holds

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
}

// Brings the object to the choice, morphs and metaparameters asked for,
// sending only what differs.  A recall rewrites every raw profile, so the
// morphs are sent again after it, and a morph back to 0 (which the object
// takes as "leave the profile") is made by a recall.
void sync(Plugin *p)
{
    Held &h = p->held;
    bool recall = p->recall || p->choice.morph != h.choice.morph || p->choice.value != h.choice.value;
    for (int k = 0; k < NKINDS; k++)
        recall = recall || (p->morph[k] == 0 && h.morph[k] != 0);
    if (recall) {
        if (p->choice.morph)
            lv2host::send_float(p->object, 0, p->choice.value);
        else
            lv2host::send_long(p->object, 0, (int32_t)p->choice.value);
        h.choice = p->choice;
        for (int k = 0; k < NKINDS; k++)
            h.morph[k] = 0;
        p->recall = false;
    }
    for (int k = 0; k < NKINDS; k++) {
        if (p->morph[k] != h.morph[k]) {
            lv2host::send_float(p->object, k + 1, p->morph[k]);
            h.morph[k] = p->morph[k];
        }
        for (int j = 0; j < NMETA; j++) {
            if (p->meta[k][j] == h.meta[k][j])
                continue;
            t_atom a;
            a.a_type = patcher::A_FLOAT;
            a.a_w.w_float = p->meta[k][j];
            lv2host::send(p->object, k + 1, (lv2host::e_message)(lv2host::MSG_GAIN + j), 1, &a);
            h.meta[k][j] = p->meta[k][j];
        }
    }
}

// The first sample of the vector that a message sent now acts in: a ramp
// it starts runs from there.
uint64_t vector_start(const Plugin *p) { return p->vstart; }

// Sends every oscillator's pitch and gain as fg pairs; unless always, only
// when they differ from what the object plays.
void play_notes(Plugin *p, bool always)
{
    float pitch[lv2keys::MAXNOTES], gain[lv2keys::MAXNOTES];
    lv2keys::keys_pairs(&p->keys, p->bend_range, p->volume * NOTE_GAIN, p->rate, pitch, gain);
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
void send_filters(Plugin *p)
{
    Held &h = p->held;
    if (p->ramp != h.ramp) {
        send_value(p, lv2host::MSG_RAMP, p->ramp);
        h.ramp = p->ramp;
    }
    if (p->lowcut != h.lowcut) {
        send_value(p, lv2host::MSG_LOWCUT, p->lowcut);
        h.lowcut = p->lowcut;
    }
}

void strike(Plugin *p) { lv2host::send(p->object, 0, lv2host::MSG_BANG, 0, nullptr); }

// --------------------------------------------------------------- worker

bool room(const Plugin *p) { return p->outstanding + p->ndiscard + (p->arrived ? 1 : 0) + 1 < NSLOTS; }

bool ask(Plugin *p, uint32_t type, const char *path, Object *o)
{
    Request r;
    r.type = type;
    r.generation = p->generation;
    r.nmasses = p->want_masses;
    r.object = o;
    size_t len = path ? std::strlen(path) : 0;
    std::memcpy(r.path, path ? path : "", len + 1);
    uint32_t size = (uint32_t)(offsetof(Request, path) + len + 1);
    if (p->schedule->schedule_work(p->schedule->handle, size, &r) != LV2_WORKER_SUCCESS)
        return false;
    if (type != WORK_FREE)
        p->outstanding++;
    return true;
}

void discard(Plugin *p, Object *o)
{
    if (o)
        p->discard[p->ndiscard++] = o;
}

// The objects waiting go back to the worker; those it cannot take now wait
// for the next run.
void release(Plugin *p)
{
    int kept = 0;
    for (int i = 0; i < p->ndiscard; i++)
        if (!ask(p, WORK_FREE, nullptr, p->discard[i]))
            p->discard[kept++] = p->discard[i];
    p->ndiscard = kept;
}

// Copies a request or a reply, sent with its path cut after the path's
// end, out of the worker's buffer; false for a size it cannot have.
template <class Message> bool unpack(Message *m, uint32_t size, const void *data)
{
    if (size < offsetof(Message, path) + 1 || size > sizeof *m)
        return false;
    std::memcpy(m, data, size);
    m->path[size - offsetof(Message, path) - 1] = '\0';
    return true;
}

LV2_Worker_Status work(LV2_Handle h, LV2_Worker_Respond_Function respond, LV2_Worker_Respond_Handle handle,
                       uint32_t size, const void *data)
{
    Plugin *p = (Plugin *)h;
    Request r;
    if (!unpack(&r, size, data))
        return LV2_WORKER_ERR_UNKNOWN;
    if (r.type == WORK_FREE) {
        lv2host::object_free(r.object, console_of(p));
        return LV2_WORKER_SUCCESS;
    }
    Reply reply;
    reply.generation = r.generation;
    reply.path[0] = '\0';
    if (r.type == WORK_LOAD) {
        std::string read;
        reply.object = build(p, r.nmasses, std::string(), r.path, &read);
        if (reply.object) {
            std::lock_guard<std::mutex> g(p->lock);
            if (r.generation == p->kept_generation) {
                p->bank = read;
                p->bank_masses = r.nmasses;
            }
            std::memcpy(reply.path, r.path, std::strlen(r.path) + 1);
        }
    } else {
        std::string bank;
        {
            std::lock_guard<std::mutex> g(p->lock);
            bank = p->bank;
        }
        reply.object = build(p, r.nmasses, bank, nullptr, nullptr);
        if (reply.object) {
            std::lock_guard<std::mutex> g(p->lock);
            if (r.generation == p->kept_generation)
                p->bank_masses = r.nmasses;
        }
    }
    respond(handle, (uint32_t)(offsetof(Reply, path) + std::strlen(reply.path) + 1), &reply);
    return LV2_WORKER_SUCCESS;
}

LV2_Worker_Status work_response(LV2_Handle h, uint32_t size, const void *data)
{
    Plugin *p = (Plugin *)h;
    Reply r;
    if (!unpack(&r, size, data))
        return LV2_WORKER_ERR_UNKNOWN;
    p->outstanding--;
    if (!r.object)
        return LV2_WORKER_SUCCESS;
    // An object built before a restore is out of date.
    if (r.generation != p->generation) {
        discard(p, r.object);
        return LV2_WORKER_SUCCESS;
    }
    discard(p, p->arrived);
    p->arrived = r.object;
    std::memcpy(p->arrived_path, r.path, std::strlen(r.path) + 1);
    return LV2_WORKER_SUCCESS;
}

// ------------------------------------------------------------- notify

void tell_bank(Plugin *p)
{
    if (!p->notifying)
        return;
    LV2_Atom_Forge *f = &p->forge;
    LV2_Atom_Forge_Frame frame;
    lv2_atom_forge_frame_time(f, 0);
    lv2_atom_forge_object(f, &frame, 0, p->uri.patch_set);
    lv2_atom_forge_key(f, p->uri.patch_property);
    lv2_atom_forge_urid(f, p->uri.bank);
    lv2_atom_forge_key(f, p->uri.patch_value);
    lv2_atom_forge_path(f, p->bank_path, (uint32_t)std::strlen(p->bank_path));
    lv2_atom_forge_pop(f, &frame);
}

void begin_notify(Plugin *p)
{
    LV2_Atom_Sequence *seq = (LV2_Atom_Sequence *)p->ports[PORT_NOTIFY];
    p->notifying = seq != nullptr;
    if (!seq)
        return;
    lv2_atom_forge_set_buffer(&p->forge, (uint8_t *)seq, seq->atom.size);
    lv2_atom_forge_sequence_head(&p->forge, &p->notify_frame, 0);
}

void end_notify(Plugin *p)
{
    if (p->notifying)
        lv2_atom_forge_pop(&p->forge, &p->notify_frame);
}

// ---------------------------------------------------------- run

float control(const Plugin *p, int port, const Range &r)
{
    const float *v = (const float *)p->ports[port];
    if (!v || std::isnan(*v))
        return r.fresh;
    return std::min(std::max(*v, r.min), r.max);
}

void install(Plugin *p)
{
    if (!p->arrived)
        return;
    discard(p, p->object);
    p->object = p->arrived;
    p->arrived = nullptr;
    held_fresh(&p->held);
    p->fresh = true;
    if (p->arrived_path[0]) {
        std::memcpy(p->bank_path, p->arrived_path, sizeof p->bank_path);
        tell_bank(p);
    }
}

// The smoothing and the low cut, in real milliseconds and hertz at the
// plugin host's rate, become the object's, which counts 44100 samples a
// second.  A released note keeps its oscillator for as long as its ramp
// down may take, so that no other note moves onto it before it is silent.
void read_smoothing(Plugin *p)
{
    float smooth = control(p, PORT_SMOOTH, SMOOTH);
    float low_cut = control(p, PORT_LOW_CUT, LOW_CUT);
    p->ramp = std::min((float)(smooth * p->rate / OBJECT_RATE), RAMP_MAX);
    p->lowcut = low_cut == 0 ? 0 : std::min((float)(low_cut * OBJECT_RATE / p->rate), LOWCUT_MAX);
    p->fade = (uint64_t)std::ceil(p->ramp * (OBJECT_RATE / 1000));
}

void read_controls(Plugin *p)
{
    p->want_masses = (int)std::lround(control(p, PORT_MASSES, MASSES));
    if (p->want_masses != p->asked_masses && room(p) && ask(p, WORK_BUILD, nullptr, nullptr))
        p->asked_masses = p->want_masses;

    float preset = control(p, PORT_PRESET, PRESET);
    if (!(preset == p->last_preset)) {
        p->last_preset = preset;
        p->choice = Choice{preset != std::floor(preset), preset};
        p->base = (int)std::floor(preset);
    }
    float volume = control(p, PORT_VOLUME, VOLUME);
    float bend_range = control(p, PORT_BEND_RANGE, BEND_RANGE);
    bool notes_changed = volume != p->volume || bend_range != p->bend_range;
    p->volume = volume;
    p->bend_range = bend_range;
    p->strike = (int)std::lround(control(p, PORT_STRIKE, STRIKE));
    for (int k = 0; k < NKINDS; k++) {
        int first = PORT_PROFILES + k * (NMETA + 1);
        p->morph[k] = control(p, first, MORPH);
        for (int j = 0; j < NMETA; j++)
            p->meta[k][j] = control(p, first + 1 + j, META[j]);
    }
    read_smoothing(p);

    sync(p);
    send_filters(p);
    lv2keys::keys_time(&p->keys, vector_start(p));
    if (p->fresh || notes_changed)
        play_notes(p, false);
    if (p->fresh && lv2keys::keys_holding(&p->keys) && p->strike != STRIKE_NEVER)
        strike(p);
    p->fresh = false;
}

void choose(Plugin *p, Choice c)
{
    p->choice = c;
    p->recall = true;
    sync(p);
}

void control_change(Plugin *p, int number, int value)
{
    switch (number) {
    case 1: // mod wheel: toward the next preset
        choose(p, value == 0 ? Choice{false, (float)p->base} : Choice{true, (float)(p->base + value / 128.0)});
        break;
    case 64:
        if (lv2keys::keys_pedal(&p->keys, value >= 64, p->fade))
            play_notes(p, true);
        break;
    case 120: // all sound off
        lv2host::send(p->object, 0, lv2host::MSG_STOP, 0, nullptr);
        break;
    case 123: // all notes off
        lv2keys::keys_release_all(&p->keys, p->fade);
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
        p->base = a;
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
            if (p->strike == STRIKE_EVERY || (p->strike == STRIKE_ALONE && !others))
                strike(p);
            break;
        }
        // Velocity 0 is a note off.
        [[fallthrough]];
    case LV2_MIDI_MSG_NOTE_OFF:
        if (lv2keys::keys_release(&p->keys, a, p->fade))
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

bool ask_load(Plugin *p)
{
    return p->load_waiting && room(p) && ask(p, WORK_LOAD, p->load_path, nullptr);
}

// patch:Set of the bank loads a preset file; patch:Get tells which.
void message(Plugin *p, const LV2_Atom_Object *obj)
{
    if (obj->body.otype == p->uri.patch_get) {
        tell_bank(p);
        return;
    }
    if (obj->body.otype != p->uri.patch_set)
        return;
    const LV2_Atom *property = nullptr, *value = nullptr;
    lv2_atom_object_get(obj, p->uri.patch_property, &property, p->uri.patch_value, &value, 0);
    if (!property || property->type != p->forge.URID || ((const LV2_Atom_URID *)property)->body != p->uri.bank ||
        !value || (value->type != p->uri.atom_path && value->type != p->uri.atom_string))
        return;
    const char *path = (const char *)LV2_ATOM_BODY_CONST(value);
    size_t len = strnlen(path, value->size);
    if (len == 0 || len >= PATHMAX)
        return;
    std::memcpy(p->load_path, path, len);
    p->load_path[len] = '\0';
    p->load_waiting = true;
    if (ask_load(p))
        p->load_waiting = false;
}

// Runs the vector under way, [vstart, vend), into the line of samples
// waiting to leave; the next one is a whole vector.
void run_vector(Plugin *p)
{
    int n = (int)(p->vend - p->vstart);
    lv2host::object_vector(p->object, n);
    for (int i = 0; i < n; i++)
        p->delayed[(p->vstart + (uint64_t)i) % DELAYED] = p->vector[i];
    p->vstart = p->vend;
    p->vend = p->vstart + lv2host::VECTOR;
}

// Output of frames [from, to): each sample leaves VECTOR - 1 samples after
// it was due; a vector is run at its last sample.
void advance(Plugin *p, float *out, uint32_t from, uint32_t to)
{
    while (from < to) {
        if (p->time + 1 == p->vend)
            run_vector(p);
        uint32_t count = (uint32_t)std::min<uint64_t>(to - from, p->vend - 1 - p->time);
        if (out)
            for (uint32_t i = 0; i < count; i++)
                out[from + i] = p->delayed[(p->time + i + DELAYED - (uint64_t)LATENCY) % DELAYED];
        from += count;
        p->time += count;
    }
}

int64_t floor_div(int64_t a, int64_t b) { return a / b - (a % b < 0 ? 1 : 0); }
int64_t floor_mod(int64_t a, int64_t b) { return a - floor_div(a, b) * b; }

// The haptic counter the vector starting at timeline frame t needs for the
// steps to fall on the timeline's multiples of 256 from the next vector
// that starts on one of its multiples of VECTOR.  A shorter first vector
// ends there, and must bring the counter to that vector's value.
int counter_at(int64_t t)
{
    const int per = lv2host::vectors_per_step(lv2host::VECTOR);
    int64_t into = floor_mod(t, lv2host::VECTOR);
    int next = (int)floor_mod(floor_div(t - into, lv2host::VECTOR) + (into ? 1 : 0), per);
    if (into == 0)
        return next;
    return next > 0 ? next - 1 : lv2host::vectors_per_step((int)(lv2host::VECTOR - into)) - 1;
}

// A transport start or relocate to timeline frame t: the vector under way
// ends now and the next one ends on a multiple of VECTOR of the timeline.
// An object that no note sounds starts the same whatever came before: the
// haptic counter the timeline wants, then a strike and a stop, which it
// does not hear, for oscillators at phase 0 and a ring at rest (forces
// move even a ring that nothing struck).
void align(Plugin *p, int64_t t)
{
    if (p->time > p->vstart) {
        p->vend = p->time;
        run_vector(p);
    }
    p->vend = p->vstart + (uint64_t)(lv2host::VECTOR - floor_mod(t, lv2host::VECTOR));
    lv2keys::keys_time(&p->keys, vector_start(p));
    if (!lv2keys::keys_sounding(&p->keys)) {
        // Oscillators that no note plays forget their pitch, as at the
        // start, so that their phases rest too; the low cut forgets what
        // it filtered.
        lv2keys::keys_forget(&p->keys);
        play_notes(p, false);
        if (p->held.lowcut != 0) {
            send_value(p, lv2host::MSG_LOWCUT, 0);
            send_value(p, lv2host::MSG_LOWCUT, p->held.lowcut);
        }
        lv2host::object_count_to(p->object, counter_at(t));
        lv2host::send(p->object, 0, lv2host::MSG_BANG, 0, nullptr);
        lv2host::send(p->object, 0, lv2host::MSG_STOP, 0, nullptr);
    }
}

bool number(const Plugin *p, const LV2_Atom *a, double *v)
{
    if (!a)
        return false;
    if (a->type == p->uri.atom_long)
        *v = (double)((const LV2_Atom_Long *)a)->body;
    else if (a->type == p->uri.atom_int)
        *v = ((const LV2_Atom_Int *)a)->body;
    else if (a->type == p->uri.atom_float)
        *v = ((const LV2_Atom_Float *)a)->body;
    else if (a->type == p->uri.atom_double)
        *v = ((const LV2_Atom_Double *)a)->body;
    else
        return false;
    return std::isfinite(*v);
}

// The host's timeline at the current time.  A start, or a frame other than
// the one expected while rolling at normal speed, aligns the grid.
void position(Plugin *p, const LV2_Atom_Object *obj)
{
    const LV2_Atom *frame_atom = nullptr, *speed_atom = nullptr;
    lv2_atom_object_get(obj, p->uri.time_frame, &frame_atom, p->uri.time_speed, &speed_atom, 0);
    double frame, speed;
    if (!number(p, frame_atom, &frame) || !number(p, speed_atom, &speed) || std::fabs(frame) > 9e18)
        return;
    if (speed == 0) {
        p->rolling = false;
        return;
    }
    int64_t t = (int64_t)frame;
    bool moved = !p->rolling || (speed == 1 && t != p->timeline + (int64_t)p->time);
    p->rolling = true;
    p->timeline = t - (int64_t)p->time;
    if (moved)
        align(p, t);
}

bool is_position(const Plugin *p, const LV2_Atom *a)
{
    return lv2_atom_forge_is_object_type(&p->forge, a->type) &&
           ((const LV2_Atom_Object *)a)->body.otype == p->uri.time_position;
}

uint32_t frame_of(const LV2_Atom_Event *ev, uint32_t pos, uint32_t n)
{
    return (uint32_t)std::min<int64_t>(std::max<int64_t>(ev->time.frames, pos), n);
}

void run(LV2_Handle h, uint32_t n)
{
    Plugin *p = (Plugin *)h;
    if (p->ports[PORT_LATENCY])
        *(float *)p->ports[PORT_LATENCY] = LATENCY;
    begin_notify(p);
    install(p);
    release(p);
    if (ask_load(p))
        p->load_waiting = false;
    read_controls(p);

    float *out = (float *)p->ports[PORT_OUT];
    uint32_t pos = 0;
    bool timeline_read = false;
    const LV2_Atom_Sequence *seq = (const LV2_Atom_Sequence *)p->ports[PORT_MIDI_IN];
    if (seq) {
        LV2_ATOM_SEQUENCE_FOREACH (seq, ev) {
            uint32_t at = frame_of(ev, pos, n);
            if (at != pos || !timeline_read) {
                advance(p, out, pos, at);
                pos = at;
                // The timeline first, so that the other events of this
                // frame fall in the vector that starts there.
                for (const LV2_Atom_Event *e = ev;
                     !lv2_atom_sequence_is_end(&seq->body, seq->atom.size, e) && frame_of(e, pos, n) == at;
                     e = lv2_atom_sequence_next(e))
                    if (is_position(p, &e->body))
                        position(p, (const LV2_Atom_Object *)&e->body);
                timeline_read = true;
            }
            if (ev->body.type == p->uri.midi_event)
                midi(p, (const uint8_t *)LV2_ATOM_BODY_CONST(&ev->body), ev->body.size);
            else if (lv2_atom_forge_is_object_type(&p->forge, ev->body.type) && !is_position(p, &ev->body))
                message(p, (const LV2_Atom_Object *)&ev->body);
        }
    }
    advance(p, out, pos, n);
    end_notify(p);
}

// ------------------------------------------------------ lifecycle

void connect_port(LV2_Handle h, uint32_t port, void *data)
{
    if (port < NPORTS)
        ((Plugin *)h)->ports[port] = data;
}

void free_objects(Plugin *p)
{
    lv2host::object_free(p->object, console_of(p));
    lv2host::object_free(p->arrived, console_of(p));
    for (int i = 0; i < p->ndiscard; i++)
        lv2host::object_free(p->discard[i], console_of(p));
    p->object = p->arrived = nullptr;
    p->ndiscard = 0;
}

// A new object is playing; the controls and notes are sent to it at the
// next run, as they differ from what it holds.
void start(Plugin *p, Object *o, int nmasses)
{
    free_objects(p);
    p->object = o;
    p->want_masses = p->asked_masses = nmasses;
    p->last_preset = NAN; // the preset control chooses again
    held_fresh(&p->held);
    p->fresh = true;
    p->bank_path[0] = '\0';
}

LV2_Handle instantiate(const LV2_Descriptor *, double rate, const char *, const LV2_Feature *const *features)
{
    LV2_URID_Map *map = nullptr;
    LV2_Worker_Schedule *schedule = nullptr;
    LV2_Log_Log *log = nullptr;
    lv2_features_query(features, LV2_URID__map, &map, true, LV2_WORKER__schedule, &schedule, true, LV2_LOG__log,
                       &log, false, NULL);
    if (!map || !schedule || !(rate > 0))
        return nullptr;

    Plugin *p = new Plugin();
    p->map = map;
    p->schedule = schedule;
    p->rate = rate;
    lv2_log_logger_init(&p->logger, map, log);
    p->object_class = lv2host::load(console_of(p));
    if (!p->object_class) {
        lv2_log_error(&p->logger, "loopmass: the object's class cannot be played\n");
        delete p;
        return nullptr;
    }
    lv2_atom_forge_init(&p->forge, map);
    Uris &u = p->uri;
    u.midi_event = map->map(map->handle, LV2_MIDI__MidiEvent);
    u.atom_path = map->map(map->handle, LV2_ATOM__Path);
    u.atom_string = map->map(map->handle, LV2_ATOM__String);
    u.atom_int = map->map(map->handle, LV2_ATOM__Int);
    u.patch_set = map->map(map->handle, LV2_PATCH__Set);
    u.patch_get = map->map(map->handle, LV2_PATCH__Get);
    u.patch_property = map->map(map->handle, LV2_PATCH__property);
    u.patch_value = map->map(map->handle, LV2_PATCH__value);
    u.bank = map->map(map->handle, LOOPMASS_URI "#bank");
    u.bank_text = map->map(map->handle, LOOPMASS_URI "#bankText");
    u.masses = map->map(map->handle, LOOPMASS_URI "#masses");
    u.atom_long = map->map(map->handle, LV2_ATOM__Long);
    u.atom_float = map->map(map->handle, LV2_ATOM__Float);
    u.atom_double = map->map(map->handle, LV2_ATOM__Double);
    u.time_position = map->map(map->handle, LV2_TIME__Position);
    u.time_frame = map->map(map->handle, LV2_TIME__frame);
    u.time_speed = map->map(map->handle, LV2_TIME__speed);

    Object *o = build(p, (int)MASSES.fresh, std::string(), nullptr, nullptr);
    if (!o) {
        delete p;
        return nullptr;
    }
    p->choice = Choice{false, PRESET.fresh};
    p->volume = VOLUME.fresh;
    p->bend_range = BEND_RANGE.fresh;
    lv2keys::keys_clear(&p->keys);
    p->bank_masses = (int)MASSES.fresh;
    start(p, o, (int)MASSES.fresh);
    return p;
}

// The session's mass count plays from the first sample: an object of
// another count is built here, where building is allowed, rather than by
// the worker after the first run.  Not while work is under way: what it
// brings may change the bank, and the worker then builds the count.
void build_masses(Plugin *p)
{
    if (!p->ports[PORT_MASSES] || p->outstanding > 0)
        return;
    int nmasses = (int)std::lround(control(p, PORT_MASSES, MASSES));
    if (nmasses == p->asked_masses)
        return;
    std::string bank;
    {
        std::lock_guard<std::mutex> g(p->lock);
        bank = p->bank;
    }
    Object *o = build(p, nmasses, bank, nullptr, nullptr);
    if (!o)
        return;
    {
        std::lock_guard<std::mutex> g(p->lock);
        p->bank_masses = nmasses;
    }
    char path[PATHMAX];
    std::memcpy(path, p->bank_path, sizeof path);
    start(p, o, nmasses);
    std::memcpy(p->bank_path, path, sizeof path);
}

void activate(LV2_Handle h)
{
    Plugin *p = (Plugin *)h;
    build_masses(p);
    p->time = 0;
    p->vstart = 0;
    p->vend = lv2host::VECTOR;
    p->rolling = false;
    std::memset(p->vector, 0, sizeof p->vector);
    std::memset(p->delayed, 0, sizeof p->delayed);
    // Notes held when the host stopped are gone.
    lv2keys::keys_clear(&p->keys);
    play_notes(p, false);
}

void deactivate(LV2_Handle) {}

void cleanup(LV2_Handle h)
{
    Plugin *p = (Plugin *)h;
    free_objects(p);
    delete p;
}

// ------------------------------------------------------------ state

LV2_State_Status save(LV2_Handle h, LV2_State_Store_Function store, LV2_State_Handle handle, uint32_t,
                      const LV2_Feature *const *)
{
    Plugin *p = (Plugin *)h;
    std::string bank;
    int32_t nmasses;
    {
        std::lock_guard<std::mutex> g(p->lock);
        bank = p->bank;
        nmasses = p->bank_masses;
    }
    uint32_t flags = LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE;
    store(handle, p->uri.masses, &nmasses, sizeof nmasses, p->uri.atom_int, flags);
    if (!bank.empty())
        store(handle, p->uri.bank_text, bank.c_str(), bank.size() + 1, p->uri.atom_string, flags);
    return LV2_STATE_SUCCESS;
}

LV2_State_Status restore(LV2_Handle h, LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle, uint32_t,
                         const LV2_Feature *const *)
{
    Plugin *p = (Plugin *)h;
    size_t size;
    uint32_t type, flags;
    int nmasses = p->want_masses;
    const void *v = retrieve(handle, p->uri.masses, &size, &type, &flags);
    if (v && type == p->uri.atom_int && size == sizeof(int32_t))
        nmasses = std::min(std::max(*(const int32_t *)v, (int32_t)MASSES.min), (int32_t)MASSES.max);
    std::string bank;
    v = retrieve(handle, p->uri.bank_text, &size, &type, &flags);
    if (v && type == p->uri.atom_string)
        bank.assign((const char *)v, strnlen((const char *)v, size));

    Object *o = build(p, nmasses, bank, nullptr, nullptr);
    if (!o && !bank.empty()) {
        // A bank that does not read (its error is in the log) is dropped.
        bank.clear();
        o = build(p, nmasses, bank, nullptr, nullptr);
    }
    if (!o)
        return LV2_STATE_ERR_UNKNOWN;
    // Work asked before the restore may finish after it: what it built is
    // dropped, and it no longer changes what a save stores.
    {
        std::lock_guard<std::mutex> g(p->lock);
        p->bank = bank;
        p->bank_masses = nmasses;
        p->kept_generation = ++p->generation;
    }
    start(p, o, nmasses);
    return LV2_STATE_SUCCESS;
}

const void *extension_data(const char *uri)
{
    static const LV2_Worker_Interface worker = {work, work_response, nullptr};
    static const LV2_State_Interface state = {save, restore};
    if (std::strcmp(uri, LV2_WORKER__interface) == 0)
        return &worker;
    if (std::strcmp(uri, LV2_STATE__interface) == 0)
        return &state;
    return nullptr;
}

const LV2_Descriptor descriptor = {LOOPMASS_URI, instantiate, connect_port, activate, run,
                                   deactivate,  cleanup,     extension_data};

} // namespace

extern "C" LV2_SYMBOL_EXPORT const LV2_Descriptor *lv2_descriptor(uint32_t index)
{
    return index == 0 ? &descriptor : nullptr;
}
