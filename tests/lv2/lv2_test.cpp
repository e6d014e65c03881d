// The LV2 instrument, loaded from the build tree by a lilv host: a MIDI
// performance renders, after the reported latency, the same samples as the
// command line playing the score that the MIDI mapping implies, at every
// block size, without allocating in run(); each note on an oscillator of
// its own until its release has faded, no click where a note joins a held
// one, five loud notes within full scale; state, new objects and bad preset
// files.

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <lv2/core/lv2.h>
#include <lv2/presets/presets.h>
#include <thread>
#include <unistd.h>

#include "counting.h"
#include "loopmass_version.h"
#include "rack.h"

namespace {

using rack::Event;

const uint64_t LATENCY = 63;
const std::string SOURCE = LOOPMASS_SOURCE_DIR;
const std::string PD_PRESETS = SOURCE + "/hosts/pd/example-presets.txt";

std::string num(float f)
{
    char buf[32];
    std::to_chars_result r = std::to_chars(buf, buf + sizeof buf, f);
    std::string s(buf, r.ptr);
    if (s.find_first_of(".eE") == std::string::npos)
        s += ".0";
    return s;
}

// A note's gain at full velocity and volume.
const double NOTE_GAIN = 1.0 / 5;
const int OSCILLATORS = 5;

double pitch_of(int note, double bend, double rate)
{
    return 440.0 * std::pow(2.0, (note - 69 + bend) / 12.0) * 44100.0 / rate;
}

float gain_of(int velocity, float volume) { return (float)(velocity / 127.0 * (volume * NOTE_GAIN)); }

// What the plugin sends the object for its smoothing and low cut at the
// defaults (5 ms, 20 Hz), in the object's milliseconds and hertz.
std::string filters(double rate = 44100)
{
    return "0 ramp " + num((float)(5 * rate / 44100)) + "\n0 lowcut " + num((float)(20 * 44100 / rate)) + "\n";
}

// The voice rule, kept apart from the plugin's code: a note plays on one
// oscillator from its note on until its release has faded, which is the
// whole vectors that the smoothing ramp takes after the vector of its
// release (or of the pedal letting it go).  A new note takes the oscillator
// of the same note, else the lowest free one, else that of the fading note
// nearest its end, else that of the oldest held note.
class Keyboard {
public:
    explicit Keyboard(double rate = 44100, float smooth = 5) : rate_(rate)
    {
        float ramp = (float)(smooth * rate / 44100);
        fade_ = (uint64_t)std::ceil(ramp * 44.1 / 64);
    }

    std::vector<std::string> on(uint64_t t, int note, int velocity)
    {
        forget_faded(t);
        int osc = take(note);
        sounds_.erase(std::remove_if(sounds_.begin(), sounds_.end(), [osc](const Sound &s) { return s.osc == osc; }),
                      sounds_.end());
        bool others = std::any_of(sounds_.begin(), sounds_.end(), [](const Sound &s) { return s.held; });
        sounds_.push_back(Sound{note, velocity, osc, order_++, true, true, 0});
        std::vector<std::string> m = {fg()};
        if (strike_ == 0 || (strike_ == 1 && !others))
            m.push_back("0 bang");
        return m;
    }
    std::vector<std::string> off(uint64_t t, int note)
    {
        forget_faded(t);
        for (Sound &s : sounds_)
            if (s.note == note && s.key) {
                s.key = false;
                if (pedal_)
                    return {};
                fade(s, t);
                return {fg()};
            }
        return {};
    }
    std::vector<std::string> pedal(uint64_t t, bool down)
    {
        forget_faded(t);
        pedal_ = down;
        bool faded = false;
        for (Sound &s : sounds_)
            if (!down && s.held && !s.key) {
                fade(s, t);
                faded = true;
            }
        return faded ? std::vector<std::string>{fg()} : std::vector<std::string>{};
    }
    std::vector<std::string> all_off(uint64_t t)
    {
        forget_faded(t);
        for (Sound &s : sounds_)
            if (s.held) {
                s.key = false;
                fade(s, t);
            }
        return {fg()};
    }
    std::vector<std::string> bend(uint64_t t, int wheel, double range = 2)
    {
        forget_faded(t);
        bend_ = (wheel - 8192) / 8192.0 * range;
        return {fg()};
    }
    // A control that changes the gains: fg only when the pairs change.
    std::vector<std::string> volume(float v)
    {
        volume_ = v;
        std::string before = last_, now = fg();
        return now == before ? std::vector<std::string>{} : std::vector<std::string>{now};
    }
    std::vector<std::string> set_strike(int mode)
    {
        strike_ = mode;
        return {};
    }

private:
    struct Sound {
        int note, velocity, osc;
        uint64_t order;
        bool key, held;  // held: by its key or the pedal
        uint64_t silent; // the first vector it is silent in, once released
    };

