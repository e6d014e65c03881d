// Effective profiles: rotation, gain, offset, clamps, stretch, the display
// list, and the metaparameter messages.
#include <climits>
#include <cmath>
#include <cstring>

#include <gtest/gtest.h>

#include "harness.h"

using namespace loopmass;
using test::bits;
using test::F;
using test::L;
using test::S;

namespace {

void set_raw(t_loopmass *x, int k, float v)
{
    for (int i = 0; i < x->x_nmasses; i++)
        x->x_raw[k - 1][i] = v;
}

// A raw profile whose every mass differs, within the masses' range.
void set_ramp(t_loopmass *x, int k)
{
    for (int i = 0; i < x->x_nmasses; i++)
        x->x_raw[k - 1][i] = (float)i / 512;
}

TEST(Profiles, ClampsAndDisplayPerKind)
{
    struct {
        int kind;
        float raw;
        const char *msg;
        float arg;
        float prof, shown;
    } cases[] = {
        {PROF_TENSION, 0.7f, "gain", 2.0f, 1.0f, 1.0f},
        {PROF_MASSES, 0.3f, "offset", -0.5f, 0.0f, 0.0f},
        {PROF_MASSES, 0.5f, "gain", 3.0f, 1.0f, 1.0f},
        {PROF_MASSES, 0.5f, "gain", -INFINITY, 0.0f, 0.0f},
        {PROF_TENSION, 0.5f, "gain", INFINITY, 1.0f, 1.0f},
        {PROF_CENTERING, 0.5f, "offset", -7.0f, -6.5f, -6.5f},
        {PROF_DAMPING, 0.4f, "gain", -1.0f, -0.4f, -0.4f},
        {PROF_FORCES, 1.0f, "gain", 3.0f, 3.0f, 2.0f},
        {PROF_FORCES, -1.0f, "gain", 5.0f, -5.0f, -2.0f},
        {PROF_INITPOS, -1.0f, "gain", 1.0f, -1.0f, 0.0f},
        {PROF_INITPOS, 0.7f, "gain", 2.0f, 1.0f, 1.0f},
        {PROF_INITPOS, 0.1f, "gain", 1.0f, 0.1f, (float)((1.0 + 0.1f) * 0.5)},
    };
    for (auto &c : cases) {
        test::Harness h;
        t_loopmass *x = h.create({L(3)});
        set_raw(x, c.kind, c.raw);
        h.take();
        h.send(x, c.kind, c.msg, {F(c.arg)});
        std::vector<test::Event> out = h.take("out1");
        ASSERT_EQ(out.size(), 1u);
        std::vector<float> list = out[0].floats();
        ASSERT_EQ(list.size(), 4u);
        EXPECT_EQ(bits(list[0]), bits((float)c.kind));
        for (const t_atom &a : out[0].atoms)
            EXPECT_EQ(a.a_type, A_FLOAT);
        for (int i = 0; i < 3; i++) {
            EXPECT_EQ(bits(x->x_prof[c.kind - 1][i]), bits(c.prof))
                << "kind " << c.kind << " " << c.msg << " " << c.arg << ": " << x->x_prof[c.kind - 1][i];
            EXPECT_EQ(bits(list[i + 1]), bits(c.shown)) << "kind " << c.kind << " " << c.msg << " " << c.arg;
        }
    }
}

TEST(Profiles, PhaseMessageStoresShift)
{
    test::Harness h;
    t_loopmass *x = h.create();
    struct {
        t_atom arg;
        float shift;
    } cases[] = {
        {F(0.25f), 192.0f},
        {F(-0.25f), 64.0f},
        {F(2.75f), 64.0f},
        {F(0.0f), 256.0f},
        {F(1.0f), 256.0f},
        {F(2.0f), 256.0f},
        {L(3), 256.0f},
        {F(0.5f), 128.0f},
        {F(0.1f), (float)((std::floor((double)0.1f) + (1.0 - (double)0.1f)) * 256)},
    };
    for (auto &c : cases) {
        h.send(x, 1, "phase", {c.arg});
        EXPECT_EQ(bits(x->x_phase[0]), bits(c.shift)) << loopmass::atom_getfloat(&c.arg);
    }
    // 0.1 gives the float just below 230.4, so mass i reads raw mass i + 230.
    EXPECT_LT((double)x->x_phase[0], 230.4);
    EXPECT_GT(x->x_phase[0], 230.0f);
}

TEST(Profiles, ShiftRotatesRawProfile)
{
    test::Harness h;
    t_loopmass *x = h.create();
    set_ramp(x, PROF_MASSES);
    struct {
        float shift;
        int rotation;
    } cases[] = {
        {192.0f, 192},
        {64.0f, 64},
        {256.0f, 0},
        {0.0f, 0},
        {230.39999f, 230},
        // Just below a whole number: i + s must not round up to it.
        {std::nextafterf(230.0f, 0.0f), 229},
        {std::nextafterf(256.0f, 0.0f), 255},
        // Shifts no message makes: rotate backward, or not at all.
        {-3.0f, 253},
        {INFINITY, 0},
        {-INFINITY, 0},
        {NAN, 0},
        {3e9f, 0},
        {-3e9f, 0},
    };
    for (auto &c : cases) {
        x->x_phase[0] = c.shift;
        loopmass_update(x, PROF_MASSES);
        for (int i = 0; i < 256; i++)
            ASSERT_EQ(bits(x->x_prof[0][i]), bits(x->x_raw[0][(i + c.rotation) % 256]))
                << "shift " << c.shift << " mass " << i;
    }
}

TEST(Profiles, StretchWindowsClampedValues)
{
    test::Harness h;
    t_loopmass *x = h.create();
    const float centering = x->x_prof[PROF_CENTERING - 1][0]; // preset 0: 0.7 everywhere
    ASSERT_EQ(bits(centering), bits(0.7f));
    for (float e : {1.0f, -1.0f}) {
        h.send(x, PROF_CENTERING, "extra", {F(e)});
        const float *p = x->x_prof[PROF_CENTERING - 1];
        EXPECT_EQ(bits(p[0]), bits(0.0f));
        EXPECT_EQ(bits(p[128]), bits(centering));
        for (int i = 1; i < 256; i++) {
            float expect = (float)((1 - std::pow((2.0 * i) / 256 - 1, 4.0)) * (double)centering);
            ASSERT_EQ(bits(p[i]), bits(expect)) << "extra " << e << " mass " << i;
            ASSERT_EQ(bits(p[i]), bits(p[256 - i])) << i;
        }
    }
    h.send(x, PROF_CENTERING, "extra", {F(0.0f)});
    for (int i = 0; i < 256; i++)
        ASSERT_EQ(bits(x->x_prof[PROF_CENTERING - 1][i]), bits(centering));

    // The stretch reads the clamped values: gain 2 on 0.7 clamps to 1 first.
    h.send(x, PROF_CENTERING, "all", {F(2.0f), F(0.0f), S("keep"), F(1.0f)});
    EXPECT_EQ(bits(x->x_prof[PROF_CENTERING - 1][128]), bits(1.0f));
}

TEST(Profiles, StretchInterpolatesAroundTheRing)
{
    const float v[7] = {0.5f, -0.25f, 0.75f, 1.0f, -1.0f, 0.125f, 0.0625f};
    auto win = [](int i, int n) { return 1 - std::pow((2.0 * i) / n - 1, 4.0); };
    struct {
        float f;
        int i, n;
        double expect;
    } cases[] = {
        // f = 1 keeps the shape under the window.
        {1.0f, 3, 7, win(3, 7) * v[3]},
        // f = 0.5 spreads the first half: mass 3 sits halfway between 1 and 2.
        {0.5f, 3, 7, win(3, 7) * (v[1] + 0.5 * (v[2] - v[1]))},
        // f = 2 wraps: mass 5 reads position 10 mod 7 = 3.
        {2.0f, 5, 7, win(5, 7) * v[3]},
        // Between the last mass and mass 0.
        {1.25f, 3, 4, win(3, 4) * (v[3] + 0.75 * (v[0] - v[3]))},
        // r just below 5 becomes 5 in single precision: t = 1, mass 0 is read.
        {0x1.aaaaaap+0f, 3, 5, win(3, 5) * v[0]},
        {0.0f, 4, 7, win(4, 7) * v[0]},
        // Factors no message stores read mass 0 under the window.
        {INFINITY, 4, 7, win(4, 7) * v[0]},
        {NAN, 4, 7, win(4, 7) * v[0]},
        {-1.0f, 4, 7, win(4, 7) * v[0]},
    };
    for (auto &c : cases) {
        double got = loopmass_stretch(v, c.f, c.i, c.n);
        EXPECT_EQ(got, c.expect) << "f " << c.f << " i " << c.i << " n " << c.n;
    }
}

TEST(Messages, AllSetsUpToFourMetaparameters)
{
    struct {
        int inlet;
        std::vector<t_atom> args;
        float gain, offset, shift, extra;
    } cases[] = {
        {1, {F(2.0f), F(0.5f)}, 2.0f, 0.5f, 0.0f, 0.0f},
        {6, {L(1), L(0), F(0.5f), F(2.0f)}, 1.0f, 0.0f, 128.0f, 2.0f},
        {3, {S("x"), F(0.25f), S("y"), F(-3.0f)}, 1.0f, 0.25f, 0.0f, -3.0f},
        {2, {F(0.5f), F(0.0f), F(0.75f), F(1.5f), F(9.0f), S("z")}, 0.5f, 0.0f, 64.0f, 1.5f},
        {4, {}, 1.0f, 0.0f, 0.0f, 0.0f},
        {5, {F(1.0f), F(0.0f), F(INFINITY), F(NAN)}, 1.0f, 0.0f, 0.0f, 0.0f},
    };
    for (auto &c : cases) {
        test::Harness h;
        t_loopmass *x = h.create();
        h.take();
        h.send(x, c.inlet, "all", c.args);
        EXPECT_EQ(h.take("out1").size(), 1u) << c.inlet;
        int k = c.inlet - 1;
        EXPECT_EQ(bits(x->x_gain[k]), bits(c.gain)) << c.inlet;
        EXPECT_EQ(bits(x->x_offset[k]), bits(c.offset)) << c.inlet;
        EXPECT_EQ(bits(x->x_phase[k]), bits(c.shift)) << c.inlet;
        EXPECT_EQ(bits(x->x_extra[k]), bits(c.extra)) << c.inlet;
        for (int other = 0; other < NKINDS; other++) {
            if (other == k)
                continue;
            EXPECT_EQ(bits(x->x_gain[other]), bits(1.0f));
            EXPECT_EQ(bits(x->x_phase[other]), bits(0.0f));
        }
    }
}

TEST(Messages, EachMessageRebuildsOnlyItsInlet)
{
    const char *messages[] = {"gain", "offset", "phase", "extra", "all"};
    for (const char *m : messages) {
        test::Harness h;
        t_loopmass *x = h.create();
        float before[NKINDS];
        std::memcpy(before, x->x_gain, sizeof before);
        h.take();

        // Control and pitch inlets: nothing stored, nothing sent.
        for (int inlet : {INLET_CONTROL, INLET_PITCH})
            h.send(x, inlet, m, {F(0.5f)});
        EXPECT_TRUE(h.take("out1").empty()) << m;
        EXPECT_EQ(x->x_gain[0], 1.0f);
        EXPECT_EQ(x->x_offset[0], 0.0f);
        EXPECT_EQ(x->x_phase[0], 0.0f);
        EXPECT_EQ(x->x_extra[0], 0.0f);

        // No atom, or a symbol: the profile is rebuilt and shown anyway.
        h.send(x, PROF_FORCES, m);
        h.send(x, PROF_FORCES, m, {S("loud")});
        std::vector<test::Event> out = h.take("out1");
        ASSERT_EQ(out.size(), 2u) << m;
        EXPECT_EQ(out[1].floats()[0], (float)PROF_FORCES);
        EXPECT_EQ(x->x_gain[4], 1.0f);
        EXPECT_EQ(x->x_offset[4], 0.0f);
        EXPECT_EQ(x->x_phase[4], 0.0f);
        EXPECT_EQ(x->x_extra[4], 0.0f);

        // Display off: stored and rebuilt, nothing sent.
        x->x_display = 0;
        h.send(x, PROF_DAMPING, m, {F(0.5f)});
        EXPECT_TRUE(h.take("out1").empty()) << m;
        EXPECT_EQ(std::memcmp(before, x->x_gain, 3 * sizeof(float)), 0);
    }
}

TEST(Messages, NonFinitePhaseAndExtraAreRefused)
{
    test::Harness h;
    t_loopmass *x = h.create();
    h.send(x, 2, "phase", {F(0.25f)});
    h.send(x, 2, "extra", {F(0.5f)});
    h.take();
    for (float bad : {INFINITY, -INFINITY, NAN}) {
        h.send(x, 2, "phase", {F(bad)});
        h.send(x, 2, "extra", {F(bad)});
        EXPECT_EQ(h.take("out1").size(), 2u);
        EXPECT_EQ(x->x_phase[1], 192.0f);
        EXPECT_EQ(x->x_extra[1], 0.5f);
    }
    // Gain and offset take any value; the clamps bound the result.
    h.send(x, 1, "gain", {F(NAN)});
    EXPECT_TRUE(std::isnan(x->x_gain[0]));
}

TEST(Update, KindOutsideOneToSixResendsLastList)
{
    test::Harness h;
    t_loopmass *x = h.create({L(3)});
    std::vector<test::Event> created = h.take("out1");
    ASSERT_EQ(created.size(), 6u);
    t_block prof;
    std::memcpy(prof, x->x_prof, sizeof prof);
    for (int32_t k : {0, 7, -1, INT_MIN, INT_MAX}) {
        loopmass_update(x, k);
        std::vector<test::Event> out = h.take("out1");
        ASSERT_EQ(out.size(), 1u) << k;
        ASSERT_EQ(out[0].atoms.size(), 4u);
        std::vector<float> last = created[5].floats();
        for (int i = 0; i < 4; i++)
            EXPECT_EQ(bits(out[0].floats()[i]), bits(last[i])) << k;
        EXPECT_EQ(std::memcmp(prof, x->x_prof, sizeof prof), 0) << k;
    }
    x->x_display = 0;
    loopmass_update(x, 9);
    EXPECT_TRUE(h.take("out1").empty());
}

} // namespace
