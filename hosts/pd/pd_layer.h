// The patcher host interface on top of Pure Data's API, so that the object
// builds unchanged as the Pd external loopmass~: what its two files share.
// loopmass_pd.cpp holds the Pd class (messages, signal, creation and free,
// the entry point), pd_host.cpp the host interface (outlets, proxies,
// clocks, console, files and dialogs).
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
// Pd's scheduler (pd_host.cpp tells how they keep the clock rule), and files
// are found in the patch's folder, its declared paths and Pd's search path.
//
// m_pd.h declares C names that the patcher API also uses (post, clock_new,
// t_atom, ...), and defines t_class, t_outlet, t_clock and t_binbuf as
// macros.  So the patcher headers come first, every patcher type these files
// need is named before m_pd.h is included, and the types of Pd are used
// unqualified after it.

#pragma once

#include "../../src/object/loopmass.h"
#include "../common/classes.h"
#include "../common/console.h"
#include "../common/paths.h"
#include "../common/store_files.h"
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
    void *w_rec;                     // the object's record
    int32_t *w_stuffloc;             // the record's inlet-number field
    t_canvas *w_canvas;              // the patch the object was created in
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

extern t_class *wrap_class;
extern t_class *proxy_class;
extern t_class *panel_class;
extern p_class *object_class;

// The wrapper whose creation routine is running: newobject() ties the
// record to it.
extern t_wrap *constructing;
// The wrapper the host is calling into, for pd_error's "find last error"
// and for the canvas that files are searched from.
extern t_wrap *current;

// Sets the current wrapper for the length of one call into the object.
struct Calling {
    t_wrap *saved;
    explicit Calling(t_wrap *w) : saved(current) { current = w; }
    ~Calling() { current = saved; }
    Calling(const Calling &) = delete;
    Calling &operator=(const Calling &) = delete;
};

inline t_wrap *wrap_of(void *record)
{
    return record ? (t_wrap *)((patcher::t_object *)record)->o_host : nullptr;
}

// Outgoing atoms: longs and floats become Pd floats, symbols Pd symbols.
void atoms_to_pd(int argc, const p_atom *argv, t_atom *out);

// Opens Pd's open or save panel for the current wrapper; its answer
// arrives later through the panel's receiver, as "read PATH" or "write
// PATH".
void open_panel(t_panel **slot, const char *selector, const char *tclproc);

} // namespace pdhost
