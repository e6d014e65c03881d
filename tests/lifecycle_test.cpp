// Creation and free of loopmass~: creation arguments, defaults, the lists
// sent at creation.

#include <gtest/gtest.h>

#include "harness.h"
#include "store_text.h"

using namespace test;
using namespace loopmass;

namespace {

struct CreationCase {
    const char *name;
    std::vector<t_atom> args;
    int32_t nmasses;
    std::vector<std::string> posted;
};

TEST(Creation, ArgumentGivesTheMassCount)
{
    const std::vector<CreationCase> cases = {
        {"none", {}, 256, {}},
        {"2", {L(2)}, 3, {"Masses min nb : 3"}},
        {"0", {L(0)}, 3, {"Masses min nb : 3"}},
        {"-5", {L(-5)}, 3, {"Masses min nb : 3"}},
        {"300", {L(300)}, 256, {"Masses max nb : 256"}},
        {"3", {L(3)}, 3, {}},
        {"256", {L(256)}, 256, {}},
        {"float 64.0", {F(64.0f)}, 256, {}},
        {"16 and 99", {L(16), L(99)}, 16, {}},
        {"empty symbol", {S("")}, 256, {}},
    };
    for (const CreationCase &c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        t_loopmass *x = h.create(c.args);
        EXPECT_EQ(loopmass_view_nmasses(x), c.nmasses);
        EXPECT_EQ(loopmass_view_bank(x).nmasses, c.nmasses);
        std::vector<std::string> posted;
        for (const Event &e : h.take())
            if (e.channel == "post" || e.channel == "error")
                posted.push_back(e.text);
        EXPECT_EQ(posted, c.posted);
    }
}

TEST(Creation, MissingPresetFileGivesTheFullRingAndAnEmptyBank)
{
    Harness h;
    t_loopmass *x = h.create({S("/nonexistent/loopmass-bank.txt")});
    std::vector<Event> errors = h.take("error");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].text, "loopmass~: can't find file /nonexistent/loopmass-bank.txt");
    EXPECT_EQ(loopmass_view_nmasses(x), 256);
    EXPECT_EQ(loopmass_view_bank(x).entries, 0);
    EXPECT_EQ(store::text(loopmass_view_bank(x).store), "256 -2 0;\n");
}

TEST(Creation, SetsTheDefaultsAndHoldsPresetZero)
{
    Harness h;
    t_loopmass *x = h.create({L(64)});
    EXPECT_EQ(loopmass_view_preset(x), 0);
    EXPECT_EQ(loopmass_view_display(x).display, 1);
    EXPECT_EQ(loopmass_view_display(x).inactive, 0);
    EXPECT_EQ(loopmass_view_display(x).disprate, 100.0);
    EXPECT_EQ(loopmass_view_display(x).tick, 0);
    EXPECT_EQ(bits(loopmass_view_autonorm(x)), bits(1.0f));
    EXPECT_EQ(loopmass_view_bank(x).version, -2);
    EXPECT_EQ(store::text(loopmass_view_bank(x).store), "64 -2 0;\n");
    for (int k = 0; k < NOSC; k++) {
        EXPECT_EQ(loopmass_view_pitches(x)[k], 0.0f);
        EXPECT_EQ(loopmass_view_gains(x)[k], 1.0f);
        EXPECT_EQ(loopmass_view_phases(x)[k], 0.0f);
    }
    static t_block factory;
    ASSERT_EQ(loopmass_factory(factory, 64, 0), 0);
    for (int k = 0; k < NKINDS; k++) {
        EXPECT_EQ(loopmass_view_meta(x, k + 1).gain, 1.0f);
        EXPECT_EQ(loopmass_view_meta(x, k + 1).offset, 0.0f);
        EXPECT_EQ(loopmass_view_meta(x, k + 1).phase, 0.0f);
        EXPECT_EQ(loopmass_view_meta(x, k + 1).extra, 0.0f);
        for (int i = 0; i < 64; i++)
            ASSERT_EQ(bits(loopmass_view_raw(x, k + 1)[i]), bits(factory[k][i])) << "kind " << k + 1 << " mass " << i;
    }
    for (int i = 0; i < 64; i++) {
        EXPECT_EQ(loopmass_view_ring(x)[i], 0.0f);
        EXPECT_EQ(loopmass_view_ring(x, 1)[i], 0.0f);
    }
}

TEST(Creation, SendsSixParameterListsInKindOrder)
{
    Harness h;
    t_loopmass *x = h.create({L(5)});
    std::vector<Event> lists = h.take("out1");
    ASSERT_EQ(lists.size(), 6u);
    for (int k = 1; k <= 6; k++) {
        std::vector<float> v = lists[k - 1].floats();
        ASSERT_EQ(v.size(), 6u);
        EXPECT_EQ(v[0], (float)k);
        for (int i = 0; i < 5; i++) {
            // Forces and initial position are shown in their 0 to 1 form.
            EXPECT_EQ(bits(v[i + 1]), bits(loopmass_stored(k, loopmass_view_profile(x, k)[i])));
        }
    }
}

TEST(Creation, FirstDisplayTickShowsTheRingAtRest)
{
    Harness h;
    h.create({L(4)});
    h.take();
    headless::run_clocks();
    std::vector<Event> motion = h.take("out2");
    ASSERT_EQ(motion.size(), 1u);
    EXPECT_EQ(motion[0].floats(), std::vector<float>(4, 0.5f));
}

TEST(Creation, NewObjectIsSilentUntilAPitchArrives)
{
    Harness h;
    t_loopmass *x = h.create({L(16)});
    h.send(x, 0, "bang");
    headless::dsp_start(64);
    for (int v = 0; v < 8; v++) {
        headless::dsp_tick();
        const float *out = headless::signal_out(x);
        ASSERT_NE(out, nullptr);
        for (int i = 0; i < 64; i++)
            ASSERT_EQ(bits(out[i]), 0u);
    }
    h.send(x, 7, "int", {L(440)});
    headless::dsp_tick();
    const float *out = headless::signal_out(x);
    bool sounds = false;
    for (int i = 0; i < 64; i++)
        sounds = sounds || out[i] != 0.0f;
    EXPECT_TRUE(sounds);
}

TEST(Creation, ObjectsAreIndependentAndFreeCleanly)
{
    Harness h;
    t_loopmass *a = h.create({L(8)});
    t_loopmass *b = h.create({L(200)});
    h.send(a, 2, "gain", {F(0.5f)});
    EXPECT_EQ(loopmass_view_meta(a, 2).gain, 0.5f);
    EXPECT_EQ(loopmass_view_meta(b, 2).gain, 1.0f);
    h.destroy(a);
    h.send(b, 0, "int", {L(7)});
    EXPECT_EQ(loopmass_view_preset(b), 7);
}

} // namespace
