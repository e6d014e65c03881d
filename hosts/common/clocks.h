// The clock rule of patcher.h for the hosts that schedule clocks themselves
// (the in-process host, the LV2 layer; the Pd layer's clocks are Pd's): the
// clocks of a scheduler and the passes that fire them.  A pass fires every
// armed clock due at or before its time, earliest due first and, among
// clocks due together, in the order they were armed.  A clock unset, freed
// or armed again by a routine of the pass does not fire in it; armed again,
// it waits for a later pass, so a routine that re-arms its own clock with
// any delay fires once per pass.
//
// Time is the host's unit: the in-process host's integer ticks, the LV2
// layer's milliseconds.  The host turns delays into due times.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "classes.h"

namespace clocks {

template <typename Time> struct Clock {
    void *x; // the object its routine is given
    patcher::method fn;
    bool armed;
    Time due;
    uint64_t seq; // order of arming
    size_t slot;  // its place in the queue
};

template <typename Time> class Queue {
public:
    // Room for n clocks, so that adding up to n and running passes over
    // them allocates nothing.
    void reserve(size_t n)
    {
        clocks_.reserve(n);
        pass_.reserve(n);
    }

    size_t size() const { return clocks_.size(); }
    Clock<Time> *last() const { return clocks_.back(); }

    void add(Clock<Time> *c)
    {
        c->slot = clocks_.size();
        clocks_.push_back(c);
    }

    // Before the clock is freed, also by a routine of a pass under way.
    void remove(Clock<Time> *c)
    {
        Clock<Time> *last = clocks_.back();
        clocks_[c->slot] = last;
        last->slot = c->slot;
        clocks_.pop_back();
        for (Due &d : pass_)
            if (d.c == c)
                d.c = nullptr;
    }

    void arm(Clock<Time> *c, Time due)
    {
        c->armed = true;
        c->due = due;
        c->seq = ++seq_;
    }

    // Disarms every clock of object x.
    void unset_all(void *x)
    {
        for (Clock<Time> *c : clocks_)
            if (c->x == x)
                c->armed = false;
    }

    // One scheduler pass at time now.
    void run(Time now)
    {
        pass_.clear();
        for (Clock<Time> *c : clocks_)
            if (c->armed && c->due <= now)
                pass_.push_back(Due{c, c->seq});
        std::sort(pass_.begin(), pass_.end(), [](const Due &a, const Due &b) {
            return a.c->due != b.c->due ? a.c->due < b.c->due : a.seq < b.seq;
        });
        for (size_t i = 0; i < pass_.size(); i++) {
            Clock<Time> *c = pass_[i].c;
            if (!c || !c->armed || c->seq != pass_[i].seq)
                continue;
            c->armed = false;
            classes::call_routine(c->fn, c->x);
        }
        pass_.clear();
    }

private:
    struct Due {
        Clock<Time> *c; // nullptr once freed
        uint64_t seq;   // as armed when the pass began
    };
    std::vector<Clock<Time> *> clocks_;
    std::vector<Due> pass_;
    uint64_t seq_ = 0;
};

} // namespace clocks
