// The in-process host: objects with their inlets and outlets, dispatch,
// the logical-time scheduler, the signal chain and the console.  Files and
// dialogs are in files.cpp.

#include "headless.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

#include "../common/classes.h"
#include "../common/clocks.h"
#include "../common/console.h"

namespace headless {

using namespace patcher;

// One perform routine with its arguments: w[0] is the routine, w[1..n]
// what dsp_add was given.
struct ChainEntry {
    t_perfroutine fn;
    std::vector<t_int> w;
    bool broken;
};

struct Object {
    void *x;
    t_class *c;
    std::vector<std::unique_ptr<t_outlet>> outlets; // leftmost first
    std::vector<std::unique_ptr<t_proxy>> proxies;
    bool dsp_freed;
    std::vector<float> out;
    t_signal signal;
    std::vector<ChainEntry> chain;
};

} // namespace headless

namespace patcher {

struct t_outlet {
    headless::Object *o_owner;
};

struct t_proxy {
    headless::Object *p_owner;
    long p_id;
    int32_t *p_stuffloc;
};

struct t_clock : clocks::Clock<headless::t_ticks> {};

} // namespace patcher

namespace headless {

namespace {

// Objects in creation order, which is also the order of the signal chain.
std::vector<std::unique_ptr<Object>> objects;
clocks::Queue<t_ticks> clock_queue;
t_ticks logical_now = 0;
Listener listener;
Object *dsp_target = nullptr; // the object whose "dsp" method is running
bool calendar_fixed = false;
long calendar_value = 0;

Object *find_object(void *x)
{
    if (!x)
        return nullptr;
    for (const std::unique_ptr<Object> &o : objects)
        if (o->x == x)
            return o.get();
    return nullptr;
}

Object *owner_of(void *x)
{
    Object *o = find_object(x);
    if (!o)
        std::fprintf(stderr, "headless: %p is not an object of this host\n", x);
    return o;
}

t_ticks add_ticks(t_ticks t, t_ticks d)
{
    return d > INT64_MAX - t ? INT64_MAX : t + d;
}

void arm(t_clock *c, t_ticks delay)
{
    clock_queue.arm(c, add_ticks(logical_now, delay));
}

void run_chain_entry(ChainEntry &e)
{
    if (e.broken)
        return;
    t_int *end = e.fn(e.w.data());
    if (end != e.w.data() + e.w.size()) {
        e.broken = true;
        std::fprintf(stderr, "headless: a perform routine returned a wrong pointer; it is no longer called\n");
    }
}

} // namespace

void set_listener(const Listener &l)
{
    listener = l;
}

void load(int (*entry)(void))
{
    if (entry)
        entry();
}

void next_class_name(const char *name)
{
    classes::next_class_name(name);
}

// Releases an object's record and bookkeeping; its free routine has run
// or must not run.
static void release(Object *o)
{
    void *x = o->x;
    clock_queue.unset_all(x);
    for (size_t i = 0; i < objects.size(); i++)
        if (objects[i].get() == o) {
            objects.erase(objects.begin() + (long)i);
            break;
        }
    std::free(x);
}

void *create(const char *classname, int argc, const t_atom *argv)
{
    t_class *c = classname ? classes::find(classname) : nullptr;
    if (!c)
        return nullptr;
    size_t before = objects.size();
    void *x = classes::call_new(c, argc, argv);
    if (x && find_object(x))
        return x;
    // The creation routine gave up: release any record it obtained, without
    // its free routine, which expects a finished object.
    while (objects.size() > before)
        release(objects.back().get());
    return nullptr;
}

void destroy(void *x)
{
    Object *o = find_object(x);
    if (!o)
        return;
    classes::call_free(o->c, x);
    release(o);
}

int send(void *x, int inlet, const char *selector, int argc, const t_atom *argv)
{
    Object *o = find_object(x);
    if (!o || inlet < 0 || !selector)
        return 1;
    if (inlet > 0) {
        bool found = false;
        for (const std::unique_ptr<t_proxy> &p : o->proxies)
            found = found || p->p_id == inlet;
        if (!found)
            return 1;
    }
    for (const std::unique_ptr<t_proxy> &p : o->proxies)
        if (p->p_stuffloc)
            *p->p_stuffloc = inlet;
    return classes::dispatch(o->c, x, selector, argc, argv);
}

int assist(void *x, long kind, long number, char *text)
{
    Object *o = find_object(x);
    if (!o || !text)
        return 1;
    return classes::call_assist(o->c, x, nullptr, kind, number, text) ? 0 : 1;
}

int ninlets(void *x)
{
    Object *o = find_object(x);
    return o ? 1 + (int)o->proxies.size() : 0;
}

int noutlets(void *x)
{
    Object *o = find_object(x);
    return o ? (int)o->outlets.size() : 0;
}

void dsp_start(int n, double sr)
{
    dsp_stop();
    n = std::max(1, std::min(n, MAX_VECTOR));
    for (const std::unique_ptr<Object> &o : objects) {
        if (o->dsp_freed || !classes::find_method(o->c, "dsp"))
            continue;
        o->out.assign((size_t)n, 0.0f);
        o->signal.s_n = n;
        o->signal.s_vec = o->out.data();
        o->signal.s_sr = sr;
        t_signal *sp[1] = {&o->signal};
        short count[1] = {1};
        dsp_target = o.get();
        classes::call_dsp(o->c, o->x, sp, count);
        dsp_target = nullptr;
    }
}

void dsp_stop(void)
{
    for (const std::unique_ptr<Object> &o : objects) {
        o->chain.clear();
        o->out.clear();
        o->out.shrink_to_fit();
    }
}

void dsp_tick(void)
{
    for (const std::unique_ptr<Object> &o : objects)
        for (ChainEntry &e : o->chain)
            run_chain_entry(e);
}

const float *signal_out(void *x)
{
    Object *o = find_object(x);
    return o && !o->out.empty() ? o->out.data() : nullptr;
}

t_ticks now(void)
{
    return logical_now;
}

void set_now(t_ticks t)
{
    logical_now = t;
}

void run_clocks(void)
{
    clock_queue.run(logical_now);
}

void fix_calendar(long seconds)
{
    calendar_fixed = true;
    calendar_value = seconds;
}

void unfix_calendar(void)
{
    calendar_fixed = false;
}

} // namespace headless

