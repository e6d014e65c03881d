// The notes a MIDI keyboard plays, each on one of the object's five
// oscillators: a note owns its oscillator from its note on until its
// release has faded, so that the oscillators of the other notes never
// change under them.  A sustain pedal keeps released notes sounding, and a
// pitch bend moves every sounding note, fading ones included.
#pragma once

#include <cstdint>

#include "../../src/object/loopmass.h"

namespace lv2keys {

const int MAXNOTES = loopmass::NOSC;

enum e_state {
    FREE,      // no note: the oscillator keeps its last pitch, silent
    HELD,      // the key is down
    SUSTAINED, // let go while the pedal is down
    FADING     // released: silent once its fade has run
};

struct Voice {
    e_state state;
    uint8_t note;
    uint8_t velocity;
    uint64_t age;   // order of note ons: the smallest is the oldest
    uint64_t until; // FADING: the sample from which it is silent
    float pitch;    // the last pitch sent
};

struct Keys {
    Voice voice[MAXNOTES];
    bool pedal;
    int bend;      // 14-bit wheel position, 8192 at rest
    uint64_t ages; // note ons so far
    uint64_t now;  // the first sample of the vector the next events act in
};

void keys_clear(Keys *k);

// The time of the events that follow, as the first sample of the vector
// they act in; the releases that have faded by then free their
// oscillators.
void keys_time(Keys *k, uint64_t start);

// A note takes the oscillator it already owns (fading, held or kept by the
// pedal), else a free one (the lowest), else that of the fading note
// nearest the end of its fade, else that of the oldest held note, which is
// cut.  Returns true when another note is held (by its key or the pedal).
bool keys_press(Keys *k, int note, int velocity);

// The note starts fading over fade samples, or stays under the pedal.
// Returns true when it started fading.
bool keys_release(Keys *k, int note, uint64_t fade);

// Pedal down (true) or up; returns true when notes started fading.
bool keys_pedal(Keys *k, bool down, uint64_t fade);

// Every held note starts fading; the pedal stays as it is.
void keys_release_all(Keys *k, uint64_t fade);

// True when a note is held by its key or the pedal.
bool keys_holding(const Keys *k);

// True when a note sounds: held, or fading.
bool keys_sounding(const Keys *k);

// The oscillators without a note forget their last pitch.
void keys_forget(Keys *k);

// The pitch and gain of each oscillator: pitch in Hz at 44100 Hz for a
// plugin host running at rate, the bend moving every note still sounding;
// gain from the velocity times scale for a held note, 0 otherwise.
void keys_pairs(Keys *k, double bend_range, double scale, double rate, float *pitch, float *gain);

} // namespace lv2keys
