// The LV2 instrument's state: a saved session restores the bank, the
// controls and the mass count from the first sample.
#include <gtest/gtest.h>

#include "lv2_support.h"

namespace {

using namespace lv2test;

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
        char *text =
            lilv_state_to_string(rack::world(), rack::map(), rack::unmap(), state, "urn:loopmass:test", nullptr);
        std::string session = text;
        EXPECT_EQ(session.find("0.5 0.4 0.3"), std::string::npos) << session;
        EXPECT_NE(session.find("#masses> \"128\"^^xsd:int"), std::string::npos) << session;
        lilv_free(text);
        lilv_state_free(state);
    }
    lilv_state_free(without_bank);
}

} // namespace
