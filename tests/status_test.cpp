// Switches, the motion display clock, "info" and the help texts.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>
#include <string>

#include "harness.h"

using namespace test;
using namespace loopmass;

namespace {

// Runs the scheduler once per millisecond over [from, to) and returns the
// times (ms) at which motion lists left the object.
std::vector<double> motion_times(Harness &h, int from, int to)
{
    std::vector<double> times;
    for (int ms = from; ms < to; ms++) {
        headless::set_now(ms * headless::TICKS_PER_MS);
        headless::run_clocks();
        for (const Event &e : h.take("out2"))
            times.push_back((double)e.time / headless::TICKS_PER_MS);
    }
    return times;
}

std::vector<double> every(int step, int to)
{
    std::vector<double> v;
    for (int t = 0; t < to; t += step)
        v.push_back(t);
    return v;
}

struct ClockCase {
    const char *name;
    std::vector<std::pair<const char *, std::vector<t_atom>>> messages;
    std::vector<double> times; // over the first 100 ms
    int16_t inactive;
};

TEST(DisplayClock, FollowsTheSwitchesAndTheInterval)
{
    const std::vector<ClockCase> cases = {
        {"fresh", {}, every(100, 100), 0},
        {"inactive 1", {{"inactive", {L(1)}}}, {}, -1},
        {"inactive 1 then 0", {{"inactive", {L(1)}}, {"inactive", {L(0)}}}, every(100, 100), 0},
        {"inactive float", {{"inactive", {F(1.0f)}}}, every(100, 100), 0},
        {"inactive without argument", {{"inactive", {}}}, every(100, 100), 0},
        {"disprate 0", {{"disprate", {L(0)}}}, {}, 0},
        {"disprate 0 then inactive 0", {{"disprate", {L(0)}}, {"inactive", {L(0)}}}, {}, 0},
        {"disprate 25", {{"disprate", {L(25)}}}, every(25, 100), 0},
        {"disprate -20", {{"disprate", {L(-20)}}}, every(20, 100), 0},
        {"disprate 2.7", {{"disprate", {F(2.7f)}}}, every(2, 100), 0},
        {"disprate 0.5", {{"disprate", {F(0.5f)}}}, every(1, 100), 0},
        {"disprate nan is ignored", {{"disprate", {F(NAN)}}}, every(100, 100), 0},
        {"disprate without argument", {{"disprate", {}}}, every(100, 100), 0},
        {"disprate 30 while inactive", {{"inactive", {L(5)}}, {"disprate", {L(30)}}}, every(30, 100), -1},
    };
    for (const ClockCase &c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        t_loopmass *x = h.create({L(4)});
        for (const auto &m : c.messages)
            h.send(x, 3, m.first, m.second);
        EXPECT_EQ(motion_times(h, 0, 100), c.times);
        EXPECT_EQ(loopmass_view_display(x).inactive, c.inactive);
    }
}

TEST(DisplayClock, RestartSendsAtOnceThenAtTheNewInterval)
{
    Harness h;
    t_loopmass *x = h.create({L(4)});
    EXPECT_EQ(motion_times(h, 0, 130), (std::vector<double>{0, 100}));
    h.send(x, 0, "disprate", {L(50)});
    EXPECT_EQ(motion_times(h, 130, 240), (std::vector<double>{130, 180, 230}));
}

TEST(Display, SwitchesTheParameterLists)
{
    Harness h;
    t_loopmass *x = h.create({L(4)});
    h.take();
    h.send(x, 0, "display", {L(0)});
    h.send(x, 1, "gain", {F(2.0f)});
    h.send(x, 0, "int", {L(3)});
    h.send(x, 0, "display", {F(1.0f)});
    EXPECT_TRUE(h.take("out1").empty());
    EXPECT_EQ(loopmass_view_display(x).display, 0);

    h.send(x, 5, "display", {L(2)});
    EXPECT_EQ(loopmass_view_display(x).display, 1);
    std::vector<Event> lists = h.take("out1");
    ASSERT_EQ(lists.size(), 6u);
    for (int k = 1; k <= 6; k++)
        EXPECT_EQ(lists[k - 1].floats()[0], (float)k);
}

std::vector<std::string> info_lines(Harness &h, t_loopmass *x)
{
    h.take();
    h.send(x, 4, "info");
    std::vector<std::string> lines;
    for (const Event &e : h.take("post"))
        lines.push_back(e.text);
    return lines;
}

TEST(Info, ReportsTheStateInElevenLines)
{
    Harness h;
    t_loopmass *x = h.create();
    const std::vector<std::string> fresh = {
        "info on loopmass~:",
        "current preset: 0, number of masses: 256",
        "Display (1 on, 0 off): 1, display interval (ms): 100.000000",
        "Metaparameters:",
        "Masses:           gain 1.000000, offset 0.000000, phase 0.000000, extra 0.000000",
        "String tension:   gain 1.000000, offset 0.000000, phase 0.000000, extra 0.000000",
        "Centering spring: gain 1.000000, offset 0.000000, phase 0.000000, extra 0.000000",
        "Damping:          gain 1.000000, offset 0.000000, phase 0.000000, extra 0.000000",
        "Forces:           gain 1.000000, offset 0.000000, phase 0.000000, extra 0.000000",
        "Initial position: gain 1.000000, offset 0.000000, phase 0.000000, extra 0.000000",
        "Gain ramp (ms): 0.000000, low cut (Hz, 0 off): 0.000000",
    };
    EXPECT_EQ(info_lines(h, x), fresh);

    h.send(x, 1, "phase", {F(0.25f)});
    h.send(x, 6, "all", {F(0.5f), F(-0.25f), L(0), F(2.5f)});
    h.send(x, 0, "disprate", {L(40)});
    h.send(x, 0, "display", {L(0)});
    h.send(x, 0, "int", {L(12)});
    h.send(x, 7, "ramp", {F(2.5f)});
    h.send(x, 3, "lowcut", {L(20)});
    std::vector<std::string> changed = fresh;
    changed[1] = "current preset: 12, number of masses: 256";
    changed[2] = "Display (1 on, 0 off): 0, display interval (ms): 40.000000";
    changed[4] = "Masses:           gain 1.000000, offset 0.000000, phase 0.750000, extra 0.000000";
    changed[9] = "Initial position: gain 0.500000, offset -0.250000, phase 1.000000, extra 2.500000";
    changed[10] = "Gain ramp (ms): 2.500000, low cut (Hz, 0 off): 20.000000";
    EXPECT_EQ(info_lines(h, x), changed);
}

// Every inlet and outlet has a help text of its own that fits the host's
// buffer; a number or kind beyond them leaves the buffer as it was.
TEST(Assist, EveryInletAndOutletHasItsOwnText)
{
    Harness h;
    t_loopmass *x = h.create({L(3)});
    ASSERT_EQ(headless::ninlets(x), 8);
    ASSERT_EQ(headless::noutlets(x), 3);
    std::set<std::string> texts;
    const struct {
        long kind, count;
    } sides[] = {{1, 8}, {2, 3}};
    for (const auto &side : sides)
        for (long number = -1; number <= side.count; number++) {
            char text[512];
            std::memset(text, 'u', sizeof text);
            text[sizeof text - 1] = 0;
            EXPECT_EQ(headless::assist(x, side.kind, number, text), 0);
            const bool exists = number >= 0 && number < side.count;
            if (!exists) {
                EXPECT_EQ(std::string(text), std::string(sizeof text - 1, 'u')) << side.kind << " " << number;
                continue;
            }
            const std::string t = text;
            EXPECT_FALSE(t.empty()) << side.kind << " " << number;
            EXPECT_LT(t.size(), sizeof text - 1) << side.kind << " " << number;
            EXPECT_TRUE(texts.insert(t).second) << "the same text twice: " << t;
        }
    EXPECT_EQ(texts.size(), 11u);
    char text[512] = "untouched";
    headless::assist(x, 3, 0, text);
    EXPECT_STREQ(text, "untouched");
}

} // namespace
