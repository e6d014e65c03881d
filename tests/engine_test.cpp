// The sound engine: the haptic step of the ring, the scanning oscillators
// and the pacing of steps against vectors.
//
// Reaches into the record to set the ring, profiles and oscillators
// directly and to read the mix buffer, the motion atoms and the vector
// length, which only the engine sees.
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "harness.h"
#include "reference.h"

using namespace loopmass;
using test::bits;
using test::F;
using test::L;
using test::perform;
using test::S;
using test::DT;
using test::ref_scan;
using test::ref_step;
using test::ring_of;
using test::Ring;

namespace {

const float NaN = std::numeric_limits<float>::quiet_NaN();
const float Inf = std::numeric_limits<float>::infinity();

void set_profiles(t_loopmass *x, float m, float t, float c, float d, float f)
{
    const float v[5] = {m, t, c, d, f};
    for (int k = 0; k < 5; k++)
        for (int i = 0; i < MAXMASSES; i++)
            x->x_prof[k][i] = v[k];
}

void set_ring(t_loopmass *x, const std::vector<float> &pos, const std::vector<float> &pos1)
{
    for (size_t i = 0; i < pos.size(); i++) {
        x->x_pos[i] = pos[i];
        x->x_pos1[i] = pos1[i];
    }
}

// Everything the engine reads or writes, copied so that two objects can be
// run side by side.
void copy_state(t_loopmass *dst, const t_loopmass *src)
{
    std::memcpy(dst->x_prof, src->x_prof, sizeof dst->x_prof);
    std::memcpy(dst->x_pos, src->x_pos, sizeof dst->x_pos);
    std::memcpy(dst->x_pos1, src->x_pos1, sizeof dst->x_pos1);
    std::memcpy(dst->x_pos2, src->x_pos2, sizeof dst->x_pos2);
    std::memcpy(dst->x_osc_freq, src->x_osc_freq, sizeof dst->x_osc_freq);
    std::memcpy(dst->x_osc_gain, src->x_osc_gain, sizeof dst->x_osc_gain);
    std::memcpy(dst->x_osc_phase, src->x_osc_phase, sizeof dst->x_osc_phase);
    dst->x_autonorm = src->x_autonorm;
    dst->x_tick = src->x_tick;
    dst->x_inactive = src->x_inactive;
}

void expect_same_bits(const float *a, const float *b, int n, const char *what)
{
    for (int i = 0; i < n; i++)
        ASSERT_EQ(bits(a[i]), bits(b[i])) << what << "[" << i << "]: " << a[i] << " vs " << b[i];
}

// A ring in motion: a moderately stiff ring struck into one period of a
// triangle.
void excite(t_loopmass *x)
{
    const int n = loopmass_view_nmasses(x);
    set_profiles(x, 0.2f, 0.6f, 0.3f, 0.1f, 0.0f);
    for (int i = 0; i < n; i++) {
        const float v = 1.0f - 4.0f * std::fabs((float)i / n - 0.5f);
        x->x_pos[i] = x->x_pos1[i] = v;
    }
}

} // namespace

