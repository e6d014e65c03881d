// Objects are built and freed by the worker, off the audio thread, and
// swapped in between two vectors; the session's own object is built where
// the host allows it.  A restore starts a new generation: what the worker
// built for an older one is out of date.

#include <cmath>
#include <cstddef>
#include <cstring>

#include "plugin.h"

namespace lv2plugin {

// Work for the worker, and its replies.
struct Request {
    uint32_t type;
    uint32_t generation;
    int32_t nmasses;
    Object *object;     // WORK_FREE
    char path[PATHMAX]; // WORK_LOAD
};
struct Reply {
    Object *object; // nullptr when the build failed
    uint32_t generation;
    char path[PATHMAX]; // the file loaded, or ""
};

// An object of nmasses masses with the bank given (a preset file's text) or
// read from path; read receives the text of the file.
Object *build(Plugin *p, int nmasses, const std::string &bank, const char *path, std::string *read)
{
    lv2host::Build b{console_of(p), bank, std::string()};
    t_atom arg;
    arg.a_type = patcher::A_LONG;
    arg.a_w.w_long = nmasses;
    Object *o = lv2host::object_new(b, p->object_class, 1, &arg, p->grid.vector, p->rate);
    const char *name = path ? path : bank.empty() ? nullptr : "bank";
    if (o && name && lv2host::object_read(o, b, name) != 0) {
        lv2host::object_free(o, b.console);
        return nullptr;
    }
    if (o && read)
        *read = b.read;
    return o;
}

bool room(const Plugin *p)
{
    const Worker &w = p->worker;
    return w.outstanding + w.ndiscard + (w.arrived ? 1 : 0) + 1 < NSLOTS;
}

bool ask(Plugin *p, uint32_t type, const char *path, Object *o)
{
    Request r;
    r.type = type;
    r.generation = p->worker.generation;
    r.nmasses = p->worker.want_masses;
    r.object = o;
    size_t len = path ? std::strlen(path) : 0;
    std::memcpy(r.path, path ? path : "", len + 1);
    uint32_t size = (uint32_t)(offsetof(Request, path) + len + 1);
    if (p->schedule->schedule_work(p->schedule->handle, size, &r) != LV2_WORKER_SUCCESS)
        return false;
    if (type != WORK_FREE)
        p->worker.outstanding++;
    return true;
}

static void discard(Plugin *p, Object *o)
{
    if (o)
        p->worker.discard[p->worker.ndiscard++] = o;
}

// The objects waiting go back to the worker; those it cannot take now wait
// for the next run.
void release(Plugin *p)
{
    Worker &w = p->worker;
    int kept = 0;
    for (int i = 0; i < w.ndiscard; i++)
        if (!ask(p, WORK_FREE, nullptr, w.discard[i]))
            w.discard[kept++] = w.discard[i];
    w.ndiscard = kept;
}

bool ask_load(Plugin *p)
{
    return p->worker.load_waiting && room(p) && ask(p, WORK_LOAD, p->worker.load_path, nullptr);
}

// The bank a save stores, read under the lock.
static std::string kept_bank(Plugin *p)
{
    std::lock_guard<std::mutex> g(p->kept.lock);
    return p->kept.bank;
}

// Copies a request or a reply, sent with its path cut after the path's
// end, out of the worker's buffer; false for a size it cannot have.
template <class Message> static bool unpack(Message *m, uint32_t size, const void *data)
{
    if (size < offsetof(Message, path) + 1 || size > sizeof *m)
        return false;
    std::memcpy(m, data, size);
    m->path[size - offsetof(Message, path) - 1] = '\0';
    return true;
}

LV2_Worker_Status work(LV2_Handle h, LV2_Worker_Respond_Function respond, LV2_Worker_Respond_Handle handle,
                       uint32_t size, const void *data)
{
    Plugin *p = (Plugin *)h;
    uint32_t type = 0;
    if (size >= sizeof type)
        std::memcpy(&type, data, sizeof type);
    if (type == WORK_KEEP_DRAWN) {
        keep_drawn(p, size, data);
        return LV2_WORKER_SUCCESS;
    }
    if (type == WORK_REFUSED) {
        log_refused(p, size, data);
        return LV2_WORKER_SUCCESS;
    }
    Request r;
    if (!unpack(&r, size, data))
        return LV2_WORKER_ERR_UNKNOWN;
    if (r.type == WORK_FREE) {
        lv2host::object_free(r.object, console_of(p));
        return LV2_WORKER_SUCCESS;
    }
    Reply reply;
    reply.generation = r.generation;
    reply.path[0] = '\0';
    if (r.type == WORK_LOAD) {
        std::string read;
        reply.object = build(p, r.nmasses, std::string(), r.path, &read);
        if (reply.object) {
            std::lock_guard<std::mutex> g(p->kept.lock);
            if (r.generation == p->kept.generation) {
                p->kept.bank = read;
                p->kept.masses = r.nmasses;
            }
            std::memcpy(reply.path, r.path, std::strlen(r.path) + 1);
        }
    } else {
        reply.object = build(p, r.nmasses, kept_bank(p), nullptr, nullptr);
        if (reply.object) {
            std::lock_guard<std::mutex> g(p->kept.lock);
            if (r.generation == p->kept.generation)
                p->kept.masses = r.nmasses;
        }
    }
    respond(handle, (uint32_t)(offsetof(Reply, path) + std::strlen(reply.path) + 1), &reply);
    return LV2_WORKER_SUCCESS;
}

LV2_Worker_Status work_response(LV2_Handle h, uint32_t size, const void *data)
{
    Plugin *p = (Plugin *)h;
    Worker &w = p->worker;
    Reply r;
    if (!unpack(&r, size, data))
        return LV2_WORKER_ERR_UNKNOWN;
    w.outstanding--;
    if (!r.object)
        return LV2_WORKER_SUCCESS;
    // An object built before a restore is out of date.
    if (r.generation != w.generation) {
        discard(p, r.object);
        return LV2_WORKER_SUCCESS;
    }
    discard(p, w.arrived);
    w.arrived = r.object;
    std::memcpy(w.arrived_path, r.path, std::strlen(r.path) + 1);
    return LV2_WORKER_SUCCESS;
}

// The object the worker brought, if any, plays from now on.
void install(Plugin *p)
{
    Worker &w = p->worker;
    if (!w.arrived)
        return;
    discard(p, p->object);
    p->object = w.arrived;
    w.arrived = nullptr;
    held_fresh(&p->held);
    forget_drawn(p);
    if (w.arrived_path[0]) {
        std::memcpy(p->bank_path, w.arrived_path, sizeof p->bank_path);
        tell_bank(p);
    }
}

void free_objects(Plugin *p)
{
    Worker &w = p->worker;
    lv2host::object_free(p->object, console_of(p));
    lv2host::object_free(w.arrived, console_of(p));
    for (int i = 0; i < w.ndiscard; i++)
        lv2host::object_free(w.discard[i], console_of(p));
    p->object = w.arrived = nullptr;
    w.ndiscard = 0;
}

// A new object is playing; the controls and notes are sent to it at the
// next run, as they differ from what it holds.
void start(Plugin *p, Object *o, int nmasses)
{
    free_objects(p);
    p->object = o;
    p->worker.want_masses = p->worker.asked_masses = nmasses;
    p->controls.last_preset = NAN; // the preset control chooses again
    held_fresh(&p->held);
    p->bank_path[0] = '\0';
}

// The session's mass count plays from the first sample: an object of
// another count is built here, where building is allowed, rather than by
// the worker after the first run.  Not while work is under way: what it
// brings may change the bank, and the worker then builds the count.
void build_masses(Plugin *p)
{
    if (!p->ports[PORT_MASSES] || p->worker.outstanding > 0)
        return;
    int nmasses = (int)std::lround(control(p, PORT_MASSES, MASSES));
    if (nmasses == p->worker.asked_masses)
        return;
    Object *o = build(p, nmasses, kept_bank(p), nullptr, nullptr);
    if (!o)
        return;
    {
        std::lock_guard<std::mutex> g(p->kept.lock);
        p->kept.masses = nmasses;
    }
    char path[PATHMAX];
    std::memcpy(path, p->bank_path, sizeof path);
    start(p, o, nmasses);
    std::memcpy(p->bank_path, path, sizeof path);
}

} // namespace lv2plugin