    void fade(Sound &s, uint64_t t)
    {
        s.held = false;
        s.silent = t / 64 + fade_;
    }
    void forget_faded(uint64_t t)
    {
        sounds_.erase(std::remove_if(sounds_.begin(), sounds_.end(),
                                     [t](const Sound &s) { return !s.held && s.silent <= t / 64; }),
                      sounds_.end());
    }
    int take(int note) const
    {
        for (const Sound &s : sounds_)
            if (s.note == note)
                return s.osc;
        for (int osc = 0; osc < OSCILLATORS; osc++)
            if (std::none_of(sounds_.begin(), sounds_.end(), [osc](const Sound &s) { return s.osc == osc; }))
                return osc;
        const Sound *best = nullptr;
        for (const Sound &s : sounds_)
            if (!s.held && (!best || std::make_pair(s.silent, s.order) < std::make_pair(best->silent, best->order)))
                best = &s;
        if (best)
            return best->osc;
        for (const Sound &s : sounds_)
            if (!best || s.order < best->order)
                best = &s;
        return best->osc;
    }
    std::string fg()
    {
        float gain[OSCILLATORS] = {};
        for (const Sound &s : sounds_) {
            pitch_[s.osc] = (float)pitch_of(s.note, bend_, rate_);
            gain[s.osc] = s.held ? gain_of(s.velocity, volume_) : 0.0f;
        }
        last_ = "7 fg";
        for (int i = 0; i < OSCILLATORS; i++)
            last_ += " " + num(pitch_[i]) + " " + num(gain[i]);
        return last_;
    }

