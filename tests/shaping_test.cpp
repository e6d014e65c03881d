// The gain ramps of the oscillators ("ramp"), and the range of the shaping
// messages.
//
// Reaches into the record for the ramps' and the normalisation's lengths
// in samples and the mix buffer, which only the engine sees, and to set
// pitches and the ring for the plain loop.
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness.h"
#include "reference.h"

using namespace loopmass;
using test::bits;
using test::F;
using test::L;
using test::perform;
using test::play;
using test::S;

namespace {

const float NaN = std::numeric_limits<float>::quiet_NaN();

float largest_step(const std::vector<float> &s, size_t from, size_t to)
{
    float most = 0.0f;
    for (size_t i = from + 1; i < to; i++)
        most = std::max(most, std::fabs(s[i] - s[i - 1]));
    return most;
}

std::vector<float> pitches(const t_loopmass *x)
{
    const t_floats p = loopmass_view_pitches(x);
    return std::vector<float>(p.begin(), p.end());
}

} // namespace

// A note on preset 2 released by fg without pairs: with ramp 5 the release
// steps no more than the note itself, at whatever point of the ring's swing
// it comes; without, the output falls to 0 in one sample.
TEST(Ramp, TheReleaseStepsNoMoreThanTheNote)
{
    test::Harness h;
    for (double release : {0.6, 0.68, 0.8})
        for (bool ramp : {true, false}) {
            t_loopmass *x = h.create({L(256)});
            if (ramp)
                h.send(x, 0, "ramp", {L(5)});
            h.send(x, 0, "int", {L(2)});
            h.send(x, 7, "fg", {L(220), L(1)});
            h.send(x, 0, "bang");
            std::vector<float> out = play(x, release);
            const size_t at = out.size();
            h.send(x, 7, "fg");
            const std::vector<float> after = play(x, 0.1);
            out.insert(out.end(), after.begin(), after.end());
            const float note = largest_step(out, 0, at), end = largest_step(out, at - 1, out.size());
            const std::string what =
                std::string(ramp ? "ramp 5" : "no ramp") + ", released at " + std::to_string(release);
            if (ramp)
                EXPECT_LE(end, note) << what;
            else
                EXPECT_GT(end, 2.0f * note) << what;
            EXPECT_EQ(out.back(), 0.0f) << what;
            EXPECT_EQ(loopmass_view_pitches(x)[0], 0.0f) << what;
            h.destroy(x);
        }
}

