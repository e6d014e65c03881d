// The engine on every set of vector units this machine runs, against the
// plain loops of reference.h, bit for bit: the scan, the haptic step and
// the scan's table.
//
// A test of the engine's internals: it sets the ring, profiles and
// oscillators directly and reads the mix buffer, the motion atoms and the
// ramps, which only the engine sees.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness.h"
#include "reference.h"

using namespace loopmass;
using test::bits;
using test::L;

namespace {

const float NaN = std::numeric_limits<float>::quiet_NaN();
const float Inf = std::numeric_limits<float>::infinity();

// Runs the engine on set i while it lives, then returns to the set that
// was in use.
struct Path {
    std::string was;
    explicit Path(int i) : was(loopmass_simd_in_use())
    {
        EXPECT_EQ(loopmass_simd_use(loopmass_simd_name(i)), 0) << loopmass_simd_name(i);
    }
    ~Path() { loopmass_simd_use(was.c_str()); }
};

// A pitch whose phase step on n masses is exactly inc, found among the
// floats next to inc's own pitch.
float pitch_for(int n, float inc)
{
    float up = (float)((double)inc * 44100.0 / (double)(float)n), down = up;
    for (int tries = 0; tries < 256; tries++) {
        if (test::ref_inc(n, up) == inc)
            return up;
        if (test::ref_inc(n, down) == inc)
            return down;
        up = std::nextafter(up, Inf);
        down = std::nextafter(down, -Inf);
    }
    ADD_FAILURE() << "no pitch gives a step of " << inc << " on " << n << " masses";
    return 0.0f;
}

// One vector of the scan, on the object and on the plain loop, compared:
// every sample of the mix, every phase, the oscillator count, the mix past
// the vector left alone, and the ramps moved on by the vector.
void expect_scan(t_loopmass *x, int n, const std::string &what)
{
    const float SENTINEL = -123.5f;
    float phases[NOSC], mix[MIXSIZE];
    std::memcpy(phases, x->x_osc_phase, sizeof phases);
    std::memcpy(mix, x->x_mix, sizeof mix);
    for (int j = n; j < MIXSIZE; j++)
        x->x_mix[j] = SENTINEL;
    test::RefRamp ramps[NOSC];
    for (int k = 0; k < NOSC; k++)
        ramps[k] = {x->x_ramp[k].from, x->x_ramp[k].to, x->x_ramp[k].len, x->x_ramp[k].done};
    test::ref_scan(loopmass_view_nmasses(x), x->x_pos, x->x_pos1, x->x_osc_freq, x->x_osc_gain, phases, mix, n, ramps);
    short want = 0;
    while (want < NOSC && loopmass_view_pitches(x)[want] != 0 && !std::isnan(loopmass_view_pitches(x)[want]))
        want++;

    ASSERT_EQ(loopmass_scan(x, n), want) << what;
    for (int j = 0; j < n; j++)
        ASSERT_EQ(bits(x->x_mix[j]), bits(mix[j]))
            << what << ", sample " << j << ": " << x->x_mix[j] << " vs " << mix[j];
    for (int j = n; j < MIXSIZE; j++)
        ASSERT_EQ(bits(x->x_mix[j]), bits(SENTINEL)) << what << ", sample " << j << " past the vector";
    for (int k = 0; k < NOSC; k++)
        ASSERT_EQ(bits(loopmass_view_phases(x)[k]), bits(phases[k])) << what << ", phase " << k;
    for (int k = 0; k < NOSC; k++) {
        const bool ends = ramps[k].len - ramps[k].done <= n;
        ASSERT_EQ(x->x_ramp[k].len, ends ? 0 : ramps[k].len) << what << ", ramp " << k;
        if (!ends) {
            ASSERT_EQ(x->x_ramp[k].done, ramps[k].done + n) << what << ", ramp " << k;
        }
    }
}

// Everything the scan reads, as one oscillator case sets it.
void set_oscillators(t_loopmass *x, const std::vector<float> &pitch, const std::vector<float> &gain,
                     const std::vector<float> &phase)
{
    for (int k = 0; k < NOSC; k++) {
        x->x_osc_freq[k] = k < (int)pitch.size() ? pitch[k] : 0.0f;
        x->x_osc_gain[k] = k < (int)gain.size() ? gain[k] : 1.0f;
        x->x_osc_phase[k] = k < (int)phase.size() ? phase[k] : 0.0f;
    }
}

} // namespace

