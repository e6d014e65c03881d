// Symbols and the message store, with its cursor units.

#include "store.h"

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace patcher {

// A store is the sequence of its atoms; a message end is an A_SEMI atom.
struct t_binbuf {
    std::vector<t_atom> b_atoms;
};

t_symbol *gensym(const char *name)
{
    // Symbols are never freed: their names live in the table's keys, whose
    // addresses do not move when the table grows.  A plugin host builds
    // objects and reads files on several threads at once, so the table is
    // locked; an audio thread interns its symbols beforehand and never
    // comes here.
    static std::unordered_map<std::string, std::unique_ptr<t_symbol>> table;
    static std::mutex lock;
    if (!name)
        name = "";
    std::lock_guard<std::mutex> guard(lock);
    auto it = table.find(name);
    if (it == table.end()) {
        it = table.emplace(name, nullptr).first;
        it->second.reset(new t_symbol{it->first.c_str()});
    }
    return it->second.get();
}

t_binbuf *binbuf_new(void)
{
    return new t_binbuf;
}

void freeobject(t_binbuf *b)
{
    delete b;
}

static int32_t saturate_long(long v)
{
    if (v > INT32_MAX)
        return INT32_MAX;
    if (v < INT32_MIN)
        return INT32_MIN;
    return (int32_t)v;
}

void binbuf_vinsert(t_binbuf *b, const char *fmt, ...)
{
    if (!b || !fmt)
        return;
    va_list ap;
    va_start(ap, fmt);
    for (const char *p = fmt; *p; p++) {
        t_atom a;
        if (*p == 'l') {
            a = store::zero_atom(A_LONG);
            a.a_w.w_long = saturate_long(va_arg(ap, long));
        } else if (*p == 'f') {
            a = store::zero_atom(A_FLOAT);
            a.a_w.w_float = (float)va_arg(ap, double);
        } else if (*p == 's') {
            a = store::zero_atom(A_SYM);
            t_symbol *s = va_arg(ap, t_symbol *);
            a.a_w.w_sym = s ? s : gensym("");
        } else {
            // The type of the remaining arguments is unknown: stop here.
            std::fprintf(stderr, "binbuf_vinsert: unknown format letter '%c'\n", *p);
            break;
        }
        b->b_atoms.push_back(a);
    }
    va_end(ap);
    b->b_atoms.push_back(store::zero_atom(A_SEMI));
}

void binbuf_insert(t_binbuf *b, t_symbol *s, short argc, t_atom *argv)
{
    if (!b)
        return;
    if (s) {
        t_atom a = store::zero_atom(A_SYM);
        a.a_w.w_sym = s;
        b->b_atoms.push_back(a);
    }
    for (short i = 0; argv && i < argc; i++) {
        t_atom a = argv[i];
        if (a.a_type == A_SYM && !a.a_w.w_sym)
            a.a_w.w_sym = gensym("");
        // Only atoms the store can write and read back are kept.
        if (a.a_type == A_LONG || a.a_type == A_FLOAT || a.a_type == A_SYM || a.a_type == A_SEMI)
            b->b_atoms.push_back(a);
    }
    b->b_atoms.push_back(store::zero_atom(A_SEMI));
}

short binbuf_getatom(t_binbuf *b, long *p1, long *p2, t_atom *ap)
{
    if (!b || !p1 || !p2 || !ap || *p1 < 0 || (unsigned long)*p1 >= b->b_atoms.size())
        return 1;
    const t_atom &a = b->b_atoms[(size_t)*p1];
    long bytes = a.a_type == A_FLOAT ? 8 : a.a_type == A_SEMI ? 0 : 4;
    if (*p2 > LONG_MAX - bytes)
        return 1;
    *ap = a;
    *p1 += 1;
    *p2 += bytes;
    return 0;
}

} // namespace patcher

namespace store {

t_atom zero_atom(short type)
{
    t_atom a;
    std::memset(&a, 0, sizeof a);
    a.a_type = type;
    return a;
}

std::vector<t_atom> atoms(t_binbuf *b)
{
    return b ? b->b_atoms : std::vector<t_atom>();
}

void replace(t_binbuf *b, std::vector<t_atom> &atoms)
{
    b->b_atoms.swap(atoms);
}

} // namespace store
