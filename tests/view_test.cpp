// The object's view where it works something out: the gain an oscillator
// sounds at now, and the presets the bank holds.
#include <gtest/gtest.h>

#include <vector>

#include "harness.h"

using namespace loopmass;
using test::bits;
using test::F;
using test::L;

// At 32000 Hz a ramp of 8 ms is 256 samples, so each 64-sample vector
// moves a gain by a quarter of its way, exactly.
TEST(View, GainNowFollowsTheRamp)
{
    const struct {
        int vectors;
        float now0, now1;
    } cases[] = {{0, 1.0f, 0.0f},    {1, 0.75f, 0.125f}, {2, 0.5f, 0.25f},
                 {3, 0.25f, 0.375f}, {4, 0.0f, 0.5f},    {9, 0.0f, 0.5f}};
    test::Harness h;
    for (const auto &c : cases) {
        t_loopmass *x = h.create({L(8)});
        h.send(x, 0, "hostrate", {L(1)});
        headless::dsp_start(64, 32000);
        h.send(x, 7, "fg", {L(220), L(1)});
        h.send(x, 0, "ramp", {L(8)});
        h.send(x, 7, "fg", {L(220), L(0), L(330), F(0.5f)});
        for (int v = 0; v < c.vectors; v++)
            headless::dsp_tick();
        headless::dsp_stop();
        EXPECT_EQ(bits(loopmass_view_gain_now(x, 0)), bits(c.now0)) << c.vectors << " vectors";
        EXPECT_EQ(bits(loopmass_view_gain_now(x, 1)), bits(c.now1)) << c.vectors << " vectors";
        // The gains as set are where the ramps go.
        EXPECT_EQ(loopmass_view_gains(x)[0], 0.0f);
        EXPECT_EQ(loopmass_view_gains(x)[1], 0.5f);
        h.destroy(x);
    }
}

// Without ramps an oscillator sounds at its gain as set only while its
// pitch and every pitch before it are not 0.
TEST(View, GainNowIsZeroPastTheFirstSilentPitch)
{
    const struct {
        std::vector<t_atom> fg;
        std::vector<float> now;
    } cases[] = {
        {{L(220), F(0.5f), L(330), L(2)}, {0.5f, 2, 0, 0, 0}},
        {{L(0), L(1), L(330), L(1)}, {0, 0, 0, 0, 0}},
        {{L(220), L(1), L(0), L(1), L(440), L(1)}, {1, 0, 0, 0, 0}},
        {{}, {0, 0, 0, 0, 0}},
    };
    test::Harness h;
    for (const auto &c : cases) {
        t_loopmass *x = h.create({L(8)});
        h.send(x, 7, "fg", c.fg);
        std::vector<float> now;
        for (int k = 0; k < NOSC; k++)
            now.push_back(loopmass_view_gain_now(x, k));
        EXPECT_EQ(now, c.now) << c.fg.size() / 2 << " pairs";
        h.destroy(x);
    }
}

// Each number once, in the order first stored; cleared ones left out.
TEST(View, PresetsAreTheNumbersTheBankHolds)
{
    const struct {
        std::vector<std::pair<const char *, int>> messages;
        int max;
        std::vector<int32_t> numbers;
    } cases[] = {
        {{}, 8, {}},
        {{{"store", 5}, {"store", 2}, {"store", 5}}, 8, {5, 2}},
        {{{"store", 5}, {"store", 2}, {"clear", 5}, {"store", 7}}, 8, {2, 7}},
        {{{"store", 5}, {"clear", 5}, {"store", 5}}, 8, {5}},
        {{{"store", 1}, {"store", 2}, {"store", 3}}, 2, {1, 2}},
    };
    test::Harness h;
    for (const auto &c : cases) {
        t_loopmass *x = h.create({L(8)});
        for (const auto &m : c.messages)
            h.send(x, 0, m.first, {L(m.second)});
        int32_t numbers[8];
        const int count = loopmass_view_presets(x, numbers, c.max);
        EXPECT_EQ(std::vector<int32_t>(numbers, numbers + count), c.numbers) << c.messages.size() << " messages";
        h.destroy(x);
    }
}

// Forces and initial position are stored from 0 to 1, as their lists give
// them; the other kinds as set.
TEST(View, StoredProfilesAreTheBanksValues)
{
    test::Harness h;
    t_loopmass *x = h.create({L(4)});
    h.send(x, 1, "list", {F(0.25f), F(0.5f), F(0.125f), L(1)});
    h.send(x, 5, "list", {F(0.75f), L(0), L(1), F(0.5f)});
    h.send(x, 6, "list", {F(0.25f), F(0.375f), L(1), L(0)});
    h.send(x, 0, "store", {L(9)});
    h.send(x, 1, "list", {L(1), L(1), L(1), L(1)}); // changes nothing stored
    t_block stored;
    test::fill(stored);
    ASSERT_TRUE(loopmass_view_stored(x, 9, stored));
    const float want[3][4] = {{0.25f, 0.5f, 0.125f, 1}, {0.75f, 0, 1, 0.5f}, {0.25f, 0.375f, 1, 0}};
    const int kinds[3] = {PROF_MASSES, PROF_FORCES, PROF_INITPOS};
    for (int j = 0; j < 3; j++)
        for (int i = 0; i < 4; i++)
            EXPECT_EQ(bits(stored[kinds[j] - 1][i]), bits(want[j][i])) << "kind " << kinds[j] << " mass " << i;
    EXPECT_EQ(bits(stored[0][4]), bits(test::SENTINEL)); // only the ring's masses
    EXPECT_FALSE(loopmass_view_stored(x, 8, stored));
    h.send(x, 0, "clear", {L(9)});
    EXPECT_FALSE(loopmass_view_stored(x, 9, stored));
}
