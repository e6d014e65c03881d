// The patcher host interface on top of Pure Data's API, so that the object
// builds unchanged as the Pd external loopmass~.
//
// Each Pd object of the class is a small wrapper: Pd's own object header
// and a pointer to the object's record, which the common class registry
// creates and whose messages it dispatches.  The object asks for its
// outlets right to left and for its proxies from 7 down to 1; the wrapper
// collects these requests and makes the Pd inlets and outlets left to right
// once the creation routine has returned, so that the layout seen in a
// patch is the one the object describes.
//
// It keeps the rules of patcher.h: vectors are Pd's blocks, clocks run on
// Pd's scheduler (how they keep the clock rule is told below), and files
// are found in the patch's folder, its declared paths and Pd's search path.
//
// m_pd.h declares C names that the patcher API also uses (post, clock_new,
// t_atom, ...), and defines t_class, t_outlet, t_clock and t_binbuf as
// macros.  So the patcher headers come first, every patcher type this file
// needs is named before m_pd.h is included, and the types of Pd are used
// unqualified below.

#include "../../src/object/loopmass.h"
#include "../common/classes.h"
#include "../common/paths.h"
#include "../common/store.h"
#include "loopmass_version.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include <unistd.h>

namespace pdhost {

typedef patcher::t_class p_class;
typedef patcher::t_clock p_clock;
typedef patcher::t_binbuf p_binbuf;
typedef patcher::t_outlet p_outlet;
typedef patcher::t_atom p_atom;

struct t_wrap;

} // namespace pdhost

// What the object holds by reference: an outlet is the Pd outlet made for
// it (none until the creation routine has returned, so lists sent during
// creation go nowhere, as they would in a patch that is still loading); a
// clock is a Pd clock that calls the object's routine.
struct _outlet;
struct _clock;
struct _class;

struct patcher::t_outlet {
    ::_outlet *o_pd;
    bool o_signal;
    pdhost::t_wrap *o_wrap; // whose room its lists are made in
};

struct patcher::t_clock {
    ::_clock *c_pd;
    void *c_owner;
    patcher::method c_fn;
    pdhost::t_wrap *c_wrap;
    double c_fired; // Pd's logical time of its last firing
};

// A proxy inlet: a Pd object of its own that notes its number in the
// object's inlet-number field before passing the message on.
struct patcher::t_proxy {
    ::_class *p_pd;
    pdhost::t_wrap *p_owner;
    int32_t p_id;
};

#include <m_pd.h>

// Declared in Pd's s_stuff.h, which clashes with nothing here but drags in
// more than this file needs.
extern "C" int sys_havegui(void);

static_assert(sizeof(t_sample) == sizeof(float), "loopmass~ needs Pd's single-precision build");

