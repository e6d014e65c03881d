// The patcher host's API as loopmass~ sees it: the only door between the
// object and the world.  Every host (the in-process one behind the command
// line, the Pure Data layer, the LV2 layer) implements these functions and
// keeps the three rules below on what the object can observe: when clocks
// fire (Clocks), how vectors are paced (Signal chain) and where files are
// found (Files).  They live in a namespace of their own because Pd's m_pd.h
// declares C functions and types with the same names and other signatures,
// and the Pd layer includes both.
#pragma once

#include <cstddef>
#include <cstdint>

namespace patcher {

typedef intptr_t t_int;
typedef uint32_t t_fourcc;

// Atom types, numbered as the patcher numbers them.
enum e_atomtype {
    // what an atom holds
    A_NOTHING = 0,
    A_LONG = 1,
    A_FLOAT = 2,
    A_SYM = 3,
    A_OBJ = 4,
    // what a method takes besides
    A_DEFLONG = 5,
    A_DEFFLOAT = 6,
    A_DEFSYM = 7,
    A_GIMME = 8,
    A_CANT = 9,
    // a message's end, and what a patcher's text may hold besides
    A_SEMI = 10,
    A_COMMA = 11,
    A_DOLLAR = 12
};

struct t_symbol {
    const char *s_name;
};

union word {
    int32_t w_long;
    float w_float;
    t_symbol *w_sym;
    void *w_obj;
};

struct t_atom {
    short a_type;
    union word a_w;
};

// Object headers.  o_host is the host's own bookkeeping for the object
// (inlets, outlets, class); the object never looks inside it.
struct t_object {
    void *o_host;
};

struct t_pxobject {
    t_object z_ob;
    short z_in;
};

struct t_signal {
    int s_n;
    float *s_vec;
    double s_sr;
};

// Host-owned things the object holds by reference only.
struct t_class;
struct t_outlet;
struct t_proxy;
struct t_clock;
struct t_binbuf;

// A routine of the object as a host holds it: the routine, and a caller
// made for the routine's own type, which calls it through that type.  A
// host calls a routine through its caller, cast to
//   void (*)(void (*)(void), void *x, ARGS...)
// with the ARGS of the routine's argument type: none (A_NOTHING, a clock's
// or a free routine), int32_t (A_LONG), double (A_FLOAT), t_symbol *
// (A_SYM), t_symbol *, short, t_atom * (A_GIMME); for "dsp" t_signal **,
// short *; for "assist" void *, long, long, char *.  For a routine that
// takes exactly those, that is the caller's own type: no routine is called
// through a pointer of another type, which C++ leaves undefined and
// WebAssembly refuses.  Only a routine that returns nothing has a caller
// (one that returns a status is registered through a wrapper); a creation
// routine, which returns the object, is called through its own type,
// void *(*)(t_symbol *, short, t_atom *) or void *(*)(void).
// `(method)routine` makes one, as the patcher spells it.
struct method {
    void (*fn)(void);
    void (*call)(void);

