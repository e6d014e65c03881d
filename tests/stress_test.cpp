// Whatever arrives, the object keeps sounding finite samples and its ring
// within bounds: random messages of every kind, hostile numbers included,
// interleaved with vectors of assorted sizes.
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness.h"

using namespace loopmass;
using test::F;
using test::L;
using test::S;

namespace {

class Chaos {
public:
    explicit Chaos(uint32_t seed) : rng_(seed) {}

    int below(int n) { return (int)(rng_() % (uint32_t)n); }

    // Ordinary values mostly, now and then one meant to break something.
    float value()
    {
        const float inf = std::numeric_limits<float>::infinity(), nan = std::nanf("");
        const float hostile[] = {0,     -0.0f,  1,       -1,       0.5f,   3,   -7,   1e6f, -1e6f,
                                 1e30f, -1e30f, 3.4e38f, -3.4e38f, 1e-40f, inf, -inf, nan};
        if (below(3) == 0)
            return hostile[below((int)(sizeof hostile / sizeof hostile[0]))];
        return (float)((double)rng_() / 4294967296.0 * 4.0 - 2.0);
    }

    float pitch()
    {
        const float inf = std::numeric_limits<float>::infinity(), nan = std::nanf("");
        const float pitches[] = {0, 55, 440, -440, 11025, 44100, -96000, 1e9f, 3.4e38f, inf, nan};
        if (below(2) == 0)
            return pitches[below((int)(sizeof pitches / sizeof pitches[0]))];
        return value() * 1000.0f;
    }

    t_atom atom(bool pitches = false)
    {
        switch (below(6)) {
        case 0:
            return L((int32_t)rng_());
        case 1:
            return L(below(20) - 5);
        case 2:
            return S(below(2) ? "all" : "x");
        default:
            return F(pitches ? pitch() : value());
        }
    }

    std::vector<t_atom> atoms(int max, bool pitches = false)
    {
        std::vector<t_atom> v((size_t)below(max + 1));
        for (t_atom &a : v)
            a = atom(pitches);
        return v;
    }

    int vector_size()
    {
        static const int sizes[] = {1, 2, 7, 32, 48, 64, 100, 128, 256, 300, 512, 1024, 2048, 2049, 3000, 4096};
        return sizes[below((int)(sizeof sizes / sizeof sizes[0]))];
    }

private:
    std::mt19937 rng_;
};

// One random message to one random inlet.
void send_random(test::Harness &h, t_loopmass *x, Chaos &c, const std::string &file)
{
    static const char *const metas[] = {"gain", "offset", "phase", "extra", "all"};
    const int inlet = c.below(8);
    switch (c.below(14)) {
    case 0:
        h.send(x, inlet, "list", c.atoms(loopmass_view_nmasses(x) + 3, inlet == INLET_PITCH));
        break;
    case 1:
        h.send(x, inlet, "int", {L(c.below(3) ? c.below(14) - 2 : (int32_t)c.value())});
        break;
    case 2:
        h.send(x, inlet, "float", {F(inlet == INLET_PITCH ? c.pitch() : c.value())});
        break;
    case 3:
        h.send(x, INLET_PITCH, "fg", c.atoms(12, true));
        break;
    case 4:
    case 5:
        h.send(x, 1 + c.below(6), metas[c.below(5)], c.atoms(5));
        break;
    case 6:
        h.send(x, c.below(3) ? 0 : inlet, "bang");
        break;
    case 7:
        h.send(x, inlet, "stop");
        break;
    case 8:
        h.send(x, inlet, "inactive", {L(c.below(4) ? 0 : 1)});
        break;
    case 9:
        h.send(x, 0, c.below(2) ? "store" : "clear", c.atoms(2));
        break;
    case 10:
        h.send(x, inlet, "reset", c.atoms(1));
        break;
    case 11: {
        static const char *const others[] = {"antialias", "display", "disprate", "info", "ramp", "lowcut"};
        h.send(x, inlet, others[c.below(6)], c.atoms(2));
        break;
    }
    case 12:
        // Presets by number and morphs between them.
        h.send(x, 0, c.below(2) ? "int" : "float", {F((float)c.below(12) + (c.below(2) ? 0.5f : 0.0f))});
        break;
    default:
        headless::queue_dialog(file);
        h.send(x, 0, c.below(2) ? "write" : "read", {});
        break;
    }
}

// Every sample finite, every mass of the ring within [-1, 1].
void check(const t_loopmass *x, const float *out, int n, int round)
{
    for (int i = 0; i < n; i++)
        ASSERT_TRUE(std::isfinite(out[i])) << "round " << round << " sample " << i << " of " << n << ": " << out[i];
    for (int i = 0; i < loopmass_view_nmasses(x); i++) {
        ASSERT_GE(loopmass_view_ring(x)[i], -1.0f) << "round " << round << " mass " << i;
        ASSERT_LE(loopmass_view_ring(x)[i], 1.0f) << "round " << round << " mass " << i;
    }
}

} // namespace

TEST(Stress, HostileMessagesNeverMakeTheOutputOrTheRingRunAway)
{
    test::Harness h;
    Chaos c(20240611);
    const std::string file = testing::TempDir() + "loopmass_stress_presets.txt";
    std::vector<float> out(4096);
    for (int nmasses : {3, 5, 64, 256}) {
        t_loopmass *x = h.create({L(nmasses)});
        h.send(x, INLET_PITCH, "list", {F(220), F(330), F(-110)});
        for (int round = 0; round < 1000; round++) {
            for (int m = c.below(4); m > 0; m--)
                send_random(h, x, c, file);
            const int n = c.vector_size();
            if (n <= MIXSIZE && c.below(2)) {
                headless::dsp_start(n);
                headless::dsp_tick();
                check(x, headless::signal_out(x), n, round);
                headless::dsp_stop();
            } else {
                t_int w[4] = {0, (t_int)out.data() - (t_int)sizeof(float), (t_int)x, (t_int)n + 1};
                loopmass_perform(w);
                check(x, out.data(), n, round);
            }
            if (HasFatalFailure())
                return;
            h.take();
        }
        h.destroy(x);
    }
    std::remove(file.c_str());
}
