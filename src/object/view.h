// What a host, a tool, a test or a window may know of a running loopmass~:
// copies and const spans of its state, read without a host call.  Anything
// outside the object reads it through these, so that the record's layout
// stays the object's own business.
#pragma once

#include "loopmass.h"

namespace loopmass {

// A run of floats owned by the object, valid until its next message or
// signal vector.
struct t_floats {
    const float *v;
    int n;
    const float &operator[](int i) const { return v[i]; }
    const float *begin() const { return v; }
    const float *end() const { return v + n; }
};

// The mass count as the object holds it.
int32_t loopmass_view_nmasses(const t_loopmass *x);
// The ring's shape `back` haptic steps ago: 0 the newest, 1 and 2 the two
// before it.
t_floats loopmass_view_ring(const t_loopmass *x, int back = 0);
// Haptic steps taken since creation, wrapping: how many a vector ran.
uint32_t loopmass_view_steps(const t_loopmass *x);

// Profile kind k (1 to 6) as set, and as the ring uses it.
t_floats loopmass_view_raw(const t_loopmass *x, int k);
t_floats loopmass_view_profile(const t_loopmass *x, int k);
// The metaparameters of profile kind k.
struct t_meta {
    float gain, offset, phase, extra;
};
t_meta loopmass_view_meta(const t_loopmass *x, int k);

// The oscillators' pitches, gains as set and phases, NOSC each.
t_floats loopmass_view_pitches(const t_loopmass *x);
t_floats loopmass_view_gains(const t_loopmass *x);
t_floats loopmass_view_phases(const t_loopmass *x);
// The gain oscillator k sounds at now: on its way along a ramp, or 0 for
// one that is silent, whatever its gain as set.
float loopmass_view_gain_now(const t_loopmass *x, int k);
float loopmass_view_autonorm(const t_loopmass *x);

// The preset last recalled (0 for none).
int32_t loopmass_view_preset(const t_loopmass *x);

// The display switches and intervals.
struct t_display {
    int32_t tick;     // haptic steps between motion lists
    int16_t inactive; // 1: signal processing off
    int16_t display;  // 1: motion lists sent
    double disprate;  // milliseconds between motion lists
};
t_display loopmass_view_display(const t_loopmass *x);

// The shaping of the output: gain ramp time, low cut corner, and whether
// pitches take the host's rate (and the rate they are worked at).
struct t_shaping {
    float ramp_ms;
    float lowcut_hz;
    int16_t hostrate;
    double rate;
};
t_shaping loopmass_view_shaping(const t_loopmass *x);

// The preset bank: its counters, its index (cleared entries included, as
// number -1) and its message store, which a host may read but never change.
struct t_bankview {
    int32_t nmasses, version, entries, cleared, stored;
    const t_bankentry *index;
    int nindex;
    t_binbuf *store;
};
t_bankview loopmass_view_bank(const t_loopmass *x);
// The numbers of the presets the bank holds, each once, in the order they
// were first stored; at most max written, the count returned.
int loopmass_view_presets(const t_loopmass *x, int32_t *numbers, int max);
// Preset n's six profiles as stored (n values each, forces and initial
// position from 0 to 1); false when the bank holds no preset n.
bool loopmass_view_stored(const t_loopmass *x, int32_t n, t_block stored);

// The ring's motion run again away from the object, for a window that
// shows steps a vector ran past the shapes the object keeps: `copy` takes
// what a haptic step reads (profiles and the last two shapes), then steps
// on its own, giving the shape each step leaves.  `copy` is a record only
// ever used this way, zeroed when made.
void loopmass_view_copy_ring(const t_loopmass *x, t_loopmass *copy);
t_floats loopmass_view_step_copy(t_loopmass *copy);

} // namespace loopmass
