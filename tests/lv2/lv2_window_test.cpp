// The plugin's side of its window: a drawn profile and a strike act as the
// same list and bang on the object's inlets, frames and profiles reach a
// window that watches at the rate it asks and show what the object holds,
// the drawn profiles last until a recall and come back with the session,
// and feeding a window allocates nothing in run().
#include <gtest/gtest.h>

#include "counting.h"

#include "lv2_window.h"

namespace {

using namespace lv2test;
using namespace lv2window_test;

// A note struck at 1000, a strike of its own at 9000.
std::vector<Step> struck_note(Keyboard &k)
{
    return {{on(1000, 60, 100), k.on(1000, 60, 100)}, {strike(9000), {"0 bang"}}};
}

TEST(Lv2Window, ADrawnProfileAndAStrikePlayAsTheListAndBangOfTheCommandLine)
{
    struct Draw {
        uint64_t time;
        int kind;
        std::vector<float> values;
    };
    struct Case {
        std::string name;
        std::vector<Draw> draws;
    };
    const Case cases[] = {
        {"tension", {{3000, 2, hump(256, 0.1f)}}},
        {"initial position, struck after", {{3000, 6, hump(256, 0.0f)}}},
        {"forces, the first masses only", {{3000, 5, hump(100, 0.1f)}}},
        {"damping twice, the second shorter", {{3000, 4, hump(256, 0.05f)}, {5000, 4, hump(50, 0.3f)}}},
    };
    const uint64_t total = 20000;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Keyboard k;
        std::vector<Step> steps = struck_note(k);
        for (const Draw &d : c.draws)
            steps.push_back({draw(d.time, d.kind, d.values), {list_line(d.kind, d.values)}});
        rack::Player player;
        std::vector<float> out = play(player, events_of(steps), total, 0);

        Score score(fresh());
        score.add(steps, player);
        std::vector<float> cli = render(score.text(total), "drawn");
        ASSERT_TRUE(sounds(cli));
        EXPECT_EQ(first_difference(out, cli), -1);
        // The list changes the sound: a plugin that dropped it would differ.
        Keyboard plain_keys;
        Score plain(fresh());
        plain.add(struck_note(plain_keys), player);
        EXPECT_NE(render(plain.text(total), "undrawn"), cli);
        EXPECT_EQ(player.log().find("loopmass:"), std::string::npos) << player.log();
    }
}

// The session's text after the events.
std::string session_after(const std::vector<Event> &events)
{
    rack::Player player;
    play(player, events, 8192, 256);
    LilvState *state = player.save();
    char *text = lilv_state_to_string(rack::world(), rack::map(), rack::unmap(), state, "urn:loopmass:test", nullptr);
    std::string s = text;
    lilv_free(text);
    lilv_state_free(state);
    return s;
}