    method() : fn(nullptr), call(nullptr) {}
    method(std::nullptr_t) : method() {}
    template <typename X, typename... A>
    method(void (*f)(X *, A...))
        : fn(reinterpret_cast<void (*)(void)>(f)), call(reinterpret_cast<void (*)(void)>(&caller<X, A...>))
    {
    }
    template <typename... A> method(void *(*f)(A...)) : fn(reinterpret_cast<void (*)(void)>(f)), call(nullptr) {}

private:
    template <typename X, typename... A> static void caller(void (*f)(void), void *x, A... a)
    {
        reinterpret_cast<void (*)(X *, A...)>(f)(static_cast<X *>(x), a...);
    }
};

typedef t_int *(*t_perfroutine)(t_int *w);

// Room for a file name, terminating zero included.
const int MAX_FILENAME_CHARS = 256;

// Four-character file type of preset files.
const t_fourcc FOUR_CHAR_TEXT = 0x54455854; // 'TEXT'

t_symbol *gensym(const char *name);

// Class registration.  setup() makes the class current; the add*() calls
// register methods on the current class.  Argument types end with 0.
void setup(t_class **ident, method makefun, method freefun, size_t size, method menufun, int type, ...);
void addmess(method f, const char *name, int type, ...);
void addbang(method f);
void addint(method f);
void addfloat(method f);
void z_add_signalmethod(void);

// Instances.
void *newobject(t_class *c);
void z_dsp_setup(t_pxobject *x, short nsignals);
void z_dsp_free(t_pxobject *x);
// A proxy inlet: the host writes id into *stuffloc before every message that
// arrives through it, and 0 before every message on the object's left inlet.
t_proxy *proxy_new(void *x, long id, int32_t *stuffloc);

// Outlets are created right to left: each new one becomes the leftmost.
t_outlet *outlet_new(void *x, const char *type);
t_outlet *listout(void *x);
void outlet_list(t_outlet *o, t_symbol *s, short argc, t_atom *argv);

// Clocks, in milliseconds of the host's scheduler time.  A delay below 0, or
// not a number, counts as 0; arming an armed clock replaces its pending
// firing; clock_unset disarms it.
//
// The clock rule, which every host keeps.  A host runs clocks in scheduler
// passes, each at its own pace: the in-process host before each signal
// vector and at each millisecond tick of a wait (a clock fires at the first
// of these at or after its due time), Pd once per block of 64 samples
// before computing it (a clock fires in the pass of the block its due time
// falls in), the LV2 layer before each 64-sample vector (a clock fires at
// the first pass at or after its due time).  A clock armed from within a
// clock routine with a delay that falls before the host's next pass, a
// delay of 0 included, fires at that next pass, never in the same one.  So
// a clock that keeps re-arming itself with delay 0, or with any delay
// shorter than a pass, fires once per pass and the host never loops; the
// delay itself is kept as given.
t_clock *clock_new(void *x, method fn);
void clock_delay(t_clock *c, long ms);
void clock_fdelay(t_clock *c, double ms);
void clock_unset(t_clock *c);

// Signal chain.  dsp_add's arguments are t_int values.
//
// The vector rule, which every host keeps.  The host calls the "dsp" method
// with the signal outlet's vector of s_n samples (1 or more) and the sample
// rate s_sr, then runs the perform routine once per vector of that size,
// one scheduler pass (the clock rule) before each, until audio stops or a
// new "dsp" call; the object takes any vector size, a longer one than its
// mix buffer in slices.  The in-process host runs the vector sizes a score
// asks for (up to its MAX_VECTOR), Pd its block size (64 unless a patch
// reblocks), the LV2 layer always 64, whatever the plugin host's blocks.
void dsp_add(t_perfroutine f, int n, ...);

// Console.
void post(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
void error(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// Message store.  binbuf_vinsert's format has one letter per atom: 'l' takes
// a long argument, 'f' a double, 's' a t_symbol *.  Cursor units: the first
// cursor counts atoms (one per long, float, symbol and message end), the
// second counts value bytes (4 per long or symbol, 8 per float, 0 per
// message end).  Both functions that read or
// write files return 0 on success.  A failed read leaves the store as it was.
t_binbuf *binbuf_new(void);
void binbuf_vinsert(t_binbuf *b, const char *fmt, ...);
void binbuf_insert(t_binbuf *b, t_symbol *s, short argc, t_atom *argv);
short binbuf_getatom(t_binbuf *b, long *p1, long *p2, t_atom *ap);
short binbuf_read(t_binbuf *b, const char *name, short volume, short binary);
short binbuf_write(t_binbuf *b, const char *name, short volume, short binary);

// Release of what binbuf_new and clock_new made.
void freeobject(t_binbuf *b);
void freeobject(t_clock *c);

// Files.  name is a buffer of MAX_FILENAME_CHARS; each returns 0 when a file
// was found or chosen, nonzero when not found or cancelled.
//
// The file rule, which every host keeps.  A path id stands for a folder;
// defvolume() is the one where the object reads and writes files by name
// until a dialog chooses another.  A name that starts with "/" designates
// that file whatever the path id; any other designates the file of that
// name in the path id's folder, and nothing for a path id the host does not
// know.  locatefile_extended() finds a name that designates a regular file
// in the path id it is given, else in the host's own places, and then sets
// the path id to one in which the name designates the file it found;
// binbuf_read() and binbuf_write() take the name in the path id they are
// given and look nowhere else.  The dialogs give a name and the path id of
// its folder.  The in-process host's default folder is the working
// directory, which is also its only other place; Pd's is the patch's
// folder, and its other places the patch's declared paths and Pd's search
// path; the LV2 layer has no folders: relative names designate the bank
// text of its session, and it writes nothing.
short locatefile_extended(char *name, short *outvol, t_fourcc *outtype, const t_fourcc *filetypelist, short numtypes);
short open_dialog(char *name, short *volptr, t_fourcc *typeptr, t_fourcc *types, short ntypes);
short saveasdialog_extended(char *name, short *vol, t_fourcc *type, t_fourcc *typelist, short numtypes);
short defvolume(void);

// The calendar time in seconds, which seeds the object's random generator.
// A host may fix it so that runs are reproducible.
long calendar_seconds(void);

} // namespace patcher