namespace pdhost {

// Room for what one object asks for: it makes three outlets and seven
// proxies, and these limits leave headroom.
const int MAXOUTLETS = 8;
const int MAXPROXIES = 16;
// The longest list the object sends: a profile, its kind and a value for
// each mass (the motion list has one atom less).
const int MAXLIST = loopmass::MAXMASSES + 1;

// A receiver of the answer of an open or save panel: the GUI sends
// "SYMBOL callback PATH" to the symbol it is bound to.
struct t_panel {
    t_pd pn_pd;
    t_wrap *pn_owner;
    t_symbol *pn_bound;
    const char *pn_selector; // "read" or "write"
};

struct t_wrap {
    t_object w_obj;
    void *w_rec;          // the object's record
    int32_t *w_stuffloc;  // the record's inlet-number field
    t_canvas *w_canvas;   // the patch the object was created in
    p_outlet *w_outlets[MAXOUTLETS]; // in the order the object made them
    int w_noutlets;
    patcher::t_proxy *w_proxies[MAXPROXIES];
    int w_nproxies;
    patcher::t_signal w_signal; // the signal outlet as the object sees it
    t_panel *w_openpanel;
    t_panel *w_savepanel;
    // Room for an outgoing list in Pd's atoms, so that sending one from
    // the clock routine allocates nothing; busy while it is delivered.
    t_atom w_list[MAXLIST];
    bool w_list_busy;
};

t_class *wrap_class;
t_class *proxy_class;
t_class *panel_class;
p_class *object_class;

// The wrapper whose creation routine is running: newobject() ties the
// record to it.
t_wrap *constructing;
// The wrapper the host is calling into, for pd_error's "find last error"
// and for the canvas that files are searched from.
t_wrap *current;

// Sets the current wrapper for the length of one call into the object.
struct Calling {
    t_wrap *saved;
    explicit Calling(t_wrap *w) : saved(current) { current = w; }
    ~Calling() { current = saved; }
    Calling(const Calling &) = delete;
    Calling &operator=(const Calling &) = delete;
};

t_wrap *wrap_of(void *record)
{
    return record ? (t_wrap *)((patcher::t_object *)record)->o_host : nullptr;
}

// ---------------------------------------------------------------- atoms

// Pd has only float atoms, the object tells longs from floats: a float that
// holds a whole number within 32 bits arrives as a long.
p_atom atom_from_pd(const t_atom *a)
{
    p_atom out;
    if (a->a_type == A_FLOAT) {
        t_float f = a->a_w.w_float;
        if (std::isfinite(f) && f == std::trunc(f) && f >= -2147483648.0f && f < 2147483648.0f) {
            out.a_type = patcher::A_LONG;
            out.a_w.w_long = (int32_t)f;
        } else {
            out.a_type = patcher::A_FLOAT;
            out.a_w.w_float = f;
        }
    } else if (a->a_type == A_SYMBOL) {
        out.a_type = patcher::A_SYM;
        out.a_w.w_sym = patcher::gensym(a->a_w.w_symbol->s_name);
    } else {
        // A pointer (or anything else Pd may carry) means nothing to the
        // object; it gets a symbol, which every handler skips or ignores.
        out.a_type = patcher::A_SYM;
        out.a_w.w_sym = patcher::gensym("pointer");
    }
    return out;
}

// Outgoing atoms: longs and floats become Pd floats, symbols Pd symbols.
void atoms_to_pd(int argc, const p_atom *argv, t_atom *out)
{
    for (int i = 0; i < argc; i++) {
        if (argv[i].a_type == patcher::A_LONG)
            SETFLOAT(&out[i], (t_float)argv[i].a_w.w_long);
        else if (argv[i].a_type == patcher::A_FLOAT)
            SETFLOAT(&out[i], argv[i].a_w.w_float);
        else if (argv[i].a_type == patcher::A_SYM && argv[i].a_w.w_sym)
            SETSYMBOL(&out[i], gensym(argv[i].a_w.w_sym->s_name));
        else
            SETSYMBOL(&out[i], &s_);
    }
}

std::vector<p_atom> atoms_from_pd(int argc, const t_atom *argv)
{
    std::vector<p_atom> out;
    out.reserve(argc > 0 ? argc : 0);
    for (int i = 0; i < argc; i++)
        out.push_back(atom_from_pd(&argv[i]));
    return out;
}

// ------------------------------------------------------------ messages

// Whether the class answers a selector at all, with the int/float fallback
// of the dispatcher; host-only methods do not count.
bool understands(const char *selector)
{
    const classes::Method *m = classes::find_method(object_class, selector);
    if (!m && std::strcmp(selector, "int") == 0)
        m = classes::find_method(object_class, "float");
    else if (!m && std::strcmp(selector, "float") == 0)
        m = classes::find_method(object_class, "int");
    return m && m->argtype != patcher::A_CANT;
}

void deliver(t_wrap *w, int32_t inlet, const char *selector, int argc, const t_atom *argv)
{
    if (!w->w_rec)
        return;
    Calling c(w);
    if (w->w_stuffloc)
        *w->w_stuffloc = inlet;
    std::vector<p_atom> atoms = atoms_from_pd(argc, argv);
    if (classes::dispatch(object_class, w->w_rec, selector, (int)atoms.size(), atoms.data()) == 0)
        return;
    if (understands(selector))
        pd_error(w, "loopmass~: bad arguments for message '%s'", selector);
    else
        pd_error(w, "loopmass~: no method for '%s'", selector);
}

// Every message to an inlet, in the patcher's terms: a float with a whole
// number is an int.
void deliver_float(t_wrap *w, int32_t inlet, t_float f)
{
    t_atom a;
    SETFLOAT(&a, f);
    p_atom converted = atom_from_pd(&a);
    deliver(w, inlet, converted.a_type == patcher::A_LONG ? "int" : "float", 1, &a);
}

void wrap_bang(t_wrap *w) { deliver(w, 0, "bang", 0, nullptr); }
void wrap_float(t_wrap *w, t_float f) { deliver_float(w, 0, f); }
void wrap_list(t_wrap *w, t_symbol *, int argc, t_atom *argv) { deliver(w, 0, "list", argc, argv); }
void wrap_anything(t_wrap *w, t_symbol *s, int argc, t_atom *argv) { deliver(w, 0, s->s_name, argc, argv); }
void wrap_symbol(t_wrap *w, t_symbol *s)
{
    t_atom a;
    SETSYMBOL(&a, s);
    deliver(w, 0, "symbol", 1, &a);
}

void proxy_bang(patcher::t_proxy *p) { deliver(p->p_owner, p->p_id, "bang", 0, nullptr); }
void proxy_float(patcher::t_proxy *p, t_float f) { deliver_float(p->p_owner, p->p_id, f); }
void proxy_list(patcher::t_proxy *p, t_symbol *, int argc, t_atom *argv)
{
    deliver(p->p_owner, p->p_id, "list", argc, argv);
}
void proxy_anything(patcher::t_proxy *p, t_symbol *s, int argc, t_atom *argv)
{
    deliver(p->p_owner, p->p_id, s->s_name, argc, argv);
}
void proxy_symbol(patcher::t_proxy *p, t_symbol *s)
{
    t_atom a;
    SETSYMBOL(&a, s);
    deliver(p->p_owner, p->p_id, "symbol", 1, &a);
}

// The answer of a file panel becomes "read PATH" or "write PATH" on the
// left inlet.
void panel_callback(t_panel *p, t_symbol *path)
{
    t_atom a;
    SETSYMBOL(&a, path);
    deliver(p->pn_owner, 0, p->pn_selector, 1, &a);
}

// ---------------------------------------------------------------- signal

void wrap_dsp(t_wrap *w, t_signal **sp)
{
    if (!w->w_rec)
        return;
    Calling c(w);
    // No signal inlets: sp[0] is the signal outlet.
    w->w_signal.s_n = sp[0]->s_n;
    w->w_signal.s_vec = sp[0]->s_vec;
    w->w_signal.s_sr = sp[0]->s_sr;
    patcher::t_signal *signals[1] = {&w->w_signal};
    short connected[1] = {1};
    classes::call_dsp(object_class, w->w_rec, signals, connected);
}

// ------------------------------------------------------ creation and free

void panel_free(t_panel *p)
{
    if (!p)
        return;
    pd_unbind(&p->pn_pd, p->pn_bound);
    pd_free(&p->pn_pd);
}

void wrap_free(t_wrap *w)
{
    {
        Calling c(w);
        if (w->w_rec) {
            classes::call_free(object_class, w->w_rec);
            std::free(w->w_rec);
            w->w_rec = nullptr;
        }
    }
    // The inlets are released by Pd after this routine; they only point at
    // the proxies, which are released here.
    for (int i = 0; i < w->w_nproxies; i++)
        pd_free(&w->w_proxies[i]->p_pd);
    for (int i = 0; i < w->w_noutlets; i++)
        delete w->w_outlets[i];
    panel_free(w->w_openpanel);
    panel_free(w->w_savepanel);
}

// Makes the Pd inlets and outlets the object asked for, left to right:
// proxies by rising number, outlets in the reverse of their making.
void wrap_make_connections(t_wrap *w)
{
    for (int i = 1; i < w->w_nproxies; i++)
        for (int j = i; j > 0 && w->w_proxies[j - 1]->p_id > w->w_proxies[j]->p_id; j--) {
            patcher::t_proxy *p = w->w_proxies[j];
            w->w_proxies[j] = w->w_proxies[j - 1];
            w->w_proxies[j - 1] = p;
        }
    for (int i = 0; i < w->w_nproxies; i++)
        inlet_new(&w->w_obj, &w->w_proxies[i]->p_pd, nullptr, nullptr);
    for (int i = w->w_noutlets - 1; i >= 0; i--) {
        p_outlet *o = w->w_outlets[i];
        o->o_pd = outlet_new(&w->w_obj, o->o_signal ? &s_signal : &s_list);
    }
}

void *wrap_new(t_symbol *, int argc, t_atom *argv)
{
    t_wrap *w = (t_wrap *)pd_new(wrap_class);
    w->w_canvas = canvas_getcurrent();
    std::vector<p_atom> atoms = atoms_from_pd(argc, argv);
    {
        Calling c(w);
        t_wrap *outer = constructing;
        constructing = w;
        void *rec = classes::call_new(object_class, (int)atoms.size(), atoms.data());
        constructing = outer;
        if (rec && !w->w_rec)
            w->w_rec = rec;
    }
    if (!w->w_rec) {
        pd_free(&w->w_obj.ob_pd);
        return nullptr;
    }
    wrap_make_connections(w);
    return w;
}

// --------------------------------------------------------------- files

// Looks for name with Pd's own search: the patch's folder, its declared
// paths, then Pd's search path.  On success gives the folder that holds
// name (a name with folders in it keeps them).
bool search_pd_path(const char *name, std::string *dir)
{
    char found[MAXPDSTRING];
    char *base = nullptr;
    int fd = canvas_open(current ? current->w_canvas : nullptr, name, "", found, &base, MAXPDSTRING, 1);
    if (fd < 0)
        return false;
    ::close(fd);
    std::string full = std::string(found) + "/" + base;
    std::string tail = std::string("/") + name;
    if (full.size() <= tail.size() || full.compare(full.size() - tail.size(), tail.size(), tail) != 0)
        return false;
    *dir = full.substr(0, full.size() - tail.size());
    return true;
}

std::string canvas_dir(t_canvas *canvas)
{
    if (!canvas)
        return std::string();
    t_symbol *dir = canvas_getdir(canvas);
    return dir ? std::string(dir->s_name) : std::string();
}

// Opens Pd's open or save panel; its answer arrives later through the
// panel's receiver.
void open_panel(t_panel **slot, const char *selector, const char *tclproc)
{
    t_wrap *w = current;
    if (!w || !sys_havegui())
        return;
    if (!*slot) {
        t_panel *p = (t_panel *)pd_new(panel_class);
        char name[64];
        std::snprintf(name, sizeof name, "loopmass~%lx%s", (unsigned long)(uintptr_t)w, selector);
        p->pn_owner = w;
        p->pn_bound = gensym(name);
        p->pn_selector = selector;
        pd_bind(&p->pn_pd, p->pn_bound);
        *slot = p;
    }
    std::string dir = canvas_dir(w->w_canvas);
    pdgui_vmess(tclproc, "ss", (*slot)->pn_bound->s_name, dir.empty() ? "." : dir.c_str());
}

} // namespace pdhost