// What a message does to each oscillator's gain and pitch with ramp 5 (221
// samples): the ramps it starts (from, to), the pitches right after it and
// once the ramps are over.
TEST(Ramp, EachMessageRampsEveryGainItChanges)
{
    using V = std::vector<float>;
    struct Case {
        const char *what;
        std::vector<t_atom> start; // fg pairs before, at ramp 0
        int inlet;
        const char *selector;
        std::vector<t_atom> args;
        std::vector<std::vector<float>> ramps; // per oscillator: {} none, or {from, to}
        V now, end;                            // pitches
    };
    const std::vector<Case> cases = {
        {"a pitch starts an oscillator from 0",
         {L(220), L(1)},
         7,
         "fg",
         {L(220), L(1), L(330), F(0.5f)},
         {{}, {0, 0.5f}, {}, {}, {}},
         {220, 330, 0, 0, 0},
         {220, 330, 0, 0, 0}},
        {"a silenced oscillator keeps its pitch",
         {L(220), L(1), L(330), F(0.5f)},
         7,
         "fg",
         {L(220), L(1)},
         {{}, {0.5f, 0}, {}, {}, {}},
         {220, 330, 0, 0, 0},
         {220, 0, 0, 0, 0}},
        {"past the first 0 pitch the gain goes to 0",
         {L(220), L(1), L(330), L(1), L(440), L(1)},
         7,
         "fg",
         {L(220), L(1), L(0), L(1), L(440), L(1)},
         {{}, {1, 0}, {1, 0}, {}, {}},
         {220, 330, 440, 0, 0},
         {220, 0, 440, 0, 0}},
        {"a pitch list gives every gain 1",
         {L(220), F(0.5f)},
         7,
         "list",
         {L(220), L(330)},
         {{0.5f, 1}, {0, 1}, {}, {}, {}},
         {220, 330, 0, 0, 0},
         {220, 330, 0, 0, 0}},
        {"one pitch",
         {L(220), F(0.5f), L(330), L(1)},
         7,
         "float",
         {F(110.5f)},
         {{0.5f, 1}, {1, 0}, {}, {}, {}},
         {110.5f, 330, 0, 0, 0},
         {110.5f, 0, 0, 0, 0}},
        {"fg without pairs",
         {L(220), L(1), L(330), F(-2)},
         7,
         "fg",
         {},
         {{1, 0}, {-2, 0}, {}, {}, {}},
         {220, 330, 0, 0, 0},
         {0, 0, 0, 0, 0}},
        {"the same gain at another pitch",
         {L(220), L(1)},
         7,
         "fg",
         {L(440), L(1)},
         {{}, {}, {}, {}, {}},
         {440, 0, 0, 0, 0},
         {440, 0, 0, 0, 0}},
        {"silenced at gain 0", {L(220), L(0)}, 7, "fg", {}, {{}, {}, {}, {}, {}}, {0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}},
        {"a symbol keeps the oscillator",
         {L(220), L(1), L(330), L(1)},
         7,
         "fg",
         {S("x"), L(0), L(1)},
         {{}, {1, 0}, {}, {}, {}},
         {220, 330, 0, 0, 0},
         {220, 0, 0, 0, 0}},
    };
    test::Harness h;
    for (const Case &c : cases) {
        t_loopmass *x = h.create({L(64)});
        h.send(x, 0, "bang");
        h.send(x, 7, "fg", c.start);
        h.send(x, 0, "ramp", {L(5)});
        h.send(x, c.inlet, c.selector, c.args);
        for (int k = 0; k < NOSC; k++) {
            if (c.ramps[k].empty()) {
                EXPECT_EQ(x->x_ramp[k].len, 0) << c.what << ", oscillator " << k;
                continue;
            }
            EXPECT_EQ(x->x_ramp[k].len, 221) << c.what << ", oscillator " << k;
            EXPECT_EQ(x->x_ramp[k].done, 0) << c.what << ", oscillator " << k;
            EXPECT_EQ(bits(x->x_ramp[k].from), bits(c.ramps[k][0])) << c.what << ", oscillator " << k;
            EXPECT_EQ(bits(x->x_ramp[k].to), bits(c.ramps[k][1])) << c.what << ", oscillator " << k;
        }
        EXPECT_EQ(pitches(x), c.now) << c.what;
        // A pitch kept for its ramp keeps its phase moving.
        const V phase(loopmass_view_phases(x).begin(), loopmass_view_phases(x).end());
        float out[220];
        perform(x, out, 220);
        EXPECT_EQ(pitches(x), c.now) << c.what << ", a sample before the end";
        for (int k = 0; k < NOSC; k++)
            if (c.now[k] != 0.0f && c.end[k] == 0.0f) {
                EXPECT_NE(loopmass_view_phases(x)[k], phase[k]) << c.what << ", oscillator " << k;
            }
        perform(x, out, 1);
        EXPECT_EQ(pitches(x), c.end) << c.what << ", at the end";
        for (int k = 0; k < NOSC; k++)
            EXPECT_EQ(x->x_ramp[k].len, 0) << c.what << ", oscillator " << k;
        h.destroy(x);
    }
}

