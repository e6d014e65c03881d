// The vectors, on the grid of the host's timeline: each sample leaves
// LATENCY samples after it was due, and a transport start or relocate
// brings the grid and the haptic steps onto the timeline's multiples.

#include <algorithm>
#include <cmath>
#include <cstring>

#include <lv2/atom/util.h>

#include "plugin.h"

namespace lv2plugin {

// The first sample of the vector that a message sent now acts in: a ramp
// it starts runs from there.
uint64_t vector_start(const Plugin *p)
{
    return p->grid.vstart;
}

// The grid at activation: nothing played, no timeline.
void grid_start(Plugin *p)
{
    Grid &g = p->grid;
    g.time = 0;
    g.vstart = 0;
    g.vend = lv2host::VECTOR;
    g.rolling = false;
    std::memset(g.vector, 0, sizeof g.vector);
    std::memset(g.delayed, 0, sizeof g.delayed);
}

// Runs the vector under way, [vstart, vend), into the line of samples
// waiting to leave; the next one is a whole vector.
static void run_vector(Plugin *p)
{
    Grid &g = p->grid;
    int n = (int)(g.vend - g.vstart);
    lv2host::object_vector(p->object, n);
    for (int i = 0; i < n; i++)
        g.delayed[(g.vstart + (uint64_t)i) % DELAYED] = g.vector[i];
    g.vstart = g.vend;
    g.vend = g.vstart + lv2host::VECTOR;
}

// Output of frames [from, to): each sample leaves VECTOR - 1 samples after
// it was due; a vector is run at its last sample.
void advance(Plugin *p, float *out, uint32_t from, uint32_t to)
{
    Grid &g = p->grid;
    while (from < to) {
        if (g.time + 1 == g.vend)
            run_vector(p);
        uint32_t count = (uint32_t)std::min<uint64_t>(to - from, g.vend - 1 - g.time);
        if (out)
            for (uint32_t i = 0; i < count; i++)
                out[from + i] = g.delayed[(g.time + i + DELAYED - (uint64_t)LATENCY) % DELAYED];
        from += count;
        g.time += count;
    }
}

static int64_t floor_div(int64_t a, int64_t b)
{
    return a / b - (a % b < 0 ? 1 : 0);
}
static int64_t floor_mod(int64_t a, int64_t b)
{
    return a - floor_div(a, b) * b;
}

// The haptic counter the vector starting at timeline frame t needs for the
// steps to fall on the timeline's multiples of 256 from the next vector
// that starts on one of its multiples of VECTOR.  A shorter first vector
// ends there, and must bring the counter to that vector's value.
static int counter_at(int64_t t)
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
static void align(Plugin *p, int64_t t)
{
    Grid &g = p->grid;
    if (g.time > g.vstart) {
        g.vend = g.time;
        run_vector(p);
    }
    g.vend = g.vstart + (uint64_t)(lv2host::VECTOR - floor_mod(t, lv2host::VECTOR));
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

static bool number(const Plugin *p, const LV2_Atom *a, double *v)
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
    Grid &g = p->grid;
    const LV2_Atom *frame_atom = nullptr, *speed_atom = nullptr;
    lv2_atom_object_get(obj, p->uri.time_frame, &frame_atom, p->uri.time_speed, &speed_atom, 0);
    double frame, speed;
    if (!number(p, frame_atom, &frame) || !number(p, speed_atom, &speed) || std::fabs(frame) > 9e18)
        return;
    if (speed == 0) {
        g.rolling = false;
        return;
    }
    int64_t t = (int64_t)frame;
    bool moved = !g.rolling || (speed == 1 && t != g.timeline + (int64_t)g.time);
    g.rolling = true;
    g.timeline = t - (int64_t)g.time;
    if (moved)
        align(p, t);
}

bool is_position(const Plugin *p, const LV2_Atom *a)
{
    return lv2_atom_forge_is_object_type(&p->forge, a->type) &&
           ((const LV2_Atom_Object *)a)->body.otype == p->uri.time_position;
}

} // namespace lv2plugin
