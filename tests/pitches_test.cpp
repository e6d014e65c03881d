// The oscillators' pitches: pitch and gain pairs (fg) and the rate the
// pitches are worked at (hostrate).
//
// Reaches into the record only to set pitches, gains and the
// normalisation switch that no one message sets together.
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "harness.h"

using namespace loopmass;
using test::bits;
using test::F;
using test::L;
using test::perform;
using test::S;

namespace {

const float NaN = std::numeric_limits<float>::quiet_NaN();
const float Inf = std::numeric_limits<float>::infinity();

} // namespace

TEST(HostRate, TakesALongOrAFloatOnAnyInlet)
{
    test::Harness h;
    const struct {
        std::vector<t_atom> args;
        int16_t from, to;
    } cases[] = {
        {{L(1)}, 0, 1},     {{L(0)}, 1, 0},      {{L(-7)}, 0, 1},      {{F(0.5f)}, 0, 1},
        {{F(-0.0f)}, 1, 0}, {{F(1e-30f)}, 0, 1}, {{F(NaN)}, 0, 0},     {{F(NaN)}, 1, 1},
        {{S("x")}, 1, 1},   {{}, 1, 1},          {{L(0), L(1)}, 1, 0},
    };
    t_loopmass *x = h.create({L(8)});
    EXPECT_EQ(loopmass_view_shaping(x).hostrate, 0);
    h.take();
    for (const auto &c : cases)
        for (int inlet = 0; inlet <= INLET_PITCH; inlet++) {
            h.send(x, inlet, "hostrate", {L(c.from)});
            EXPECT_EQ(h.send(x, inlet, "hostrate", c.args), 0);
            EXPECT_EQ(loopmass_view_shaping(x).hostrate, c.to) << "inlet " << inlet << " from " << c.from;
        }
    EXPECT_TRUE(h.take().empty());
}

// The phase step is N x pitch / rate, the rate 44100 or, with hostrate 1,
// the one the last dsp call gave; the haptic step keeps its 256 samples.
TEST(HostRate, ThePhaseStepTakesTheHostsRate)
{
    test::Harness h;
    const double nan = std::nan("");
    const struct {
        int16_t hostrate;
        std::vector<double> rates; // of successive dsp calls
        double used;
    } cases[] = {
        {0, {48000}, 44100},    {1, {48000}, 48000},     {1, {}, 44100},           {1, {96000, 22050}, 22050},
        {1, {48000, 0}, 48000}, {1, {48000, -1}, 48000}, {1, {48000, nan}, 48000}, {1, {44100}, 44100},
    };
    for (const auto &c : cases) {
        t_loopmass *x = h.create({L(64)});
        h.send(x, INLET_CONTROL, "int", {L(2)});
        h.send(x, INLET_CONTROL, "bang");
        h.send(x, INLET_CONTROL, "hostrate", {L(c.hostrate)});
        h.send(x, INLET_PITCH, "float", {F(441.0f)});
        for (double rate : c.rates)
            headless::dsp_start(256, rate);
        const float inc = (float)(64.0 * 441.0 / c.used);
        // Vectors of one sample: the stored phase is the sum of the steps.
        float expect = 0.0f;
        for (int v = 0; v < 3; v++) {
            float out;
            perform(x, &out, 1);
            expect = (float)((double)expect + inc);
            ASSERT_EQ(bits(loopmass_view_phases(x)[0]), bits(expect)) << c.hostrate << " " << c.used << " vector " << v;
        }
        headless::dsp_stop();
        EXPECT_EQ(loopmass_view_display(x).tick, 3); // one step, then two vectors of the 256 it spans
        h.destroy(x);
    }
}

TEST(Fg, PitchAndGainPairsOnThePitchInlet)
{
    test::Harness h;
    using V = std::vector<float>;
    struct Case {
        const char *what;
        int inlet;
        std::vector<t_atom> args;
        V freq, gain;
        float autonorm;
    };
    const V f0 = {100, 200, 300, 400, 500}, g0 = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f};
    const std::vector<Case> cases = {
        {"two pairs", 7, {F(440), F(0.5f), F(220), F(0.25f)}, {440, 220, 0, 0, 0}, {0.5f, 0.25f, 0.3f, 0.4f, 0.5f}, 0},
        {"other inlet", 0, {F(440), F(0.5f), F(220), F(0.25f)}, f0, g0, 1},
        {"pitch-inlet neighbour", 6, {F(440), F(0.5f)}, f0, g0, 1},
        {"odd atom ignored", 7, {F(440), L(1), F(330)}, {440, 0, 0, 0, 0}, {1, 0.2f, 0.3f, 0.4f, 0.5f}, 0},
        {"only ten atoms read",
         7,
         {L(1), L(2), L(3), L(4), L(5), L(6), L(7), L(8), L(9), L(10), L(11), L(12)},
         {1, 3, 5, 7, 9},
         {2, 4, 6, 8, 10},
         0},
        {"symbol keeps an oscillator",
         7,
         {S("x"), F(440), L(1), L(7)},
         {100, 440, 0, 0, 0},
         {0.1f, 1, 0.3f, 0.4f, 0.5f},
         0},
        {"long pitch, float gain", 7, {L(300), F(1.5f)}, {300, 0, 0, 0, 0}, {1.5f, 0.2f, 0.3f, 0.4f, 0.5f}, 0},
        {"float pitch, long gain", 7, {F(300.5f), L(2)}, {300.5f, 0, 0, 0, 0}, {2, 0.2f, 0.3f, 0.4f, 0.5f}, 0},
        {"symbol gain", 7, {F(440), S("g")}, {440, 0, 0, 0, 0}, g0, 0},
        {"negative pitch kept with its sign", 7, {F(-440), F(-1)}, {-440, 0, 0, 0, 0}, {-1, 0.2f, 0.3f, 0.4f, 0.5f}, 0},
        {"no atoms", 7, {}, {0, 0, 0, 0, 0}, g0, 0},
        {"non-finite values refused",
         7,
         {F(Inf), F(2), F(NaN), F(NaN), F(-Inf), F(Inf), F(50), F(1e31f)},
         {100, 200, 300, 50, 0},
         {2, 0.2f, 0.3f, 0.4f, 0.5f},
         0},
    };
    t_loopmass *x = h.create({L(8)});
    for (const Case &c : cases) {
        std::memcpy(x->x_osc_freq, f0.data(), sizeof x->x_osc_freq);
        std::memcpy(x->x_osc_gain, g0.data(), sizeof x->x_osc_gain);
        x->x_autonorm = 1;
        EXPECT_EQ(h.send(x, c.inlet, "fg", c.args), 0) << c.what;
        for (int k = 0; k < NOSC; k++) {
            EXPECT_EQ(bits(loopmass_view_pitches(x)[k]), bits(c.freq[k])) << c.what << " pitch " << k;
            EXPECT_EQ(bits(loopmass_view_gains(x)[k]), bits(c.gain[k])) << c.what << " gain " << k;
        }
        EXPECT_EQ(bits(loopmass_view_autonorm(x)), bits(c.autonorm)) << c.what;
    }
}