    double rate_;
    uint64_t fade_;
    int strike_ = 1;
    std::vector<Sound> sounds_;
    uint64_t order_ = 0;
    bool pedal_ = false;
    double bend_ = 0;
    float volume_ = 0.5f;
    float pitch_[OSCILLATORS] = {};
    std::string last_ = "7 fg 0.0 0.0 0.0 0.0 0.0 0.0 0.0 0.0 0.0 0.0";
};

Event on(uint64_t t, int note, int velocity, int channel = 0)
{
    return rack::midi(t, {(uint8_t)(0x90 | channel), (uint8_t)note, (uint8_t)velocity});
}
Event off(uint64_t t, int note) { return rack::midi(t, {0x80, (uint8_t)note, 64}); }
Event cc(uint64_t t, int number, int value) { return rack::midi(t, {0xb5, (uint8_t)number, (uint8_t)value}); }
Event program(uint64_t t, int p) { return rack::midi(t, {0xc0, (uint8_t)p}); }
Event bend(uint64_t t, int v) { return rack::midi(t, {0xe0, (uint8_t)(v & 0x7f), (uint8_t)(v >> 7)}); }

// One event and the messages it makes the plugin send to the object.
struct Step {
    Event event;
    std::vector<std::string> messages;
};

// Nothing happens before START, so that a new object asked for at the
// first block plays before the first event at every block size.
const uint64_t START = 5000;

std::vector<Step> performance(double rate)
{
    Keyboard k(rate);
    const uint64_t t = START;
    return {
        {program(t, 3), {"0 3"}},
        {program(t + 500, 5), {"0 5"}},
        {on(t + 1000, 60, 100), k.on(t + 1000, 60, 100)},
        {off(t + 9000, 60), k.off(t + 9000, 60)},
        {on(t + 12000, 64, 127), k.on(t + 12000, 64, 127)},
        {on(t + 12000, 67, 90, 9), k.on(t + 12000, 67, 90)},
        // Five held: a sixth cuts the oldest, a seventh the next.
        {on(t + 15000, 60, 100), k.on(t + 15000, 60, 100)},
        {on(t + 15010, 62, 90), k.on(t + 15010, 62, 90)},
        {on(t + 15020, 65, 80), k.on(t + 15020, 65, 80)},
        {on(t + 15030, 69, 70), k.on(t + 15030, 69, 70)},
        {on(t + 15040, 72, 60), k.on(t + 15040, 72, 60)},
        // Middle notes fade, the newer first; a new note takes the one
        // nearest the end of its fade, and a bend moves the one still fading.
        {off(t + 19000, 65), k.off(t + 19000, 65)},
        {off(t + 19100, 62), k.off(t + 19100, 62)},
        {on(t + 19200, 76, 50), k.on(t + 19200, 76, 50)},
        {bend(t + 19230, 12288), k.bend(t + 19230, 12288)},
        {bend(t + 20000, 10000), k.bend(t + 20000, 10000)},
        // Two fading, the later on the lower oscillator: a note takes the
        // one whose fade has ended, the next the lower once both have.
        {off(t + 22000, 60), k.off(t + 22000, 60)},
        {off(t + 22064, 72), k.off(t + 22064, 72)},
        {on(t + 22064 + 64 * 3, 48, 100), k.on(t + 22064 + 64 * 3, 48, 100)},
        {on(t + 22064 + 64 * 4, 50, 100), k.on(t + 22064 + 64 * 4, 50, 100)},
        {on(t + 22064 + 64 * 5, 52, 100), k.on(t + 22064 + 64 * 5, 52, 100)},
        {bend(t + 25000, 8192), k.bend(t + 25000, 8192)},
        {cc(t + 26000, 1, 64), {"0 5.5"}},
        {cc(t + 30000, 1, 0), {"0 5"}},
        // The pedal keeps released notes; letting it go fades them together.
        {cc(t + 34000, 64, 127), k.pedal(t + 34000, true)},
        {off(t + 35000, 48), k.off(t + 35000, 48)},
        {off(t + 36000, 50), k.off(t + 36000, 50)},
        {on(t + 36500, 50, 110), k.on(t + 36500, 50, 110)},
        {cc(t + 38000, 64, 0), k.pedal(t + 38000, false)},
        {on(t + 38010, 55, 100), k.on(t + 38010, 55, 100)},
        // All fade together: a note takes the oldest's oscillator.
        {cc(t + 39000, 123, 0), k.all_off(t + 39000)},
        {on(t + 39010, 57, 90), k.on(t + 39010, 57, 90)},
        {on(t + 40000, 57, 0), k.off(t + 40000, 57)},
        {cc(t + 42000, 123, 0), k.all_off(t + 42000)},
        {rack::control(t + 44000, "strike", 0), k.set_strike(0)},
        {on(t + 50000, 50, 80), k.on(t + 50000, 50, 80)},
        {on(t + 50500, 53, 80), k.on(t + 50500, 53, 80)},
        {program(t + 52000, 2), {"0 2"}},
        {rack::control(t + 54000, "tension_gain", 1.5f), {"2 gain 1.5"}},
        {rack::control(t + 54000, "damping_morph", 0.5f), {"4 0.5"}},
        // A recall rewrites the profiles: the morph is made again.
        {rack::control(t + 64000, "preset", 7), {"0 7", "4 0.5"}},
        {rack::control(t + 74000, "damping_morph", 0), {"0 7"}},
        {rack::control(t + 84000, "volume", 0.8f), k.volume(0.8f)},
        {cc(t + 94000, 120, 0), {"0 stop"}},
        {rack::control(t + 94000, "strike", 2), k.set_strike(2)},
        {on(t + 100000, 55, 100), k.on(t + 100000, 55, 100)},
        {off(t + 108000, 50), k.off(t + 108000, 50)},
    };
}

std::vector<Event> events_of(const std::vector<Step> &steps)
{
    std::vector<Event> events;
    for (const Step &s : steps)
        events.push_back(s.event);
    return events;
}

// A score: lines at sample times, each vector of 64 samples preceded by the
// lines that fall in it.
class Score {
public:
    explicit Score(const std::string &head) : head_(head) {}
    void at(uint64_t t, const std::string &line) { lines_.push_back(Line{t, lines_.size(), line}); }
    // The steps' messages: a MIDI event's at its time, a control's where the
    // player applied it.
    void add(const std::vector<Step> &steps, const rack::Player &player)
    {
        size_t control = 0;
        for (const Step &s : steps) {
            uint64_t t = s.event.control.empty() ? s.event.time : player.applied().at(control++);
            for (const std::string &m : s.messages)
                at(t, m);
        }
    }
    std::string text(uint64_t total) const
    {
        std::vector<Line> sorted = lines_;
        std::stable_sort(sorted.begin(), sorted.end(), [](const Line &a, const Line &b) {
            return a.time != b.time ? a.time < b.time : a.order < b.order;
        });
        std::string s = head_;
        size_t i = 0;
        for (uint64_t start = 0; start < total; start += 64) {
            for (; i < sorted.size() && sorted[i].time < start + 64; i++)
                s += sorted[i].text + "\n";
            s += "run 64\n";
        }
        return s;
    }

private:
    struct Line {
        uint64_t time;
        size_t order;
        std::string text;
    };
    std::string head_;
    std::vector<Line> lines_;
};

const std::string FRESH = "vs 64\nseed 0\nnew 256\n";

// A fresh object and what the plugin sends it at its first vector.
std::string fresh(double rate = 44100) { return FRESH + filters(rate); }

// The command line's rendering of a score.
std::vector<float> render(const std::string &score, const std::string &name)
{
    std::string dir = testing::TempDir();
    // Named for the process too: test runs of other builds may share the folder.
    std::string stem = dir + "lv2_" + std::to_string(getpid()) + "_" + name;
    std::string path = stem + ".score", wav = stem + ".wav";
    std::ofstream(path) << score;
    std::string command = std::string(LOOPMASS_BINARY) + " run '" + path + "' -o '" + wav + "' --quiet";
    if (std::system(command.c_str()) != 0)
        return {};
    SF_INFO info = {};
    SNDFILE *f = sf_open(wav.c_str(), SFM_READ, &info);
    if (!f)
        return {};
    std::vector<float> samples((size_t)info.frames);
    sf_readf_float(f, samples.data(), info.frames);
    sf_close(f);
    std::remove(path.c_str());
    std::remove(wav.c_str());
    return samples;
}

uint32_t bits(float f)
{
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

// The plugin's output is the command line's, LATENCY samples later, to the
// bit; it is silent before.  Returns the first sample that differs, or -1.
long first_difference(const std::vector<float> &plugin, const std::vector<float> &cli)
{
    if (cli.size() + LATENCY < plugin.size())
        return 0;
    for (size_t t = 0; t < plugin.size(); t++) {
        float expected = t < LATENCY ? 0.0f : cli[t - LATENCY];
        if (bits(plugin[t]) != bits(expected))
            return (long)t;
    }
    return -1;
}

bool sounds(const std::vector<float> &v)
{
    for (float x : v)
        if (x != 0.0f)
            return true;
    return false;
}

// Plays on a thread of its own, as a host's audio thread.
std::vector<float> play(rack::Player &p, const std::vector<Event> &events, uint64_t total, uint32_t block)
{
    std::vector<float> out;
    const uint32_t varying[] = {1, 17, 64, 100, 511, 4096, 3, 250, 2048, 63};
    size_t k = 0;
    std::function<uint32_t()> next = [&]() { return block ? block : varying[k++ % 10]; };
    std::thread audio([&] { out = p.play(events, total, next); });
    audio.join();
    return out;
}

TEST(Lv2Performance, RendersTheScoreItsMidiImpliesAtEveryBlockSize)
{
    struct Case {
        uint32_t block; // 0: a size that changes at every call
        double rate;
        int masses;
    };
    const Case cases[] = {{1, 44100, 256}, {64, 44100, 256}, {100, 44100, 256}, {4096, 44100, 256},
                          {0, 44100, 256}, {64, 48000, 256},  {100, 44100, 64},  {0, 44100, 64}};
    const uint64_t total = 132300;
    for (const Case &c : cases) {
        SCOPED_TRACE("block " + std::to_string(c.block) + " at " + std::to_string((int)c.rate) + " Hz, " +
                     std::to_string(c.masses) + " masses");
        std::vector<Step> steps = performance(c.rate);
        if (c.masses != 256)
            steps.insert(steps.begin(), Step{rack::control(0, "masses", (float)c.masses), {}});
        rack::Player player(c.rate);
        std::vector<float> out = play(player, events_of(steps), total, c.block);
        EXPECT_EQ(player.latency(), (float)LATENCY);
        if (counting::available()) {
            EXPECT_EQ(player.run_allocations(), 0);
            EXPECT_EQ(player.run_opens(), 0);
        }

        Score score(fresh(c.rate));
        score.add(steps, player);
        if (c.masses != 256) {
            // The new object plays before the first event and gets what the
            // plugin sent the first.
            uint64_t resized = player.next_start(0);
            ASSERT_LT(resized, START);
            score.at(resized, "new " + std::to_string(c.masses));
            score.at(resized, "0 ramp " + num((float)(5 * c.rate / 44100)));
            score.at(resized, "0 lowcut " + num((float)(20 * 44100 / c.rate)));

        }
        std::vector<float> cli = render(score.text(total), "performance");
        ASSERT_TRUE(sounds(cli));
        EXPECT_EQ(first_difference(out, cli), -1);
        EXPECT_EQ(player.log().find("(from run)"), std::string::npos) << player.log();
    }
}

// A short performance that holds notes across the moments new objects
// start playing: a note fading there is silent on the new object.
std::vector<Step> held_notes()
{
    Keyboard k;
    return {
        {program(0, 4), {"0 4"}},
        {rack::control(0, "strike", 0), k.set_strike(0)},
        {on(1000, 60, 100), k.on(1000, 60, 100)},
        {on(3000, 64, 90), k.on(3000, 64, 90)},
        {off(20000, 60), k.off(20000, 60)},
        {on(40000, 67, 80), k.on(40000, 67, 80)},
    };
}

// An fg message written out: a (note, velocity) pair per oscillator, note
// -1 for pitch 0, velocity 0 for gain 0.
std::string slots(const std::vector<std::pair<int, int>> &notes, float volume = 0.5f)
{
    std::string s = "7 fg";
    for (const std::pair<int, int> &n : notes)
        s += " " + num(n.first < 0 ? 0.0f : (float)pitch_of(n.first, 0, 44100)) + " " +
             num(n.second ? gain_of(n.second, volume) : 0.0f);
    return s;
}

TEST(Lv2Objects, AMassCountAndAFileLoadStartNewObjectsBetweenVectors)
{
    const uint64_t total = 60000;
    for (uint32_t block : {64u, 100u, 0u}) {
        SCOPED_TRACE("block " + std::to_string(block));
        std::vector<Step> steps = held_notes();
        std::vector<Event> events = events_of(steps);
        events.push_back(rack::control(8000, "masses", 64));
        events.push_back(rack::bank(30000, PD_PRESETS));
        rack::Player player;
        std::vector<float> out = play(player, events, total, block);
        if (counting::available()) {
            EXPECT_EQ(player.run_allocations(), 0);
            EXPECT_EQ(player.run_opens(), 0);
        }
        EXPECT_EQ(player.told(), std::vector<std::string>{PD_PRESETS});

        // The new object gets the preset choice, the filters and the held
        // notes, struck.
        Score score(fresh());
        score.add(steps, player);
        const std::vector<std::string> after = {"0 4", "0 ramp 5.0", "0 lowcut 20.0"};
        uint64_t resized = player.next_start(player.applied().at(1));
        score.at(resized, "new 64");
        for (const std::string &line : after)
            score.at(resized, line);
        score.at(resized, slots({{60, 100}, {64, 90}, {-1, 0}, {-1, 0}, {-1, 0}}));
        score.at(resized, "0 bang");
        uint64_t loaded = player.next_start(30000);
        score.at(loaded, "new 64");
        score.at(loaded, "0 read " + PD_PRESETS);
        for (const std::string &line : after)
            score.at(loaded, line);
        score.at(loaded, slots({{60, 0}, {64, 90}, {-1, 0}, {-1, 0}, {-1, 0}}));
        score.at(loaded, "0 bang");
        std::vector<float> cli = render(score.text(total), "objects");
        ASSERT_TRUE(sounds(cli));
        EXPECT_EQ(first_difference(out, cli), -1);
    }
}

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
        {48000, 50, 200, "0 ramp " + num((float)(50 * 48000 / 44100.0)) + "\n0 lowcut " +
                             num((float)(200 * 44100 / 48000.0)) + "\n"},
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
            {rack::control(0, "smooth", c.smooth), {}},
            {rack::control(0, "low_cut", c.low_cut), {}},
            {on(1000, 60, 100), k.on(1000, 60, 100)},
            {off(8000, 60), k.off(8000, 60)},
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
            std::printf("root %d, shape %d %d %d %d %d: loudest %.4f\n", root, shape[0], shape[1], shape[2],
                        shape[3], shape[4], loudest);
        }
}

