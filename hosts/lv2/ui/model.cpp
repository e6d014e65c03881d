#include "model.h"

#include <algorithm>
#include <cstring>

#include <lv2/atom/util.h>
#include <lv2/midi/midi.h>
#include <lv2/patch/patch.h>

#include "../window.h"

namespace lv2ui {

void map_uris(Uris *uri, LV2_URID_Map *map)
{
    Uris &u = *uri;
    auto m = [map](const char *s) { return map->map(map->handle, s); };
    u.event_transfer = m(LV2_ATOM__eventTransfer);
    u.atom_float = m(LV2_ATOM__Float);
    u.atom_int = m(LV2_ATOM__Int);
    u.atom_vector = m(LV2_ATOM__Vector);
    u.atom_object = m(LV2_ATOM__Object);
    u.atom_urid = m(LV2_ATOM__URID);
    u.patch_set = m(LV2_PATCH__Set);
    u.patch_property = m(LV2_PATCH__property);
    u.patch_value = m(LV2_PATCH__value);
    u.midi_event = m(LV2_MIDI__MidiEvent);
    u.watch = m(LOOPMASS__Watch);
    u.frame = m(LOOPMASS__Frame);
    u.profile_type = m(LOOPMASS__Profile);
    u.strike = m(LOOPMASS__Strike);
    u.rate = m(LOOPMASS__rate);
    u.ring = m(LOOPMASS__ring);
    u.phases = m(LOOPMASS__phases);
    u.gains = m(LOOPMASS__gains);
    u.preset = m(LOOPMASS__preset);
    u.profile = m(LOOPMASS__profile);
    u.kind = m(LOOPMASS__kind);
    u.values = m(LOOPMASS__values);
}

void model_clear(Model *m)
{
    std::memset(m, 0, sizeof *m);
}

// The floats of a Vector atom, at most `most`; 0 for anything else.
static int floats_of(const Uris &u, const LV2_Atom *a, const float **v, int most)
{
    if (!a || a->type != u.atom_vector || a->size < sizeof(LV2_Atom_Vector_Body))
        return 0;
    const LV2_Atom_Vector_Body *body = (const LV2_Atom_Vector_Body *)LV2_ATOM_BODY_CONST(a);
    if (body->child_type != u.atom_float || body->child_size != sizeof(float))
        return 0;
    *v = (const float *)(body + 1);
    return std::min((int)((a->size - sizeof *body) / sizeof(float)), most);
}

static bool int_of(const Uris &u, const LV2_Atom *a, int *v)
{
    if (!a || a->type != u.atom_int || a->size < sizeof(int32_t))
        return false;
    *v = ((const LV2_Atom_Int *)a)->body;
    return true;
}

static bool take_frame(Model *m, const Uris &u, const LV2_Atom_Object *obj)
{
    const LV2_Atom *ring = nullptr, *phases = nullptr, *gains = nullptr, *preset = nullptr;
    lv2_atom_object_get(obj, u.ring, &ring, u.phases, &phases, u.gains, &gains, u.preset, &preset, 0);
    const float *v = nullptr;
    int n = floats_of(u, ring, &v, MAXMASSES);
    if (n < loopmass::MINMASSES)
        return false;
    m->nmasses = n;
    std::memcpy(m->ring, v, n * sizeof(float));
    std::memcpy(m->history[m->head], v, n * sizeof(float));
    m->history_n[m->head] = n;
    m->head = (m->head + 1) % HISTORY;
    int k = floats_of(u, phases, &v, NOSC);
    std::copy(v, v + k, m->phases);
    k = floats_of(u, gains, &v, NOSC);
    std::copy(v, v + k, m->gains);
    int_of(u, preset, &m->preset);
    m->frames++;
    return true;
}

static bool take_profile(Model *m, const Uris &u, const LV2_Atom_Object *obj, int drawing)
{
    const LV2_Atom *kind = nullptr, *values = nullptr;
    lv2_atom_object_get(obj, u.kind, &kind, u.values, &values, 0);
    int k;
    const float *v = nullptr;
    int n = floats_of(u, values, &v, MAXMASSES);
    if (!int_of(u, kind, &k) || k < 1 || k > NKINDS || k == drawing || n < 1)
        return false;
    m->profile_n[k - 1] = n;
    std::memcpy(m->profile[k - 1], v, n * sizeof(float));
    return true;
}

bool model_atom(Model *m, const Uris &u, const LV2_Atom *atom, int drawing)
{
    if (atom->type != u.atom_object)
        return false;
    const LV2_Atom_Object *obj = (const LV2_Atom_Object *)atom;
    if (obj->body.otype == u.frame)
        return take_frame(m, u, obj);
    if (obj->body.otype == u.profile_type)
        return take_profile(m, u, obj, drawing);
    return false;
}

} // namespace lv2ui