TEST(Simd, EveryPathNamedOnceAndChosenByName)
{
    const std::string was = loopmass_simd_in_use();
    const int count = loopmass_simd_count();
    ASSERT_GE(count, 1);
    EXPECT_STREQ(loopmass_simd_name(0), "portable");
#if defined(__x86_64__)
    ASSERT_GE(count, 2); // every x86-64 processor has SSE2
    EXPECT_STREQ(loopmass_simd_name(1), "sse2");
#endif
#if defined(__aarch64__)
    ASSERT_EQ(count, 2); // every aarch64 processor has Advanced SIMD
    EXPECT_STREQ(loopmass_simd_name(1), "neon");
#endif
    std::set<std::string> names;
    for (int i = 0; i < count; i++) {
        names.insert(loopmass_simd_name(i));
        EXPECT_EQ(loopmass_simd_use(loopmass_simd_name(i)), 0);
        EXPECT_STREQ(loopmass_simd_in_use(), loopmass_simd_name(i));
    }
    EXPECT_EQ((int)names.size(), count);
    EXPECT_EQ(loopmass_simd_name(count), nullptr);
    EXPECT_EQ(loopmass_simd_name(-1), nullptr);
    for (const char *bad : {"", "AVX2", "avx1024", "portable "}) {
        EXPECT_NE(loopmass_simd_use(bad), 0) << bad;
        EXPECT_STREQ(loopmass_simd_in_use(), loopmass_simd_name(count - 1));
    }
    EXPECT_NE(loopmass_simd_use(nullptr), 0);
    EXPECT_EQ(loopmass_simd_use(was.c_str()), 0);
}

TEST(Paths, ScanMatchesThePlainLoopWhateverThePitchesGainsAndPhases)
{
    test::Harness h;
    const float pitches[] = {440.0f,  113.0f,    553.0f,  11025.0f, 22050.0f, 44100.0f, 60000.0f, 1e6f,
                             -220.5f, -44100.0f, -1e6f,   1e30f,    -1e30f,   3e38f,    -3e38f,   1e-30f,
                             -1e-30f, 1e-40f,    -1e-45f, 0.001f,   Inf,      -Inf,     NaN,      0.0f};
    const float gains[] = {1.0f, 0.5f, -2.0f, 0.0f, -0.0f, 1e30f, -1e30f};
    const int sizes[] = {1, 2, 3, 7, 8, 9, 15, 16, 17, 63, 64, 65, 100, 127, 128, 129, 255, 256, 1000, 2047, 2048};
    std::mt19937 rng(4242);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f), shape(-1.0f, 1.0f);
    for (int nmasses : {3, 4, 5, 8, 9, 63, 64, 100, 255, 256}) {
        t_loopmass *x = h.create({L(nmasses)});
        const float nf = (float)nmasses;
        // Where an oscillator may stand: on the ring, on its ends, and off
        // it as no scan leaves it.
        const float phases[] = {0.0f,   -0.0f, nf, std::nextafter(nf, 0.0f), nf + 0.5f, 2 * nf + 3.0f,
                                -0.75f, 1e30f, NaN};
        for (int i = 0; i < nmasses; i++) {
            x->x_pos[i] = shape(rng);
            x->x_pos1[i] = shape(rng);
        }
        for (int round = 0; round < 40; round++) {
            std::vector<float> pitch, gain, phase;
            const int voices = 1 + (int)(rng() % NOSC);
            for (int k = 0; k < voices; k++) {
                pitch.push_back(rng() % 3 ? pitches[rng() % 8] * (0.5f + unit(rng))
                                          : pitches[rng() % (sizeof pitches / sizeof pitches[0])]);
                gain.push_back(gains[rng() % (sizeof gains / sizeof gains[0])]);
                phase.push_back(rng() % 2 ? nf * unit(rng) : phases[rng() % (sizeof phases / sizeof phases[0])]);
            }
            set_oscillators(x, pitch, gain, phase);
            const int n = sizes[rng() % (sizeof sizes / sizeof sizes[0])];
            for (int p = 0; p < loopmass_simd_count(); p++) {
                Path path(p);
                std::memcpy(x->x_osc_phase, phase.data(), sizeof(float) * phase.size());
                expect_scan(x, n,
                            std::string(loopmass_simd_in_use()) + ", N " + std::to_string(nmasses) + ", n " +
                                std::to_string(n) + ", round " + std::to_string(round));
            }
        }
        h.destroy(x);
    }
}