TEST(Lv2Objects, AFileThatCannotBeReadLeavesTheObjectPlaying)
{
    struct Case {
        std::string path;
        std::string error;
    };
    const Case cases[] = {
        {"/nonexistent/presets.txt", "loopmass~: can't find file /nonexistent/presets.txt"},
        {SOURCE + "/tests/broken/profile_too_short.txt", "loopmass~: error reading"},
        {SOURCE + "/tests/broken/count_above_128.txt", "loopmass~: error reading"},
        {SOURCE + "/tests/broken/masses_above_256.txt", "loopmass~: error reading"},
        {SOURCE + "/tests", "loopmass~: can't find file"},
        {"relative.txt", "loopmass~: can't find file relative.txt"},
    };
    const uint64_t total = 30000;
    rack::Player plain;
    std::vector<float> expected = play(plain, events_of(held_notes()), total, 100);
    ASSERT_TRUE(sounds(expected));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        std::vector<Event> events = events_of(held_notes());
        events.push_back(rack::bank(5000, c.path));
        rack::Player player;
        std::vector<float> out = play(player, events, total, 100);
        EXPECT_EQ(out, expected);
        EXPECT_NE(player.log().find(c.error), std::string::npos) << player.log();
        EXPECT_TRUE(player.told().empty());
    }
}