TEST(Lv2Window, ADrawnProfileLastsUntilARecallOrAMorphOfItsKind)
{
    struct Case {
        std::string name;
        std::vector<Event> after; // at 4000, once both are drawn
        bool tension, initpos;    // drawn profiles the session keeps
    };
    const Case cases[] = {
        {"nothing", {}, true, true},
        {"a metaparameter", {rack::control(4000, "tension_gain", 2)}, true, true},
        {"a strike", {strike(4000)}, true, true},
        {"the tension's morph", {rack::control(4000, "tension_morph", 0.5f)}, false, true},
        {"the preset port", {rack::control(4000, "preset", 3)}, false, false},
        {"a morph on the preset port", {rack::control(4000, "preset", 2.5f)}, false, false},
        {"a program change", {program(4000, 4)}, false, false},
        {"a preset file", {rack::bank(4000, PD_PRESETS)}, false, false},
        {"a mass count", {rack::control(4000, "masses", 64)}, false, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Event> events = {draw(1000, 2, hump(256, 0.1f)), draw(1000, 6, hump(256, 0.0f))};
        events.insert(events.end(), c.after.begin(), c.after.end());
        std::string s = session_after(events);
        EXPECT_EQ(s.find("#drawnTension>") != std::string::npos, c.tension) << s;
        EXPECT_EQ(s.find("#drawnInitpos>") != std::string::npos, c.initpos) << s;
        EXPECT_EQ(s.find("#drawnDamping>"), std::string::npos) << s;
    }
}

TEST(Lv2Window, ASessionWithADrawnProfileAPresetFileAndMovedControlsPlaysTheSameSamples)
{
    rack::Player before;
    // Damping drawn twice keeps the second's values over the start of the
    // first's; the morph of forces comes before its drawing and stays.
    std::vector<Event> setup = {rack::bank(0, PD_PRESETS),
                                rack::control(300, "preset", 2),
                                rack::control(300, "tension_gain", 2),
                                rack::control(300, "forces_morph", 0.3f),
                                draw(1000, 4, hump(256, 0.05f)),
                                draw(1500, 4, hump(40, 0.3f)),
                                draw(1500, 5, hump(128, 0.2f))};
    play(before, setup, 4096, 256);
    LilvState *saved = before.save();
    char *text = lilv_state_to_string(rack::world(), rack::map(), rack::unmap(), saved, "urn:loopmass:test", nullptr);
    LilvState *state = lilv_state_new_from_string(rack::world(), rack::map(), text);
    ASSERT_NE(state, nullptr);

    rack::Player after;
    after.restore(state);
    Keyboard k;
    std::vector<Step> steps = {{on(1000, 60, 100), k.on(1000, 60, 100)}, {on(9000, 64, 90), k.on(9000, 64, 90)}};
    const uint64_t total = 30000;
    std::vector<float> out = play(after, events_of(steps), total, 256);

    Score score("vs 64\nseed 0\nnew 256\n0 read " + PD_PRESETS + "\n0 2\n2 gain 2.0\n5 0.3\n" + filters() +
                list_line(4, hump(256, 0.05f)) + "\n" + list_line(4, hump(40, 0.3f)) + "\n" +
                list_line(5, hump(128, 0.2f)) + "\n");
    score.add(steps, after);
    std::vector<float> cli = render(score.text(total), "drawn_state");
    ASSERT_TRUE(sounds(cli));
    EXPECT_EQ(first_difference(out, cli), -1);
    EXPECT_EQ(after.log().find("does not read"), std::string::npos) << after.log();

    lilv_free(text);
    lilv_state_free(state);
    lilv_state_free(saved);
}

TEST(Lv2Window, AProfileThatCannotBeDrawnIsLoggedAndChangesNothing)
{
    auto kind = [](int k) { return [k](LV2_Atom_Forge *f) { lv2_atom_forge_int(f, k); }; };
    auto floats_of = [](std::vector<float> v) {
        return
            [v](LV2_Atom_Forge *f) { lv2_atom_forge_vector(f, sizeof(float), f->Float, (uint32_t)v.size(), v.data()); };
    };
    std::vector<float> with_nan = hump(256, 0), with_inf = hump(256, 0);
    with_nan[10] = NAN;
    with_inf[255] = -INFINITY;
    const int32_t ints[3] = {1, 2, 3};
    struct Case {
        std::string name;
        std::function<void(LV2_Atom_Forge *)> kind, value;
        std::string logged;
    };
    const Case cases[] = {
        {"kind 0", kind(0), floats_of(hump(256, 0)), "needs a kind from 1 to 6, not 0"},
        {"kind 7", kind(7), floats_of(hump(256, 0)), "needs a kind from 1 to 6, not 7"},
        {"no kind", nullptr, floats_of(hump(256, 0)), "needs a kind from 1 to 6"},
        {"a float kind", [](LV2_Atom_Forge *f) { lv2_atom_forge_float(f, 2); }, floats_of(hump(256, 0)),
         "needs a kind from 1 to 6"},
        {"no value", kind(2), nullptr, "(kind 2) needs a vector of floats"},
        {"a float value", kind(2), [](LV2_Atom_Forge *f) { lv2_atom_forge_float(f, 0.5f); },
         "(kind 2) needs a vector of floats"},
        {"a vector of ints", kind(2),
         [&ints](LV2_Atom_Forge *f) { lv2_atom_forge_vector(f, sizeof(int32_t), f->Int, 3, ints); },
         "(kind 2) needs a vector of floats"},
        {"an empty vector", kind(3), floats_of({}), "(kind 3) has no values"},
        {"257 values", kind(3), floats_of(hump(257, 0)), "(kind 3) has 257 values"},
        {"not a number", kind(6), floats_of(with_nan), "(kind 6) holds a value that is not a finite number"},
        {"infinite", kind(6), floats_of(with_inf), "(kind 6) holds a value that is not a finite number"},
    };
    const uint64_t total = 12000;
    Keyboard k;
    std::vector<Event> plain_events = events_of(struck_note(k));
    rack::Player plain;
    std::vector<float> expected = play(plain, plain_events, total, 256);
    ASSERT_TRUE(sounds(expected));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Event> events = plain_events;
        events.push_back(set_profile(3000, c.kind, c.value));
        rack::Player player;
        std::vector<float> out = play(player, events, total, 256);
        EXPECT_TRUE(out == expected);
        EXPECT_NE(player.log().find("loopmass: a drawn profile " + c.logged), std::string::npos) << player.log();
        EXPECT_EQ(player.log().find("(from run)"), std::string::npos) << player.log();
        LilvState *state = player.save();
        char *text =
            lilv_state_to_string(rack::world(), rack::map(), rack::unmap(), state, "urn:loopmass:test", nullptr);
        EXPECT_EQ(std::string(text).find("#drawn"), std::string::npos);
        lilv_free(text);
        lilv_state_free(state);
    }
}