// Gains that ramp on several oscillators at once, in vectors of every size:
// a ramp that ends inside the vector, one that starts with it, one that
// keeps on past it, one of the largest gains, and oscillators that keep
// their gain; the plain loop takes each sample's gain from its ramp.
TEST(Paths, ScanMatchesThePlainLoopWhileGainsRamp)
{
    test::Harness h;
    const int sizes[] = {1, 2, 3, 7, 8, 9, 15, 16, 17, 63, 64, 65, 100, 127, 128, 129, 255, 256, 1000, 2047, 2048};
    std::mt19937 rng(777);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f), shape(-1.0f, 1.0f);
    for (int nmasses : {3, 64, 256}) {
        t_loopmass *x = h.create({L(nmasses)});
        for (int i = 0; i < nmasses; i++) {
            x->x_pos[i] = shape(rng);
            x->x_pos1[i] = shape(rng);
        }
        for (int n : sizes)
            for (int round = 0; round < 6; round++) {
                // (The time each ramp was asked to take plays no part here.)
                std::vector<t_ramp> ramps = {
                    {1.0f, 0.0f, n + 440, n + 440 - (n + 1) / 2, 0}, // ends at the vector's middle sample
                    {-0.25f, 1.0f, 3000, 0, 0},                      // starts with the vector
                    {0.0f, 0.0f, 0, 0, 0},                           // none
                    {1e30f, -1e30f, 5, 2, 0},
                    {0.0f, 0.3f, 1, 0, 0}, // at its end from the first sample
                };
                if (round > 0) // random ramps, some oscillators without
                    for (t_ramp &r : ramps) {
                        r.len = rng() % 2 ? 0 : 1 + (int)(rng() % 5000);
                        r.done = r.len ? (int)(rng() % (unsigned)r.len) : 0;
                        r.from = 2.0f * shape(rng);
                        r.to = rng() % 4 ? shape(rng) : 0.0f;
                    }
                const int voices = round == 0 ? NOSC : 1 + (int)(rng() % NOSC);
                std::vector<float> phase;
                for (int k = 0; k < NOSC; k++)
                    phase.push_back(nmasses * unit(rng));
                const std::vector<float> pitch = {220.5f, -331.0f, 440.25f, 5000.0f, 97.0f};
                for (int p = 0; p < loopmass_simd_count(); p++) {
                    Path path(p);
                    set_oscillators(x, std::vector<float>(pitch.begin(), pitch.begin() + voices),
                                    {0.5f, 1.0f, -0.75f, 2.0f, 0.3f}, phase);
                    std::copy(ramps.begin(), ramps.end(), x->x_ramp);
                    expect_scan(x, n,
                                std::string(loopmass_simd_in_use()) + ", N " + std::to_string(nmasses) + ", n " +
                                    std::to_string(n) + ", round " + std::to_string(round));
                }
            }
        h.destroy(x);
    }
}

