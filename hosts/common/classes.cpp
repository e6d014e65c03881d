#include "classes.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace classes {

using namespace patcher;

namespace {

std::vector<std::unique_ptr<t_class>> &registry()
{
    static std::vector<std::unique_ptr<t_class>> r;
    return r;
}

std::string &pending_name()
{
    static std::string name;
    return name;
}

t_class *current_class = nullptr;

const short MAXARGC = 32767;

// Calls a routine through its caller, whose own type is the one these
// arguments give it when the routine takes exactly them (patcher.h).
template <typename... A> void call(const method &m, void *x, A... a)
{
    reinterpret_cast<void (*)(void (*)(void), void *, A...)>(m.call)(m.fn, x, a...);
}

// The argument types after the first entry, up to its terminating 0.  Only
// one entry is supported; a longer list is refused.
bool read_argtype(short first, va_list ap, short *argtype)
{
    *argtype = first;
    if (first == A_NOTHING)
        return true;
    return va_arg(ap, int) == A_NOTHING;
}

bool argtype_known(short argtype)
{
    switch (argtype) {
    case A_NOTHING:
    case A_LONG:
    case A_FLOAT:
    case A_SYM:
    case A_DEFLONG:
    case A_DEFFLOAT:
    case A_DEFSYM:
    case A_GIMME:
    case A_CANT:
        return true;
    default:
        return false;
    }
}

void add_method(const char *name, method f, short argtype)
{
    if (!current_class) {
        std::fprintf(stderr, "classes: method %s registered before setup\n", name);
        return;
    }
    if (!f.call) {
        // A routine that returns something is registered through a wrapper
        // (patcher.h).
        std::fprintf(stderr, "classes: method %s refused: no routine, or one that returns something\n", name);
        return;
    }
    current_class->c_methods.push_back(Method{name, f, argtype});
}

bool is_number(const t_atom *a)
{
    return a->a_type == A_LONG || a->a_type == A_FLOAT;
}

std::vector<t_atom> copy_atoms(int argc, const t_atom *argv)
{
    if (argc < 0)
        argc = 0;
    if (argc > MAXARGC)
        argc = MAXARGC;
    return std::vector<t_atom>(argv, argv + argc);
}

} // namespace

short call_method(const Method &m, void *x, t_symbol *selector, short argc, t_atom *argv)
{
    const t_atom *first = argc > 0 ? argv : nullptr;
    switch (m.argtype) {
    case A_NOTHING:
        call(m.fn, x);
        return 0;
    case A_LONG:
    case A_DEFLONG:
        if (first && !is_number(first))
            return 1;
        call<int32_t>(m.fn, x, first ? to_long(first) : 0);
        return 0;
    case A_FLOAT:
    case A_DEFFLOAT:
        if (first && !is_number(first))
            return 1;
        call<double>(m.fn, x, first ? to_double(first) : 0.0);
        return 0;
    case A_SYM:
    case A_DEFSYM:
        if (first && first->a_type != A_SYM)
            return 1;
        if (!first && m.argtype == A_SYM)
            return 1;
        call<t_symbol *>(m.fn, x, first ? first->a_w.w_sym : gensym(""));
        return 0;
    case A_GIMME:
        call<t_symbol *, short, t_atom *>(m.fn, x, selector, (short)(argc < 0 ? 0 : argc), argv);
        return 0;
    default: // A_CANT: only the host calls these, by their own signature
        return 1;
    }
}

namespace {

// Calls a method with the atoms of a message.  An A_GIMME method gets a
// copy of at most MAXARGC of them, which it may write into; the others get
// a converted first atom only, so the atoms themselves are never written.
short call_with_argtype(const Method &m, void *x, const char *selector, int argc, const t_atom *argv)
{
    if (m.argtype != A_GIMME)
        return call_method(m, x, nullptr, argc > 0 ? 1 : 0, const_cast<t_atom *>(argv));
    std::vector<t_atom> atoms = copy_atoms(argc, argv);
    return call_method(m, x, gensym(selector), (short)atoms.size(), atoms.data());
}

} // namespace

void next_class_name(const char *name)
{
    pending_name() = name ? name : "";
}

t_class *find(const char *name)
{
    std::vector<std::unique_ptr<t_class>> &r = registry();
    for (size_t i = r.size(); i-- > 0;)
        if (r[i]->c_name == name)
            return r[i].get();
    return nullptr;
}

