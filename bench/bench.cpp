// Speed of the sound engine: the perform routine of one object, the scan
// and the haptic step alone.  The counter rtf is seconds of audio computed
// per second of CPU time.  LOOPMASS_SIMD chooses the engine's vector units
// (see loopmass simd); bench/run runs every set and compares.
#include <vector>

#include <benchmark/benchmark.h>

#include "headless.h"
#include "loopmass.h"

using namespace loopmass;

namespace {

// A real object, made through the in-process host, struck and sounding.
t_loopmass *make_object(int nmasses, int voices)
{
    static bool loaded = false;
    if (!loaded) {
        headless::fix_calendar(1);
        headless::load(loopmass::main);
        loaded = true;
    }
    t_atom arg;
    arg.a_type = A_LONG;
    arg.a_w.w_long = nmasses;
    void *x = headless::create("loopmass~", 1, &arg);

    // Preset 3, struck, then one to five pitches.
    t_atom a[NOSC];
    a[0].a_type = A_LONG;
    a[0].a_w.w_long = 3;
    headless::send(x, INLET_CONTROL, "int", 1, a);
    headless::send(x, INLET_CONTROL, "bang", 0, nullptr);
    for (int k = 0; k < voices; k++) {
        a[k].a_type = A_FLOAT;
        a[k].a_w.w_float = 110.0f * (float)(k + 1) + 3.0f;
    }
    headless::send(x, INLET_PITCH, "list", voices, a);
    return (t_loopmass *)x;
}

// The ring is struck again every six seconds or so of audio, as a player
// would: left alone for minutes it would decay to nothing, which is not
// what the object spends its time on.
const int RESTRIKE = 262144; // samples

void strike(t_loopmass *x)
{
    headless::send(x, INLET_CONTROL, "bang", 0, nullptr);
}

// Vectors of n samples from x, the ring struck again every RESTRIKE
// samples; before each vector, between (when given) may send a message.
void perform_vectors(benchmark::State &state, t_loopmass *x, int n, void (*between)(t_loopmass *) = nullptr)
{
    std::vector<float> out((size_t)n);
    t_int w[4] = {0, (t_int)out.data() - (t_int)sizeof(float), (t_int)x, (t_int)n + 1};
    int calls = 0;
    for (auto _ : state) {
        if (++calls == RESTRIKE / n) {
            strike(x);
            calls = 0;
        }
        if (between)
            between(x);
        loopmass_perform(w);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.counters["rtf"] =
        benchmark::Counter((double)state.iterations() * n / SAMPLE_RATE, benchmark::Counter::kIsRate);
    headless::destroy(x);
}

void send_long(t_loopmass *x, const char *selector, int32_t v)
{
    t_atom a;
    a.a_type = A_LONG;
    a.a_w.w_long = v;
    headless::send(x, INLET_CONTROL, selector, 1, &a);
}

void BM_Perform(benchmark::State &state)
{
    const int nmasses = (int)state.range(0), voices = (int)state.range(1), n = (int)state.range(2);
    perform_vectors(state, make_object(nmasses, voices), n);
}

// Once the gains' ramps have ended, every gain sets off toward the other
// of 0.5 and 1.
void ramp_again(t_loopmass *x)
{
    if (x->x_ramp[0].len != 0)
        return;
    const float gain = 1.5f - x->x_osc_gain[0];
    t_atom a[2 * NOSC];
    for (int k = 0; k < NOSC; k++) {
        a[2 * k].a_type = a[2 * k + 1].a_type = A_FLOAT;
        a[2 * k].a_w.w_float = 110.0f * (float)(k + 1) + 3.0f;
        a[2 * k + 1].a_w.w_float = gain;
    }
    headless::send(x, INLET_PITCH, "fg", 2 * NOSC, a);
}

// Five oscillators whose gains ramp all the time: a ramp of one second,
// and a new one toward the other gain as soon as it ends.
void BM_PerformRamping(benchmark::State &state)
{
    t_loopmass *x = make_object(256, NOSC);
    send_long(x, "ramp", 1000);
    perform_vectors(state, x, (int)state.range(0), ramp_again);
}

// Five oscillators through the high-pass of lowcut 20.
void BM_PerformLowcut(benchmark::State &state)
{
    t_loopmass *x = make_object(256, NOSC);
    send_long(x, "lowcut", 20);
    perform_vectors(state, x, (int)state.range(0));
}

void BM_Step(benchmark::State &state)
{
    const int nmasses = (int)state.range(0);
    t_loopmass *x = make_object(nmasses, 1);
    int steps = 0;
    for (auto _ : state) {
        if (++steps == RESTRIKE / HAPTIC_PERIOD) {
            strike(x);
            steps = 0;
        }
        loopmass_step(x);
        benchmark::ClobberMemory();
    }
    // One step stands for 256 samples of audio.
    state.counters["rtf"] =
        benchmark::Counter((double)state.iterations() * HAPTIC_PERIOD / SAMPLE_RATE, benchmark::Counter::kIsRate);
    headless::destroy(x);
}

// The step with every coefficient recomputed, as when a morph rewrites the
// profiles at every step: the cost the coefficient cache saves.
void BM_StepUncached(benchmark::State &state)
{
    const int nmasses = (int)state.range(0);
    t_loopmass *x = make_object(nmasses, 1);
    int steps = 0;
    for (auto _ : state) {
        if (++steps == RESTRIKE / HAPTIC_PERIOD) {
            strike(x);
            steps = 0;
        }
        for (int i = 0; i < nmasses; i++)
            x->x_coef_ok[i] = 0;
        loopmass_step(x);
        benchmark::ClobberMemory();
    }
    state.counters["rtf"] =
        benchmark::Counter((double)state.iterations() * HAPTIC_PERIOD / SAMPLE_RATE, benchmark::Counter::kIsRate);
    headless::destroy(x);
}

// The oscillators alone, without the steps the perform routine paces.
void BM_Scan(benchmark::State &state)
{
    const int nmasses = (int)state.range(0), voices = (int)state.range(1), n = (int)state.range(2);
    t_loopmass *x = make_object(nmasses, voices);
    for (auto _ : state) {
        benchmark::DoNotOptimize(loopmass_scan(x, n));
        benchmark::ClobberMemory();
    }
    state.counters["rtf"] =
        benchmark::Counter((double)state.iterations() * n / SAMPLE_RATE, benchmark::Counter::kIsRate);
    headless::destroy(x);
}

} // namespace

BENCHMARK(BM_Perform)->ArgNames({"N", "osc", "n"})->ArgsProduct({{3, 64, 256}, {1, 5}, {64, 256}});
BENCHMARK(BM_PerformRamping)->ArgNames({"n"})->Arg(64)->Arg(256);
BENCHMARK(BM_PerformLowcut)->ArgNames({"n"})->Arg(64)->Arg(256);
BENCHMARK(BM_Scan)->ArgNames({"N", "osc", "n"})->ArgsProduct({{3, 64, 256}, {1, 5}, {64}});
BENCHMARK(BM_Step)->ArgNames({"N"})->Arg(3)->Arg(64)->Arg(256);
BENCHMARK(BM_StepUncached)->ArgNames({"N"})->Arg(3)->Arg(64)->Arg(256);

BENCHMARK_MAIN();
