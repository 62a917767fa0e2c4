// Speed figures of the audio path and of re-preparation. Figures only:
// nothing here passes or fails.
//   z5r_bench                       all of them
//   z5r_bench --benchmark_filter=Process
#include "plugin/TubeEffect.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

namespace {

intptr_t VST_CALL host(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float)
{
    return opcode == audioMasterVersion ? 2400 : 0;
}

constexpr int32_t kBlock = 512;
constexpr double kRealTimeRate = 48000.0;

// processReplacing on a stereo guitar-like signal, 512-frame blocks at
// 48 kHz, oversampling off (1x) or on (16x).
void ProcessReplacing(benchmark::State& state)
{
    TubeEffect effect(host);
    effect.setParameter(kParamOversample, state.range(0) == 16 ? 1.0f : 0.0f);
    effect.setParameter(kParamGain, 0.8f);
    std::vector<float> left(kBlock), right(kBlock), outLeft(kBlock), outRight(kBlock);
    for (int32_t i = 0; i < kBlock; ++i) {
        left[i] = 0.4f * std::sin(0.037f * i) + 0.1f * std::sin(0.23f * i);
        right[i] = 0.4f * std::sin(0.041f * i + 1.0f);
    }
    float* in[2] = {left.data(), right.data()};
    float* out[2] = {outLeft.data(), outRight.data()};
    effect.processReplacing(in, out, kBlock);  // applies the settings once
    for (auto _ : state) {
        effect.processReplacing(in, out, kBlock);
        benchmark::DoNotOptimize(outLeft.data());
        benchmark::ClobberMemory();
    }
    const double frames = double(state.iterations()) * kBlock;
    // Seconds per sample and channel, shown in ns by the benchmark's units.
    state.counters["per_sample_channel"] =
        benchmark::Counter(frames * 2.0, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    // Seconds of 48 kHz audio processed per second of CPU time.
    state.counters["realtime_factor"] = benchmark::Counter(frames / kRealTimeRate, benchmark::Counter::kIsRate);
}
BENCHMARK(ProcessReplacing)->Arg(1)->Arg(16)->ArgName("factor");

// One full re-preparation of the tables, for each tube at 48 kHz.
void Prepare(benchmark::State& state)
{
    StageSettings stage;
    stage.triode = static_cast<int32_t>(state.range(0));
    stage.oversampling = static_cast<int32_t>(state.range(1));
    stage.sampleRate = kRealTimeRate;
    stage.supplyVoltage = 350.0;
    stage.cathodeCapacitor = 1e-6;
    auto tables = std::make_unique<TriodeTables>();
    for (auto _ : state) {
        tables->build(stage);
        benchmark::DoNotOptimize(tables->quiescentPlate);
    }
}
BENCHMARK(Prepare)
    ->ArgsProduct({{0, 1, 2}, {1, 16}})
    ->ArgNames({"triode", "factor"})
    ->Unit(benchmark::kMillisecond);

}  // namespace
