// The notes a MIDI keyboard holds, as the object's five oscillators play
// them: oldest first, at most five, a sustain pedal that keeps released
// notes sounding, and a pitch bend over all of them.
#pragma once

#include <cstdint>

#include "../../src/object/loopmass.h"

namespace lv2keys {

const int MAXNOTES = loopmass::NOSC;

struct Keys {
    int count;
    uint8_t note[MAXNOTES];
    uint8_t velocity[MAXNOTES];
    bool released[MAXNOTES]; // let go while the pedal is down
    bool pedal;
    int bend;                // 14-bit wheel position, 8192 at rest
};

void keys_clear(Keys *k);

// A note joins as the newest (leaving its old place if it already sounds);
// a sixth makes the oldest leave.  Returns true when another note was
// sounding besides it.
bool keys_press(Keys *k, int note, int velocity);

// Returns true when the sounding notes changed: the note left, or it stays
// under the pedal (false).
bool keys_release(Keys *k, int note);

// Pedal down (true) or up; returns true when notes left.
bool keys_pedal(Keys *k, bool down);

// Every note leaves, the pedal stays as it is.
void keys_release_all(Keys *k);

// The pitch and gain pairs of the sounding notes, oldest first: pitch in Hz
// at 44100 Hz for a plugin host running at rate, gain from the velocity
// times volume.  Returns the number of pairs.
int keys_pairs(const Keys *k, double bend_range, double volume, double rate, float *pitch, float *gain);

} // namespace lv2keys
