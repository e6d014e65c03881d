// The LV2 instrument, loaded from the build tree by a lilv host: a MIDI
// performance renders, after the reported latency, the same samples as the
// command line playing the score that the MIDI mapping implies, at every
// block size, without allocating in run(); state, new objects and bad
// preset files.

#include <gtest/gtest.h>
#include <sndfile.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <lv2/core/lv2.h>
#include <lv2/presets/presets.h>
#include <thread>

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

struct Note {
    int note, velocity;
};

// The fg message for these notes, oldest first: pitches scaled so that they
// sound right at the host's rate, gains from velocity and volume.
std::string fg(const std::vector<Note> &notes, double bend = 0, float volume = 0.5f, double rate = 44100)
{
    std::string s = "7 fg";
    for (const Note &n : notes) {
        float pitch = (float)(440.0 * std::pow(2.0, (n.note - 69 + bend) / 12.0) * 44100.0 / rate);
        s += " " + num(pitch) + " " + num((float)(n.velocity / 127.0 * volume));
    }
    return s;
}

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

std::vector<Step> performance(double rate)
{
    auto f = [rate](const std::vector<Note> &n, double b = 0, float volume = 0.5f) { return fg(n, b, volume, rate); };
    const std::vector<Note> five = {{62, 90}, {65, 80}, {69, 70}, {72, 60}, {76, 50}};
    return {
        {program(0, 3), {"0 3"}},
        {program(500, 5), {"0 5"}},
        {on(1000, 60, 100), {f({{60, 100}}), "0 bang"}},
        {off(9000, 60), {f({})}},
        {on(12000, 64, 127), {f({{64, 127}}), "0 bang"}},
        {on(12000, 67, 90, 9), {f({{64, 127}, {67, 90}}), "0 bang"}},
        // A chord of six: the oldest notes leave.
        {on(20000, 60, 100), {f({{64, 127}, {67, 90}, {60, 100}}), "0 bang"}},
        {on(20010, 62, 90), {f({{64, 127}, {67, 90}, {60, 100}, {62, 90}}), "0 bang"}},
        {on(20020, 65, 80), {f({{64, 127}, {67, 90}, {60, 100}, {62, 90}, {65, 80}}), "0 bang"}},
        {on(20030, 69, 70), {f({{67, 90}, {60, 100}, {62, 90}, {65, 80}, {69, 70}}), "0 bang"}},
        {on(20040, 72, 60), {f({{60, 100}, {62, 90}, {65, 80}, {69, 70}, {72, 60}}), "0 bang"}},
        {on(20050, 76, 50), {f(five), "0 bang"}},
        {bend(30000, 12288), {f(five, 1.0)}},
        {cc(36000, 1, 64), {"0 5.5"}},
        {cc(40000, 1, 0), {"0 5"}},
        {cc(44000, 64, 127), {}},
        {off(45000, 62), {}},
        {off(46000, 65), {}},
        {cc(48000, 64, 0), {f({{69, 70}, {72, 60}, {76, 50}}, 1.0)}},
        {bend(50000, 8192), {f({{69, 70}, {72, 60}, {76, 50}})}},
        {on(52000, 69, 0), {f({{72, 60}, {76, 50}})}},
        {cc(54000, 123, 0), {f({})}},
        {rack::control(56000, "strike", 1), {}},
        {on(66000, 50, 80), {f({{50, 80}}), "0 bang"}},
        {on(66500, 53, 80), {f({{50, 80}, {53, 80}})}},
        {program(68000, 2), {"0 2"}},
        {rack::control(70000, "tension_gain", 1.5f), {"2 gain 1.5"}},
        {rack::control(70000, "damping_morph", 0.5f), {"4 0.5"}},
        // A recall rewrites the profiles: the morph is made again.
        {rack::control(80000, "preset", 7), {"0 7", "4 0.5"}},
        {rack::control(90000, "damping_morph", 0), {"0 7"}},
        {rack::control(100000, "volume", 0.8f), {f({{50, 80}, {53, 80}}, 0, 0.8f)}},
        {cc(110000, 120, 0), {"0 stop"}},
        {on(112000, 55, 100), {f({{50, 80}, {53, 80}, {55, 100}}, 0, 0.8f)}},
        {off(120000, 50), {f({{53, 80}, {55, 100}}, 0, 0.8f)}},
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

// The command line's rendering of a score.
std::vector<float> render(const std::string &score, const std::string &name)
{
    std::string dir = testing::TempDir();
    std::string path = dir + "lv2_" + name + ".score", wav = dir + "lv2_" + name + ".wav";
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
    };
    const Case cases[] = {{1, 44100}, {64, 44100}, {100, 44100}, {4096, 44100}, {0, 44100}, {64, 48000}};
    const uint64_t total = 132300;
    for (const Case &c : cases) {
        SCOPED_TRACE("block " + std::to_string(c.block) + " at " + std::to_string((int)c.rate) + " Hz");
        std::vector<Step> steps = performance(c.rate);
        rack::Player player(c.rate);
        std::vector<float> out = play(player, events_of(steps), total, c.block);
        EXPECT_EQ(player.latency(), (float)LATENCY);
        if (counting::available()) {
            EXPECT_EQ(player.run_allocations(), 0);
            EXPECT_EQ(player.run_opens(), 0);
        }

        Score score(FRESH);
        score.add(steps, player);
        std::vector<float> cli = render(score.text(total), "performance");
        ASSERT_TRUE(sounds(cli));
        EXPECT_EQ(first_difference(out, cli), -1);
        EXPECT_EQ(player.log().find("(from run)"), std::string::npos) << player.log();
    }
}

// A short performance that holds notes across the moments new objects
// start playing.
std::vector<Step> held_notes()
{
    return {
        {program(0, 4), {"0 4"}},
        {on(1000, 60, 100), {fg({{60, 100}}), "0 bang"}},
        {on(3000, 64, 90), {fg({{60, 100}, {64, 90}}), "0 bang"}},
        {off(20000, 60), {fg({{64, 90}})}},
        {on(40000, 67, 80), {fg({{64, 90}, {67, 80}}), "0 bang"}},
    };
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

        // The new object gets the preset choice and the held notes, struck.
        Score score(FRESH);
        score.add(steps, player);
        uint64_t resized = player.next_start(player.applied().at(0));
        for (const std::string &line : {std::string("new 64"), std::string("0 4"), fg({{60, 100}, {64, 90}}),
                                        std::string("0 bang")})
            score.at(resized, line);
        uint64_t loaded = player.next_start(30000);
        for (const std::string &line : {std::string("new 64"), "0 read " + PD_PRESETS, std::string("0 4"),
                                        fg({{64, 90}}), std::string("0 bang")})
            score.at(loaded, line);
        std::vector<float> cli = render(score.text(total), "objects");
        ASSERT_TRUE(sounds(cli));
        EXPECT_EQ(first_difference(out, cli), -1);
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
    std::vector<Step> steps = {
        {on(1000, 60, 100), {fg({{60, 100}}), "0 bang"}},
        {program(20000, 12), {"0 12"}},
        {on(21000, 67, 80), {fg({{60, 100}, {67, 80}}), "0 bang"}},
    };
    const uint64_t total = 44100;
    std::vector<float> out = play(after, events_of(steps), total, 256);

    Score score("vs 64\nseed 0\nnew 128\n0 read " + PD_PRESETS + "\n0 1.5\n2 gain 2.0\n6 phase 0.25\n");
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
    const std::vector<Note> two = {{60, 100}, {67, 80}};
    std::vector<std::string> bang;
    if (struck)
        bang.push_back("0 bang");
    auto with = [](std::string line, std::vector<std::string> more) {
        more.insert(more.begin(), line);
        return more;
    };
    return {
        {program(from, struck ? 3 : 8), {struck ? "0 3" : "0 8"}},
        {on(from, 60, 100), with(fg({{60, 100}}), bang)},
        {on(from + 700, 67, 80), with(fg(two), bang)},
        {program(from + 5000, 4), {"0 4"}},
        {bend(from + 9000, 12288), {fg(two, 1.0)}},
        {rack::control(from + 10000, "strike", 0), {}},
        {off(from + 15000, 60), {fg({{67, 80}}, 1.0)}},
        {program(from + 20000, 3), {"0 3"}},
        {on(from + 21111, 64, 90), {fg({{67, 80}, {64, 90}}, 1.0), "0 bang"}},
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
        Score score(FRESH);
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
                // later, on the timeline.
                long differs = -1;
                for (uint64_t t = preroll; t < preroll + length && differs < 0; t++) {
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
    std::vector<Step> steps = {
        {program(0, 1), {"0 1"}},
        {on(0, 60, 100), {fg({{60, 100}}), "0 bang"}},
        {on(3000, 67, 80), {fg({{60, 100}, {67, 80}}), "0 bang"}},
    };
    const uint64_t total = 20000;
    std::vector<float> out = play(after, events_of(steps), total, 512);
    Score score("vs 64\nseed 0\nnew 64\n0 read " + PD_PRESETS + "\n");
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