TEST(Lv2State, ASavedSessionRestoresTheBankAndControls)
{
    rack::Player before;
    std::vector<Event> setup = {rack::control(0, "masses", 128), rack::bank(100, PD_PRESETS),
                                rack::control(0, "tension_gain", 2), rack::control(0, "preset", 1.5f),
                                rack::control(0, "initpos_phase", 0.25f)};
    play(before, setup, 4096, 256);
    EXPECT_NE(before.log().find("loopmass~: number of masses in the file: 64"), std::string::npos);
    EXPECT_NE(before.log().find("Data have been resized to 128 masses"), std::string::npos);

    // Through the text a session file holds.
    LilvState *saved = before.save();
    char *text = lilv_state_to_string(rack::world(), rack::map(), rack::unmap(), saved, "urn:loopmass:test", nullptr);
    LilvState *state = lilv_state_new_from_string(rack::world(), rack::map(), text);
    ASSERT_NE(state, nullptr);
    EXPECT_NE(std::string(text).find("0.5 0.4 0.3"), std::string::npos) << "the bank's text is in the session";

    rack::Player after;
    after.restore(state);
    EXPECT_EQ(after.port("masses"), 128.0f);
    EXPECT_EQ(after.port("tension_gain"), 2.0f);
    Keyboard k;
    std::vector<Step> steps = {
        {on(1000, 60, 100), k.on(1000, 60, 100)},
        {program(20000, 12), {"0 12"}},
        {on(21000, 67, 80), k.on(21000, 67, 80)},
    };
    const uint64_t total = 44100;
    std::vector<float> out = play(after, events_of(steps), total, 256);

    Score score("vs 64\nseed 0\nnew 128\n0 read " + PD_PRESETS + "\n0 1.5\n2 gain 2.0\n6 phase 0.25\n" + filters());
    score.add(steps, after);
    std::vector<float> cli = render(score.text(total), "state");
    ASSERT_TRUE(sounds(cli));
    EXPECT_EQ(first_difference(out, cli), -1);

    lilv_free(text);
    lilv_state_free(state);
    lilv_state_free(saved);
}

