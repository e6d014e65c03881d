// The LV2 instrument's MIDI performance renders, after the reported
// latency, the same samples as the command line playing the score that the
// MIDI mapping implies, at every block size, without allocating in run().
#include <gtest/gtest.h>

#include "counting.h"

#include "lv2_support.h"

namespace {

using namespace lv2test;

TEST(Lv2Performance, RendersTheScoreItsMidiImpliesAtEveryBlockSize)
{
    struct Case {
        uint32_t block; // 0: a size that changes at every call
        double rate;
        int masses;
    };
    const Case cases[] = {{1, 44100, 256}, {64, 44100, 256}, {100, 44100, 256}, {4096, 44100, 256},
                          {0, 44100, 256}, {64, 48000, 256}, {100, 44100, 64},  {0, 44100, 64}};
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

} // namespace