namespace patcher {

using headless::Object;

void *newobject(t_class *c)
{
    if (!c)
        return nullptr;
    size_t size = std::max(c->c_size, sizeof(t_object));
    // calloc's memory is aligned for any type, doubles included.
    void *x = std::calloc(1, size);
    if (!x)
        return nullptr;
    std::unique_ptr<Object> o(new Object{});
    o->x = x;
    o->c = c;
    ((t_object *)x)->o_host = o.get();
    headless::objects.push_back(std::move(o));
    return x;
}

void z_dsp_setup(t_pxobject *x, short nsignals)
{
    Object *o = headless::owner_of(x);
    if (!o)
        return;
    x->z_in = nsignals;
    o->dsp_freed = false;
}

void z_dsp_free(t_pxobject *x)
{
    Object *o = headless::find_object(x);
    if (!o)
        return;
    o->dsp_freed = true;
    o->chain.clear();
    o->out.clear();
}

t_proxy *proxy_new(void *x, long id, int32_t *stuffloc)
{
    Object *o = headless::owner_of(x);
    if (!o || id < 1)
        return nullptr;
    o->proxies.emplace_back(new t_proxy{o, id, stuffloc});
    return o->proxies.back().get();
}

t_outlet *outlet_new(void *x, const char *type)
{
    (void)type;
    Object *o = headless::owner_of(x);
    if (!o)
        return nullptr;
    o->outlets.emplace(o->outlets.begin(), new t_outlet{o});
    return o->outlets.front().get();
}

t_outlet *listout(void *x)
{
    return outlet_new(x, "list");
}

void outlet_list(t_outlet *o, t_symbol *s, short argc, t_atom *argv)
{
    (void)s;
    if (!o || !headless::listener.list)
        return;
    Object *owner = o->o_owner;
    int number = 0;
    while (number < (int)owner->outlets.size() && owner->outlets[(size_t)number].get() != o)
        number++;
    headless::listener.list(owner->x, number, argc > 0 && argv ? argc : 0, argv);
}

t_clock *clock_new(void *x, method fn)
{
    t_clock *c = new t_clock{};
    c->x = x;
    c->fn = fn;
    headless::clock_queue.add(c);
    return c;
}

void clock_delay(t_clock *c, long ms)
{
    if (!c)
        return;
    headless::t_ticks ticks = 0;
    if (ms > 0)
        ticks = ms > INT64_MAX / headless::TICKS_PER_MS ? INT64_MAX : (headless::t_ticks)ms * headless::TICKS_PER_MS;
    headless::arm(c, ticks);
}

void clock_fdelay(t_clock *c, double ms)
{
    if (!c)
        return;
    double ticks = std::round(ms * (double)headless::TICKS_PER_MS);
    headless::t_ticks t = 0;
    if (ticks >= 9.2e18)
        t = INT64_MAX;
    else if (ticks > 0)
        t = (headless::t_ticks)ticks;
    headless::arm(c, t);
}

void clock_unset(t_clock *c)
{
    if (c)
        c->armed = false;
}

void freeobject(t_clock *c)
{
    if (!c)
        return;
    headless::clock_queue.remove(c);
    delete c;
}

void dsp_add(t_perfroutine f, int n, ...)
{
    headless::Object *o = headless::dsp_target;
    if (!o || !f || n < 0) {
        std::fprintf(stderr, "headless: dsp_add outside a dsp method, ignored\n");
        return;
    }
    headless::ChainEntry e{f, {}, false};
    e.w.push_back((t_int)f);
    va_list ap;
    va_start(ap, n);
    for (int i = 0; i < n; i++)
        e.w.push_back(va_arg(ap, t_int));
    va_end(ap);
    o->chain.push_back(std::move(e));
}

long calendar_seconds(void)
{
    return headless::calendar_fixed ? headless::calendar_value : (long)std::time(nullptr);
}

} // namespace patcher

void console::line(bool is_error, const char *text, size_t length)
{
    const char *channel = is_error ? "error" : "post";
    std::string whole(text, length);
    if (headless::listener.console)
        headless::listener.console(channel, whole);
    else
        std::fprintf(stderr, "%s: %s\n", channel, whole.c_str());
}
