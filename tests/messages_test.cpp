// Every registered message, with every kind of argument, on every inlet:
// nothing crashes, nothing is written outside the record (the sanitizer
// build checks), and the object plays normally afterwards.

#include <gtest/gtest.h>

#include <cmath>

#include "harness.h"

using namespace test;
using namespace loopmass;

namespace {

std::vector<std::vector<t_atom>> argument_kinds()
{
    std::vector<t_atom> longs, floats, mixed;
    for (int i = 0; i < 300; i++) {
        longs.push_back(L(i * 7919 - 1000000));
        floats.push_back(F(i % 3 ? (float)i * 1e35f : -0.0f));
        mixed.push_back(i % 3 == 0 ? S("all") : i % 3 == 1 ? F(NAN) : L(INT32_MIN));
    }
    return {
        {},        {L(0)},      {L(1)},        {L(-1)},        {L(INT32_MIN)}, {L(INT32_MAX)},
        {F(0.5f)}, {F(-2.25f)}, {F(INFINITY)}, {F(-INFINITY)}, {F(NAN)},       {F(1e30f)},
        {S("")},   {S("all")},  {S("x")},      longs,          floats,         mixed,
    };
}

const char *const SELECTORS[] = {"bang",    "int",      "float",    "list",   "reset",  "inactive",     "antialias",
                                 "display", "disprate", "store",    "clear",  "read",   "write",        "stop",
                                 "info",    "all",      "gain",     "offset", "phase",  "extra",        "fg",
                                 "dsp",     "assist",   "hostrate", "ramp",   "lowcut", "nosuchmessage"};

// The record's invariants once the messages are over.
void expect_sound_state(const t_loopmass *x, int n)
{
    EXPECT_EQ(loopmass_view_nmasses(x), n);
    EXPECT_EQ(loopmass_view_bank(x).nmasses, n);
    EXPECT_GE(loopmass_view_bank(x).entries, 0);
    EXPECT_LE(loopmass_view_bank(x).entries, INDEXSIZE);
    EXPECT_GE(loopmass_view_bank(x).cleared, 0);
    EXPECT_LE(loopmass_view_bank(x).cleared, loopmass_view_bank(x).entries);
    EXPECT_TRUE(loopmass_view_display(x).inactive == 0 || loopmass_view_display(x).inactive == -1);
    EXPECT_TRUE(loopmass_view_display(x).display == 0 || loopmass_view_display(x).display == 1);
    for (int k = 0; k < NKINDS; k++) {
        EXPECT_TRUE(std::isfinite(loopmass_view_meta(x, k + 1).phase));
        EXPECT_TRUE(std::isfinite(loopmass_view_meta(x, k + 1).extra));
    }
}

TEST(Messages, EveryMessageWithEveryArgumentOnEveryInlet)
{
    // Files that "write" names land in a scratch directory.
    test::TempDir dir;
    test::WorkingDir cwd(dir.path);
    ASSERT_TRUE(cwd.entered()) << dir.path;

    Harness h;
    t_loopmass *x = h.create({L(5)});
    headless::dsp_start(64);
    for (const char *selector : SELECTORS)
        for (const std::vector<t_atom> &args : argument_kinds())
            for (int inlet = 0; inlet <= 8; inlet++) {
                h.send(x, inlet, selector, args);
                headless::dsp_tick();
                headless::run_clocks();
            }
    h.take();
    expect_sound_state(x, 5);

    // The object still plays: a preset, a strike, a pitch, a few vectors.
    h.send(x, 0, "inactive", {L(0)});
    h.send(x, 0, "display", {L(1)});
    h.take();
    h.send(x, 0, "reset");
    h.send(x, 0, "int", {L(5)});
    h.send(x, 0, "bang");
    h.send(x, 7, "list", {L(220), L(330)});
    EXPECT_EQ(h.take("out1").size(), 12u);
    bool sounds = false;
    for (int v = 0; v < 50; v++) {
        headless::dsp_tick();
        const float *out = headless::signal_out(x);
        for (int i = 0; i < 64; i++) {
            ASSERT_TRUE(std::isfinite(out[i]));
            sounds = sounds || out[i] != 0.0f;
        }
    }
    EXPECT_TRUE(sounds);
    for (int i = 0; i < 5; i++) {
        EXPECT_GE(loopmass_view_ring(x)[i], -1.0f);
        EXPECT_LE(loopmass_view_ring(x)[i], 1.0f);
    }
}

} // namespace
