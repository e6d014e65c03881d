// The everyday inlet messages: presets and morphs on the control inlet,
// profile lists, pitches, bang, stop and reset, dispatched by inlet.
//
// Reaches into the record to compare whole raw blocks, masses past the
// ring included (a message must write nothing there), to play the host
// writing the inlet number (x_in), and to set phases and the oldest shape.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "harness.h"

using namespace test;
using namespace loopmass;

namespace {

// A copy of the record's raw profiles, to see what a message changed.
struct Raw {
    t_block v;
    explicit Raw(const t_loopmass *x) { std::memcpy(v, x->x_raw, sizeof v); }
};

bool same_kind(const t_block a, const t_block b, int kind, int n)
{
    for (int i = 0; i < n; i++)
        if (bits(a[kind - 1][i]) != bits(b[kind - 1][i]))
            return false;
    return true;
}

bool same_block(const t_block a, const t_block b, int n)
{
    for (int k = PROF_MASSES; k <= PROF_INITPOS; k++)
        if (!same_kind(a, b, k, n))
            return false;
    return true;
}

std::vector<int> list_kinds(Harness &h)
{
    std::vector<int> kinds;
    for (const Event &e : h.take("out1"))
        kinds.push_back((int)e.floats().at(0));
    return kinds;
}

const std::vector<int> ALL_KINDS = {1, 2, 3, 4, 5, 6};

TEST(ControlInlet, IntRecallsThePresetOfItsAbsoluteValue)
{
    static t_block five;
    loopmass_factory(five, 32, 5);
    for (int32_t n : {5, -5}) {
        Harness h;
        t_loopmass *x = h.create({L(32)});
        h.take();
        h.send(x, 0, "int", {L(n)});
        EXPECT_EQ(loopmass_view_preset(x), 5);
        EXPECT_TRUE(same_block(x->x_raw, five, 32));
        EXPECT_EQ(list_kinds(h), ALL_KINDS);
    }
}

TEST(ControlInlet, IntWithoutPresetKeepsTheProfilesButTakesTheNumber)
{
    for (int32_t n : {42, INT32_MIN}) {
        Harness h;
        t_loopmass *x = h.create({L(32)});
        Raw before(x);
        h.take();
        h.send(x, 0, "int", {L(n)});
        EXPECT_EQ(loopmass_view_preset(x), n == 42 ? 42 : INT32_MAX);
        EXPECT_TRUE(same_block(x->x_raw, before.v, 32));
        EXPECT_EQ(list_kinds(h), ALL_KINDS);
    }
}

TEST(ControlInlet, FloatMorphsBetweenNeighbouringPresets)
{
    static t_block seven, eight;
    loopmass_factory(seven, 32, 7);
    loopmass_factory(eight, 32, 8);
    for (float f : {7.25f, -7.25f}) {
        Harness h;
        t_loopmass *x = h.create({L(32)});
        h.take();
        h.send(x, 0, "float", {F(f)});
        EXPECT_EQ(loopmass_view_preset(x), 7);
        for (int k = 0; k < NKINDS; k++)
            for (int i = 0; i < 32; i++) {
                float want = (float)(((double)eight[k][i] - seven[k][i]) * 0.25 + seven[k][i]);
                ASSERT_EQ(bits(loopmass_view_raw(x, k + 1)[i]), bits(want)) << "kind " << k + 1 << " mass " << i;
            }
        EXPECT_EQ(list_kinds(h), ALL_KINDS);
    }
}

TEST(ControlInlet, FloatThatNamesNoPresetNumberKeepsTheCurrentOne)
{
    for (float f : {NAN, 3e9f, -INFINITY}) {
        Harness h;
        t_loopmass *x = h.create({L(8)});
        h.send(x, 0, "int", {L(4)});
        Raw before(x);
        h.take();
        h.send(x, 0, "float", {F(f)});
        EXPECT_EQ(loopmass_view_preset(x), 4);
        EXPECT_TRUE(same_block(x->x_raw, before.v, 8));
        EXPECT_EQ(list_kinds(h), ALL_KINDS);
    }
}

TEST(ProfileInlets, FloatMorphsOneProfileTowardANeighbour)
{
    static t_block seven, six, eight;
    loopmass_factory(six, 16, 6);
    loopmass_factory(seven, 16, 7);
    loopmass_factory(eight, 16, 8);
    struct Case {
        float v;
        const float *toward;
        double w;
    };
    const Case cases[] = {{0.5f, eight[2], 0.5}, {-0.5f, six[2], 0.5}, {1.7f, eight[2], 1.0}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.v);
        Harness h;
        t_loopmass *x = h.create({L(16)});
        h.send(x, 0, "int", {L(7)});
        Raw before(x);
        h.take();
        h.send(x, 3, "float", {F(c.v)});
        for (int i = 0; i < 16; i++) {
            float want = (float)(((double)c.toward[i] - seven[2][i]) * c.w + seven[2][i]);
            EXPECT_EQ(bits(loopmass_view_raw(x, 3)[i]), bits(want));
        }
        for (int k : {1, 2, 4, 5, 6})
            EXPECT_TRUE(same_kind(x->x_raw, before.v, k, 16));
        EXPECT_EQ(list_kinds(h), std::vector<int>{3});
        EXPECT_EQ(loopmass_view_preset(x), 7);
    }
}

