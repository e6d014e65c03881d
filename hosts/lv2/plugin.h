// loopmass as an LV2 instrument.  MIDI and control ports become messages to
// the object, which runs in 64-sample vectors whatever the plugin host's
// block size, on a grid that follows the host's timeline (host.h).  A new
// object for a change during play (another mass count, a preset file) is
// built by the worker and swapped in between two vectors; the one it
// replaces goes back to the worker to be freed.  The session's object is
// built where the host allows it: at instantiation, restore, activation.
//
// The plugin's record, and the routines its files share:
// - controls.cpp: what the control ports and MIDI send to the object;
// - worker.cpp: building and freeing objects off the audio thread, and the
//   swap of the playing object;
// - notify.cpp: the bank's patch messages, in and out;
// - grid.cpp: the vectors, on the grid of the host's timeline;
// - state.cpp: save and restore;
// - feed.cpp: what the window asks and is told (window.h), and the
//   profiles it draws;
// - plugin.cpp: the plugin's entry points;
// - display/display.cpp: the ring drawn small for a host's mixer strip.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include <lv2/atom/atom.h>
#include <lv2/atom/forge.h>
#include <lv2/core/lv2.h>
#include <lv2/log/logger.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include "../../src/object/loopmass.h"
#include "display/display.h"
#include "host.h"
#include "keys.h"

#define LOOPMASS_URI "urn:loopmass:lv2"

namespace lv2plugin {

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

using loopmass::NKINDS;
const int NMETA = 4;
const int PITCH_INLET = loopmass::INLET_PITCH;

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
const Range MASSES = {loopmass::MINMASSES, loopmass::MAXMASSES, loopmass::MAXMASSES};
const Range PRESET = {0, 9.99f, 0};
const Range VOLUME = {0, 1, 0.5f};
const Range STRIKE = {0, 2, 1};
const Range BEND_RANGE = {0, 24, 2};
const Range MORPH = {-1, 1, 0};
const Range META[NMETA] = {{0, 4, 1}, {-1, 1, 0}, {0, 1, 0}, {0, 4, 0}};
const Range SMOOTH = {0, 50, 5};
const Range LOW_CUT = {0, 200, 20};

// What the object accepts, in its own milliseconds and hertz at its rate.
using loopmass::LOWCUT_MAX;
using loopmass::RAMP_MAX;
const double OBJECT_RATE = loopmass::SAMPLE_RATE;

// A note's gain at full velocity and volume: the ring's values being
// within [-1, 1], five notes together stay within full scale before the
// low cut, which may lift the peaks of a ring whose offset moves.
const double NOTE_GAIN = 1.0 / lv2keys::MAXNOTES;

enum { STRIKE_EVERY, STRIKE_ALONE, STRIKE_NEVER };

// Paths are at most PATHMAX bytes with the terminating zero.
const int PATHMAX = 4096;

// Objects the audio thread may hold at once: playing, arrived, waiting to
// be freed, or being built.  New work is asked only while there is room.
const int NSLOTS = 16;

// A preset chosen on the control inlet: a long recalls it, a float morphs.
struct Choice {
    bool morph;
    float value;
};

// What the control ports and MIDI ask of the object.
struct Controls {
    Choice choice;
    int base;    // the preset the mod wheel morphs from
    bool recall; // recall the choice even when the object holds it
    float last_preset;
    float morph[NKINDS];
    float meta[NKINDS][NMETA];
    float volume, bend_range;
    int strike;
    float ramp, lowcut; // in the object's terms
    uint64_t fade;      // samples a gain may take to reach 0 at that ramp
};

// What the object holds of what the layer sent it.
struct Held {
    Choice choice;
    float morph[NKINDS];
    float meta[NKINDS][NMETA];
    float pitch[lv2keys::MAXNOTES];
    float gain[lv2keys::MAXNOTES];
    float ramp, lowcut;
    bool fresh; // the object is new: the held notes are played again
};

// The objects on their way to and from the worker, as the audio thread
// sees them.
struct Worker {
    Object *arrived;
    char arrived_path[PATHMAX];
    Object *discard[NSLOTS];
    int ndiscard;
    int outstanding;
    uint32_t generation;
    int want_masses, asked_masses;
    bool load_waiting;
    char load_path[PATHMAX];
};

// The vectors, on the grid of the host's timeline.
struct Grid {
    float vector[lv2host::VECTOR];
    float delayed[DELAYED]; // by frame since activation, modulo DELAYED
    uint64_t time;          // samples since activation
    uint64_t vstart, vend;  // the vector under way, in samples since activation
    bool rolling;           // the host's transport, as its timeline said
    int64_t timeline;       // its frame minus the time, while rolling
};

// What the notify port sends during one run.
struct Notify {
    LV2_Atom_Forge_Frame frame;
    bool on;
};

// Profiles drawn by hand since the last recall, one list per kind as the
// object took them: a later list overwrites the start of an earlier one,
// so the values here, sent as one list, leave the profile as they did.
struct Drawn {
    int32_t n[NKINDS]; // values drawn, 0 for none
    float values[NKINDS][loopmass::MAXMASSES];
};

// What the window watches: frames at `rate` per second of audio (0: no
// window), and the effective profiles as last sent, so that only those
// that changed are sent again (n -1: send it).
struct Feed {
    int rate;
    double wait; // samples until the next frame is due
    int32_t sent_n[NKINDS];
    float sent[NKINDS][loopmass::MAXMASSES];
};

// The drawn profiles as the audio thread holds them: `unkept` kinds still
// have to reach the copy a save stores (through the worker); `pending`
// ones, restored with a session, go to the object once the restored
// controls have made their recall.
struct Drawing {
    Drawn drawn;
    bool unkept[NKINDS];
    bool pending;
};

// What a save stores, shared by the worker, save and restore.
struct Kept {
    std::mutex lock;
    std::string bank;    // the bank, as the text of a preset file ("" none)
    int masses;          // mass count of the newest object built
    Drawn drawn;         // the profiles drawn since the last recall
    uint32_t generation; // the generation whose work may change them
};

struct Uris {
    LV2_URID midi_event, atom_path, atom_string, atom_int, patch_set, patch_get, patch_property, patch_value;
    LV2_URID bank, bank_text, masses;
    LV2_URID atom_long, atom_float, atom_double, time_position, time_frame, time_speed;
    LV2_URID atom_vector, watch, frame, profile_object, strike, rate, ring, phases, gains, preset, profile, kind,
        values, drawn[NKINDS];
};

struct Plugin {
    LV2_URID_Map *map;
    LV2_Worker_Schedule *schedule;
    LV2_Log_Logger logger;
    LV2_Atom_Forge forge;
    Uris uri;
    double rate;
    patcher::t_class *object_class;
    void *ports[NPORTS];

