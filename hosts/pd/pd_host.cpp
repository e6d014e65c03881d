// The patcher host interface on Pd: outlets, proxies, clocks, the signal
// chain, the console, files and dialogs (the rules are in pd_layer.h and
// patcher.h).

#include "pd_layer.h"

namespace pdhost {

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

pdhost::p_outlet *listout(void *x)
{
    return outlet_make(x, false);
}

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
    classes::call_routine(c->c_fn, c->c_owner);
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

short binbuf_read(pdhost::p_binbuf *b, const char *name, short volume, short binary)
{
    return store::read_named(b, name, volume, binary);
}

short binbuf_write(pdhost::p_binbuf *b, const char *name, short volume, short binary)
{
    return store::write_named(b, name, volume, binary);
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

long calendar_seconds(void)
{
    return (long)time(nullptr);
}

} // namespace patcher

// A console line, cut to Pd's longest; an error is tied to the object for
// Pd's "find last error".
void console::line(bool is_error, const char *text, size_t length)
{
    char line[MAXPDSTRING];
    length = std::min(length, sizeof line - 1);
    std::memcpy(line, text, length);
    line[length] = '\0';
    if (is_error)
        ::pd_error(pdhost::current, "%s", line);
    else
        ::post("%s", line);
}