// A performance on the host's timeline, from its frame `from` on: presets
// that draw random values, a note at `from`, a chord, a bend.  Unless the
// first notes strike (the strike control is then set to "never" from the
// first block), they play a preset whose forces move the ring.
std::vector<Step> timeline_performance(uint64_t from, bool struck)
{
    Keyboard k;
    k.set_strike(struck ? 1 : 2);
    return {
        {program(from, struck ? 3 : 8), {struck ? "0 3" : "0 8"}},
        {on(from, 60, 100), k.on(from, 60, 100)},
        {on(from + 700, 67, 80), k.on(from + 700, 67, 80)},
        {program(from + 5000, 4), {"0 4"}},
        {bend(from + 9000, 12288), k.bend(from + 9000, 12288)},
        {rack::control(from + 10000, "strike", 0), k.set_strike(0)},
        {off(from + 15000, 60), k.off(from + 15000, 60)},
        {program(from + 20000, 3), {"0 3"}},
        {on(from + 21111, 64, 90), k.on(from + 21111, 64, 90)},
    };
}

// The same events later by `by` samples.
std::vector<Event> shifted(const std::vector<Event> &events, uint64_t by)
{
    std::vector<Event> moved = events;
    for (Event &e : moved)
        e.time += by;
    return moved;
}

