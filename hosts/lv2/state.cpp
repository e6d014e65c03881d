// The session's state: the mass count and the bank, as the text of the
// preset file it came from, so that a session plays without its files,
// and the profiles drawn since the last recall, each a Vector of Float.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include <lv2/atom/atom.h>

#include "plugin.h"

namespace lv2plugin {

// A drawn profile as a state value: a vector body, then its floats.
static void store_drawn(Plugin *p, LV2_State_Store_Function store, LV2_State_Handle handle, int k, const Drawn &d)
{
    std::vector<uint8_t> value(sizeof(LV2_Atom_Vector_Body) + (size_t)d.n[k] * sizeof(float));
    LV2_Atom_Vector_Body body = {sizeof(float), p->uri.atom_float};
    std::memcpy(value.data(), &body, sizeof body);
    std::memcpy(value.data() + sizeof body, d.values[k], (size_t)d.n[k] * sizeof(float));
    store(handle, p->uri.drawn[k], value.data(), value.size(), p->uri.atom_vector,
          LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE);
}

// The drawn profile of kind k + 1 a session holds; one that is not a
// vector of 1 to MAXMASSES finite floats is dropped with a line in the log.
static void retrieve_drawn(Plugin *p, LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle, int k, Drawn *d)
{
    size_t size;
    uint32_t type, flags;
    d->n[k] = 0;
    const void *v = retrieve(handle, p->uri.drawn[k], &size, &type, &flags);
    if (!v)
        return;
    LV2_Atom_Vector_Body body;
    size_t count = 0;
    bool good = type == p->uri.atom_vector && size >= sizeof body;
    if (good) {
        std::memcpy(&body, v, sizeof body);
        count = (size - sizeof body) / sizeof(float);
        good = body.child_type == p->uri.atom_float && body.child_size == sizeof(float) &&
               size == sizeof body + count * sizeof(float) && count >= 1 && count <= (size_t)loopmass::MAXMASSES;
    }
    if (good) {
        std::memcpy(d->values[k], (const uint8_t *)v + sizeof body, count * sizeof(float));
        for (size_t i = 0; i < count; i++)
            good = good && std::isfinite(d->values[k][i]);
    }
    if (!good) {
        lv2_log_error(&p->logger, "loopmass: the session's drawn profile of kind %d does not read; it is dropped\n",
                      k + 1);
        return;
    }
    d->n[k] = (int32_t)count;
}

LV2_State_Status save(LV2_Handle h, LV2_State_Store_Function store, LV2_State_Handle handle, uint32_t,
                      const LV2_Feature *const *)
{
    Plugin *p = (Plugin *)h;
    std::string bank;
    int32_t nmasses;
    Drawn drawn;
    {
        std::lock_guard<std::mutex> g(p->kept.lock);
        bank = p->kept.bank;
        nmasses = p->kept.masses;
        drawn = p->kept.drawn;
    }
    uint32_t flags = LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE;
    store(handle, p->uri.masses, &nmasses, sizeof nmasses, p->uri.atom_int, flags);
    if (!bank.empty())
        store(handle, p->uri.bank_text, bank.c_str(), bank.size() + 1, p->uri.atom_string, flags);
    for (int k = 0; k < NKINDS; k++)
        if (drawn.n[k] > 0)
            store_drawn(p, store, handle, k, drawn);
    return LV2_STATE_SUCCESS;
}

LV2_State_Status restore(LV2_Handle h, LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle, uint32_t,
                         const LV2_Feature *const *)
{
    Plugin *p = (Plugin *)h;
    size_t size;
    uint32_t type, flags;
    int nmasses = p->worker.want_masses;
    const void *v = retrieve(handle, p->uri.masses, &size, &type, &flags);
    if (v && type == p->uri.atom_int && size == sizeof(int32_t))
        nmasses = std::min(std::max(*(const int32_t *)v, (int32_t)MASSES.min), (int32_t)MASSES.max);
    std::string bank;
    v = retrieve(handle, p->uri.bank_text, &size, &type, &flags);
    if (v && type == p->uri.atom_string)
        bank.assign((const char *)v, strnlen((const char *)v, size));

    Object *o = build(p, nmasses, bank, nullptr, nullptr);
    if (!o && !bank.empty()) {
        // A bank that does not read (its error is in the log) is dropped.
        bank.clear();
        o = build(p, nmasses, bank, nullptr, nullptr);
    }
    if (!o)
        return LV2_STATE_ERR_UNKNOWN;
    Drawn drawn;
    for (int k = 0; k < NKINDS; k++)
        retrieve_drawn(p, retrieve, handle, k, &drawn);
    // Work asked before the restore may finish after it: what it built is
    // dropped, and it no longer changes what a save stores.
    {
        std::lock_guard<std::mutex> g(p->kept.lock);
        p->kept.bank = bank;
        p->kept.masses = nmasses;
        p->kept.drawn = drawn;
        p->kept.generation = ++p->worker.generation;
    }
    start(p, o, nmasses);
    // The drawn profiles go to the object after the recall that the
    // restored controls make at the next run.
    Drawing &d = p->drawing;
    d.drawn = drawn;
    d.pending = false;
    for (int k = 0; k < NKINDS; k++) {
        d.unkept[k] = false;
        d.pending = d.pending || drawn.n[k] > 0;
    }
    return LV2_STATE_SUCCESS;
}

} // namespace lv2plugin
