// The Pd class loopmass~: a wrapper around the object's record that turns
// Pd's messages into the object's, runs its signal routine and makes its
// inlets and outlets (pd_layer.h).

#include "pd_layer.h"

namespace pdhost {

t_class *wrap_class;
t_class *proxy_class;
t_class *panel_class;
p_class *object_class;
t_wrap *constructing;
t_wrap *current;

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
    const classes::Method *m = classes::lookup(object_class, selector);
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

void wrap_bang(t_wrap *w)
{
    deliver(w, 0, "bang", 0, nullptr);
}
void wrap_float(t_wrap *w, t_float f)
{
    deliver_float(w, 0, f);
}
void wrap_list(t_wrap *w, t_symbol *, int argc, t_atom *argv)
{
    deliver(w, 0, "list", argc, argv);
}
void wrap_anything(t_wrap *w, t_symbol *s, int argc, t_atom *argv)
{
    deliver(w, 0, s->s_name, argc, argv);
}
void wrap_symbol(t_wrap *w, t_symbol *s)
{
    t_atom a;
    SETSYMBOL(&a, s);
    deliver(w, 0, "symbol", 1, &a);
}

void proxy_bang(patcher::t_proxy *p)
{
    deliver(p->p_owner, p->p_id, "bang", 0, nullptr);
}
void proxy_float(patcher::t_proxy *p, t_float f)
{
    deliver_float(p->p_owner, p->p_id, f);
}
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

} // namespace pdhost

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

    wrap_class = class_new(gensym("loopmass~"), (t_newmethod)(void (*)(void))wrap_new, (t_method)wrap_free,
                           sizeof(t_wrap), CLASS_DEFAULT, A_GIMME, 0);
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