// Each kind's power of ten: 10^v for masses, 10^(5v - 1) for tension and
// centering, 10^(3v - 1) for damping, rounded to float; a power under
// half the least float (10^-45.5 or so) is 0.
TEST(Step, ConstantsArePowersOfTenRoundedToFloat)
{
    const float inf = std::numeric_limits<float>::infinity();
    const struct {
        int kind;
        float v, expect;
    } cases[] = {
        {PROF_MASSES, 0, 1},
        {PROF_MASSES, 1, 10},
        {PROF_MASSES, 0.5f, 3.16227766f},
        {PROF_TENSION, 1, 1e4f},
        {PROF_TENSION, 0, 0.1f},
        {PROF_TENSION, -0.2f, 0.01f},
        {PROF_CENTERING, 0.5f, 31.6227766f},
        {PROF_CENTERING, -8.8f, 1e-45f},
        {PROF_CENTERING, -9, 0},
        {PROF_DAMPING, 1, 100},
        {PROF_DAMPING, 0, 0.1f},
        {PROF_DAMPING, -inf, 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(bits(loopmass_constant(c.kind, c.v)), bits(c.expect)) << c.kind << " " << c.v;
    EXPECT_TRUE(std::isnan(loopmass_constant(PROF_MASSES, std::nanf(""))));
}

TEST(Step, CachedCoefficientsMatchPlainStepBitForBitWhileProfilesChange)
{
    test::Harness h;
    std::mt19937 rng(12345);
    std::uniform_real_distribution<float> unit(-0.3f, 1.0f), shape(-1.0f, 1.0f);
    for (int n : {3, 17, 256}) {
        t_loopmass *x = h.create({L(n)});
        test::random_ring(x, rng);
        Ring r = ring_of(x);
        for (int step = 0; step < 300; step++) {
            // Every few steps change some masses' profiles, sometimes back
            // to a value used before, sometimes only the sign of a zero.
            if (step % 7 == 3) {
                for (int c = 0; c < 5; c++) {
                    const int k = (int)(rng() % 5), i = (int)(rng() % (unsigned)n);
                    const float v = c == 0 ? x->x_prof[k][(i + 1) % n] : c == 1 ? -0.0f : unit(rng);
                    x->x_prof[k][i] = r.prof[k][i] = v;
                }
            }
            if (step == 150) // one mass unstable: NaN in, -1 out
                x->x_prof[0][n - 1] = r.prof[0][n - 1] = NaN;
            loopmass_step(x);
            ref_step(r);
            expect_same_bits(loopmass_view_ring(x).v, r.pos, n, "pos");
            expect_same_bits(loopmass_view_ring(x, 1).v, r.pos1, n, "pos1");
            expect_same_bits(loopmass_view_ring(x, 2).v, r.pos2, n, "pos2");
            // The motion atoms show the positions before the step.
            for (int i = 0; i < n; i++) {
                ASSERT_EQ(x->x_motion[i].a_type, patcher::A_FLOAT);
                ASSERT_EQ(bits(x->x_motion[i].a_w.w_float), bits(r.motion[i])) << "motion " << i;
            }
        }
        h.destroy(x);
    }
}

TEST(Step, ThreeMassesFromOneDisplacedMass)
{
    test::Harness h;
    t_loopmass *x = h.create({L(3)});
    set_profiles(x, 0, 0, 0, 0, 0);
    set_ring(x, {1, 0, 0}, {1, 0, 0});
    Ring r = ring_of(x);
    loopmass_step(x);
    ref_step(r);

    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(bits(loopmass_view_ring(x, 2)[i]), bits(i == 0 ? 1.0f : 0.0f));
        EXPECT_EQ(bits(loopmass_view_ring(x, 1)[i]), bits(i == 0 ? 1.0f : 0.0f));
        EXPECT_EQ(bits(x->x_motion[i].a_w.w_float), bits(i == 0 ? 1.0f : 0.5f));
    }
    expect_same_bits(loopmass_view_ring(x).v, r.pos, 3, "pos");
    // 1 - 0.3 dt^2 for the struck mass, 0.1 dt^2 for its two neighbours.
    EXPECT_NEAR(loopmass_view_ring(x)[0], 0.99998987, 1e-8);
    EXPECT_NEAR(loopmass_view_ring(x)[1], 0.0000033698, 1e-10);
    EXPECT_EQ(bits(loopmass_view_ring(x)[1]), bits(loopmass_view_ring(x)[2]));
}

TEST(Step, NeighboursWrapAroundTheRing)
{
    test::Harness h;
    struct Case {
        int n, struck, left, right;
    };
    for (Case c : {Case{3, 0, 2, 1}, Case{3, 2, 1, 0}, Case{5, 0, 4, 1}, Case{5, 4, 3, 0}, Case{256, 255, 254, 0},
                   Case{256, 0, 255, 1}}) {
        t_loopmass *x = h.create({L(c.n)});
        set_profiles(x, 0, 0, 0, 0, 0);
        for (int i = 0; i < c.n; i++)
            x->x_pos[i] = x->x_pos1[i] = i == c.struck ? 1.0f : 0.0f;
        loopmass_step(x);
        // Only the struck mass's two neighbours are pulled, equally.
        EXPECT_GT(loopmass_view_ring(x)[c.left], 0.0f) << c.n << " " << c.struck;
        EXPECT_EQ(bits(loopmass_view_ring(x)[c.left]), bits(loopmass_view_ring(x)[c.right])) << c.n << " " << c.struck;
        for (int i = 0; i < c.n; i++)
            if (i != c.struck && i != c.left && i != c.right) {
                EXPECT_EQ(bits(loopmass_view_ring(x)[i]), 0u) << c.n << " mass " << i;
            }
        h.destroy(x);
    }
}

TEST(Step, RingAtRestStaysAtRest)
{
    test::Harness h;
    t_loopmass *x = h.create({L(8)});
    struct Case {
        float m, t, c, d, f;
    };
    for (Case c : {Case{0, 0, 0, 0, 0}, Case{1, 1, 1, 1, 0}, Case{0.001f, -3, 0.9f, -1, 0},
                   Case{0.5f, 0.8f, 0.2f, 0.7f, 0.25f}, Case{0.3f, 1, 1, 0.1f, -0.6f}, Case{1, 0.2f, 0.4f, 1, 0.9f}}) {
        set_profiles(x, c.m, c.t, c.c, c.d, c.f);
        for (int i = 0; i < 8; i++)
            x->x_pos[i] = x->x_pos1[i] = c.f;
        for (int s = 0; s < 50; s++)
            loopmass_step(x);
        for (int i = 0; i < 8; i++) {
            if (c.f == 0.0f)
                EXPECT_EQ(bits(loopmass_view_ring(x)[i]), 0u) << "mass " << i;
            else
                EXPECT_NEAR(loopmass_view_ring(x)[i], c.f, 1e-6) << "mass " << i;
        }
    }
}

TEST(Step, ClampHoldsTheRingWithinBounds)
{
    // A ring at rest at X moves to X + (dt^2 S / M)(F - X): with a stiff
    // centering spring a far rest point throws it out of bounds.
    test::Harness h;
    t_loopmass *x = h.create({L(4)});
    const double c = (double)DT * DT * 10000.0f; // S = 10^4, M = 1
    struct Case {
        float rest, forces, mass, raw_near, want;
    };
    for (Case k : {Case{1, (float)(1 + 0.5 / c), 0, 1.5f, 1.0f}, Case{-1, (float)(-1 - 6 / c), 0, -7.0f, -1.0f},
                   Case{0, 0.5f, NaN, NaN, -1.0f}}) {
        set_profiles(x, k.mass, 0, 1, 0, k.forces);
        for (int i = 0; i < 4; i++)
            x->x_pos[i] = x->x_pos1[i] = k.rest;
        Ring r = ring_of(x);
        ref_step(r, false);
        loopmass_step(x);
        for (int i = 0; i < 4; i++) {
            if (std::isnan(k.raw_near))
                EXPECT_TRUE(std::isnan(r.pos[i]));
            else
                EXPECT_NEAR(r.pos[i], k.raw_near, 1e-3);
            EXPECT_EQ(bits(loopmass_view_ring(x)[i]), bits(k.want)) << "raw " << r.pos[i];
        }
    }
}

TEST(Scan, WorkedExamplesOnFourMasses)
{
    test::Harness h;
    t_loopmass *x = h.create({L(4)});
    struct Case {
        const char *what;
        std::vector<float> pos, pos1;
        float pitch;
        int n;
        std::vector<float> mix;
        float phase_after;
    };
    const std::vector<Case> cases = {
        {"one mass per sample", {0, 1, 0, -1}, {0, 1, 0, -1}, 11025, 4, {1, 0, -1, 0}, 0},
        {"backwards", {0, 1, 0, -1}, {0, 1, 0, -1}, -11025, 4, {-1, 0, 1, 0}, 0},
        {"cross-fade", {1, 1, 1, 1}, {0, 0, 0, 0}, 440, 4, {0, 0.25f, 0.5f, 0.75f}, NaN},
        {"extrapolated", {1, 1, 1, 1}, {0, 0, 0, 0}, -3000, 8, {0, 0.25f, 0.5f, 0.75f, 1, 1.25f, 1.5f, 1.75f}, NaN},
        // An infinite step has no place on the ring: the phase restarts at 0.
        {"infinite pitch", {0.5f, 1, 0, -1}, {0.5f, 1, 0, -1}, Inf, 3, {0.5f, 0.5f, 0.5f}, 0},
        // -1e-30 + 4 rounds to 4, one past the last mass: read mass 0.
        {"tiny negative", {0.25f, 1, 0, -1}, {0.25f, 1, 0, -1}, -1e-30f, 2, {0.25f, 0.25f}, 0},
    };
    for (const Case &c : cases) {
        set_ring(x, c.pos, c.pos1);
        for (int k = 0; k < NOSC; k++) {
            x->x_osc_freq[k] = k == 0 ? c.pitch : 0.0f;
            x->x_osc_gain[k] = 1.0f;
            x->x_osc_phase[k] = 0.0f;
        }
        EXPECT_EQ(loopmass_scan(x, c.n), 1) << c.what;
        for (int j = 0; j < c.n; j++)
            EXPECT_EQ(bits(x->x_mix[j]), bits(c.mix[j])) << c.what << " sample " << j << ": " << x->x_mix[j];
        if (!std::isnan(c.phase_after)) {
            EXPECT_EQ(bits(loopmass_view_phases(x)[0]), bits(c.phase_after)) << c.what;
        }
    }
}

TEST(Perform, NormalisationByTheNumberOfVoices)
{
    test::Harness h;
    struct Case {
        std::vector<float> pitches;
        float autonorm;
        int voices;
        double factor;
    };
    for (const Case &c : {Case{{440, 550, 660, 770, 0}, 1, 4, 0.5}, Case{{440, 550, 660, 770, 0}, 0, 4, 1.0},
                          Case{{440, 550, 660, 770, 0}, 0.5f, 4, 0.75}, Case{{440, 0, 220, 330, 110}, 1, 1, 1.0},
                          Case{{440, 550, NaN, 770, 0}, 1, 2, (1 / sqrt(2.0) - 1) * 1 + 1}}) {
        t_loopmass *x = h.create({L(16)});
        excite(x);
        for (int k = 0; k < NOSC; k++)
            x->x_osc_freq[k] = c.pitches[k];
        x->x_autonorm = c.autonorm;
        float out[64];
        perform(x, out, 64);
        bool sounding = false;
        for (int i = 0; i < 64; i++) {
            EXPECT_EQ(bits(out[i]), bits((float)(x->x_mix[i] * c.factor))) << i;
            sounding = sounding || out[i] != 0;
        }
        EXPECT_TRUE(sounding);
        for (int k = 0; k < NOSC; k++)
            x->x_osc_phase[k] = 0;
        EXPECT_EQ(loopmass_scan(x, 64), c.voices);
        h.destroy(x);
    }
}

// Runs perform on x and finds how many haptic steps it made by stepping a
// twin until the two rings agree.
int steps_in_vector(t_loopmass *x, t_loopmass *twin, int n)
{
    copy_state(twin, x);
    std::vector<float> out((size_t)n);
    perform(x, out.data(), n);
    for (int steps = 0; steps <= 20; steps++) {
        if (std::memcmp(twin->x_pos, x->x_pos, sizeof x->x_pos) == 0 &&
            std::memcmp(twin->x_pos1, x->x_pos1, sizeof x->x_pos1) == 0)
            return steps;
        loopmass_step(twin);
    }
    return -1;
}

TEST(Perform, OneHapticStepPer256Samples)
{
    test::Harness h;
    struct Case {
        int n;
        int per; // vectors per step below 256 samples, else steps per vector
    };
    for (Case c : {Case{32, 8}, Case{64, 4}, Case{128, 2}, Case{256, 1}, Case{512, 2}, Case{2048, 8}, Case{4096, 16},
                   Case{1, 256}, Case{48, 5}, Case{100, 3}, Case{200, 1}, Case{255, 1}}) {
        t_loopmass *x = h.create({L(32)});
        t_loopmass *twin = h.create({L(32)});
        excite(x);
        x->x_osc_freq[0] = 440;
        const int vectors = c.n < 256 ? 3 * c.per + 1 : 3;
        for (int v = 0; v < vectors; v++) {
            const int want = c.n >= 256 ? c.per : v % c.per == 0 ? 1 : 0;
            ASSERT_EQ(steps_in_vector(x, twin, c.n), want) << "n " << c.n << " vector " << v;
        }
        if (c.n >= 256) {
            EXPECT_EQ(loopmass_view_display(x).tick, 0);
        }
        h.destroy(x);
        h.destroy(twin);
    }
}

TEST(Perform, SilentWhileInactiveOrWhileTheFirstPitchIsZero)
{
    test::Harness h;
    struct Case {
        bool inactive;
        float pitch0;
        bool ring_moves;
    };
    for (Case c : {Case{true, 440, false}, Case{false, 0, true}, Case{false, NaN, true}}) {
        t_loopmass *x = h.create({L(16)});
        excite(x);
        x->x_inactive = c.inactive ? -1 : 0;
        const float pitches[NOSC] = {c.pitch0, 440, 220, 110, 55};
        const float phases[NOSC] = {0.5f, 1.5f, 2.5f, 3.5f, 4.5f};
        std::memcpy(x->x_osc_freq, pitches, sizeof pitches);
        std::memcpy(x->x_osc_phase, phases, sizeof phases);
        float before[MAXMASSES];
        std::memcpy(before, x->x_pos, sizeof before);
        for (int v = 0; v < 4; v++) {
            float out[256];
            std::fill(out, out + 256, 9.0f);
            perform(x, out, v % 2 ? 256 : 64);
            for (int i = 0; i < (v % 2 ? 256 : 64); i++)
                ASSERT_EQ(bits(out[i]), 0u) << "vector " << v << " sample " << i;
        }
        EXPECT_EQ(std::memcmp(before, x->x_pos, sizeof before) != 0, c.ring_moves);
        expect_same_bits(loopmass_view_phases(x).v, phases, NOSC, "phase");
        EXPECT_EQ(loopmass_view_display(x).tick, c.inactive ? 0 : 2); // 64: step, 256, 64: no step, 256
        h.destroy(x);
    }
}

TEST(Perform, LongVectorsRunAsSlicesOfTheMixBuffer)
{
    test::Harness h;
    struct Case {
        int n;
        std::vector<int> slices;
    };
    for (const Case &c : {Case{4096, {2048, 2048}}, Case{3000, {2048, 952}}, Case{5000, {2048, 2048, 904}}}) {
        t_loopmass *x = h.create({L(64)});
        t_loopmass *twin = h.create({L(64)});
        excite(x);
        const float pitches[NOSC] = {440, -330, 1000, 0, 0};
        std::memcpy(x->x_osc_freq, pitches, sizeof pitches);
        copy_state(twin, x);
        // Guard samples on both sides catch a write outside the vector.
        std::vector<float> whole((size_t)c.n + 2, 7.0f), parts((size_t)c.n);
        perform(x, whole.data() + 1, c.n);
        int at = 0;
        for (int m : c.slices) {
            perform(twin, parts.data() + at, m);
            at += m;
        }
        EXPECT_EQ(bits(whole[0]), bits(7.0f));
        EXPECT_EQ(bits(whole[(size_t)c.n + 1]), bits(7.0f));
        expect_same_bits(whole.data() + 1, parts.data(), c.n, "out");
        expect_same_bits(loopmass_view_ring(x).v, loopmass_view_ring(twin).v, 64, "pos");
        expect_same_bits(loopmass_view_phases(x).v, loopmass_view_phases(twin).v, NOSC, "phase");
        h.destroy(x);
        h.destroy(twin);
    }
}

TEST(Perform, SignalChainCallsPerformOnTheOutletVector)
{
    test::Harness h;
    t_loopmass *x = h.create({L(32)});
    t_loopmass *twin = h.create({L(32)});
    excite(x);
    x->x_osc_freq[0] = 440;
    x->x_osc_freq[1] = 660;
    copy_state(twin, x);
    twin->x_inactive = -1; // the chain runs the twin too: keep it still
    std::vector<float> chain;
    const uint32_t steps = x->x_nsteps;
    headless::dsp_start(64);
    for (int v = 0; v < 6; v++) {
        headless::dsp_tick();
        const float *out = headless::signal_out(x);
        chain.insert(chain.end(), out, out + 64);
    }
    headless::dsp_stop();
    // Vectors of 64 samples: four to a haptic step, so six make a step on
    // the first and the fifth.
    EXPECT_EQ(x->x_nsteps - steps, 2u);

    twin->x_inactive = 0;
    std::vector<float> direct(6 * 64);
    for (int v = 0; v < 6; v++)
        perform(twin, direct.data() + 64 * v, 64);
    expect_same_bits(chain.data(), direct.data(), 6 * 64, "out");
}
