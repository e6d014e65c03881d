// The clock queue the in-process host and the LV2 layer share: which
// clocks a pass fires, and in what order, in both hosts' units of time.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "clocks.h"

namespace {

// What a clock's routine does besides noting that it fired.
enum e_action { NOTHING, REARM_SELF, UNSET, FREE, ARM };

struct Arm {
    int clock; // 0 to 2: A, B, C
    int due;
};

struct Action {
    e_action what;
    int target; // UNSET, FREE, ARM
    int due;    // ARM
};

struct Case {
    const char *name;
    std::vector<Arm> arms;   // before the first pass, in this order
    Action actions[3];       // of A, B and C
    std::vector<int> passes; // the time of each pass
    const char *fired;       // per pass, " | " between passes
};

const Case cases[] = {
    {"earliest due first", {{0, 30}, {1, 10}, {2, 20}}, {}, {30}, "B C A"},
    {"due together: in order of arming", {{0, 10}, {1, 10}, {2, 5}, {0, 10}}, {}, {10}, "C B A"},
    {"at or after its due time", {{0, 10}, {1, 11}}, {}, {9, 10, 11, 12}, " | A | B | "},
    {"re-armed at once by its own routine: once per pass", {{0, 0}}, {{REARM_SELF, 0, 0}}, {0, 0, 5}, "A | A | A"},
    {"unset by an earlier routine of the pass", {{0, 1}, {1, 2}}, {{UNSET, 1, 0}}, {5, 6}, "A | "},
    {"freed by an earlier routine of the pass", {{0, 1}, {1, 2}, {2, 3}}, {{FREE, 1, 0}}, {5}, "A C"},
    {"armed by a routine for a past time: the next pass", {{0, 1}}, {{ARM, 1, 0}}, {5, 6}, "A | B"},
    {"re-armed by an earlier routine: the next pass", {{0, 1}, {1, 2}}, {{ARM, 1, 2}}, {5, 6}, "A | B"},
};

template <typename Time> struct Fixture {
    clocks::Queue<Time> queue;
    clocks::Clock<Time> *clock[3] = {};
    const Action *actions = nullptr;
    Time now = 0;
    std::string fired;

    struct Probe {
        Fixture *f;
        int index;
    } probes[3];

    static void routine(Probe *p)
    {
        Fixture *f = p->f;
        if (!f->fired.empty() && f->fired.back() != ' ')
            f->fired += ' ';
        f->fired += (char)('A' + p->index);
        const Action &a = f->actions[p->index];
        if (a.what == REARM_SELF)
            f->queue.arm(f->clock[p->index], f->now);
        else if (a.what == UNSET)
            f->clock[a.target]->armed = false;
        else if (a.what == FREE)
            f->free(a.target);
        else if (a.what == ARM)
            f->queue.arm(f->clock[a.target], (Time)a.due);
    }

    void free(int i)
    {
        queue.remove(clock[i]);
        delete clock[i];
        clock[i] = nullptr;
    }

    std::string run(const Case &c)
    {
        actions = c.actions;
        for (int i = 0; i < 3; i++) {
            probes[i] = Probe{this, i};
            clock[i] = new clocks::Clock<Time>{&probes[i], (patcher::method)routine, false, 0, 0, 0};
            queue.add(clock[i]);
        }
        for (const Arm &a : c.arms)
            queue.arm(clock[a.clock], (Time)a.due);
        for (size_t p = 0; p < c.passes.size(); p++) {
            if (p > 0)
                fired += " | ";
            now = (Time)c.passes[p];
            queue.run(now);
        }
        for (int i = 0; i < 3; i++)
            if (clock[i])
                free(i);
        return fired;
    }
};

// The in-process host counts ticks, the LV2 layer milliseconds.
template <typename Time> class ClockQueue : public ::testing::Test {
};
typedef ::testing::Types<int64_t, double> Units;
TYPED_TEST_SUITE(ClockQueue, Units);

TYPED_TEST(ClockQueue, FiresDueClocksInOrderOncePerPass)
{
    for (const Case &c : cases) {
        Fixture<TypeParam> f;
        EXPECT_EQ(f.run(c), c.fired) << c.name;
    }
}

} // namespace