// Samples whose exact phase lies where the walk's shortcuts would go wrong:
// each names what the engine must not do, and the plain loop's result is
// also checked against what a careless engine would give.
TEST(Paths, ScanTakesWrapsAndIndicesFromTheDoubleSum)
{
    test::Harness h;
    const float ulp256 = 256.0f - std::nextafter(256.0f, 0.0f); // 2^-16
    struct Case {
        const char *what;
        int nmasses;
        float phase, inc;
        int mass;             // a mass given the value 1 (and its successor 1e-30)
        float phase_after;    // where the oscillator stands after one sample
        float careless_phase; // the phase a float subtraction at the wrap would store
    };
    const std::vector<Case> cases = {
        // The sum lies just below N and rounds up to it: the phase stored is
        // N, the mass read is N - 1 at a fraction of 1, never mass N.
        {"sum rounds up to N", 256, 256.0f - ulp256, ulp256 / 2 + ulp256 / 1024, 255, 256.0f, 256.0f},
        // The same inside the ring: the float phase is 100 but the index is
        // 99, whose successor, read at a fraction of 1, differs from mass 100.
        {"sum rounds up to a whole mass", 256, 100.0f - ulp256 / 2, ulp256 / 4 + ulp256 / 4096, 99, 100.0f, 100.0f},
        // A wrap: the float sum 256 lost the small part of the step, which
        // the double sum keeps after N is taken away.
        {"wrap keeps what the float sum lost", 256, 255.5f, 0.5f + 0x1p-24f, 0, 0x1p-24f, 0.0f},
        {"sum exactly N", 4, 3.5f, 0.5f, 0, 0.0f, 0.0f},
        // Backwards onto -N: the remainder is -0, kept with its sign.
        {"backwards onto minus N", 4, 0.0f, -4.0f, 0, -0.0f, 0.0f},
        {"tiny step backwards from 0", 256, 0.0f, -1e-30f, 255, 0.0f, 0.0f},
        {"tiny step from N", 256, 256.0f, 1e-30f, 0, 0.0f, 0.0f},
        {"from above N", 256, 300.5f, 1.0f, 45, 45.5f, 45.5f},
    };
    for (const Case &c : cases) {
        t_loopmass *x = h.create({L(c.nmasses)});
        for (int i = 0; i < c.nmasses; i++)
            x->x_pos[i] = x->x_pos1[i] = 0.25f;
        x->x_pos[c.mass] = x->x_pos1[c.mass] = 1.0f;
        x->x_pos[(c.mass + 1) % c.nmasses] = x->x_pos1[(c.mass + 1) % c.nmasses] = 1e-30f;
        const float pitch = pitch_for(c.nmasses, c.inc);
        const float pitches[NOSC] = {pitch};
        float ref_phases[NOSC] = {c.phase}, mix[MIXSIZE] = {};
        test::ref_scan(c.nmasses, x->x_pos, x->x_pos1, pitches, x->x_osc_gain, ref_phases, mix, 1);
        EXPECT_EQ(bits(ref_phases[0]), bits(c.phase_after)) << c.what;
        if (c.careless_phase != c.phase_after) {
            const float careless = (c.phase + c.inc) - (float)c.nmasses;
            EXPECT_EQ(bits(careless), bits(c.careless_phase)) << c.what;
        }
        for (int p = 0; p < loopmass_simd_count(); p++) {
            Path path(p);
            set_oscillators(x, {pitch}, {1.0f}, {c.phase});
            expect_scan(x, 64, std::string(c.what) + " on " + loopmass_simd_in_use());
        }
        h.destroy(x);
    }
}