// Oscillator 0 silenced with a short ramp while oscillator 1 is still on a
// longer way down: 0 keeps its pitch, so that 1 stays scanned, until 1's
// ramp is over too.
TEST(Ramp, APitchWaitsForTheRampsAfterIt)
{
    test::Harness h;
    t_loopmass *x = h.create({L(64)});
    h.send(x, 0, "bang");
    h.send(x, 7, "fg", {L(220), L(1), L(330), L(1)});
    h.send(x, 0, "ramp", {L(10)}); // 441 samples
    h.send(x, 7, "fg", {L(220), L(1)});
    h.send(x, 0, "ramp", {L(1)}); // 44 samples
    h.send(x, 7, "fg");
    float out[441];
    perform(x, out, 100);
    EXPECT_EQ(x->x_ramp[0].len, 0);
    EXPECT_EQ(pitches(x), std::vector<float>({220, 330, 0, 0, 0}));
    perform(x, out, 340);
    EXPECT_EQ(pitches(x), std::vector<float>({220, 330, 0, 0, 0}));
    perform(x, out, 1);
    EXPECT_EQ(pitches(x), std::vector<float>({0, 0, 0, 0, 0}));
}

// A pitch list that drops from three pitches to one: the normalisation goes
// from 1 / sqrt(3) to 1 with the gains, each sample's the straight line in
// double, so that the pitch that stays does not jump when the others have
// gone (which here would step half as much again as the note itself); then
// it is worked out from the one oscillator left, as before.
TEST(Ramp, TheNormalisationOfAPitchListRampsWithTheGains)
{
    test::Harness h;
    t_loopmass *x = h.create({L(256)});
    h.send(x, 0, "int", {L(2)});
    h.send(x, 7, "list", {L(110), L(165), L(220)});
    h.send(x, 0, "bang");
    h.send(x, 0, "ramp", {L(5)});
    std::vector<float> out = play(x, 0.68);
    const size_t at = out.size();
    h.send(x, 7, "list", {L(110)});
    EXPECT_EQ(x->x_norm_held, 1);
    EXPECT_EQ(x->x_norm_from, 1.0 / std::sqrt(3.0));
    EXPECT_EQ(x->x_norm_to, 1.0);
    EXPECT_EQ(x->x_norm_len, 221);
    // The mix of the first vector after the change, and what each sample of
    // the output must be.
    float first[64];
    perform(x, first, 64);
    int unlike = 0;
    for (int i = 0; i < 64; i++) {
        const double norm = 1.0 / std::sqrt(3.0) + ((1.0 - 1.0 / std::sqrt(3.0)) / 221) * (i + 1);
        unlike += bits(first[i]) != bits((float)(x->x_mix[i] * norm));
    }
    EXPECT_EQ(unlike, 0);
    out.insert(out.end(), first, first + 64);
    const std::vector<float> after = play(x, 0.1);
    out.insert(out.end(), after.begin(), after.end());
    EXPECT_LE(largest_step(out, at - 1, at + 300), largest_step(out, 0, at));
    EXPECT_EQ(x->x_norm_held, 0);
    EXPECT_EQ(pitches(x), std::vector<float>({110, 0, 0, 0, 0}));
}

// A ramp from 1 to 0 over 441 samples is interrupted after 200 by a new
// gain: the new ramp sets off from the gain of the last sample played, and
// every sample of both is the plain loop's with that gain.  A message that
// leaves the destination as it was leaves the ramp alone.
TEST(Ramp, AnInterruptedRampGoesOnFromWhereItStands)
{
    test::Harness h;
    std::mt19937 rng(5);
    t_loopmass *x = h.create({L(16)});
    test::random_ring(x, rng);
    h.send(x, 7, "fg", {L(220), L(1)});
    h.send(x, 0, "ramp", {L(10)});
    h.send(x, 7, "fg", {L(220), L(0)});
    std::vector<test::RefRamp> ramps = {{1.0f, 0.0f, 441, 0}};
    float phase = loopmass_view_phases(x)[0];
    auto expect_vector = [&](int n) {
        float mix[MIXSIZE];
        float phases[NOSC] = {phase};
        ramps.resize(NOSC, test::RefRamp{0, 0, 0, 0});
        test::ref_scan(16, x->x_pos, x->x_pos1, x->x_osc_freq, x->x_osc_gain, phases, mix, n, ramps.data());
        ASSERT_EQ(loopmass_scan(x, n), 1);
        for (int j = 0; j < n; j++)
            ASSERT_EQ(bits(x->x_mix[j]), bits(mix[j])) << "sample " << j << " after " << ramps[0].done;
        phase = phases[0];
        ramps[0].done += n;
    };
    for (int v = 0; v < 4; v++)
        expect_vector(50);
    h.send(x, 7, "fg", {L(220), L(0)}); // the same destination
    EXPECT_EQ(x->x_ramp[0].done, 200);
    h.send(x, 7, "fg", {L(220), F(0.5f)});
    const float where = (float)(1.0 + ((0.0 - 1.0) / 441) * 200);
    EXPECT_EQ(bits(x->x_ramp[0].from), bits(where));
    EXPECT_EQ(bits(x->x_ramp[0].to), bits(0.5f));
    EXPECT_EQ(x->x_ramp[0].done, 0);
    ramps[0] = {where, 0.5f, 441, 0};
    for (int v = 0; v < 6; v++)
        expect_vector(77);
    EXPECT_EQ(x->x_ramp[0].len, 0);
}

