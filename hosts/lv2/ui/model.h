// What the window knows of the plugin: the atoms of its notify port and
// the values of its control ports, as they arrive, and the ring's recent
// past that the colour map scrolls through.  Nothing here draws or talks
// to a display, so a test can fill it and look at it.
#pragma once

#include <cstdint>

#include <lv2/atom/atom.h>
#include <lv2/urid/urid.h>

#include "../plugin.h"

namespace lv2ui {

using loopmass::MAXMASSES;
using loopmass::NKINDS;
using loopmass::NOSC;
using lv2plugin::NPORTS;

// Frames the colour map keeps: ten seconds at the rate the window asks.
const int HISTORY = 300;

struct Uris {
    LV2_URID event_transfer, atom_float, atom_int, atom_vector, atom_object, atom_urid;
    LV2_URID patch_set, patch_property, patch_value, midi_event;
    LV2_URID watch, frame, profile_type, strike, rate, ring, phases, gains, preset, profile, kind, values;
};
void map_uris(Uris *u, LV2_URID_Map *map);

struct Model {
    // The newest Frame.
    int nmasses;
    float ring[MAXMASSES];
    float phases[NOSC], gains[NOSC];
    int preset;
    int frames; // Frames received

    // The effective profiles, as the newest Profile of each kind said.
    int profile_n[NKINDS];
    float profile[NKINDS][MAXMASSES];

    // The ring's shapes, oldest first from `head`, history_n[j] masses each
    // (0 before the first frame).
    float history[HISTORY][MAXMASSES];
    int history_n[HISTORY];
    int head;

    // The control ports, as the host last said.
    float port[NPORTS];
};

void model_clear(Model *m);
// Takes in an atom of the notify port; true when it changed what is shown.
// A profile kind equal to `drawing` is left alone: the hand draws it.
bool model_atom(Model *m, const Uris &u, const LV2_Atom *atom, int drawing);

} // namespace lv2ui