// Frames in the second of audio from 1 s, at 44100 samples a second or
// the rate given.
int frames_in_second(const std::vector<Frame> &frames, double rate)
{
    int n = 0;
    for (const Frame &f : frames)
        n += f.time >= (uint64_t)rate && f.time < (uint64_t)(2 * rate);
    return n;
}

TEST(Lv2Window, AWatchGetsFramesAtTheRateItAsksPerSecondOfAudio)
{
    struct Case {
        uint32_t block;
        double rate;
        int asked; // -1: no Watch
        int expected;
    };
    const Case cases[] = {{64, 44100, 30, 30},  {256, 48000, 30, 30}, {1024, 44100, 30, 30}, {64, 44100, 12, 12},
                          {64, 44100, 100, 30}, {64, 44100, 0, 0},    {64, 44100, -1, 0}};
    for (const Case &c : cases) {
        SCOPED_TRACE("block " + std::to_string(c.block) + " at " + std::to_string((int)c.rate) + " Hz, asked " +
                     std::to_string(c.asked));
        rack::Player player(c.rate);
        std::vector<Event> events = {on(100, 60, 100)};
        if (c.asked >= 0)
            events.push_back(watch(0, c.asked));
        play(player, events, (uint64_t)(3 * c.rate), c.block);
        std::vector<Frame> f = frames(player);
        EXPECT_NEAR(frames_in_second(f, c.rate), c.expected, 1);
        EXPECT_EQ(profiles(player).size(), c.expected ? 6u : 0u);
        if (c.expected) {
            EXPECT_EQ(f.front().time, 0u) << "a Watch gets a frame at once";
            EXPECT_EQ(f.back().ring.size(), 256u);
            EXPECT_EQ(f.back().phases.size(), (size_t)OSCILLATORS);
            EXPECT_EQ(f.back().gains.size(), (size_t)OSCILLATORS);
        }
    }
}

TEST(Lv2Window, AWatchOfRateZeroStopsTheFramesAndAnotherSendsTheProfilesAgain)
{
    rack::Player player;
    play(player, {watch(0, 30), watch(44100, 0), watch(88200, 30)}, 132300, 64);
    // The blocks of 64 that hold the second and the third Watch start at
    // 44096 and 88192.
    int stopped = 0;
    for (const Frame &f : frames(player))
        stopped += f.time >= 44096 && f.time < 88192;
    EXPECT_EQ(stopped, 0);
    EXPECT_NEAR(frames_in_second(frames(player), 88200), 30, 1) << "frames again from 2 s";
    std::vector<Profile> p = profiles(player);
    ASSERT_EQ(p.size(), 12u);
    for (int i = 0; i < 6; i++) {
        EXPECT_EQ(p[i].kind, i + 1);
        EXPECT_EQ(p[i].time, 0u);
        EXPECT_EQ(p[i + 6].time, 88192u);
        EXPECT_TRUE(same_bits(p[i].values, p[i + 6].values));
    }
}