// ramp 0 after a ramp of 5: the next change jumps, and the sound is the
// sound of an object never given a ramp, bit for bit.
TEST(Ramp, ZeroIsTheJumpToTheBit)
{
    test::Harness h;
    t_loopmass *a = h.create({L(32)}), *b = h.create({L(32)});
    h.send(a, 0, "ramp", {L(5)});
    h.send(a, 0, "ramp", {L(0)});
    for (t_loopmass *x : {a, b}) {
        h.send(x, 0, "int", {L(5)});
        h.send(x, 0, "bang");
        h.send(x, 7, "list", {L(220), L(330), L(440)});
    }
    std::vector<float> sa = play(a, 0.1), sb = play(b, 0.1);
    for (t_loopmass *x : {a, b})
        h.send(x, 7, "fg", {L(110), F(0.5f)});
    EXPECT_EQ(a->x_ramp[0].len, 0);
    EXPECT_EQ(loopmass_view_pitches(a)[1], 0.0f);
    std::vector<float> ta = play(a, 0.1), tb = play(b, 0.1);
    sa.insert(sa.end(), ta.begin(), ta.end());
    sb.insert(sb.end(), tb.begin(), tb.end());
    for (size_t i = 0; i < sa.size(); i++)
        ASSERT_EQ(bits(sa[i]), bits(sb[i])) << "sample " << i;
}

