// The patcher host interface inside an LV2 plugin.  A plugin instance plays
// one object at a time; objects are built, read their presets and are freed
// off the audio thread, and the audio thread only sends them messages and
// runs their signal vectors, which allocates nothing and takes no lock.
//
// It keeps the rules of patcher.h on what the object can observe, in its
// own terms:
// - Vectors: VECTOR (64) samples, whatever block sizes the plugin host
//   passes, on a grid that follows the plugin host's timeline where it has
//   one: at a transport start or relocate the vector under way ends there,
//   and when the timeline frame is no multiple of VECTOR one shorter vector
//   brings the grid back onto the multiples of VECTOR from the timeline's
//   zero.  Without a timeline the grid starts at activation.  Messages act
//   at the start of the vector their event falls in; the timeline's comes
//   first, so the other events of its frame fall in the vector it starts.
// - Haptic steps: loopmass~ steps its ring at the start of a vector when a
//   counter is 0; a vector of n < 256 samples then moves the counter to
//   (counter + 1) mod round(256 / n), and a new object starts it at 0.  The
//   host keeps the same counter (the object is never switched off), so at a
//   start or relocate while no note sounds it brings the counter to the
//   value that puts the steps on the timeline's multiples of 256, with
//   vectors whose output it drops and whose samples the clocks do not
//   count, then strikes and stops the ring.  Nothing sounds, so none of it
//   is heard, and the object starts the same whatever came before: ring at
//   rest, oscillators at phase 0.  (A ring at rest does not stay at rest by
//   itself: a preset with forces moves it.)  A note held at the start keeps
//   its sound and the counter it has.
// - Clocks: a scheduler pass comes before each vector, in milliseconds of
//   the object's timeline (the samples of the vectors run, at the plugin
//   host's rate).  Messages are handled between passes; a clock they arm
//   counts its delay from the start of the next vector.
// - Files: no folders.  An absolute name is a file on disk, read only; a
//   relative name is the bank text the plugin keeps in its state.  Nothing
//   is ever written, and no dialog is shown: both report a cancel.
// Besides:
// - Console lines go to the plugin host's log, from the thread that builds
//   or frees objects; a line posted on the audio thread is dropped (the
//   messages the plugin sends there never post).
// - The calendar is fixed at SEED, so the random presets of every session
//   draw the same values.  The generator the object draws from is its own:
//   the host puts its state in place around each message and vector, as if
//   every object had a thread of its own.
#pragma once

#include <cstdint>
#include <string>

#include "../../src/object/patcher.h"
#include "../common/clocks.h"

namespace lv2host {

const int VECTOR = 64;
const long SEED = 0;
// Clocks one object may run; loopmass~ makes one.
const int MAXCLOCKS = 4;

// Where the console lines of a build go.
struct Console {
    void (*line)(void *owner, bool is_error, const char *text);
    void *owner;
};

// One object and what the host keeps for it.
struct Object {
    patcher::t_class *c;
    void *x;                      // the record
    int32_t *stuffloc;            // the record's inlet-number field
    clocks::Queue<double> clocks; // room for MAXCLOCKS, due in ms of its timeline
    patcher::t_int w[8];          // w[0] the perform routine, then its arguments
    uint64_t samples;             // samples of the vectors run so far
    double rate;                  // the plugin host's sample rate
    float *vector;                // where the signal goes
    int n;                        // samples per vector, as dsp was told
    int counter;                  // the haptic counter, as the object keeps it
    uint32_t generator;           // the state of its random generator
};

// What one build reads and what it found: bank is the text that relative
// names designate; read receives the text of the last file read from disk.
struct Build {
    Console console;
    std::string bank;
    std::string read;
};

// Registers loopmass~ once per process and finds the methods and symbols
// that the audio thread sends; nullptr when the class cannot be played.
patcher::t_class *load(const Console &console);

// A new object of class c, its signal going to vector (VECTOR samples), or
// nullptr when it does not make a perform routine.
Object *object_new(Build &b, patcher::t_class *c, short argc, patcher::t_atom *argv, float *vector, double rate);
void object_free(Object *o, const Console &console);

// Reads a preset file into a loopmass~ object's bank (an absolute path, or
// a relative name for b.bank) through the object's own read message; 0
// when it did.  A failure is posted.
short object_read(Object *o, Build &b, const char *name);

// One scheduler pass, then one vector of n (1 to VECTOR) samples into the
// object's vector.
void object_vector(Object *o, int n);

// Vectors per haptic step for vectors of n (1 to VECTOR) samples.
int vectors_per_step(int n);

// Brings the haptic counter to value (0 to 255) with vectors whose output
// is dropped and that no clock sees.  Only for an object that no note
// sounds: the steps they make may move its ring.
void object_count_to(Object *o, int value);

// Messages the audio thread sends, none of which allocates.
enum e_message {
    MSG_INT,
    MSG_FLOAT,
    MSG_BANG,
    MSG_STOP,
    MSG_FG,
    MSG_GAIN,
    MSG_OFFSET,
    MSG_PHASE,
    MSG_EXTRA,
    MSG_RAMP,
    MSG_LOWCUT,
    MSG_LIST,
    NMESSAGES
};
void send(Object *o, int inlet, e_message m, short argc, patcher::t_atom *argv);
void send_long(Object *o, int inlet, int32_t v);
void send_float(Object *o, int inlet, float v);

} // namespace lv2host
