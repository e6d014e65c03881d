// The patcher host interface inside an LV2 plugin: objects, clocks, the
// signal vector, the console and files (the rules are in host.h).

#include "host.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "../../src/object/loopmass.h"
#include "../common/classes.h"
#include "../common/clocks.h"
#include "../common/console.h"
#include "../common/paths.h"
#include "../common/store_files.h"
#include "../common/store_text.h"

namespace patcher {

// Due in milliseconds on the owner's timeline.
struct t_clock : clocks::Clock<double> {
    lv2host::Object *c_owner;
};

// Outlets and proxies lead nowhere: a plugin has no patch to send lists to,
// and the inlet number is written straight into the record.
struct t_outlet {
    int o_unused;
};
struct t_proxy {
    int p_unused;
};

} // namespace patcher

namespace lv2host {

using namespace patcher;

namespace {

// Path ids: files on disk by absolute name, and the bank of the build.
const short VOL_DISK = 0;
const short VOL_BANK = 1;

t_outlet nowhere_outlet;
t_proxy nowhere_proxy;

const classes::Method *methods[NMESSAGES];
t_symbol *selectors[NMESSAGES];

// What the calling thread is building or freeing: creation routines and
// console lines find their object and their console here.  Unset on the
// audio thread.
struct Scope {
    Build *build;
    Object *object;
    Scope *saved;
};
thread_local Scope *scope = nullptr;

struct Enter {
    Scope s;
    Enter(Build *b, Object *o) : s{b, o, scope} { scope = &s; }
    ~Enter() { scope = s.saved; }
    Enter(const Enter &) = delete;
    Enter &operator=(const Enter &) = delete;
};

Object *object_of(void *x)
{
    return x ? (Object *)((t_object *)x)->o_host : nullptr;
}

double now_ms(const Object *o)
{
    return (double)o->samples * 1000.0 / o->rate;
}

// The object's generator state stands in for the thread's while it runs.
struct Draw {
    Object *o;
    uint32_t saved;
    explicit Draw(Object *object) : o(object), saved(loopmass::loopmass_rand_state())
    {
        loopmass::loopmass_srand(o->generator);
    }
    ~Draw()
    {
        o->generator = loopmass::loopmass_rand_state();
        loopmass::loopmass_srand(saved);
    }
    Draw(const Draw &) = delete;
    Draw &operator=(const Draw &) = delete;
};

// Tells the object its vector size; dsp_add finds the object in the scope.
void tell_size(Object *o, int n)
{
    Enter e(nullptr, o);
    t_signal signal = {n, o->vector, o->rate};
    t_signal *sp[1] = {&signal};
    short connected[1] = {1};
    classes::call_dsp(o->c, o->x, sp, connected);
    o->n = n;
}

void perform(Object *o, int n)
{
    if (n != o->n)
        tell_size(o, n);
    t_perfroutine routine = (t_perfroutine)o->w[0];
    routine(o->w);
    o->counter = (o->counter + 1) % vectors_per_step(n);
}

void arm(t_clock *c, double delay)
{
    if (!c)
        return;
    // A negative or unknown delay fires at the next pass.
    c->c_owner->clocks.arm(c, now_ms(c->c_owner) + (delay > 0 ? delay : 0.0));
}

bool absolute(const char *name)
{
    return name && name[0] == '/';
}

} // namespace

t_class *load(const Console &console)
{
    static std::once_flag once;
    static t_class *loaded = nullptr;
    std::call_once(once, [&console] {
        Build b{console, std::string(), std::string()};
        Enter e(&b, nullptr);
        loopmass::main();
        t_class *c = classes::find("loopmass~");
        if (!c)
            return;
        const char *names[NMESSAGES] = {"int",    "float", "bang",  "stop", "fg",     "gain",
                                        "offset", "phase", "extra", "ramp", "lowcut", "list"};
        for (int i = 0; i < NMESSAGES; i++) {
            methods[i] = classes::find_method(c, names[i]);
            selectors[i] = gensym(names[i]);
            if (!methods[i])
                return;
        }
        loaded = c;
    });
    return loaded;
}

Object *object_new(Build &b, t_class *c, short argc, t_atom *argv, float *vector, double rate)
{
    Object *o = new Object{};
    o->clocks.reserve(MAXCLOCKS);
    o->c = c;
    o->rate = rate;
    o->vector = vector;
    uint32_t saved = loopmass::loopmass_rand_state();
    {
        Enter e(&b, o);
        void *x = classes::call_new(c, argc, argv);
        o->generator = loopmass::loopmass_rand_state();
        if (x && x == o->x)
            tell_size(o, VECTOR);
    }
    loopmass::loopmass_srand(saved);
    if (!o->w[0]) {
        object_free(o, b.console);
        return nullptr;
    }
    return o;
}

namespace {

// A console that counts the errors it passes on.
struct Counted {
    Console inner;
    int errors;
};

void counted_line(void *owner, bool is_error, const char *text)
{
    Counted *c = (Counted *)owner;
    c->errors += is_error;
    if (c->inner.line)
        c->inner.line(c->inner.owner, is_error, text);
}

} // namespace

// The read message has no answer, but every way it fails posts an error.
short object_read(Object *o, Build &b, const char *name)
{
    Counted counted{b.console, 0};
    b.console = Console{counted_line, &counted};
    short failed;
    {
        Enter e(&b, o);
        Draw d(o);
        t_atom file;
        file.a_type = patcher::A_SYM;
        file.a_w.w_sym = gensym(name);
        failed = classes::dispatch(o->c, o->x, "read", 1, &file) != 0 || counted.errors > 0;
    }
    b.console = counted.inner;
    return failed;
}

void object_free(Object *o, const Console &console)
{
    if (!o)
        return;
    Build b{console, std::string(), std::string()};
    Enter e(&b, o);
    if (o->x) {
        classes::call_free(o->c, o->x);
        std::free(o->x);
    }
    // Clocks its free routine left.
    while (o->clocks.size() > 0)
        freeobject(static_cast<t_clock *>(o->clocks.last()));
    delete o;
}

void object_vector(Object *o, int n)
{
    Draw d(o);
    o->clocks.run(now_ms(o));
    perform(o, n);
    o->samples += (uint64_t)n;
}

int vectors_per_step(int n)
{
    return (2 * loopmass::HAPTIC_PERIOD + n) / (2 * n);
}

void object_count_to(Object *o, int value)
{
    Draw d(o);
    // The counter only climbs by one or falls to 0, at the end of a vector
    // whose count per step is one more than the counter.  To fall, climb
    // with one-sample vectors (256 per step) to the nearest such counter.
    if (o->counter > value) {
        int top = o->counter, fall = 0;
        while (!fall) {
            for (int n = 1; n <= VECTOR && !fall; n++)
                if (vectors_per_step(n) == top + 1)
                    fall = n;
            if (!fall)
                top++;
        }
        while (o->counter < top)
            perform(o, 1);
        perform(o, fall);
    }
    while (o->counter < value)
        perform(o, 1);
}

void send(Object *o, int inlet, e_message m, short argc, t_atom *argv)
{
    if (o->stuffloc)
        *o->stuffloc = inlet;
    Draw d(o);
    classes::call_method(*methods[m], o->x, selectors[m], argc, argv);
}

void send_long(Object *o, int inlet, int32_t v)
{
    t_atom a;
    a.a_type = A_LONG;
    a.a_w.w_long = v;
    send(o, inlet, MSG_INT, 1, &a);
}

void send_float(Object *o, int inlet, float v)
{
    t_atom a;
    a.a_type = A_FLOAT;
    a.a_w.w_float = v;
    send(o, inlet, MSG_FLOAT, 1, &a);
}

} // namespace lv2host

