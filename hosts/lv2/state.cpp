// The session's state: the mass count and the bank, as the text of the
// preset file it came from, so that a session plays without its files.

#include <algorithm>
#include <cstring>

#include "plugin.h"

namespace lv2plugin {

LV2_State_Status save(LV2_Handle h, LV2_State_Store_Function store, LV2_State_Handle handle, uint32_t,
                      const LV2_Feature *const *)
{
    Plugin *p = (Plugin *)h;
    std::string bank;
    int32_t nmasses;
    {
        std::lock_guard<std::mutex> g(p->kept.lock);
        bank = p->kept.bank;
        nmasses = p->kept.masses;
    }
    uint32_t flags = LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE;
    store(handle, p->uri.masses, &nmasses, sizeof nmasses, p->uri.atom_int, flags);
    if (!bank.empty())
        store(handle, p->uri.bank_text, bank.c_str(), bank.size() + 1, p->uri.atom_string, flags);
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
    // Work asked before the restore may finish after it: what it built is
    // dropped, and it no longer changes what a save stores.
    {
        std::lock_guard<std::mutex> g(p->kept.lock);
        p->kept.bank = bank;
        p->kept.masses = nmasses;
        p->kept.generation = ++p->worker.generation;
    }
    start(p, o, nmasses);
    return LV2_STATE_SUCCESS;
}

} // namespace lv2plugin