TEST(ProfileInlets, IntAndBangDoNothing)
{
    Harness h;
    t_loopmass *x = h.create({L(16)});
    h.send(x, 0, "int", {L(5)});
    h.send(x, 0, "bang");
    std::vector<unsigned char> before((unsigned char *)x, (unsigned char *)(x + 1));
    h.take();
    for (int inlet = 1; inlet <= 7; inlet++) {
        if (inlet <= 6)
            h.send(x, inlet, "int", {L(1)});
        h.send(x, inlet, "bang");
    }
    EXPECT_TRUE(h.take().empty());
    x->x_in = 0; // the host wrote the inlet numbers
    EXPECT_EQ(std::memcmp(before.data(), x, sizeof *x), 0);
}

// A list on the control inlet: the kind, then the values.
struct ControlListCase {
    const char *name;
    std::vector<t_atom> list;
    int kind;               // kind written, 0 for none
    std::vector<float> raw; // first three raw values of that kind afterwards
    std::vector<int> sent;  // kinds of the lists sent
};

TEST(ControlInlet, ListWritesTheProfileItNames)
{
    const std::vector<ControlListCase> cases = {
        {"tension", {L(2), F(0.5f), F(0.5f), F(0.5f)}, 2, {0.5f, 0.5f, 0.5f}, {2}},
        {"forces read by value", {L(5), L(1), L(0), F(0.5f)}, 5, {1.0f, -1.0f, 0.0f}, {5}},
        {"float kind truncated", {F(2.9f), F(0.1f), F(0.2f), F(0.3f)}, 2, {0.1f, 0.2f, 0.3f}, {2}},
        {"too long", {L(1), F(0.1f), F(0.2f), F(0.3f), F(0.4f), F(0.5f), F(0.6f), F(0.7f)}, 1, {0.1f, 0.2f, 0.3f}, {1}},
        {"short keeps the rest", {L(4), F(0.25f)}, 4, {0.25f, 0.4f, 0.4f}, {4}},
        {"symbol keeps its entry", {L(4), F(0.25f), S("x"), F(0.75f)}, 4, {0.25f, 0.4f, 0.75f}, {4}},
        {"kind 0", {L(0), F(0.1f), F(0.2f), F(0.3f)}, 0, {}, {6}},
        {"kind 9", {L(9), F(0.1f)}, 0, {}, {6}},
        {"huge kind", {F(1e30f), F(0.1f)}, 0, {}, {6}},
        {"empty", {}, 0, {}, {}},
        {"symbol first", {S("x"), F(0.1f)}, 0, {}, {}},
    };
    for (const ControlListCase &c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        t_loopmass *x = h.create({L(3)});
        std::vector<Event> created = h.take("out1");
        Raw before(x);
        h.send(x, 0, "list", c.list);
        std::vector<Event> sent = h.take("out1");
        std::vector<int> kinds;
        for (const Event &e : sent)
            kinds.push_back((int)e.floats().at(0));
        EXPECT_EQ(kinds, c.sent);
        if (c.kind == 0) {
            EXPECT_TRUE(same_block(x->x_raw, before.v, MAXMASSES));
            if (!sent.empty()) { // the last list built is sent again
                EXPECT_EQ(sent[0].floats(), created.back().floats());
            }
            continue;
        }
        for (int i = 0; i < 3; i++)
            EXPECT_EQ(bits(loopmass_view_raw(x, c.kind)[i]), bits(c.raw[i])) << i;
        EXPECT_EQ(loopmass_view_raw(x, c.kind)[3], before.v[c.kind - 1][3]);
        for (int k = 1; k <= 6; k++) {
            if (k != c.kind) {
                EXPECT_TRUE(same_kind(x->x_raw, before.v, k, MAXMASSES));
            }
        }
        EXPECT_EQ(loopmass_view_preset(x), 0);
    }
}