const Method *find_method(const t_class *c, const char *name)
{
    for (const Method &m : c->c_methods)
        if (m.name == name)
            return &m;
    return nullptr;
}

int32_t to_long(const t_atom *a)
{
    if (a->a_type == A_LONG)
        return a->a_w.w_long;
    if (a->a_type != A_FLOAT)
        return 0;
    float f = a->a_w.w_float;
    if (std::isnan(f))
        return 0;
    if (f >= 2147483648.0f)
        return INT32_MAX;
    if (f <= -2147483648.0f)
        return INT32_MIN;
    return (int32_t)f;
}

double to_double(const t_atom *a)
{
    if (a->a_type == A_LONG)
        return (double)a->a_w.w_long;
    if (a->a_type == A_FLOAT)
        return (double)a->a_w.w_float;
    return 0.0;
}

const Method *lookup(const t_class *c, const char *selector)
{
    const Method *m = find_method(c, selector);
    // An int goes to the float method when there is no int method, and the
    // other way round.
    if (!m && std::strcmp(selector, "int") == 0)
        m = find_method(c, "float");
    else if (!m && std::strcmp(selector, "float") == 0)
        m = find_method(c, "int");
    return m;
}

short dispatch(t_class *c, void *x, const char *selector, int argc, const t_atom *argv)
{
    if (!c || !selector)
        return 1;
    const Method *m = lookup(c, selector);
    if (!m)
        return 1;
    return call_with_argtype(*m, x, selector, argc, argv);
}

void call_routine(const method &m, void *x)
{
    if (m.call)
        call(m, x);
}

void *call_new(t_class *c, int argc, const t_atom *argv)
{
    // A creation routine is called through its own type (patcher.h).
    if (c->c_newtype == A_NOTHING)
        return reinterpret_cast<void *(*)(void)>(c->c_new.fn)();
    std::vector<t_atom> atoms = copy_atoms(argc, argv);
    return reinterpret_cast<void *(*)(t_symbol *, short, t_atom *)>(c->c_new.fn)(gensym(c->c_name.c_str()),
                                                                                 (short)atoms.size(), atoms.data());
}

void call_free(t_class *c, void *x)
{
    call_routine(c->c_free, x);
}

bool call_dsp(t_class *c, void *x, t_signal **sp, short *count)
{
    const Method *m = find_method(c, "dsp");
    if (!m)
        return false;
    call<t_signal **, short *>(m->fn, x, sp, count);
    return true;
}

bool call_assist(t_class *c, void *x, void *box, long kind, long number, char *text)
{
    const Method *m = find_method(c, "assist");
    if (!m)
        return false;
    call<void *, long, long, char *>(m->fn, x, box, kind, number, text);
    return true;
}

} // namespace classes

namespace patcher {

using classes::add_method;

void setup(t_class **ident, method makefun, method freefun, size_t size, method menufun, int type, ...)
{
    (void)menufun;
    short argtype;
    va_list ap;
    va_start(ap, type);
    bool ok = classes::read_argtype(type, ap, &argtype);
    va_end(ap);
    std::string name = classes::pending_name().empty() ? "loopmass~" : classes::pending_name();
    classes::pending_name().clear();
    if (!ok || (argtype != A_GIMME && argtype != A_NOTHING)) {
        std::fprintf(stderr, "classes: %s: creation arguments must be A_GIMME or none\n", name.c_str());
        classes::current_class = nullptr;
        if (ident)
            *ident = nullptr;
        return;
    }
    std::unique_ptr<t_class> c(new t_class{name, makefun, freefun, size, argtype, {}, false});
    classes::current_class = c.get();
    classes::registry().push_back(std::move(c));
    if (ident)
        *ident = classes::current_class;
}

void addmess(method f, const char *name, int type, ...)
{
    short argtype;
    va_list ap;
    va_start(ap, type);
    bool ok = classes::read_argtype(type, ap, &argtype);
    va_end(ap);
    if (!ok || !classes::argtype_known(argtype)) {
        std::fprintf(stderr, "classes: %s: unsupported argument types\n", name);
        return;
    }
    add_method(name, f, argtype);
}

void addbang(method f)
{
    add_method("bang", f, A_NOTHING);
}
void addint(method f)
{
    add_method("int", f, A_LONG);
}
void addfloat(method f)
{
    add_method("float", f, A_FLOAT);
}

void z_add_signalmethod(void)
{
    if (classes::current_class)
        classes::current_class->c_signal = true;
}

} // namespace patcher
