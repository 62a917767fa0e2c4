// Speed figures of the plug-in, measured through its VST 2.4 record as a
// host drives it. Figures only: nothing here passes or fails.
//
//   z5r_bench                                    the plug-in of this build
//   Z5R_BASELINE_PLUGIN=old/KorvaneZ5R.so z5r_bench
//                                                the same figures for another
//                                                build too, interleaved, in one run
//   tools/bench-baseline.sh [REVISION]           builds REVISION and does the above
//
// Figures:
//   Process/<build>/factor:N        ns per sample per channel (512-frame blocks)
//   TubeChange/<build>/frames:N     blocks that carry a tube change: median and
//                                   worst time as a share of the block's duration
//   OversmplResent/<build>/frames:N the same with Oversmpl re-sent before every block
//   Resume/<build>                  effMainsChanged(1): the first instance at a new
//                                   rate and a later one, milliseconds
//   TableCache                      memory of the ready tables of one rate
//   Prepare/triode:T/factor:N       one set of tables, from the Newton solves
#include "LoadedPlugin.h"
#include "dsp/FloatMode.h"
#include "dsp/TriodeTables.h"
#include "plugin/vst2abi.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr double kRate = 48000.0;

intptr_t VST_CALL host(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float)
{
    return opcode == audioMasterVersion ? 2400 : 0;
}

struct Build {
    std::string name;
    std::unique_ptr<LoadedPlugin> library;
};

std::vector<Build>& builds()
{
    static std::vector<Build> all;
    return all;
}

// One instance, stereo, at 48 kHz, resumed.
class Instance {
public:
    explicit Instance(const LoadedPlugin& library, float rate = static_cast<float>(kRate), bool resume = true)
        : effect(library.vstPluginMain(host))
    {
        call(effSetSampleRate, 0, 0, rate);
        call(effSetBlockSize, 0, 4096);
        if (resume) call(effMainsChanged, 0, 1);
    }
    ~Instance() { call(effClose); }
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    intptr_t call(int32_t opcode, int32_t index = 0, intptr_t value = 0, float opt = 0.0f)
    {
        return effect->dispatcher(effect, opcode, index, value, nullptr, opt);
    }
    void set(int32_t index, float value) { effect->setParameter(effect, index, value); }
    void process(int32_t frames)
    {
        if (static_cast<int32_t>(left.size()) < frames) signal(frames);
        float* in[2] = {left.data(), right.data()};
        float* out[2] = {outLeft.data(), outRight.data()};
        effect->processReplacing(effect, in, out, frames);
    }

    AEffect* effect;

private:
    // A guitar-like signal: two partials and a swell.
    void signal(int32_t frames)
    {
        left.resize(frames);
        right.resize(frames);
        outLeft.resize(frames);
        outRight.resize(frames);
        for (int32_t i = 0; i < frames; ++i) {
            left[i] = 0.4f * std::sin(0.037f * i) + 0.1f * std::sin(0.23f * i);
            right[i] = 0.4f * std::sin(0.041f * i + 1.0f);
        }
    }
    std::vector<float> left, right, outLeft, outRight;
};

double seconds(std::chrono::steady_clock::time_point from)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

