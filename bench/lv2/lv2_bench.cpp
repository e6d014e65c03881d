// What the LV2 instrument costs: one second of audio with five notes held,
// at N = 256, played through lilv as a plugin host would, at several block
// sizes.  The time per iteration is the cost of a second of sound.
//
//   build/release/loopmass_lv2_bench --benchmark_repetitions=9 --benchmark_report_aggregates_only

#include <benchmark/benchmark.h>

#include "rack.h"

static void BM_SecondWithFiveNotes(benchmark::State &state)
{
    const uint32_t block = (uint32_t)state.range(0);
    rack::Player player;
    std::vector<rack::Event> chord;
    const uint8_t notes[5] = {48, 55, 60, 64, 67};
    for (uint8_t n : notes)
        chord.push_back(rack::midi(0, {0x90, n, 100}));
    auto blocks = [block]() { return block; };
    player.play(chord, 44100, blocks);
    for (auto _ : state) {
        std::vector<float> out = player.play({}, 44100, blocks);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["rtf"] = benchmark::Counter((double)state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SecondWithFiveNotes)->Arg(64)->Arg(256)->Arg(4096)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