// ------------------------------------------- the host interface on Pd

namespace patcher {

using pdhost::constructing;
using pdhost::current;
using pdhost::t_wrap;
using pdhost::wrap_of;

void *newobject(pdhost::p_class *c)
{
    if (!c)
        return nullptr;
    void *rec = std::calloc(1, c->c_size);
    if (!rec)
        return nullptr;
    ((t_object *)rec)->o_host = constructing;
    if (constructing)
        constructing->w_rec = rec;
    return rec;
}

// The signal outlet is made like any other; DSP is Pd's business, which
// takes a freed object out of the chain by itself.
void z_dsp_setup(t_pxobject *x, short nsignals)
{
    if (x)
        x->z_in = nsignals;
}

void z_dsp_free(t_pxobject *) {}

t_proxy *proxy_new(void *x, long id, int32_t *stuffloc)
{
    t_wrap *w = wrap_of(x);
    if (!w || w->w_nproxies >= pdhost::MAXPROXIES)
        return nullptr;
    t_proxy *p = (t_proxy *)pd_new(pdhost::proxy_class);
    p->p_owner = w;
    p->p_id = (int32_t)id;
    w->w_stuffloc = stuffloc;
    w->w_proxies[w->w_nproxies++] = p;
    return p;
}

static pdhost::p_outlet *outlet_make(void *x, bool signal)
{
    t_wrap *w = wrap_of(x);
    if (!w || w->w_noutlets >= pdhost::MAXOUTLETS)
        return nullptr;
    pdhost::p_outlet *o = new pdhost::p_outlet{nullptr, signal, w};
    w->w_outlets[w->w_noutlets++] = o;
    return o;
}

pdhost::p_outlet *outlet_new(void *x, const char *type)
{
    return outlet_make(x, type && std::strcmp(type, "signal") == 0);
}

pdhost::p_outlet *listout(void *x) { return outlet_make(x, false); }

void outlet_list(pdhost::p_outlet *o, t_symbol *, short argc, t_atom *argv)
{
    if (!o || !o->o_pd || argc < 0)
        return;
    t_wrap *w = o->o_wrap;
    // A list sent while another is still on its way (a patch that feeds
    // an outlet back into the object) must not overwrite the one its
    // later receivers are yet to get: it is made in room of its own.
    if (w->w_list_busy || argc > pdhost::MAXLIST) {
        std::vector<::t_atom> out((size_t)argc);
        pdhost::atoms_to_pd(argc, argv, out.data());
        ::outlet_list(o->o_pd, &s_list, argc, out.data());
        return;
    }
    w->w_list_busy = true;
    pdhost::atoms_to_pd(argc, argv, w->w_list);
    ::outlet_list(o->o_pd, &s_list, argc, w->w_list);
    w->w_list_busy = false;
}

// The clock rule of the host interface on Pd's scheduler.  Pd runs, in
// each pass, every clock due before the pass's block, and a clock set for
// such a time from within a clock routine runs in the same pass: a clock
// re-armed with delay 0 from its own routine would run forever.  So a clock
// armed from within the routine of any clock of this layer is set no
// earlier than one pass after the time of that routine, which falls in
// the next pass; and no clock is set earlier than one pass after its own
// last firing, so that none fires twice in a pass even when armed from the
// routine of one of Pd's own clocks ([delay], [metro]) in a loop.  Neither
// changes the pass in which any other clock fires.

static bool in_clock_routine = false;

// One scheduler pass in Pd's time units, never shorter than Pd's own.  Pd
// 0.53 advances its time by its units per second times the block's
// duration rounded to a float; the larger of that and the exact duration
// covers both ways of working it.
static double pass_length(void)
{
    const double units_per_ms = std::round(clock_getsystimeafter(1.0) - clock_getlogicaltime());
    double sr = sys_getsr();
    int block = sys_getblksize();
    if (!(sr > 0))
        sr = 44100.0;
    if (block < 1)
        block = 64;
    const double seconds = (double)block / sr;
    return 1000.0 * units_per_ms * std::max(seconds, (double)(float)seconds);
}

static void clock_fire(pdhost::p_clock *c)
{
    pdhost::Calling calling(c->c_wrap);
    c->c_fired = clock_getlogicaltime();
    const bool outer = in_clock_routine;
    in_clock_routine = true;
    ((void (*)(void *))(void (*)(void))c->c_fn)(c->c_owner);
    in_clock_routine = outer;
}

// A delay below 0, or not a number, counts as 0.
static void clock_arm(pdhost::p_clock *c, double ms)
{
    if (!c)
        return;
    const double pass = pass_length();
    double due = clock_getsystimeafter(ms > 0 ? ms : 0.0);
    if (in_clock_routine)
        due = std::max(due, clock_getlogicaltime() + pass);
    due = std::max(due, c->c_fired + pass);
    ::clock_set(c->c_pd, due);
}

pdhost::p_clock *clock_new(void *x, method fn)
{
    pdhost::p_clock *c = new pdhost::p_clock{nullptr, x, fn, wrap_of(x), -HUGE_VAL};
    c->c_pd = ::clock_new(c, (t_method)clock_fire);
    return c;
}

void clock_delay(pdhost::p_clock *c, long ms)
{
    clock_arm(c, (double)ms);
}

void clock_fdelay(pdhost::p_clock *c, double ms)
{
    clock_arm(c, ms);
}

void clock_unset(pdhost::p_clock *c)
{
    if (c)
        ::clock_unset(c->c_pd);
}

void freeobject(pdhost::p_clock *c)
{
    if (!c)
        return;
    ::clock_free(c->c_pd);
    delete c;
}

// Pd's t_int is a long (a long long on 64-bit Windows) and the object's an
// intptr_t: the same size everywhere, but on 32-bit ARM an int and a long,
// two types, so the routine and its arguments are handed over as Pd's.
static_assert(sizeof(t_int) == sizeof(::t_int), "Pd's t_int is pointer-sized");

void dsp_add(t_perfroutine f, int n, ...)
{
    if (n < 0)
        return;
    std::vector<::t_int> args((size_t)n);
    va_list ap;
    va_start(ap, n);
    for (int i = 0; i < n; i++)
        args[i] = (::t_int)va_arg(ap, t_int);
    va_end(ap);
    ::dsp_addv(reinterpret_cast<::t_perfroutine>(f), n, args.data());
}

// A console line, cut to Pd's longest; an error is tied to the object for
// Pd's "find last error".
static void console(bool is_error, const char *fmt, va_list ap)
{
    char line[MAXPDSTRING];
    std::vsnprintf(line, sizeof line, fmt, ap);
    if (is_error)
        ::pd_error(current, "%s", line);
    else
        ::post("%s", line);
}

void post(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    console(false, fmt, ap);
    va_end(ap);
}

void error(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    console(true, fmt, ap);
    va_end(ap);
}

short binbuf_read(pdhost::p_binbuf *b, const char *name, short volume, short)
{
    std::string path;
    if (!name || !paths::resolve(name, volume, &path))
        return 1;
    return store::read_file(b, path);
}

short binbuf_write(pdhost::p_binbuf *b, const char *name, short volume, short)
{
    std::string path;
    if (!name || !paths::resolve(name, volume, &path))
        return 1;
    return store::write_file(b, path);
}

short locatefile_extended(char *name, short *outvol, t_fourcc *outtype, const t_fourcc *, short)
{
    if (!name || !name[0] || !outvol)
        return 1;
    std::string path;
    if (paths::resolve(name, *outvol, &path) && paths::regular_file(path)) {
        if (name[0] == '/')
            *outvol = 0;
    } else {
        std::string dir;
        if (name[0] == '/' || !pdhost::search_pd_path(name, &dir))
            return 1;
        short id = paths::path_id(dir);
        if (id < 0)
            return 1;
        *outvol = id;
    }
    if (outtype)
        *outtype = FOUR_CHAR_TEXT;
    return 0;
}

// Pd's panels do not wait for the user: the panel is opened, the call
// reports a cancel, and the file chosen comes back later as a "read" or
// "write" message with its full path.
short open_dialog(char *, short *, t_fourcc *, t_fourcc *, short)
{
    if (current)
        pdhost::open_panel(&current->w_openpanel, "read", "pdtk_openpanel");
    return 1;
}

short saveasdialog_extended(char *, short *, t_fourcc *, t_fourcc *, short)
{
    if (current)
        pdhost::open_panel(&current->w_savepanel, "write", "pdtk_savepanel");
    return 1;
}

// The folder of the patch being loaded, where the object looks for and
// saves its preset files.
short defvolume(void)
{
    t_wrap *w = constructing ? constructing : current;
    std::string dir = pdhost::canvas_dir(w ? w->w_canvas : canvas_getcurrent());
    return dir.empty() ? 0 : paths::path_id(dir);
}

long calendar_seconds(void) { return (long)time(nullptr); }

} // namespace patcher

