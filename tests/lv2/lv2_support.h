// Test support for the LV2 instrument, loaded from the build tree by a lilv
// host: the voice rule and the MIDI that drives it, the score the command
// line plays for a performance, its rendering, and playing the plugin on a
// thread of its own.
#pragma once

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
#include <string>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#include "rack.h"

namespace lv2test {

using rack::Event;

const uint64_t LATENCY = 63;
const std::string SOURCE = LOOPMASS_SOURCE_DIR;
const std::string PD_PRESETS = SOURCE + "/hosts/pd/example-presets.txt";

inline std::string num(float f)
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

inline double pitch_of(int note, double bend, double rate)
{
    return 440.0 * std::pow(2.0, (note - 69 + bend) / 12.0) * 44100.0 / rate;
}

inline float gain_of(int velocity, float volume)
{
    return (float)(velocity / 127.0 * (volume * NOTE_GAIN));
}

// What the plugin sends the object for its smoothing and low cut at the
// defaults (5 ms, 20 Hz), in the object's milliseconds and hertz.
inline std::string filters(double rate = 44100)
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

inline Event on(uint64_t t, int note, int velocity, int channel = 0)
{
    return rack::midi(t, {(uint8_t)(0x90 | channel), (uint8_t)note, (uint8_t)velocity});
}
inline Event off(uint64_t t, int note)
{
    return rack::midi(t, {0x80, (uint8_t)note, 64});
}
inline Event cc(uint64_t t, int number, int value)
{
    return rack::midi(t, {0xb5, (uint8_t)number, (uint8_t)value});
}
inline Event program(uint64_t t, int p)
{
    return rack::midi(t, {0xc0, (uint8_t)p});
}
inline Event bend(uint64_t t, int v)
{
    return rack::midi(t, {0xe0, (uint8_t)(v & 0x7f), (uint8_t)(v >> 7)});
}

// One event and the messages it makes the plugin send to the object.
struct Step {
    Event event;
    std::vector<std::string> messages;
};

// Nothing happens before START, so that a new object asked for at the
// first block plays before the first event at every block size.
const uint64_t START = 5000;

inline std::vector<Step> performance(double rate)
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

inline std::vector<Event> events_of(const std::vector<Step> &steps)
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
inline std::string fresh(double rate = 44100)
{
    return FRESH + filters(rate);
}

// The command line's rendering of a score.
inline std::vector<float> render(const std::string &score, const std::string &name)
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

inline uint32_t bits(float f)
{
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

// The plugin's output is the command line's, LATENCY samples later, to the
// bit; it is silent before.  Returns the first sample that differs, or -1.
inline long first_difference(const std::vector<float> &plugin, const std::vector<float> &cli)
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

inline bool sounds(const std::vector<float> &v)
{
    for (float x : v)
        if (x != 0.0f)
            return true;
    return false;
}

// Plays on a thread of its own, as a host's audio thread.
inline std::vector<float> play(rack::Player &p, const std::vector<Event> &events, uint64_t total, uint32_t block)
{
    std::vector<float> out;
    const uint32_t varying[] = {1, 17, 64, 100, 511, 4096, 3, 250, 2048, 63};
    size_t k = 0;
    std::function<uint32_t()> next = [&]() { return block ? block : varying[k++ % 10]; };
    std::thread audio([&] { out = p.play(events, total, next); });
    audio.join();
    return out;
}

// An fg message written out: a (note, velocity) pair per oscillator, note
// -1 for pitch 0, velocity 0 for gain 0.
inline std::string slots(const std::vector<std::pair<int, int>> &notes, float volume = 0.5f)
{
    std::string s = "7 fg";
    for (const std::pair<int, int> &n : notes)
        s += " " + num(n.first < 0 ? 0.0f : (float)pitch_of(n.first, 0, 44100)) + " " +
             num(n.second ? gain_of(n.second, volume) : 0.0f);
    return s;
}

} // namespace lv2test
