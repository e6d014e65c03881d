// The LV2 instrument's voices: each note on an oscillator of its own until
// its release has faded, smoothing and low cut in real units, no click
// where a note joins a held one, five loud notes within full scale.
#include <gtest/gtest.h>

#include "lv2_support.h"

namespace {

using namespace lv2test;

TEST(Lv2Voices, ReleasingTheMiddleNoteOfAChordLeavesTheOthersOnTheirOscillators)
{
    const std::vector<Event> events = {on(1000, 60, 100), on(1000, 64, 100), on(1000, 67, 100), off(20000, 64)};
    const uint64_t total = 40000;
    rack::Player player;
    std::vector<float> out = play(player, events, total, 100);

    // Written out by hand: the pairs stay in place and the released note's
    // gain goes to 0 at its pitch.
    Score score(fresh());
    score.at(1000, slots({{60, 100}, {-1, 0}, {-1, 0}, {-1, 0}, {-1, 0}}));
    score.at(1000, "0 bang");
    score.at(1000, slots({{60, 100}, {64, 100}, {-1, 0}, {-1, 0}, {-1, 0}}));
    score.at(1000, slots({{60, 100}, {64, 100}, {67, 100}, {-1, 0}, {-1, 0}}));
    Score compacted = score;
    score.at(20000, slots({{60, 100}, {64, 0}, {67, 100}, {-1, 0}, {-1, 0}}));
    std::vector<float> cli = render(score.text(total), "middle");
    ASSERT_TRUE(sounds(cli));
    EXPECT_EQ(first_difference(out, cli), -1);

    // The comparison tells the two apart: with the pairs closed up, the
    // third note would move to the second oscillator.
    compacted.at(20000, slots({{60, 100}, {67, 100}, {64, 0}, {-1, 0}, {-1, 0}}));
    EXPECT_NE(first_difference(out, render(compacted.text(total), "compacted")), -1);
}

TEST(Lv2Voices, SmoothAndLowCutAreRealMillisecondsAndHertzAtTheHostsRate)
{
    struct Case {
        double rate;
        float smooth, low_cut;
        std::string sent; // what the object gets, in its terms at 44100 Hz
    };
    const Case cases[] = {
        {48000, 50, 200,
         "0 ramp " + num((float)(50 * 48000 / 44100.0)) + "\n0 lowcut " + num((float)(200 * 44100 / 48000.0)) + "\n"},
        // Beyond what the object takes: the highest it takes.
        {22050, 50, 150, "0 ramp 25.0\n0 lowcut 200.0\n"},
        // Off: nothing to send to a fresh object.
        {96000, 0, 0, ""},
    };
    const uint64_t total = 20000;
    for (const Case &c : cases) {
        SCOPED_TRACE("rate " + std::to_string((int)c.rate));
        Keyboard k(c.rate, c.smooth);
        std::vector<Step> steps = {
            {rack::control(0, "smooth", c.smooth), {}}, {rack::control(0, "low_cut", c.low_cut), {}},
            {on(1000, 60, 100), k.on(1000, 60, 100)},   {off(8000, 60), k.off(8000, 60)},
            {on(8010, 64, 100), k.on(8010, 64, 100)},
        };
        rack::Player player(c.rate);
        std::vector<float> out = play(player, events_of(steps), total, 100);
        Score score(FRESH + c.sent);
        score.add(steps, player);
        std::vector<float> cli = render(score.text(total), "rates");
        ASSERT_TRUE(sounds(cli));
        EXPECT_EQ(first_difference(out, cli), -1);
    }
}

// The largest step between two samples of out in [from, to).
float largest_step(const std::vector<float> &out, uint64_t from, uint64_t to)
{
    float step = 0;
    for (uint64_t t = from + 1; t < to; t++)
        step = std::max(step, std::fabs(out[t] - out[t - 1]));
    return step;
}

TEST(Lv2Voices, ANotePlayedOverAHeldOneMakesNoClickAtTheDefaults)
{
    // The held note has rung long enough to have left its own strike
    // behind; its largest step is measured just before the second note
    // sounds, at the start of the vector it falls in.  The second note is
    // an octave below, its own steps smaller: a larger step while it fades
    // in is a click.
    const uint64_t first = 1000, second = 30000, before = 8192;
    const uint64_t sounds = second / 64 * 64 + LATENCY, faded_in = sounds + 4 * 64, total = faded_in + 64;
    struct Setting {
        std::vector<Event> controls;
        bool clicks;
    };
    // The defaults; the old defaults, a restrike and a note at full gain at
    // once; the note at full gain alone.
    const Setting settings[] = {
        {{}, false},
        {{rack::control(0, "strike", 0), rack::control(0, "smooth", 0)}, true},
        {{rack::control(0, "smooth", 0)}, true},
    };
    for (int preset : {0, 5, 7}) {
        for (const Setting &s : settings) {
            SCOPED_TRACE("preset " + std::to_string(preset) + ", setting " + std::to_string(&s - settings));
            std::vector<Event> events = s.controls;
            for (const Event &e : {rack::control(0, "preset", (float)preset), on(first, 60, 100), on(second, 48, 100)})
                events.push_back(e);
            rack::Player player;
            std::vector<float> out = play(player, events, total, 64);
            float held = largest_step(out, sounds - before, sounds);
            float onset = largest_step(out, sounds - 1, faded_in);
            ASSERT_GT(held, 0.0f);
            if (s.clicks)
                EXPECT_GT(onset, held);
            else
                EXPECT_LE(onset, held);
        }
    }
}

float peak(const std::vector<float> &out)
{
    float p = 0;
    for (float x : out)
        p = std::max(p, std::fabs(x));
    return p;
}

TEST(Lv2Voices, FiveNotesAtFullVelocityStayBelowFullScaleOnEveryFactoryPreset)
{
    // Chords over the whole keyboard: octaves, a cluster, a major chord
    // spread over two octaves.  The low cut lifts the peaks most under the
    // lowest notes, on rings whose offset moves.
    const int shapes[][5] = {{0, 12, 24, 36, 48}, {0, 1, 2, 3, 4}, {0, 12, 16, 19, 24}};
    const uint64_t total = 3 * 44100;
    for (int root : {0, 24, 48, 72})
        for (const int(&shape)[5] : shapes) {
            float loudest = 0;
            for (int preset = 0; preset < 10; preset++) {
                SCOPED_TRACE("root " + std::to_string(root) + ", preset " + std::to_string(preset));
                std::vector<Event> events = {rack::control(0, "preset", (float)preset)};
                for (int interval : shape)
                    events.push_back(on(1000, std::min(root + interval, 127), 127));
                rack::Player player;
                float p = peak(play(player, events, total, 4096));
                EXPECT_GT(p, 0.0f);
                EXPECT_LT(p, 1.0f);
                loudest = std::max(loudest, p);
            }
            std::printf("root %d, shape %d %d %d %d %d: loudest %.4f\n", root, shape[0], shape[1], shape[2], shape[3],
                        shape[4], loudest);
        }
}

} // namespace
