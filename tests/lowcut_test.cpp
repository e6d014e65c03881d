// The high-pass on the output ("lowcut").
//
// Reaches into the record for the high-pass's coefficients and state,
// which only the engine sees.
#include <cmath>
#include <complex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness.h"

using namespace loopmass;
using test::bits;
using test::F;
using test::L;
using test::perform;
using test::play;

// The high-pass's response from its coefficients: 0 at 0 Hz, 1 at half the
// rate, half the power at the corner, at the object's rate.
TEST(LowCut, IsAButterworthHighPassWithItsCornerAtTheObjectsRate)
{
    test::Harness h;
    const double pi = 3.14159265358979323846;
    for (float hz : {0.5f, 20.0f, 200.0f})
        for (int hostrate : {0, 1}) {
            t_loopmass *x = h.create({L(8)});
            headless::dsp_start(64, 22050);
            headless::dsp_stop();
            h.send(x, 0, "hostrate", {L(hostrate)});
            h.send(x, 0, "lowcut", {F(hz)});
            const double rate = hostrate ? 22050 : 44100;
            const t_highpass &f = x->x_highpass;
            auto power = [&](double freq) {
                const std::complex<double> z = std::polar(1.0, -2.0 * pi * freq / rate);
                return std::norm((f.b0 + f.b1 * z + f.b2 * z * z) / (1.0 + f.a1 * z + f.a2 * z * z));
            };
            EXPECT_EQ(f.b0 + f.b1 + f.b2, 0.0) << hz;
            EXPECT_NEAR(power(rate / 2), 1.0, 1e-12) << hz;
            EXPECT_NEAR(power(hz), 0.5, 1e-7) << hz;       // near 0 Hz the sums above lose digits
            EXPECT_NEAR(power(hz / 10), 1e-4, 2e-6) << hz; // 40 dB a decade below
            h.destroy(x);
        }
}

// The filtered object against a twin without the filter, whose output (fg
// leaves the mix unscaled) is the filter's input: every sample is the
// filter's sum in double rounded to float, in vectors of every kind of size,
// through a silence (the tail decays on zeros), while inactive (zeros, the
// filter waits), and after lowcut 0 the twin's sound again.
TEST(LowCut, FiltersEachSampleInDoubleAndClearsWhenTurnedOff)
{
    test::Harness h;
    t_loopmass *x = h.create({L(64)}), *twin = h.create({L(64)});
    h.send(x, 0, "lowcut", {L(30)});
    for (t_loopmass *o : {x, twin}) {
        h.send(o, 0, "int", {L(7)});
        h.send(o, 0, "bang");
        h.send(o, 7, "fg", {L(220), L(1), L(331), F(0.5f)});
    }
    const t_highpass f = x->x_highpass;
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    std::vector<float> out(4096), in(4096);
    auto compare = [&](int n, bool filtered, const std::string &what) {
        perform(x, out.data(), n);
        perform(twin, in.data(), n);
        for (int i = 0; i < n; i++) {
            float want = in[i];
            if (filtered) {
                const double y = (f.b0 * in[i] + f.b1 * x1 + f.b2 * x2 - f.a2 * y2) - f.a1 * y1;
                x2 = x1;
                x1 = in[i];
                y2 = y1;
                y1 = y;
                want = (float)y;
            }
            ASSERT_EQ(bits(out[i]), bits(want)) << what << ", sample " << i;
        }
    };
    for (int n : {64, 1, 2048, 4096, 100, 64})
        compare(n, true, "sounding, vector of " + std::to_string(n));
    for (t_loopmass *o : {x, twin})
        h.send(o, 7, "fg");
    compare(64, true, "silent");
    EXPECT_NE(out[0], 0.0f);
    for (int v = 0; v < 10; v++)
        compare(2048, true, "silent");
    EXPECT_LT(std::fabs(out[2047]), 1e-6f);
    for (t_loopmass *o : {x, twin})
        h.send(o, 0, "inactive", {L(1)});
    compare(64, false, "inactive");
    for (t_loopmass *o : {x, twin})
        h.send(o, 0, "inactive", {L(0)});
    compare(64, true, "active again");
    for (t_loopmass *o : {x, twin})
        h.send(o, 7, "fg", {L(220), L(1)});
    compare(256, true, "sounding again");
    h.send(x, 0, "lowcut", {L(0)});
    compare(256, false, "off");
    EXPECT_EQ(x->x_highpass.y1, 0.0);
    h.send(x, 0, "lowcut", {L(30)});
    x1 = x2 = y1 = y2 = 0;
    compare(256, true, "on again from rest");
}

// A chord of three pitches on struck presets 0, 2 and 7 leans far to one
// side of 0; lowcut 20 centres it.  Every 0.1 s window from 0.3 s on has a
// mean below 0.005 of full scale, except during the ring's first slow swing
// (about 2 Hz, up to 0.5 s), which a second-order high-pass at 20 Hz
// divides only by about 100: at full gain (a pitch list) that swing leaves
// up to 0.009.  The same chord as the LV2 instrument plays it at its
// defaults (three notes at full velocity: fg gains of 0.1) stays below
// 0.005 from 0.3 s on.
TEST(LowCut, TwentyHertzCentresAStruckChord)
{
    test::Harness h;
    for (bool instrument : {false, true})
        for (int preset : {0, 2, 7})
            for (int lowcut : {0, 20}) {
                t_loopmass *x = h.create({L(256)});
                h.send(x, 0, "lowcut", {L(lowcut)});
                h.send(x, 0, "int", {L(preset)});
                if (instrument)
                    h.send(x, 7, "fg", {L(220), F(0.1f), L(330), F(0.1f), L(440), F(0.1f)});
                else
                    h.send(x, 7, "list", {L(220), L(330), L(440)});
                h.send(x, 0, "bang");
                const std::vector<float> out = play(x, 2.0);
                double most = 0.0, first = 0.0;
                for (size_t at = 13230; at + 4410 <= out.size(); at += 4410) {
                    double sum = 0.0;
                    for (size_t i = at; i < at + 4410; i++)
                        sum += out[i];
                    double &window = at < 22050 ? first : most;
                    window = std::max(window, std::fabs(sum / 4410));
                }
                const std::string what = "preset " + std::to_string(preset) + ", lowcut " + std::to_string(lowcut) +
                                         (instrument ? ", as the instrument plays it" : ", full gain");
                if (lowcut) {
                    EXPECT_LT(most, 0.005) << what;
                    EXPECT_LT(first, instrument ? 0.005 : 0.01) << what;
                } else {
                    EXPECT_GT(std::max(first, most), instrument ? 0.1 : 0.5) << what;
                }
                h.destroy(x);
            }
}