TEST(Lv2Window, FramesAndProfilesShowWhatTheObjectHolds)
{
    Keyboard k;
    std::vector<Step> steps = {
        {watch(START, 30), {}},
        {on(START + 1000, 60, 100), k.on(START + 1000, 60, 100)},
        {on(START + 2000, 67, 80), k.on(START + 2000, 67, 80)},
        {draw(START + 4000, 2, hump(200, 0.1f)), {list_line(2, hump(200, 0.1f))}},
        {rack::control(START + 8000, "preset", 4), {"0 4"}},
        {rack::control(START + 12000, "damping_morph", 0.5f), {"4 0.5"}},
        {strike(START + 16000), {"0 bang"}},
    };
    const uint64_t total = START + 30000;
    rack::Player player;
    play(player, events_of(steps), total, 64);
    std::vector<Frame> f = frames(player);
    std::vector<Profile> p = profiles(player);
    ASSERT_GT(f.size(), 15u);
    // A profile for each kind at the Watch, then for those a drawing, a
    // recall and a morph change.
    ASSERT_GT(p.size(), 8u);

    // What the command line holds after the block each was sent in.
    Score score(fresh());
    score.add(steps, player);
    for (const Frame &x : f) {
        score.at(x.time + 64, "print pos");
        score.at(x.time + 64, "print phase");
        score.at(x.time + 64, "print preset");
    }
    for (const Profile &x : p)
        score.at(x.time + 64, "print prof " + std::to_string(x.kind));
    std::string t = transcript(score.text(total), "frames");
    std::vector<std::vector<float>> pos = printed(t, "pos"), phase = printed(t, "phase"), preset = printed(t, "preset");
    ASSERT_EQ(pos.size(), f.size());
    ASSERT_EQ(preset.size(), f.size());
    int recalled = 0, sounding = 0;
    for (size_t i = 0; i < f.size(); i++) {
        SCOPED_TRACE("frame at " + std::to_string(f[i].time));
        EXPECT_TRUE(same_bits(f[i].ring, pos[i]));
        EXPECT_TRUE(same_bits(f[i].phases, phase[i]));
        EXPECT_EQ((float)f[i].preset, preset[i].at(0));
        recalled += f[i].preset == 4;
        sounding += f[i].gains.at(1) > 0;
    }
    EXPECT_GT(recalled, 0);
    EXPECT_GT(sounding, 0) << "the second note's oscillator sounds";
    EXPECT_EQ(f.front().gains, std::vector<float>(OSCILLATORS, 0.0f)) << "nothing sounds before the first note";
    for (int kind = 1; kind <= 6; kind++) {
        std::vector<std::vector<float>> prof = printed(t, "prof " + std::to_string(kind));
        size_t j = 0;
        for (const Profile &x : p)
            if (x.kind == kind) {
                SCOPED_TRACE("profile " + std::to_string(kind) + " at " + std::to_string(x.time));
                ASSERT_LT(j, prof.size());
                EXPECT_TRUE(same_bits(x.values, prof[j++]));
            }
    }
}

TEST(Lv2Window, ANotifyBufferTooSmallSkipsWhatDoesNotFitAndNothingElse)
{
    struct Case {
        uint32_t room;
        bool frames; // some frames fit
    };
    const Case cases[] = {{64, false}, {1000, false}, {1300, true}, {3000, true}, {16384, true}};
    Keyboard k;
    std::vector<Event> events = events_of(struck_note(k));
    events.push_back(watch(0, 30));
    rack::Player plain;
    std::vector<float> expected = play(plain, events, 44100, 256);
    for (const Case &c : cases) {
        SCOPED_TRACE("room " + std::to_string(c.room));
        rack::Player player;
        player.notify_room(c.room);
        std::vector<float> out = play(player, events, 44100, 256);
        EXPECT_EQ(player.notify_overruns(), 0);
        EXPECT_TRUE(out == expected);
        EXPECT_EQ(!frames(player).empty(), c.frames);
        // Profiles that wait for room are sent whole, later.
        for (const Profile &p : profiles(player))
            EXPECT_EQ(p.values.size(), 256u);
        EXPECT_EQ(profiles(player).size(), c.frames ? 6u : 0u);
    }
}

TEST(Lv2Window, FeedingAWindowAllocatesNothingInRunAndLeavesTheSoundAsItWas)
{
    const uint32_t blocks[] = {64, 0};
    const uint64_t total = 132300;
    for (uint32_t block : blocks) {
        SCOPED_TRACE("block " + std::to_string(block));
        std::vector<Step> steps = performance(44100);
        steps.push_back({watch(0, 30), {}});
        steps.push_back({draw(START + 2000, 6, hump(256, 0.0f)), {list_line(6, hump(256, 0.0f))}});
        steps.push_back({strike(START + 2500), {"0 bang"}});
        rack::Player player;
        std::vector<float> out = play(player, events_of(steps), total, block);
        // Some blocks of the changing sizes are longer than a frame's period.
        EXPECT_GT(frames(player).size(), 30u);
        if (counting::available()) {
            EXPECT_EQ(player.run_allocations(), 0);
            EXPECT_EQ(player.run_opens(), 0);
        }
        Score score(fresh());
        score.add(steps, player);
        std::vector<float> cli = render(score.text(total), "watched");
        ASSERT_TRUE(sounds(cli));
        EXPECT_EQ(first_difference(out, cli), -1);
    }
}

} // namespace
