// New objects in the LV2 instrument: a mass count or a preset file starts
// one between vectors, a file that cannot be read leaves the old one
// playing, a mass count built at activation keeps the file's bank, and
// instances draw their own random values.
#include <gtest/gtest.h>

#include "counting.h"

#include "lv2_support.h"

namespace {

using namespace lv2test;

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

// A new mass count set while the plugin is inactive is built at its
// activation, from the bank of the file loaded before: the plugin still
// says that file is the bank.
TEST(Lv2Objects, AMassCountBuiltAtActivationKeepsTheFileLoaded)
{
    rack::Player player;
    play(player, {rack::bank(0, PD_PRESETS), rack::ask_bank(2000)}, 4096, 256);
    player.deactivate();
    player.set_port("masses", 64);
    player.activate();
    play(player, {rack::ask_bank(0)}, 1024, 256);
    EXPECT_EQ(player.told(), (std::vector<std::string>{PD_PRESETS, PD_PRESETS, PD_PRESETS}));
}

TEST(Lv2Objects, TwoInstancesOnOneThreadEachDrawTheirOwnRandomValues)
{
    // Presets 3 and 4 draw the ring's initial shape at every recall, which
    // the next strike shows.
    const std::vector<Event> first = {program(0, 3),    on(100, 60, 100),  program(3000, 4),  on(3100, 62, 100),
                                      program(7000, 3), on(7100, 64, 100), program(11000, 4), on(11100, 65, 100)};
    const std::vector<Event> second = {program(500, 4),  on(600, 64, 100),  program(5000, 3),  on(5100, 60, 100),
                                       program(9000, 4), on(9100, 67, 100), program(13000, 3), on(13100, 69, 100)};
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

} // namespace
