// The in-process host: implements the patcher API (src/object/patcher.h),
// keeping its rules, for one process, with a logical clock, scripted file
// dialogs and a signal chain run by the caller.  The command line and the tests drive objects
// through the functions below.  Single-threaded.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "../../src/object/patcher.h"

namespace headless {

using patcher::t_atom;

// Logical time, in ticks of 1/441000 s: a sample at 44100 Hz is 10 ticks and
// a millisecond 441, so both advance time exactly.
typedef int64_t t_ticks;
const t_ticks TICKS_PER_SECOND = 441000;
const t_ticks TICKS_PER_MS = 441;

// The longest signal vector this host runs, in samples (the command line's
// vector sizes are 1 to this).
const int MAX_VECTOR = 2048;

// What objects send out.  console: "post" or "error" and the formatted
// line; list: an outlet list (outlet numbered from 0, left to right).
struct Listener {
    std::function<void(const char *channel, const std::string &text)> console;
    std::function<void(void *x, int outlet, int argc, const t_atom *argv)> list;
};
void set_listener(const Listener &l);

// Loads a module: calls its entry point, which registers its classes.
void load(int (*entry)(void));

// The name under which the next setup() registers its class (then
// forgotten); without one, classes are registered as "loopmass~".  Lets
// tests register classes of their own.
void next_class_name(const char *name);

// Objects.  create() returns the record, or nullptr when no class has that
// name.  destroy() calls the class's free routine and releases the object.
void *create(const char *classname, int argc, const t_atom *argv);
void destroy(void *x);

// Sends a message to inlet `inlet` (0 is the left inlet).  The selector
// "int", "float", "bang", "list" or a message name; arguments are converted
// to the method's argument types as the patcher does.  Returns 0 when a
// method took the message, 1 when the object does not understand it or the
// inlet does not exist.
int send(void *x, int inlet, const char *selector, int argc, const t_atom *argv);

// Calls the object's "assist" method: kind 1 inlet, 2 outlet.  text is a
// buffer of 512 characters.  Returns 1 when the class has no such method.
int assist(void *x, long kind, long number, char *text);

// Number of inlets and outlets of an object.
int ninlets(void *x);
int noutlets(void *x);

// Signal chain.  dsp_start() gives every live signal object its "dsp"
// message for vectors of n samples (1 to MAX_VECTOR) at the sample rate sr (the
// command line's is 44100 unless it is told another) and builds the chain;
// dsp_tick() runs it once; signal_out() is the object's signal outlet for
// the last tick (n samples).
void dsp_start(int n, double sr = 44100.0);
void dsp_stop(void);
void dsp_tick(void);
const float *signal_out(void *x);

// Scheduler.  now() is the logical time; set_now() moves it (it never runs
// clocks); run_clocks() fires, once each and in order of due time, every
// clock due at or before now().  Each call is one scheduler pass of the
// clock rule (patcher.h): a clock set while they fire waits for the next
// call.
t_ticks now(void);
void set_now(t_ticks t);
void run_clocks(void);

// Files.  Path id 0 is the default path, the current working directory.
// A dialog takes the next queued answer, or is cancelled when none is.
void queue_dialog(const std::string &path);
void queue_dialog_cancel(void);
void clear_dialogs(void);
// Directory of a path id ("" for the default path), for tests.
std::string path_dir(short id);

// Fixes the calendar time that objects read (their random seed); unfixed,
// it is the real calendar time.
void fix_calendar(long seconds);
void unfix_calendar(void);

// The text form of stores and floats is in hosts/common/store_text.h.

} // namespace headless
