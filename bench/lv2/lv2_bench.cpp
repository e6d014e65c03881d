// What the LV2 instrument costs: one second of audio with five notes held,
// at N = 256, played through lilv as a plugin host would, at several block
// sizes.  The time per iteration is the cost of a second of sound; the
// Watched case adds a window that asks 30 frames a second.
//
//   build/release/loopmass_lv2_bench --benchmark_repetitions=9 --benchmark_report_aggregates_only

#include <benchmark/benchmark.h>

#include <lv2/atom/forge.h>

#include "../../hosts/lv2/window.h"
#include "rack.h"

// A window's Watch at `rate` frames a second.
static rack::Event watch(int rate)
{
    std::vector<uint8_t> buffer(256);
    LV2_Atom_Forge forge;
    lv2_atom_forge_init(&forge, rack::map());
    lv2_atom_forge_set_buffer(&forge, buffer.data(), buffer.size());
    LV2_Atom_Forge_Frame frame;
    lv2_atom_forge_object(&forge, &frame, 0, rack::map()->map(rack::map()->handle, LOOPMASS__Watch));
    lv2_atom_forge_key(&forge, rack::map()->map(rack::map()->handle, LOOPMASS__rate));
    lv2_atom_forge_int(&forge, rate);
    lv2_atom_forge_pop(&forge, &frame);
    buffer.resize(sizeof(LV2_Atom) + ((const LV2_Atom *)buffer.data())->size);
    return rack::message(0, buffer);
}

static void second_with_five_notes(benchmark::State &state, bool watched)
{
    const uint32_t block = (uint32_t)state.range(0);
    rack::Player player;
    std::vector<rack::Event> chord;
    const uint8_t notes[5] = {48, 55, 60, 64, 67};
    for (uint8_t n : notes)
        chord.push_back(rack::midi(0, {0x90, n, 100}));
    if (watched)
        chord.push_back(watch(30));
    auto blocks = [block]() { return block; };
    player.play(chord, 44100, blocks);
    for (auto _ : state) {
        std::vector<float> out = player.play({}, 44100, blocks);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["rtf"] = benchmark::Counter((double)state.iterations(), benchmark::Counter::kIsRate);
}

static void BM_SecondWithFiveNotes(benchmark::State &state)
{
    second_with_five_notes(state, false);
}
static void BM_SecondWithFiveNotesWatched(benchmark::State &state)
{
    second_with_five_notes(state, true);
}
BENCHMARK(BM_SecondWithFiveNotes)->Arg(64)->Arg(256)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SecondWithFiveNotesWatched)->Arg(64)->Arg(256)->Arg(4096)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
