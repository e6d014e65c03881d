// The LV2 instrument on a host's timeline: the same bounce wherever the
// transport starts.
#include <gtest/gtest.h>

#include "counting.h"

#include "lv2_support.h"

namespace {

using namespace lv2test;

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

} // namespace