TEST(ProfileInlets, ListWritesFromTheFirstEntry)
{
    Harness h;
    t_loopmass *x = h.create();
    Raw before(x);
    h.take();
    h.send(x, 6, "list", {F(0.25f), F(0.75f)});
    EXPECT_EQ(loopmass_view_raw(x, 6)[0], -0.5f);
    EXPECT_EQ(loopmass_view_raw(x, 6)[1], 0.5f);
    for (int i = 2; i < 256; i++)
        ASSERT_EQ(bits(loopmass_view_raw(x, 6)[i]), bits(before.v[5][i]));
    EXPECT_EQ(list_kinds(h), std::vector<int>{6});

    Raw written(x);
    for (const std::vector<t_atom> &list : {std::vector<t_atom>{}, std::vector<t_atom>{S("a"), F(0.1f)}}) {
        h.send(x, 6, "list", list);
        EXPECT_TRUE(same_block(x->x_raw, written.v, 256));
        EXPECT_EQ(list_kinds(h), std::vector<int>{6});
    }

    // A list longer than the ring is cut to N values.
    t_loopmass *small = h.create({L(3)});
    h.send(small, 1, "list", {F(0.1f), F(0.2f), F(0.3f), F(0.4f)});
    EXPECT_EQ(loopmass_view_raw(small, 1)[2], 0.3f);
    EXPECT_EQ(loopmass_view_raw(small, 1)[3], 0.0f);
}

struct PitchCase {
    const char *name;
    const char *selector;
    std::vector<t_atom> args;
    std::vector<float> freq;
};

TEST(PitchInlet, SetsPitchesAndGains)
{
    const std::vector<PitchCase> cases = {
        {"list of two", "list", {L(220), L(330)}, {220, 330, 0, 0, 0}},
        {"list of seven", "list", {L(1), L(2), L(3), L(4), L(5), L(6), L(7)}, {1, 2, 3, 4, 5}},
        {"empty list", "list", {}, {0, 0, 0, 0, 0}},
        {"negative kept", "list", {F(-110.5f), L(-3)}, {-110.5f, -3, 0, 0, 0}},
        {"symbol keeps", "list", {S("x"), L(99)}, {100, 99, 0, 0, 0}},
    };
    for (const PitchCase &c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        t_loopmass *x = h.create({L(8)});
        h.send(x, 7, "fg", {L(100), F(0.5f), L(200), F(0.25f)});
        h.send(x, 7, c.selector, c.args);
        for (int k = 0; k < NOSC; k++) {
            EXPECT_EQ(loopmass_view_pitches(x)[k], c.freq[k]) << k;
            EXPECT_EQ(loopmass_view_gains(x)[k], 1.0f) << k;
        }
        EXPECT_EQ(loopmass_view_autonorm(x), 1.0f);
    }
}

TEST(PitchInlet, NumberPlaysOscillatorZeroAlone)
{
    struct Case {
        const char *selector;
        t_atom arg;
        float freq;
    };
    for (const Case &c :
         {Case{"float", F(440.0f), 440.0f}, Case{"int", L(-220), 220.0f}, Case{"float", F(-55.5f), 55.5f}}) {
        Harness h;
        t_loopmass *x = h.create({L(8)});
        h.send(x, 7, "fg", {L(100), F(0.5f), L(200), F(0.25f)});
        h.send(x, 7, c.selector, {c.arg});
        EXPECT_EQ(loopmass_view_pitches(x)[0], c.freq);
        for (int k = 1; k < NOSC; k++)
            EXPECT_EQ(loopmass_view_pitches(x)[k], 0.0f);
        EXPECT_EQ(loopmass_view_gains(x)[0], 1.0f);
        EXPECT_EQ(loopmass_view_gains(x)[1], 0.25f);
        EXPECT_EQ(loopmass_view_autonorm(x), 1.0f);
    }
}