TEST(Lv2Timeline, TheSameBounceWhereverTheTransportStarts)
{
    const uint64_t length = 40000; // timeline frames played
    struct Case {
        int64_t start; // the timeline frame the transport starts from
        uint64_t from; // where the performance starts on the timeline
        bool struck;   // whether its first notes strike the ring
    };
    // A start on the timeline's zero with a note there, and starts between
    // two vectors (one before the zero) with the performance on a later
    // multiple of 256.
    const Case cases[] = {{0, 0, true}, {1000, 1024, true}, {130, 1024, false}, {-300, 256, true}};
    for (const Case &c : cases) {
        std::vector<Step> steps = timeline_performance(c.from, c.struck);
        // The command line plays the timeline from its zero in vectors of 64.
        Score score(fresh());
        for (const Step &s : steps)
            for (const std::string &m : s.messages)
                score.at(s.event.time, m);
        std::vector<float> cli = render(score.text(c.from + length), "timeline");
        ASSERT_TRUE(sounds(cli));
        for (uint64_t preroll : {0u, 1000u, 4095u})
            for (bool stopped : {true, false}) {
                uint32_t block = stopped ? 256 : 0;
                SCOPED_TRACE("start " + std::to_string(c.start) + " after " + std::to_string(preroll) +
                             " samples, block " + std::to_string(block));
                std::vector<Event> events = shifted(events_of(steps), preroll - (uint64_t)c.start);
                if (!c.struck)
                    events.push_back(rack::control(0, "strike", 2));
                // Before the start, a note played with a preset whose forces
                // move the ring, then the first preset again, while the
                // transport stands at the start frame or rolls elsewhere; from
                // the start on, positions every few blocks, as hosts send them.
                if (preroll > 0)
                    for (const Event &e : {program(0, 8), on(10, 50, 100), off(600, 50), program(700, 0)})
                        events.push_back(e);
                for (uint64_t t = 0; t < preroll; t += 512)
                    events.push_back(stopped ? rack::position(t, c.start, 0.0f)
                                             : rack::position(t, 77777 + (int64_t)t, 1.0f));
                for (uint64_t t = 0; t < length; t += 3000)
                    events.push_back(rack::position(preroll + t, c.start + (int64_t)t, 1.0f));
                rack::Player player;
                std::vector<float> out = play(player, events, preroll + length, block);
                if (counting::available()) {
                    EXPECT_EQ(player.run_allocations(), 0);
                    EXPECT_EQ(player.run_opens(), 0);
                }
                // From the start on, the command line's samples, LATENCY
                // later, on the timeline.  After a pre-roll, the first
                // LATENCY samples still hold what it played: the tail of
                // the low cut after its note.
                long differs = -1;
                for (uint64_t t = preroll + (preroll > 0 ? LATENCY : 0); t < preroll + length && differs < 0; t++) {
                    int64_t frame = (int64_t)t - (int64_t)preroll + c.start;
                    float expected = frame < (int64_t)LATENCY ? 0.0f : cli[(size_t)frame - LATENCY];
                    if (bits(out[t]) != bits(expected))
                        differs = (long)t;
                }
                EXPECT_EQ(differs, -1);
            }
    }
}

// A session saved with the bank of a preset file, at 256 masses.
LilvState *session_with_bank()
{
    rack::Player before;
    play(before, {rack::bank(0, PD_PRESETS)}, 1024, 256);
    return before.save();
}

TEST(Lv2State, TheSessionsMassCountAndBankPlayFromTheFirstSample)
{
    LilvState *saved = session_with_bank();
    // The host restores the session and sets its controls, then activates.
    rack::Player after(44100, false);
    after.restore(saved);
    after.set_port("masses", 64);
    after.activate();
    Keyboard k;
    std::vector<Step> steps = {
        {program(0, 1), {"0 1"}},
        {on(0, 60, 100), k.on(0, 60, 100)},
        {on(3000, 67, 80), k.on(3000, 67, 80)},
    };
    const uint64_t total = 20000;
    std::vector<float> out = play(after, events_of(steps), total, 512);
    Score score("vs 64\nseed 0\nnew 64\n0 read " + PD_PRESETS + "\n" + filters());
    score.add(steps, after);
    std::vector<float> cli = render(score.text(total), "first_sample");
    ASSERT_TRUE(sounds(cli));
    EXPECT_EQ(first_difference(out, cli), -1);
    lilv_state_free(saved);
}