void Process(benchmark::State& state, const LoadedPlugin* library)
{
    constexpr int32_t kBlock = 512;
    Instance fx(*library);
    fx.set(0, state.range(0) == 16 ? 1.0f : 0.0f);
    fx.set(1, 0.8f);
    fx.process(kBlock);  // applies the settings once
    for (auto _ : state) {
        fx.process(kBlock);
        benchmark::ClobberMemory();
    }
    // Seconds per sample and channel, shown in ns.
    state.counters["per_sample_channel"] = benchmark::Counter(double(state.iterations()) * kBlock * 2.0,
                                                              benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// Times `blocks` blocks of `frames` frames, each after `before(i)`; reports
// the median and the worst in per cent of the block's duration, and the same
// for plain blocks of the same instance for comparison. The worst of a few
// hundred blocks on a shared machine includes its scheduling spikes.
template <class Before>
void blockTimes(benchmark::State& state, const LoadedPlugin* library, Before before)
{
    const int32_t frames = static_cast<int32_t>(state.range(0));
    const double duration = frames / kRate;
    Instance fx(*library);
    fx.process(frames);
    constexpr int32_t kBlocks = 300;
    std::vector<double> changed, plain;
    for (auto _ : state) {
        changed.clear();
        plain.clear();
        for (int32_t i = 0; i < kBlocks; ++i) {
            // Interleaved: a changed block, then a plain one.
            before(fx, i);
            auto start = std::chrono::steady_clock::now();
            fx.process(frames);
            changed.push_back(100.0 * seconds(start) / duration);
            start = std::chrono::steady_clock::now();
            fx.process(frames);
            plain.push_back(100.0 * seconds(start) / duration);
        }
    }
    auto median = [](std::vector<double> v) {
        std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
        return v[v.size() / 2];
    };
    state.counters["median_pct"] = median(changed);
    state.counters["worst_pct"] = *std::max_element(changed.begin(), changed.end());
    state.counters["plain_median_pct"] = median(plain);
    state.counters["plain_worst_pct"] = *std::max_element(plain.begin(), plain.end());
}

void TubeChange(benchmark::State& state, const LoadedPlugin* library)
{
    // Every block a different tube, supply or capacitor: what a user
    // clicking through the radio buttons during playback does.
    blockTimes(state, library, [](Instance& fx, int32_t i) {
        fx.set(3 + i % 3, static_cast<float>((i / 3) % 3) * 0.5f);
    });
}

void OversmplResent(benchmark::State& state, const LoadedPlugin* library)
{
    // A host that re-sends its automation before every block.
    blockTimes(state, library, [](Instance& fx, int32_t) { fx.set(0, 0.0f); });
}

void Resume(benchmark::State& state, const LoadedPlugin* library)
{
    // A rate no instance of this process has run at: the first resume makes
    // the tables of every setting, later instances' find them ready.
    static float rate = 50000.0f;
    rate += 1.0f;
    double first = 0.0;
    std::vector<double> later;
    for (auto _ : state) {
        Instance a(*library, rate, false);
        auto start = std::chrono::steady_clock::now();
        a.call(effMainsChanged, 0, 1);
        first = seconds(start);
        for (int32_t i = 0; i < 21; ++i) {
            Instance b(*library, rate, false);
            start = std::chrono::steady_clock::now();
            b.call(effMainsChanged, 0, 1);
            later.push_back(seconds(start));
        }
    }
    std::nth_element(later.begin(), later.begin() + later.size() / 2, later.end());
    state.counters["first_ms"] = first * 1e3;
    state.counters["later_median_ms"] = later[later.size() / 2] * 1e3;
}

void TableCache(benchmark::State& state)
{
    for (auto _ : state) tableCache::fill(kRate);
    state.counters["bytes_per_rate"] = static_cast<double>(tableCache::bytes());
    state.counters["bytes_per_set"] = static_cast<double>(sizeof(TriodeTables));
}

void Prepare(benchmark::State& state)
{
    StageSettings stage;
    stage.triode = static_cast<int32_t>(state.range(0));
    stage.oversampling = static_cast<int32_t>(state.range(1));
    stage.sampleRate = kRate;
    stage.supplyVoltage = 350.0;
    stage.cathodeCapacitor = 1e-6;
    auto tables = std::make_unique<TriodeTables>();
    const FloatModeGuard audioThreadMode;
    for (auto _ : state) {
        tables->build(stage);
        benchmark::DoNotOptimize(tables->quiescentPlate);
    }
}

void registerAll()
{
    builds().push_back({"this", std::make_unique<LoadedPlugin>(Z5R_PLUGIN_FILE)});
    if (const char* baseline = std::getenv("Z5R_BASELINE_PLUGIN"))
        builds().push_back({"baseline", std::make_unique<LoadedPlugin>(baseline)});
    for (const Build& b : builds()) {
        if (!b.library->vstPluginMain) {
            std::fprintf(stderr, "cannot load the %s plug-in\n", b.name.c_str());
            std::exit(1);
        }
    }
    // Interleaved by figure, so that both builds meet the same machine.
    for (const Build& b : builds())
        benchmark::RegisterBenchmark(("Process/" + b.name).c_str(), Process, b.library.get())->Arg(1)->Arg(16)->ArgName(
            "factor");
    for (const Build& b : builds())
        benchmark::RegisterBenchmark(("TubeChange/" + b.name).c_str(), TubeChange, b.library.get())
            ->Arg(32)
            ->Arg(64)
            ->ArgName("frames")
            ->Iterations(1);
    for (const Build& b : builds())
        benchmark::RegisterBenchmark(("OversmplResent/" + b.name).c_str(), OversmplResent, b.library.get())
            ->Arg(32)
            ->Arg(64)
            ->ArgName("frames")
            ->Iterations(1);
    for (const Build& b : builds())
        benchmark::RegisterBenchmark(("Resume/" + b.name).c_str(), Resume, b.library.get())
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("TableCache", TableCache)->Iterations(1)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Prepare", Prepare)
        ->ArgsProduct({{0, 1, 2}, {1, 16}})
        ->ArgNames({"triode", "factor"})
        ->Unit(benchmark::kMillisecond);
}

}  // namespace

int main(int argc, char** argv)
{
    registerAll();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