TEST(ControlInlet, BangStrikesTheRingWithTheInitialShape)
{
    Harness h;
    t_loopmass *x = h.create({L(16)});
    h.send(x, 0, "int", {L(5)});
    for (int k = 0; k < NOSC; k++)
        x->x_osc_phase[k] = 3.5f;
    x->x_pos2[0] = 0.125f;
    h.send(x, 0, "bang");
    for (int k = 0; k < NOSC; k++)
        EXPECT_EQ(loopmass_view_phases(x)[k], 0.0f);
    for (int i = 0; i < 16; i++) {
        EXPECT_EQ(bits(loopmass_view_ring(x)[i]), bits(loopmass_view_profile(x, 6)[i]));
        EXPECT_EQ(bits(loopmass_view_ring(x, 1)[i]), bits(loopmass_view_profile(x, 6)[i]));
    }
    EXPECT_EQ(loopmass_view_ring(x, 2)[0], 0.125f);
}

TEST(ControlInlet, BangKeepsTheRingWithinItsBounds)
{
    struct Case {
        const char *message;
        float value;
        float position;
    };
    // Preset 0 holds an initial position of 0.9 at every mass.
    for (const Case &c : {Case{"gain", -5.0f, -1.0f}, Case{"offset", NAN, -1.0f}, Case{"offset", -INFINITY, -1.0f},
                          Case{"gain", 0.5f, 0.45f}}) {
        SCOPED_TRACE(c.message);
        Harness h;
        t_loopmass *x = h.create({L(8)});
        h.send(x, 6, c.message, {F(c.value)});
        h.send(x, 0, "bang");
        for (int i = 0; i < 8; i++) {
            EXPECT_EQ(bits(loopmass_view_ring(x)[i]), bits(c.position));
            EXPECT_EQ(bits(loopmass_view_ring(x, 1)[i]), bits(c.position));
        }
    }
}

TEST(AnyInlet, StopZeroesTheRing)
{
    for (int inlet = 0; inlet <= 7; inlet++) {
        Harness h;
        t_loopmass *x = h.create({L(16)});
        h.send(x, 0, "bang");
        x->x_pos2[3] = 0.5f;
        h.send(x, inlet, "stop");
        for (int i = 0; i < 16; i++) {
            EXPECT_EQ(loopmass_view_ring(x)[i], 0.0f);
            EXPECT_EQ(loopmass_view_ring(x, 1)[i], 0.0f);
        }
        EXPECT_EQ(loopmass_view_ring(x, 2)[3], 0.5f);
    }
}

TEST(AnyInlet, ResetRestoresMetaparametersAndTheCurrentPreset)
{
    static t_block seven;
    loopmass_factory(seven, 32, 7);
    Harness h;
    t_loopmass *x = h.create({L(32)});
    h.send(x, 0, "int", {L(7)});
    h.send(x, 1, "gain", {F(2.0f)});
    h.send(x, 4, "offset", {F(-0.5f)});
    h.send(x, 5, "all", {L(1), L(0), F(0.25f), L(2)});
    h.send(x, 2, "float", {F(0.5f)});
    h.send(x, 0, "list", {L(3), F(0.9f)});
    h.send(x, 7, "int", {L(440)});
    h.take();
    h.send(x, 7, "reset");
    for (int k = 0; k < NKINDS; k++) {
        EXPECT_EQ(loopmass_view_meta(x, k + 1).gain, 1.0f);
        EXPECT_EQ(loopmass_view_meta(x, k + 1).offset, 0.0f);
        EXPECT_EQ(loopmass_view_meta(x, k + 1).phase, 0.0f);
        EXPECT_EQ(loopmass_view_meta(x, k + 1).extra, 0.0f);
    }
    EXPECT_TRUE(same_block(x->x_raw, seven, 32));
    EXPECT_EQ(loopmass_view_preset(x), 7);
    EXPECT_EQ(loopmass_view_pitches(x)[0], 440.0f);
    EXPECT_EQ(list_kinds(h), ALL_KINDS);
}

} // namespace
