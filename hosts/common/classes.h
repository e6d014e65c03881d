// The class registry and message dispatch that every host shares: what
// setup() and the add*() calls register, and how a message's atoms are
// turned into a call of the method registered for it.  The host keeps its
// own bookkeeping for each object (inlets, outlets, which class it is) and
// writes the inlet number before it calls dispatch().
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "../../src/object/patcher.h"

namespace classes {

using patcher::method;
using patcher::t_atom;
using patcher::t_signal;
using patcher::t_symbol;

// One registered method: its message name, the function and the argument
// type (empty for none; at most one entry: A_LONG, A_FLOAT, A_SYM, A_DEFLONG,
// A_DEFFLOAT, A_DEFSYM, A_GIMME or A_CANT).
struct Method {
    std::string name;
    method fn;
    short argtype; // A_NOTHING when the method takes no argument
};

} // namespace classes

namespace patcher {

// A registered class.  Classes live as long as the process.
struct t_class {
    std::string c_name;
    method c_new;    // creation routine: (t_symbol *name, short argc, t_atom *argv)
    method c_free;   // free routine: (x), or nullptr
    size_t c_size;   // record size
    short c_newtype; // A_GIMME, or A_NOTHING for a routine that takes nothing
    std::vector<classes::Method> c_methods;
    bool c_signal; // z_add_signalmethod was called
};

} // namespace patcher

namespace classes {

using patcher::t_class;

// The name the next setup() registers its class under (then forgotten);
// "loopmass~" when none was set.
void next_class_name(const char *name);

// The class registered last under that name, or nullptr.
t_class *find(const char *name);

// The method registered under that name, or nullptr.
const Method *find_method(const t_class *c, const char *name);
// The method that takes a message of that selector, or nullptr: the one
// registered under it, but "int" and "float" fall back on each other.
const Method *lookup(const t_class *c, const char *selector);

// Calls the method for a message (lookup() above), converting the atoms to
// its argument type: A_GIMME gets the
// selector and at most 32767 atoms, A_DEFSYM gets "" when there is no atom.
// Returns 0 when a method took the message; 1 when there is none (A_CANT
// methods are never reachable) or an atom cannot be converted (a number
// where a symbol is wanted, a symbol where a number is wanted).
short dispatch(t_class *c, void *x, const char *selector, int argc, const t_atom *argv);

// Calls one method with atoms the caller owns, converted as dispatch()
// converts them, without allocating and without interning a symbol (but for
// an A_DEFSYM method given no atom): a host's audio thread finds its
// methods and interns its selectors beforehand and sends through this.
// selector is what an A_GIMME method receives.
short call_method(const Method &m, void *x, t_symbol *selector, short argc, t_atom *argv);

// Calls the creation routine with the class name and the arguments (at most
// 32767); returns what it returned.
void *call_new(t_class *c, int argc, const t_atom *argv);

// Calls the free routine, when the class has one.
void call_free(t_class *c, void *x);

// Calls a routine that takes nothing but the object (a clock's, a free
// routine), when there is one.
void call_routine(const method &m, void *x);

// Call the host-only methods; false when the class has no such method.
bool call_dsp(t_class *c, void *x, t_signal **sp, short *count);
bool call_assist(t_class *c, void *x, void *box, long kind, long number, char *text);

// Conversions of a number atom used by dispatch: a float to a 32-bit
// integer truncates toward zero and saturates, NaN gives 0.
int32_t to_long(const t_atom *a);
double to_double(const t_atom *a);

} // namespace classes