    // Audio thread (and the functions that never run beside it).
    Object *object;
    char bank_path[PATHMAX]; // the preset file the object read ("" none)
    Controls controls;
    lv2keys::Keys keys;
    Held held;
    Worker worker;
    Grid grid;
    Notify notify;
    Drawing drawing;
    Feed feed;
    lv2display::Display display;

    Kept kept;
};

// The host's log, for the objects' console lines (plugin.cpp).
lv2host::Console console_of(Plugin *p);

// controls.cpp
// What a new object holds: nothing the layer sent.
void held_fresh(Held *h);
// The value of a control port within its range; fresh when unconnected.
float control(const Plugin *p, int port, const Range &r);
// Reads the control ports at the start of a run and sends what changed.
void read_controls(Plugin *p);
void play_notes(Plugin *p, bool always);
void strike(Plugin *p);
void send_value(Plugin *p, lv2host::e_message m, float v);
void midi(Plugin *p, const uint8_t *m, uint32_t size);

// worker.cpp
enum { WORK_BUILD, WORK_LOAD, WORK_FREE, WORK_KEEP_DRAWN, WORK_REFUSED };
Object *build(Plugin *p, int nmasses, const std::string &bank, const char *path, std::string *read);
// True when the audio thread has a slot for the object more work brings.
bool room(const Plugin *p);
// Schedules work of the type given; false when the host refused it.
bool ask(Plugin *p, uint32_t type, const char *path, Object *o);
// Asks the worker for the preset file waiting, when there is room.
bool ask_load(Plugin *p);
void release(Plugin *p);
void install(Plugin *p);
void start(Plugin *p, Object *o, int nmasses);
void build_masses(Plugin *p);
void free_objects(Plugin *p);
LV2_Worker_Status work(LV2_Handle h, LV2_Worker_Respond_Function respond, LV2_Worker_Respond_Handle handle,
                       uint32_t size, const void *data);
LV2_Worker_Status work_response(LV2_Handle h, uint32_t size, const void *data);

// notify.cpp
void begin_notify(Plugin *p);
void end_notify(Plugin *p);
// Tells the notify port which preset file the object read.
void tell_bank(Plugin *p);
void message(Plugin *p, const LV2_Atom_Object *obj);

// feed.cpp
// True for the window's messages (a Watch, a Strike, a drawn profile),
// which it then handles.
bool window_message(Plugin *p, const LV2_Atom_Object *obj);
// A recall forgets every drawn profile, a morph that kind's, as the
// object does; a new object has none.
void forget_drawn(Plugin *p);
void forget_drawn_kind(Plugin *p, int kind);
// After the controls of a run: the drawn profiles of a restored session
// go to the object.
void play_drawn(Plugin *p);
// At the end of a run: the drawn profiles toward the saved copy, and the
// frames and profiles the window asked for.
void feed_window(Plugin *p, uint32_t n);
// The worker's side: the saved copy of a drawn profile, and the log line
// for a message refused on the audio thread.
void keep_drawn(Plugin *p, uint32_t size, const void *data);
void log_refused(Plugin *p, uint32_t size, const void *data);

// grid.cpp
uint64_t vector_start(const Plugin *p);
void grid_start(Plugin *p);
void advance(Plugin *p, float *out, uint32_t from, uint32_t to);
// True for a time:Position object.
bool is_position(const Plugin *p, const LV2_Atom *a);
void position(Plugin *p, const LV2_Atom_Object *obj);

// state.cpp
LV2_State_Status save(LV2_Handle h, LV2_State_Store_Function store, LV2_State_Handle handle, uint32_t flags,
                      const LV2_Feature *const *features);
LV2_State_Status restore(LV2_Handle h, LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle, uint32_t flags,
                         const LV2_Feature *const *features);

} // namespace lv2plugin