// ----------------------------------------------------------- entry point

extern "C" __attribute__((visibility("default"))) void loopmass_tilde_setup(void)
{
    using namespace pdhost;
    if (wrap_class)
        return;
    loopmass::main();
    object_class = classes::find("loopmass~");
    if (!object_class) {
        ::pd_error(nullptr, "loopmass~: the object's class did not register");
        return;
    }
    // After the object's own banner, which is the same in every host: which
    // build of the layer Pd loaded.
    ::post("loopmass~ %s for Pure Data", LOOPMASS_VERSION);

    wrap_class = class_new(gensym("loopmass~"), (t_newmethod)(void (*)(void))wrap_new, (t_method)wrap_free, sizeof(t_wrap),
                           CLASS_DEFAULT, A_GIMME, 0);
    class_addbang(wrap_class, wrap_bang);
    class_addfloat(wrap_class, wrap_float);
    class_addsymbol(wrap_class, wrap_symbol);
    class_addlist(wrap_class, wrap_list);
    class_addanything(wrap_class, wrap_anything);
    class_addmethod(wrap_class, (t_method)wrap_dsp, gensym("dsp"), A_CANT, 0);

    proxy_class = class_new(gensym("loopmass~ inlet"), nullptr, nullptr, sizeof(patcher::t_proxy), CLASS_PD, A_NULL);
    class_addbang(proxy_class, proxy_bang);
    class_addfloat(proxy_class, proxy_float);
    class_addsymbol(proxy_class, proxy_symbol);
    class_addlist(proxy_class, proxy_list);
    class_addanything(proxy_class, proxy_anything);

    panel_class = class_new(gensym("loopmass~ panel"), nullptr, nullptr, sizeof(t_panel), CLASS_PD, A_NULL);
    class_addmethod(panel_class, (t_method)panel_callback, gensym("callback"), A_SYMBOL, 0);
}
