// The bank's patch messages: patch:Set of the bank loads a preset file,
// and the notify port tells which file the playing object read.

#include <cstring>

#include <lv2/atom/util.h>
#include <lv2/patch/patch.h>

#include "plugin.h"

namespace lv2plugin {

void tell_bank(Plugin *p)
{
    if (!p->notify.on)
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
    p->notify.on = seq != nullptr;
    if (!seq)
        return;
    lv2_atom_forge_set_buffer(&p->forge, (uint8_t *)seq, seq->atom.size);
    lv2_atom_forge_sequence_head(&p->forge, &p->notify.frame, 0);
}

void end_notify(Plugin *p)
{
    if (p->notify.on)
        lv2_atom_forge_pop(&p->forge, &p->notify.frame);
}

// patch:Set of the bank loads a preset file; patch:Get tells which.  The
// window's messages are feed.cpp's.
void message(Plugin *p, const LV2_Atom_Object *obj)
{
    if (window_message(p, obj))
        return;
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
    Worker &w = p->worker;
    std::memcpy(w.load_path, path, len);
    w.load_path[len] = '\0';
    w.load_waiting = true;
    if (ask_load(p))
        w.load_waiting = false;
}

} // namespace lv2plugin