// Arguments of ramp and lowcut on every inlet: the value each leaves, or
// none for a refused one, which changes nothing and says why.
TEST(Shaping, RampAndLowcutTakeTheirRangeAndRefuseTheRest)
{
    struct Case {
        const char *selector;
        std::vector<t_atom> args;
        float value; // NaN: refused
    };
    const std::vector<Case> cases = {
        {"ramp", {L(5)}, 5},
        {"ramp", {F(2.5f)}, 2.5f},
        {"ramp", {L(1000)}, 1000},
        {"ramp", {L(0)}, 0},
        {"ramp", {F(-0.0f)}, 0},
        {"ramp", {L(1001)}, NaN},
        {"ramp", {F(1000.001f)}, NaN},
        {"ramp", {L(-1)}, NaN},
        {"ramp", {F(NaN)}, NaN},
        {"ramp", {S("x")}, NaN},
        {"ramp", {}, NaN},
        {"ramp", {L(3), S("x")}, 3},
        {"lowcut", {L(20)}, 20},
        {"lowcut", {F(0.5f)}, 0.5f},
        {"lowcut", {L(200)}, 200},
        {"lowcut", {L(0)}, 0},
        {"lowcut", {F(-0.0f)}, 0},
        {"lowcut", {L(500)}, NaN},
        {"lowcut", {F(200.001f)}, NaN},
        {"lowcut", {L(-20)}, NaN},
        {"lowcut", {F(NaN)}, NaN},
        {"lowcut", {F(INFINITY)}, NaN},
        {"lowcut", {S("off")}, NaN},
        {"lowcut", {}, NaN},
    };
    test::Harness h;
    t_loopmass *x = h.create({L(8)});
    h.take();
    for (const Case &c : cases)
        for (int inlet = 0; inlet <= INLET_PITCH; inlet++) {
            const std::string what =
                std::string(c.selector) + " case " + std::to_string(&c - &cases[0]) + " inlet " + std::to_string(inlet);
            x->x_ramp_ms = 7.0f;
            x->x_lowcut_hz = 70.0f;
            EXPECT_EQ(h.send(x, inlet, c.selector, c.args), 0) << what;
            const float was = std::strcmp(c.selector, "ramp") == 0 ? 7.0f : 70.0f;
            const float now = std::strcmp(c.selector, "ramp") == 0 ? loopmass_view_shaping(x).ramp_ms
                                                                   : loopmass_view_shaping(x).lowcut_hz;
            EXPECT_EQ(bits(now), bits(std::isnan(c.value) ? was : c.value)) << what;
            EXPECT_EQ(bits(std::strcmp(c.selector, "ramp") == 0 ? loopmass_view_shaping(x).lowcut_hz
                                                                : loopmass_view_shaping(x).ramp_ms),
                      bits(std::strcmp(c.selector, "ramp") == 0 ? 70.0f : 7.0f))
                << what;
            EXPECT_EQ(h.take("error").size(), std::isnan(c.value) ? 1u : 0u) << what;
        }
}

// The ramp's length is the time at the object's rate, rounded to the
// nearest sample, halves up.
TEST(Ramp, LengthIsTheTimeAtTheObjectsRateRoundedToTheNearestSample)
{
    const struct {
        float ms;
        int hostrate;
        double rate;
        int32_t samples;
    } cases[] = {
        {5, 0, 48000, 221},   {5, 1, 48000, 240},     {1000, 0, 44100, 44100}, {1000, 1, 96000, 96000},
        {0.01f, 0, 44100, 0}, {0.0114f, 0, 44100, 1}, {2.5f, 1, 22050, 55},    {2.5f, 0, 22050, 110},
    };
    test::Harness h;
    for (const auto &c : cases) {
        t_loopmass *x = h.create({L(8)});
        headless::dsp_start(64, c.rate);
        headless::dsp_stop();
        h.send(x, 0, "hostrate", {L(c.hostrate)});
        h.send(x, 0, "ramp", {F(c.ms)});
        h.send(x, 7, "fg", {L(220), L(1)});
        EXPECT_EQ(x->x_ramp[0].len, c.samples) << c.ms << " ms at " << (c.hostrate ? c.rate : 44100.0);
        h.destroy(x);
    }
}

// A ramp asked for before the signal processing starts (as a score's
// messages before its first run) is measured at the rate it starts with,
// the normalisation's too; one that has begun keeps its length.
TEST(Ramp, ARampNotYetPlayedTakesTheRateTheSoundStartsAt)
{
    test::Harness h;
    t_loopmass *x = h.create({L(8)});
    h.send(x, 0, "hostrate", {L(1)});
    h.send(x, 0, "ramp", {L(5)});
    h.send(x, 7, "list", {L(220), L(330)});
    EXPECT_EQ(x->x_ramp[0].len, 221);
    EXPECT_EQ(x->x_norm_len, 221);
    headless::dsp_start(64, 48000);
    EXPECT_EQ(x->x_ramp[0].len, 240);
    EXPECT_EQ(x->x_ramp[1].len, 240);
    EXPECT_EQ(x->x_norm_len, 240);
    headless::dsp_tick();
    headless::dsp_stop();
    headless::dsp_start(64, 96000);
    headless::dsp_stop();
    EXPECT_EQ(x->x_ramp[0].len, 240);
    EXPECT_EQ(x->x_ramp[0].done, 64);
    EXPECT_EQ(x->x_norm_len, 240);
}
