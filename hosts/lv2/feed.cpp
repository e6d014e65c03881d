// The plugin's side of its window (the words are window.h's): a Watch asks
// for Frames and Profiles on the notify port, a Strike strikes, and a
// drawn profile goes to the object as a list on that profile's inlet.  All
// of it runs in run(): what it writes goes into the notify buffer when it
// fits, and what the session must keep or the log must say goes to the
// worker.

#include <cmath>
#include <cstddef>
#include <cstring>

#include <lv2/atom/util.h>

#include "../../src/object/view.h"
#include "plugin.h"
#include "window.h"

namespace lv2plugin {

using loopmass::MAXMASSES;
using loopmass::NOSC;

namespace {

// A drawn profile on its way to the copy a save stores.
struct KeepDrawn {
    uint32_t type; // WORK_KEEP_DRAWN
    uint32_t generation;
    int32_t kind, n;
    float values[MAXMASSES];
};

// Why a drawn profile was refused, for the worker to log.
enum { REFUSED_KIND, REFUSED_TYPE, REFUSED_EMPTY, REFUSED_LONG, REFUSED_NOT_FINITE };
struct Refused {
    uint32_t type; // WORK_REFUSED
    int32_t reason, kind, n;
};

const loopmass::t_loopmass *record(const Plugin *p)
{
    return (const loopmass::t_loopmass *)p->object->x;
}

void refuse(Plugin *p, int reason, int32_t kind, int32_t n)
{
    Refused r = {WORK_REFUSED, reason, kind, n};
    p->schedule->schedule_work(p->schedule->handle, sizeof r, &r);
}

// The integer in an Int or Long atom; false for any other.
bool integer(const Plugin *p, const LV2_Atom *a, int64_t *v)
{
    if (a && a->type == p->uri.atom_int)
        *v = ((const LV2_Atom_Int *)a)->body;
    else if (a && a->type == p->uri.atom_long)
        *v = ((const LV2_Atom_Long *)a)->body;
    else
        return false;
    return true;
}

// A window opens, asks another rate, or closes (rate 0).  Opening sends
// every profile and a frame at the end of this run.
void watch(Plugin *p, const LV2_Atom_Object *obj)
{
    const LV2_Atom *rate = nullptr;
    lv2_atom_object_get(obj, p->uri.rate, &rate, 0);
    int64_t r;
    if (!integer(p, rate, &r))
        return;
    Feed &f = p->feed;
    f.rate = (int)std::min<int64_t>(std::max<int64_t>(r, 0), lv2window::FRAMES_MAX);
    if (f.rate == 0)
        return;
    f.wait = 0;
    for (int k = 0; k < NKINDS; k++)
        f.sent_n[k] = -1;
}

// Adds a drawn list to what was drawn of its kind since the last recall.
void add_drawn(Plugin *p, int kind, int n, const float *values)
{
    Drawing &d = p->drawing;
    std::memcpy(d.drawn.values[kind - 1], values, (size_t)n * sizeof(float));
    d.drawn.n[kind - 1] = std::max(d.drawn.n[kind - 1], n);
    d.unkept[kind - 1] = true;
}

void send_list(Plugin *p, int kind, int n, const float *values)
{
    t_atom list[MAXMASSES];
    for (int i = 0; i < n; i++) {
        list[i].a_type = patcher::A_FLOAT;
        list[i].a_w.w_float = values[i];
    }
    lv2host::send(p->object, kind, lv2host::MSG_LIST, (short)n, list);
}

// patch:Set of `profile`: its kind and a Vector of finite Floats, at most
// one per mass of the largest ring.  Anything else is refused whole.
void draw(Plugin *p, const LV2_Atom_Object *obj)
{
    const LV2_Atom *kind_atom = nullptr, *value = nullptr;
    lv2_atom_object_get(obj, p->uri.kind, &kind_atom, p->uri.patch_value, &value, 0);
    int64_t kind;
    if (!integer(p, kind_atom, &kind) || kind < 1 || kind > NKINDS) {
        refuse(p, REFUSED_KIND, integer(p, kind_atom, &kind) ? (int32_t)kind : 0, 0);
        return;
    }
    const LV2_Atom_Vector *v = (const LV2_Atom_Vector *)value;
    if (!value || value->type != p->uri.atom_vector || value->size < sizeof(LV2_Atom_Vector_Body) ||
        v->body.child_type != p->uri.atom_float || v->body.child_size != sizeof(float)) {
        refuse(p, REFUSED_TYPE, (int32_t)kind, 0);
        return;
    }
    uint32_t count = (value->size - (uint32_t)sizeof(LV2_Atom_Vector_Body)) / sizeof(float);
    if (count == 0 || count > MAXMASSES) {
        refuse(p, count == 0 ? REFUSED_EMPTY : REFUSED_LONG, (int32_t)kind, (int32_t)count);
        return;
    }
    const float *values = (const float *)(v + 1);
    for (uint32_t i = 0; i < count; i++)
        if (!std::isfinite(values[i])) {
            refuse(p, REFUSED_NOT_FINITE, (int32_t)kind, (int32_t)count);
            return;
        }
    send_list(p, (int)kind, (int)count, values);
    add_drawn(p, (int)kind, (int)count, values);
}

// Room in the notify buffer for an atom of that many bytes after the
// events already written.
bool fits(const Plugin *p, uint32_t bytes)
{
    return p->notify.on && p->forge.offset + bytes <= p->forge.size;
}

// Bytes of an event holding an object, and of the properties it holds.
const uint32_t OBJECT_EVENT = sizeof(LV2_Atom_Event) + sizeof(LV2_Atom_Object_Body);
const uint32_t INT_PROPERTY = sizeof(LV2_Atom_Property_Body) + 8;
uint32_t vector_property(int n)
{
    return sizeof(LV2_Atom_Property_Body) + lv2_atom_pad_size(sizeof(LV2_Atom_Vector_Body) + n * sizeof(float));
}

void forge_floats(Plugin *p, LV2_URID key, int n, const float *v)
{
    lv2_atom_forge_key(&p->forge, key);
    lv2_atom_forge_vector(&p->forge, sizeof(float), p->uri.atom_float, (uint32_t)n, v);
}

// The profiles that changed since they were last sent, each only whole.
void send_profiles(Plugin *p)
{
    Feed &f = p->feed;
    for (int k = 0; k < NKINDS; k++) {
        loopmass::t_floats prof = loopmass::loopmass_view_profile(record(p), k + 1);
        if (prof.n == f.sent_n[k] && std::memcmp(prof.v, f.sent[k], (size_t)prof.n * sizeof(float)) == 0)
            continue;
        if (!fits(p, OBJECT_EVENT + INT_PROPERTY + vector_property(prof.n)))
            return;
        LV2_Atom_Forge_Frame frame;
        lv2_atom_forge_frame_time(&p->forge, 0);
        lv2_atom_forge_object(&p->forge, &frame, 0, p->uri.profile_object);
        lv2_atom_forge_key(&p->forge, p->uri.kind);
        lv2_atom_forge_int(&p->forge, k + 1);
        forge_floats(p, p->uri.values, prof.n, prof.v);
        lv2_atom_forge_pop(&p->forge, &frame);
        std::memcpy(f.sent[k], prof.v, (size_t)prof.n * sizeof(float));
        f.sent_n[k] = prof.n;
    }
}

// The ring's newest shape and the oscillators; skipped when it does not fit.
void send_frame(Plugin *p)
{
    const loopmass::t_loopmass *x = record(p);
    loopmass::t_floats ring = loopmass::loopmass_view_ring(x, 0);
    if (!fits(p, OBJECT_EVENT + vector_property(ring.n) + 2 * vector_property(NOSC) + INT_PROPERTY))
        return;
    float gains[NOSC];
    for (int k = 0; k < NOSC; k++)
        gains[k] = loopmass::loopmass_view_gain_now(x, k);
    LV2_Atom_Forge_Frame frame;
    lv2_atom_forge_frame_time(&p->forge, 0);
    lv2_atom_forge_object(&p->forge, &frame, 0, p->uri.frame);
    forge_floats(p, p->uri.ring, ring.n, ring.v);
    forge_floats(p, p->uri.phases, NOSC, loopmass::loopmass_view_phases(x).v);
    forge_floats(p, p->uri.gains, NOSC, gains);
    lv2_atom_forge_key(&p->forge, p->uri.preset);
    lv2_atom_forge_int(&p->forge, loopmass::loopmass_view_preset(x));
    lv2_atom_forge_pop(&p->forge, &frame);
}

// The kinds drawn or forgotten since the last run, toward the saved copy;
// a kind the worker cannot take now is tried again at the next run.
void keep(Plugin *p)
{
    Drawing &d = p->drawing;
    for (int k = 0; k < NKINDS; k++) {
        if (!d.unkept[k])
            continue;
        KeepDrawn m;
        m.type = WORK_KEEP_DRAWN;
        m.generation = p->worker.generation;
        m.kind = k + 1;
        m.n = d.drawn.n[k];
        std::memcpy(m.values, d.drawn.values[k], (size_t)m.n * sizeof(float));
        uint32_t size = (uint32_t)(offsetof(KeepDrawn, values) + (size_t)m.n * sizeof(float));
        if (p->schedule->schedule_work(p->schedule->handle, size, &m) == LV2_WORKER_SUCCESS)
            d.unkept[k] = false;
    }
}

} // namespace

bool window_message(Plugin *p, const LV2_Atom_Object *obj)
{
    LV2_URID type = obj->body.otype;
    if (type == p->uri.watch) {
        watch(p, obj);
        return true;
    }
    if (type == p->uri.strike) {
        strike(p);
        return true;
    }
    if (type != p->uri.patch_set)
        return false;
    const LV2_Atom *property = nullptr;
    lv2_atom_object_get(obj, p->uri.patch_property, &property, 0);
    if (!property || property->type != p->forge.URID || ((const LV2_Atom_URID *)property)->body != p->uri.profile)
        return false;
    draw(p, obj);
    return true;
}

void forget_drawn_kind(Plugin *p, int kind)
{
    Drawing &d = p->drawing;
    if (d.pending || d.drawn.n[kind - 1] == 0)
        return;
    d.drawn.n[kind - 1] = 0;
    d.unkept[kind - 1] = true;
}

void forget_drawn(Plugin *p)
{
    for (int k = 1; k <= NKINDS; k++)
        forget_drawn_kind(p, k);
}

void play_drawn(Plugin *p)
{
    Drawing &d = p->drawing;
    if (!d.pending)
        return;
    for (int k = 0; k < NKINDS; k++)
        if (d.drawn.n[k] > 0)
            send_list(p, k + 1, d.drawn.n[k], d.drawn.values[k]);
    d.pending = false;
}

void feed_window(Plugin *p, uint32_t n)
{
    keep(p);
    Feed &f = p->feed;
    if (f.rate == 0 || !p->notify.on)
        return;
    send_profiles(p);
    // At most one frame a run: a window shows the newest.
    f.wait -= n;
    if (f.wait <= 0) {
        send_frame(p);
        double period = p->rate / f.rate;
        f.wait = f.wait + period > 0 ? f.wait + period : period;
    }
}

void keep_drawn(Plugin *p, uint32_t size, const void *data)
{
    KeepDrawn m;
    if (size < offsetof(KeepDrawn, values) || size > sizeof m)
        return;
    std::memcpy(&m, data, size);
    if (m.kind < 1 || m.kind > NKINDS || m.n < 0 || size != offsetof(KeepDrawn, values) + (size_t)m.n * sizeof(float))
        return;
    std::lock_guard<std::mutex> g(p->kept.lock);
    if (m.generation != p->kept.generation)
        return;
    p->kept.drawn.n[m.kind - 1] = m.n;
    std::memcpy(p->kept.drawn.values[m.kind - 1], m.values, (size_t)m.n * sizeof(float));
}

void log_refused(Plugin *p, uint32_t size, const void *data)
{
    Refused r;
    if (size != sizeof r)
        return;
    std::memcpy(&r, data, size);
    switch (r.reason) {
    case REFUSED_KIND:
        lv2_log_error(&p->logger, "loopmass: a drawn profile needs a kind from 1 to 6, not %d\n", (int)r.kind);
        break;
    case REFUSED_TYPE:
        lv2_log_error(&p->logger, "loopmass: a drawn profile (kind %d) needs a vector of floats\n", (int)r.kind);
        break;
    case REFUSED_EMPTY:
        lv2_log_error(&p->logger, "loopmass: a drawn profile (kind %d) has no values\n", (int)r.kind);
        break;
    case REFUSED_LONG:
        lv2_log_error(&p->logger,
                      "loopmass: a drawn profile (kind %d) has %d values, more than the %d masses a ring may have\n",
                      (int)r.kind, (int)r.n, MAXMASSES);
        break;
    case REFUSED_NOT_FINITE:
        lv2_log_error(&p->logger, "loopmass: a drawn profile (kind %d) holds a value that is not a finite number\n",
                      (int)r.kind);
        break;
    }
}

} // namespace lv2plugin