TEST(Lv2State, WorkAskedBeforeARestoreDoesNotChangeWhatTheNextSaveStores)
{
    rack::Player plain;
    play(plain, {rack::control(0, "masses", 128)}, 1024, 256);
    LilvState *without_bank = plain.save();

    struct Case {
        std::string name;
        Event asked;
    };
    const Case cases[] = {{"a load", rack::bank(0, PD_PRESETS)}, {"a mass count", rack::control(0, "masses", 32)}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        rack::Player player;
        player.hold_work(true);
        play(player, {c.asked}, 512, 256);
        player.restore(without_bank);
        player.finish_work();
        LilvState *state = player.save();
        char *text = lilv_state_to_string(rack::world(), rack::map(), rack::unmap(), state, "urn:loopmass:test", nullptr);
        std::string session = text;
        EXPECT_EQ(session.find("0.5 0.4 0.3"), std::string::npos) << session;
        EXPECT_NE(session.find("#masses> \"128\"^^xsd:int"), std::string::npos) << session;
        lilv_free(text);
        lilv_state_free(state);
    }
    lilv_state_free(without_bank);
}

TEST(Lv2Objects, TwoInstancesOnOneThreadEachDrawTheirOwnRandomValues)
{
    // Presets 3 and 4 draw the ring's initial shape at every recall, which
    // the next strike shows.
    const std::vector<Event> first = {program(0, 3),     on(100, 60, 100),   program(3000, 4), on(3100, 62, 100),
                                      program(7000, 3),  on(7100, 64, 100),  program(11000, 4),
                                      on(11100, 65, 100)};
    const std::vector<Event> second = {program(500, 4),   on(600, 64, 100),   program(5000, 3), on(5100, 60, 100),
                                       program(9000, 4),  on(9100, 67, 100),  program(13000, 3),
                                       on(13100, 69, 100)};
    const uint64_t total = 16000;
    rack::Player a_alone, b_alone;
    std::vector<float> a_expected = play(a_alone, first, total, 256);
    std::vector<float> b_expected = play(b_alone, second, total, 256);

    rack::Player a, b;
    std::thread audio([&] {
        a.begin(first, total);
        b.begin(second, total);
        bool more = true;
        while (more) {
            more = a.next(256);
            more = b.next(256) || more;
        }
    });
    audio.join();
    EXPECT_EQ(a.output(), a_expected);
    EXPECT_EQ(b.output(), b_expected);
}

TEST(Lv2Bundle, TheTenFactoryPresetsSetThePresetControl)
{
    LilvWorld *w = rack::world();
    LilvNode *preset_class = lilv_new_uri(w, LV2_PRESETS__Preset);
    LilvNodes *presets = lilv_plugin_get_related(rack::plugin(), preset_class);
    std::map<std::string, std::map<std::string, float>> found;
    LILV_FOREACH (nodes, i, presets) {
        const LilvNode *preset = lilv_nodes_get(presets, i);
        lilv_world_load_resource(w, preset);
        LilvState *state = lilv_state_new_from_world(w, rack::map(), preset);
        ASSERT_NE(state, nullptr);
        std::map<std::string, float> values;
        lilv_state_emit_port_values(
            state,
            [](const char *symbol, void *user, const void *value, uint32_t size, uint32_t) {
                if (size == sizeof(float))
                    (*(std::map<std::string, float> *)user)[symbol] = *(const float *)value;
            },
            &values);
        found[lilv_state_get_label(state)] = values;
        lilv_state_free(state);
    }
    lilv_nodes_free(presets);
    lilv_node_free(preset_class);

    std::map<std::string, std::map<std::string, float>> expected;
    for (int i = 0; i < 10; i++)
        expected["Factory preset " + std::to_string(i)] = {{"preset", (float)i}};
    EXPECT_EQ(found, expected);
}

// Hosts tell releases and updates apart by the bundle's version: LV2's minor
// and micro version are the project's minor and patch numbers.
TEST(Lv2Bundle, TheVersionIsTheProjects)
{
    LilvWorld *w = rack::world();
    const struct {
        const char *property;
        int expected;
    } cases[] = {{LV2_CORE__minorVersion, LOOPMASS_VERSION_MINOR}, {LV2_CORE__microVersion, LOOPMASS_VERSION_MICRO}};
    for (const auto &c : cases) {
        LilvNode *property = lilv_new_uri(w, c.property);
        LilvNodes *values = lilv_plugin_get_value(rack::plugin(), property);
        ASSERT_NE(values, nullptr) << c.property;
        EXPECT_EQ(lilv_nodes_size(values), 1u) << c.property;
        const LilvNode *v = lilv_nodes_get_first(values);
        EXPECT_TRUE(lilv_node_is_int(v)) << c.property;
        EXPECT_EQ(lilv_node_as_int(v), c.expected) << c.property;
        lilv_nodes_free(values);
        lilv_node_free(property);
    }
}

} // namespace