TEST(Paths, ScanSeesEveryChangeOfTheRingBetweenVectors)
{
    test::Harness h;
    struct Change {
        const char *what;
        void (*apply)(test::Harness &h, t_loopmass *x);
    };
    const Change changes[] = {
        {"nothing", [](test::Harness &, t_loopmass *) {}},
        {"one ulp of one mass",
         [](test::Harness &, t_loopmass *x) { x->x_pos[5] = std::nextafter(x->x_pos[5], 2.0f); }},
        {"the sign of a zero", [](test::Harness &, t_loopmass *x) { x->x_pos1[9] = -x->x_pos1[9]; }},
        {"the last mass", [](test::Harness &, t_loopmass *x) { x->x_pos[x->x_nmasses - 1] = 0.5f; }},
        {"a haptic step", [](test::Harness &, t_loopmass *x) { loopmass_step(x); }},
        {"bang", [](test::Harness &harness, t_loopmass *x) { harness.send(x, INLET_CONTROL, "bang"); }},
        {"stop", [](test::Harness &harness, t_loopmass *x) { harness.send(x, INLET_CONTROL, "stop"); }},
    };
    for (int p = 0; p < loopmass_simd_count(); p++) {
        Path path(p);
        t_loopmass *x = h.create({L(20)});
        h.send(x, INLET_CONTROL, "int", {L(3)});
        h.send(x, INLET_CONTROL, "bang");
        loopmass_step(x);
        x->x_pos1[9] = 0.0f;
        set_oscillators(x, {440.0f, -330.0f, 5000.0f}, {1.0f, 0.5f, 0.25f}, {});
        for (const Change &c : changes) {
            expect_scan(x, 64, std::string(c.what) + " on " + loopmass_simd_in_use());
            c.apply(h, x);
            expect_scan(x, 64, std::string("after ") + c.what + " on " + loopmass_simd_in_use());
        }
        h.destroy(x);
    }
}

TEST(Paths, StepMatchesThePlainStepAndLeavesMassesBeyondNAlone)
{
    test::Harness h;
    const float SENTINEL = -123.5f;
    std::mt19937 rng(99);
    for (int n : {3, 4, 5, 7, 8, 9, 15, 16, 17, 31, 64, 100, 255, 256}) {
        for (int p = 0; p < loopmass_simd_count(); p++) {
            Path path(p);
            const std::string what = std::string(loopmass_simd_in_use()) + ", N " + std::to_string(n);
            t_loopmass *x = h.create({L(n)});
            test::random_ring(x, rng);
            for (int i = n; i < MAXMASSES; i++) {
                x->x_pos[i] = x->x_pos1[i] = x->x_pos2[i] = SENTINEL;
                atom_setfloat(&x->x_motion[i], SENTINEL);
            }
            test::Ring r = test::ring_of(x);
            for (int step = 0; step < 24; step++) {
                if (step == 12) { // an unstable mass and a forces value that is not a number
                    x->x_prof[0][n / 2] = r.prof[0][n / 2] = -3.0f;
                    x->x_prof[4][n - 1] = r.prof[4][n - 1] = NaN;
                }
                loopmass_step(x);
                test::ref_step(r);
                for (int i = 0; i < n; i++) {
                    ASSERT_EQ(bits(loopmass_view_ring(x)[i]), bits(r.pos[i]))
                        << what << ", mass " << i << ", step " << step;
                    ASSERT_EQ(bits(loopmass_view_ring(x, 1)[i]), bits(r.pos1[i])) << what << ", mass " << i;
                    ASSERT_EQ(bits(loopmass_view_ring(x, 2)[i]), bits(r.pos2[i])) << what << ", mass " << i;
                    ASSERT_EQ(x->x_motion[i].a_type, patcher::A_FLOAT) << what << ", mass " << i;
                    ASSERT_EQ(bits(x->x_motion[i].a_w.w_float), bits(r.motion[i])) << what << ", mass " << i;
                }
            }
            for (int i = n; i < MAXMASSES; i++) {
                ASSERT_EQ(bits(loopmass_view_ring(x)[i]), bits(SENTINEL)) << what << ", mass " << i;
                ASSERT_EQ(bits(loopmass_view_ring(x, 1)[i]), bits(SENTINEL)) << what << ", mass " << i;
                ASSERT_EQ(bits(loopmass_view_ring(x, 2)[i]), bits(SENTINEL)) << what << ", mass " << i;
                ASSERT_EQ(bits(x->x_motion[i].a_w.w_float), bits(SENTINEL)) << what << ", mass " << i;
            }
            h.destroy(x);
        }
    }
}