// ------------------------------------------- the host interface on LV2

namespace patcher {

using lv2host::Object;
using lv2host::scope;

void *newobject(t_class *c)
{
    if (!c || !scope || !scope->object)
        return nullptr;
    void *x = std::calloc(1, c->c_size);
    if (!x)
        return nullptr;
    ((t_object *)x)->o_host = scope->object;
    scope->object->x = x;
    return x;
}

void z_dsp_setup(t_pxobject *x, short nsignals)
{
    if (x)
        x->z_in = nsignals;
}

// A freed object is no longer run: the plugin frees it only once it has
// left the audio thread.
void z_dsp_free(t_pxobject *) {}

t_proxy *proxy_new(void *x, long, int32_t *stuffloc)
{
    Object *o = lv2host::object_of(x);
    if (o)
        o->stuffloc = stuffloc;
    return &lv2host::nowhere_proxy;
}

t_outlet *outlet_new(void *, const char *)
{
    return &lv2host::nowhere_outlet;
}
t_outlet *listout(void *)
{
    return &lv2host::nowhere_outlet;
}
void outlet_list(t_outlet *, t_symbol *, short, t_atom *) {}

t_clock *clock_new(void *x, method fn)
{
    Object *o = lv2host::object_of(x);
    if (!o || o->clocks.size() >= (size_t)lv2host::MAXCLOCKS)
        return nullptr;
    t_clock *c = new t_clock{};
    c->x = x;
    c->fn = fn;
    c->c_owner = o;
    o->clocks.add(c);
    return c;
}

void clock_delay(t_clock *c, long ms)
{
    lv2host::arm(c, (double)ms);
}

void clock_fdelay(t_clock *c, double ms)
{
    lv2host::arm(c, std::isnan(ms) ? 0.0 : ms);
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
    c->c_owner->clocks.remove(c);
    delete c;
}

void dsp_add(t_perfroutine f, int n, ...)
{
    if (!scope || !scope->object || n < 0 || n > 7)
        return;
    Object *o = scope->object;
    va_list ap;
    va_start(ap, n);
    for (int i = 0; i < n; i++)
        o->w[i + 1] = va_arg(ap, t_int);
    va_end(ap);
    o->w[0] = (t_int)f;
}

short binbuf_read(t_binbuf *b, const char *name, short volume, short binary)
{
    if (binary || !name || !scope || !scope->build)
        return 1;
    if (lv2host::absolute(name)) {
        if (store::read_file(b, name) != 0)
            return 1;
        scope->build->read = store::text(b);
        return 0;
    }
    if (volume != lv2host::VOL_BANK)
        return 1;
    return store::read_text(b, scope->build->bank);
}

short binbuf_write(t_binbuf *, const char *, short, short)
{
    return 1;
}

short locatefile_extended(char *name, short *outvol, t_fourcc *outtype, const t_fourcc *, short)
{
    if (!name || !name[0] || !outvol)
        return 1;
    if (lv2host::absolute(name)) {
        if (!paths::regular_file(name))
            return 1;
        *outvol = lv2host::VOL_DISK;
    } else {
        if (!scope || !scope->build || scope->build->bank.empty())
            return 1;
        *outvol = lv2host::VOL_BANK;
    }
    if (outtype)
        *outtype = FOUR_CHAR_TEXT;
    return 0;
}

short open_dialog(char *, short *, t_fourcc *, t_fourcc *, short)
{
    return 1;
}

short saveasdialog_extended(char *, short *, t_fourcc *, t_fourcc *, short)
{
    return 1;
}

short defvolume(void)
{
    return lv2host::VOL_BANK;
}

long calendar_seconds(void)
{
    return lv2host::SEED;
}

} // namespace patcher

// A line of the thread that builds or frees an object, cut to the log's
// longest; none from the audio thread.
void console::line(bool is_error, const char *text, size_t length)
{
    lv2host::Scope *scope = lv2host::scope;
    if (!scope || !scope->build || !scope->build->console.line)
        return;
    char cut[1024];
    length = std::min(length, sizeof cut - 1);
    std::memcpy(cut, text, length);
    cut[length] = '\0';
    scope->build->console.line(scope->build->console.owner, is_error, cut);
}
