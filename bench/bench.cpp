// Speed figures of the plug-in, measured through its VST 2.4 record as a
// host drives it. Figures only: nothing here passes or fails.
//
//   z5r_bench                                    the plug-in of this build
//   Z5R_BASELINE_PLUGIN=old/KorvaneZ5R.so z5r_bench
//                                                the same figures for another
//                                                build too, interleaved, in one run
//   tools/bench-baseline.sh [REVISION]           builds REVISION and does the above
//   Z5R_MORE_PLUGINS="a=one.so b=two.so" z5r_bench
//                                                further builds beside them
//
// Figures:
//   Process/<build>/factor:N        ns per sample per channel (512-frame blocks)
//   VsFloor                         the stage's loop-carried chain alone (bench/ChainFloor.h):
//                                   the least a sample per channel can take at 1x and at
//                                   16x on this machine; each build's 1x and 16x, in ns and
//                                   as a ratio to that floor; medians of interleaved runs
//                                   (also printed as a table), over the rounds that had
//                                   the core to themselves and, apart, over those that
//                                   shared it with another hardware thread's work
//   TubeChange/<build>/frames:N     blocks that carry a tube change: median and
//                                   worst time as a share of the block's duration
//   OversmplResent/<build>/frames:N the same with Oversmpl re-sent before every block
//   Resume/<build>                  effMainsChanged(1): the first instance at a new
//                                   rate and a later one, milliseconds
//   TableCache                      memory of the ready tables of one rate
//   Prepare/triode:T/factor:N       one set of tables, from the Newton solves
//   StartUp/<build>                 a fresh copy of a library (ours, the baseline,
//                                   and Debian's peers): instantiate, rate, resume
//                                   and the first 32-frame block, for the first
//                                   instance and later ones, ms; the same after a
//                                   rate change (suspend, rate, resume, block);
//                                   the process's memory growth per instance
//   WarmUp/<build>/resumed:R        a fresh library at a fresh rate, resumed (1) or
//                                   given the rate without suspend and resume (0):
//                                   32-frame blocks, each with a new tube setting,
//                                   until every set of the rate is ready; that time,
//                                   and the worst block against its deadline (wall
//                                   and thread CPU time), beside the worst CPU time
//                                   of as many such blocks once every set is ready
//   Lv2Process/<build>/factor:N     the LV2 build as a host runs it (scope port
//                                   connected, no editor), ns per sample and
//                                   channel: compare with Process/<build>
#include "ChainFloor.h"
#include "LoadedPlugin.h"
#include "dsp/FloatMode.h"
#include "dsp/TriodeTables.h"
#include "plugin/vst2abi.h"

#include <benchmark/benchmark.h>
#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/urid/urid.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <dlfcn.h>
#include <time.h>
#include <unistd.h>

namespace {

constexpr double kRate = 48000.0;

intptr_t VST_CALL host(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float)
{
    return opcode == audioMasterVersion ? 2400 : 0;
}

// effVendorSpecific code of our build: whether every table set is ready,
// never waiting ('Z5Rr').
constexpr int32_t kVendorTablesReady = 0x5A355272;

struct Build {
    std::string name;
    std::unique_ptr<LoadedPlugin> library;
    std::string path;
    std::string lv2Path;
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
        : effect((library.vstPluginMain ? library.vstPluginMain : library.main)(host))
    {
        call(effSetSampleRate, 0, 0, rate);
        call(effSetBlockSize, 0, 4096);
        if (resume) call(effMainsChanged, 0, 1);
    }
    ~Instance() { call(effClose); }
    bool ok() const { return effect != nullptr; }
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    intptr_t call(int32_t opcode, int32_t index = 0, intptr_t value = 0, float opt = 0.0f)
    {
        return effect ? effect->dispatcher(effect, opcode, index, value, nullptr, opt) : 0;
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

double median(std::vector<double> v)
{
    if (v.empty()) return 0.0;
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
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

// A control for the core's other hardware thread: a chain of dependent
// multiply-adds with independent ones between its links, in registers, no
// memory, shaped like the stage (a long chain, and work beside it that only
// hides while the processor looks far enough ahead). A virtual machine's two
// processors may be two threads of one core, and whatever the host runs on
// the other one takes a share of the core's units and halves the buffers
// that let it look ahead; the control then slows, as the builds do, while
// the floor's chain alone hardly notices.
[[gnu::noinline]] double coreShareControl(int32_t links)
{
    using Pair = double __attribute__((vector_size(16)));
    Pair chain{1.0, 1.0};
    Pair beside[8];
    for (int32_t i = 0; i < 8; ++i) beside[i] = Pair{1.0 + i * 1e-9, 1.0};
    const Pair scale{0.999999999, 0.999999999}, shift{1e-9, 1e-9};
    for (int32_t k = 0; k < links; ++k) {
        for (int32_t i = 0; i < 8; ++i) {
            chain = chain * scale + shift;
            __asm__("" : "+x"(chain));  // stays in a register, unfused
        }
        // Four rounds beside each link: about as much as hides behind it
        // with the core alone, on this machine.
        for (int32_t i = 0; i < 4; ++i) {
            for (Pair& v : beside) {
                v = v * scale + shift;
                __asm__("" : "+x"(v));
            }
        }
    }
    double sum = chain[0];
    for (const Pair& v : beside) sum += v[0] + v[1];
    return sum;
}

// Every build against the floor: the chain alone over as many steps as a
// 16x block takes, and for each build a 1x instance over sixteen blocks and
// a 16x instance over one, round after round, so that all meet the same
// machine; medians of the rounds. A control beside them in each round tells
// rounds that had the core to themselves from rounds that shared it; each
// kind gets its own medians.
void VsFloor(benchmark::State& state)
{
    constexpr int32_t kBlock = 512;
    constexpr int32_t kSteps = kBlock * 16;
    constexpr int32_t kRounds = 400;
    StageSettings stage;
    stage.triode = 0;
    stage.oversampling = 16;
    stage.sampleRate = kRate;
    stage.supplyVoltage = 350.0;
    stage.cathodeCapacitor = 1e-6;
    auto tables = std::make_unique<TriodeTables>();
    std::vector<double> inputs(2 * kSteps);
    {
        const FloatModeGuard audioThreadMode;
        tables->build(stage);
    }
    // The benchmark's guitar-like signal at 16x, some volts at the grid.
    for (int32_t i = 0; i < kSteps; ++i) {
        const float t = static_cast<float>(i) / 16.0f;
        inputs[2 * i] = 20.0 * (0.4 * std::sin(0.037 * t) + 0.1 * std::sin(0.23 * t));
        inputs[2 * i + 1] = 20.0 * 0.4 * std::sin(0.041 * t + 1.0);
    }
    const auto* pairs = reinterpret_cast<const double(*)[2]>(inputs.data());
    double cathode[2] = {tables->restingCathode, tables->restingCathode};
    {
        const FloatModeGuard audioThreadMode;
        if (!chainFloor::matchesStage(*tables, pairs, kSteps, cathode)) {
            state.SkipWithError("the floor's kernel left the table or differs from the stage");
            return;
        }
    }
    // One instance per build and factor, its tables ready.
    struct Runs {
        std::unique_ptr<Instance> once, sixteen;
        std::vector<double> x1, x16;
    };
    std::vector<Runs> runs;
    for (const Build& b : builds()) {
        Runs r{std::make_unique<Instance>(*b.library), std::make_unique<Instance>(*b.library), {}, {}};
        r.once->set(0, 0.0f);
        r.sixteen->set(0, 1.0f);
        // A build from before the background builder never says its sets
        // are ready (it made them at resume): a second's wait for it.
        const double wait = b.name == "this" ? 5.0 : 1.0;
        for (Instance* fx : {r.once.get(), r.sixteen.get()}) {
            fx->set(1, 0.8f);
            const auto start = std::chrono::steady_clock::now();
            do fx->process(kBlock);
            while (fx->call(effVendorSpecific, kVendorTablesReady) != 1 && seconds(start) < wait);
            fx->process(kBlock);
        }
        runs.push_back(std::move(r));
    }
    std::vector<double> floorStep, control;
    constexpr int32_t kControlLinks = 2000;
    double controlSum = 0.0;
    for (auto _ : state) {
        for (int32_t round = 0; round < kRounds; ++round) {
            auto start = std::chrono::steady_clock::now();
            controlSum += coreShareControl(kControlLinks);
            control.push_back(seconds(start));
            start = std::chrono::steady_clock::now();
            {
                const FloatModeGuard audioThreadMode;
                chainFloor::run(*tables, pairs, kSteps, cathode);
            }
            floorStep.push_back(seconds(start) / kSteps);
            for (Runs& r : runs) {
                start = std::chrono::steady_clock::now();
                for (int32_t b = 0; b < 16; ++b) r.once->process(kBlock);
                r.x1.push_back(seconds(start) / (16.0 * kBlock * 2));
                start = std::chrono::steady_clock::now();
                r.sixteen->process(kBlock);
                r.x16.push_back(seconds(start) / (kBlock * 2));
            }
        }
    }
    benchmark::DoNotOptimize(cathode);
    benchmark::DoNotOptimize(controlSum);
    // A round whose control ran within 15 % of the fastest had the core to
    // itself; the control slows by a third or more while the other thread
    // works. (A run that shared the core throughout shows as alone, its
    // control slower than in other runs.)
    const double quickest = *std::min_element(control.begin(), control.end());
    auto sharedRound = [&](double controlTime) { return controlTime > 1.15 * quickest; };
    const size_t alone = control.size() - std::count_if(control.begin(), control.end(), sharedRound);
    auto table = [&](bool shared) {
        auto pick = [&](const std::vector<double>& all) {
            std::vector<double> some;
            for (size_t r = 0; r < all.size(); ++r)
                if (sharedRound(control[r]) == shared) some.push_back(all[r]);
            return some;
        };
        const std::vector<double> steps = pick(floorStep);
        // A few rounds are no state of the core (an interrupt, a moment).
        if (steps.size() * 20 < control.size()) return;
        const std::string kind = shared ? "shared" : "alone";
        const double step = median(steps);
        // A frame is one step at 1x and sixteen at 16x, for two channels at once.
        const double floor1 = step / 2, floor16 = step * 16 / 2;
        std::printf("%-10s %10s %10s %10s %10s   core %s: %zu of %zu rounds, control %.2f ns a link\n", "VsFloor",
                    "1x ns", "1x ratio", "16x ns", "16x ratio", kind.c_str(), steps.size(), control.size(),
                    median(pick(control)) / kControlLinks * 1e9);
        std::printf("%-10s %10.3f %10.3f %10.3f %10.3f\n", "floor", floor1 * 1e9, 1.0, floor16 * 1e9, 1.0);
        // The counters carry the rounds alone; a run with too few of those
        // carries the shared ones.
        const bool counters = !shared || alone * 20 < control.size();
        if (counters) {
            state.counters["floor_1x_ns"] = floor1 * 1e9;
            state.counters["floor_16x_ns"] = floor16 * 1e9;
        }
        for (size_t i = 0; i < runs.size(); ++i) {
            const std::string& name = builds()[i].name;
            const double x1 = median(pick(runs[i].x1)), x16 = median(pick(runs[i].x16));
            if (counters) {
                state.counters[name + "_1x_ns"] = x1 * 1e9;
                state.counters[name + "_1x_ratio"] = x1 / floor1;
                state.counters[name + "_16x_ns"] = x16 * 1e9;
                state.counters[name + "_16x_ratio"] = x16 / floor16;
            }
            std::printf("%-10s %10.3f %10.3f %10.3f %10.3f\n", name.c_str(), x1 * 1e9, x1 / floor1, x16 * 1e9,
                        x16 / floor16);
        }
    };
    table(false);
    table(true);
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

// --- start-up, warm-up, memory ------------------------------------------------

size_t residentBytes()
{
    std::ifstream statm("/proc/self/statm");
    size_t pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

// A private copy of a library, loaded afresh: its first instance is the
// first of its process, its tables cache empty.
std::unique_ptr<LoadedPlugin> freshCopy(const std::string& path)
{
    static int32_t copies = 0;
    const std::string copy = "/tmp/z5r-bench-" + std::to_string(getpid()) + "-" + std::to_string(copies++) + ".so";
    {
        std::ifstream from(path, std::ios::binary);
        std::ofstream to(copy, std::ios::binary);
        to << from.rdbuf();
    }
    auto library = std::make_unique<LoadedPlugin>(copy.c_str());
    unlink(copy.c_str());  // the mapping stays
    return library;
}

// CPU time of the calling thread: what a block costs, apart from the time
// a busy machine keeps the thread waiting.
double threadSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

// Instantiate, rate, block size, resume and one block of 32 frames.
std::unique_ptr<Instance> startOne(const LoadedPlugin& library, float rate, double& ms, double* cpuMs = nullptr)
{
    const auto start = std::chrono::steady_clock::now();
    const double cpu = threadSeconds();
    auto fx = std::make_unique<Instance>(library, rate);
    fx->process(32);
    ms = seconds(start) * 1e3;
    if (cpuMs) *cpuMs = (threadSeconds() - cpu) * 1e3;
    return fx;
}

void StartUp(benchmark::State& state, const std::string* path)
{
    constexpr int32_t kLater = 8;
    double first = 0.0, firstCpu = 0.0, rateFirst = 0.0, rateFirstCpu = 0.0, rateLater = 0.0, firstBytes = 0.0,
           laterBytes = 0.0;
    std::vector<double> later;
    for (auto _ : state) {
        auto library = freshCopy(*path);
        if (!library->vstPluginMain && !library->main) {
            state.SkipWithError("cannot load");
            return;
        }
        std::vector<std::unique_ptr<Instance>> running;
        const size_t before = residentBytes();
        running.push_back(startOne(*library, static_cast<float>(kRate), first, &firstCpu));
        const size_t afterFirst = residentBytes();
        for (int32_t i = 0; i < kLater; ++i) {
            double ms = 0.0;
            running.push_back(startOne(*library, static_cast<float>(kRate), ms));
            later.push_back(ms);
        }
        firstBytes = static_cast<double>(afterFirst - before);
        laterBytes = static_cast<double>(residentBytes() - afterFirst) / kLater;
        // A new rate for a running instance, then a new instance at it.
        auto start = std::chrono::steady_clock::now();
        const double cpu = threadSeconds();
        running[0]->call(effMainsChanged, 0, 0);
        running[0]->call(effSetSampleRate, 0, 0, 44100.0f);
        running[0]->call(effMainsChanged, 0, 1);
        running[0]->process(32);
        rateFirst = seconds(start) * 1e3;
        rateFirstCpu = (threadSeconds() - cpu) * 1e3;
        startOne(*library, 44100.0f, rateLater);
    }
    state.counters["first_ms"] = first;
    state.counters["first_cpu_ms"] = firstCpu;
    state.counters["rate_change_cpu_ms"] = rateFirstCpu;
    state.counters["later_median_ms"] = median(later);
    state.counters["rate_change_ms"] = rateFirst;
    state.counters["at_new_rate_later_ms"] = rateLater;
    state.counters["first_instance_KiB"] = firstBytes / 1024.0;
    state.counters["further_instance_KiB"] = laterBytes / 1024.0;
}

void WarmUp(benchmark::State& state, const Build* build)
{
    const std::string* path = &build->path;
    // Only this build makes its sets in the background; an earlier one made
    // every set at resume.
    const bool background = build->name == "this";
    const bool resumed = state.range(0) != 0;
    constexpr int32_t kFrames = 32;
    const double deadline = kFrames / kRate;
    double readyMs = 0.0, worstPct = 0.0, medianPct = 0.0, resumeMs = 0.0, worstCpuPct = 0.0;
    double controlWorstCpuPct = 0.0;
    int32_t blocks = 0;
    for (auto _ : state) {
        auto library = freshCopy(*path);
        Instance fx(*library, static_cast<float>(kRate), false);
        const auto start = std::chrono::steady_clock::now();
        if (resumed) fx.call(effMainsChanged, 0, 1);
        else fx.call(effSetSampleRate, 0, 0, static_cast<float>(kRate) + 1.0f);
        resumeMs = seconds(start) * 1e3;
        std::vector<double> times, cpuTimes;
        bool ready = !background || fx.call(effVendorSpecific, kVendorTablesReady) == 1;
        readyMs = seconds(start) * 1e3;
        // Block i: a new tube setting (and every ninth a new factor), then
        // the block; its thread CPU time and wall time as shares of the
        // deadline.
        double wallPct = 0.0;
        auto block = [&](int32_t i) {
            fx.set(3 + i % 3, static_cast<float>((i / 3) % 3) * 0.5f);
            fx.set(0, (i / 9) % 2 ? 1.0f : 0.0f);
            const auto began = std::chrono::steady_clock::now();
            const double cpu = threadSeconds();
            fx.process(kFrames);
            const double cpuPct = 100.0 * (threadSeconds() - cpu) / deadline;
            wallPct = 100.0 * seconds(began) / deadline;
            return cpuPct;
        };
        for (int32_t i = 0; (!ready || i < 100) && seconds(start) < 5.0; ++i) {
            cpuTimes.push_back(block(i));
            times.push_back(wallPct);
            if (!ready && fx.call(effVendorSpecific, kVendorTablesReady) == 1) {
                ready = true;
                readyMs = seconds(start) * 1e3;
            }
        }
        // The same blocks again once every set is ready: on a virtual
        // machine a block now and then is charged an interrupt or a stolen
        // slice, and this shows how much of the warm-up's worst is that.
        controlWorstCpuPct = 0.0;
        for (int32_t i = 0; i < static_cast<int32_t>(cpuTimes.size()); ++i)
            controlWorstCpuPct = std::max(controlWorstCpuPct, block(i));
        blocks = static_cast<int32_t>(times.size());
        worstPct = *std::max_element(times.begin(), times.end());
        worstCpuPct = *std::max_element(cpuTimes.begin(), cpuTimes.end());
        medianPct = median(times);
    }
    state.counters["resume_ms"] = resumeMs;
    state.counters["all_sets_ready_ms"] = readyMs;
    state.counters["blocks"] = blocks;
    state.counters["median_pct"] = medianPct;
    state.counters["worst_pct"] = worstPct;
    state.counters["worst_cpu_pct"] = worstCpuPct;
    state.counters["ready_worst_cpu_pct"] = controlWorstCpuPct;
}

// --- the LV2 build, as a host runs it ---------------------------------------------

class Lv2Instance {
public:
    Lv2Instance(const std::string& path, int32_t factor)
    {
        void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        auto entry = module ? reinterpret_cast<LV2_Descriptor_Function>(dlsym(module, "lv2_descriptor")) : nullptr;
        descriptor = entry ? entry(0) : nullptr;
        if (!descriptor) return;
        const LV2_Feature mapFeature{LV2_URID__map, &map};
        const LV2_Feature* features[] = {&mapFeature, nullptr};
        handle = descriptor->instantiate(descriptor, kRate, "", features);
        if (!handle) return;
        // Oversampling, gain, level, triode, voltage, cap, normalize.
        const float values[7] = {factor == 16 ? 1.0f : 0.0f, 26.4f, 0.0f, 0.0f, 150.0f, 0.47f, 0.0f};
        for (uint32_t i = 0; i < 7; ++i) {
            controls[i] = values[i];
            descriptor->connect_port(handle, i, &controls[i]);
        }
        descriptor->connect_port(handle, 11, &latency);
        descriptor->connect_port(handle, 12, scope.data());
        descriptor->activate(handle);
    }
    ~Lv2Instance()
    {
        if (!handle) return;
        descriptor->deactivate(handle);
        descriptor->cleanup(handle);
    }
    bool ok() const { return handle != nullptr; }
    void process(int32_t frames)
    {
        if (static_cast<int32_t>(left.size()) < frames) {
            left.resize(frames);
            right.resize(frames);
            outLeft.resize(frames);
            outRight.resize(frames);
            for (int32_t i = 0; i < frames; ++i) {
                left[i] = 0.4f * std::sin(0.037f * i) + 0.1f * std::sin(0.23f * i);
                right[i] = 0.4f * std::sin(0.041f * i + 1.0f);
            }
        }
        descriptor->connect_port(handle, 7, left.data());
        descriptor->connect_port(handle, 8, right.data());
        descriptor->connect_port(handle, 9, outLeft.data());
        descriptor->connect_port(handle, 10, outRight.data());
        // As hosts do: the room the plug-in may fill.
        auto* atom = reinterpret_cast<LV2_Atom*>(scope.data());
        atom->size = static_cast<uint32_t>(scope.size() * sizeof(uint64_t) - sizeof(LV2_Atom));
        atom->type = map.map(map.handle, LV2_ATOM__Chunk);
        descriptor->run(handle, static_cast<uint32_t>(frames));
    }

private:
    static LV2_URID mapUri(LV2_URID_Map_Handle, const char* uri)
    {
        static std::mutex lock;
        static std::map<std::string, LV2_URID> ids;
        std::lock_guard<std::mutex> hold(lock);
        return ids.emplace(uri, static_cast<LV2_URID>(ids.size() + 1)).first->second;
    }
    LV2_URID_Map map{nullptr, mapUri};
    const LV2_Descriptor* descriptor = nullptr;
    LV2_Handle handle = nullptr;
    float controls[7] = {};
    float latency = 0.0f;
    std::vector<uint64_t> scope = std::vector<uint64_t>(9216 / 8, 0);
    std::vector<float> left, right, outLeft, outRight;
};

void Lv2Process(benchmark::State& state, const std::string* path)
{
    constexpr int32_t kBlock = 512;
    Lv2Instance fx(*path, static_cast<int32_t>(state.range(0)));
    if (!fx.ok()) {
        state.SkipWithError("cannot load the LV2 build");
        return;
    }
    fx.process(kBlock);
    for (auto _ : state) {
        fx.process(kBlock);
        benchmark::ClobberMemory();
    }
    state.counters["per_sample_channel"] = benchmark::Counter(double(state.iterations()) * kBlock * 2.0,
                                                              benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void registerAll()
{
    char here[4096] = {};
    const std::string cwd = getcwd(here, sizeof(here)) ? here : ".";
    builds().push_back({"this", std::make_unique<LoadedPlugin>(Z5R_PLUGIN_FILE), cwd + "/" Z5R_PLUGIN_FILE,
                        Z5R_LV2_DSP_FILE});
    if (const char* baseline = std::getenv("Z5R_BASELINE_PLUGIN")) {
        // The baseline's LV2 build, where it was built beside it.
        std::string dir = baseline;
        dir = dir.substr(0, dir.find_last_of('/') + 1);
        builds().push_back(
            {"baseline", std::make_unique<LoadedPlugin>(baseline), baseline, dir + "KorvaneZ5R.lv2/KorvaneZ5R_dsp.so"});
    }
    // More builds to set side by side, each as name=path, separated by
    // spaces (for trying variants of the audio path against each other).
    if (const char* more = std::getenv("Z5R_MORE_PLUGINS")) {
        std::string list = more;
        for (size_t at = 0; at < list.size();) {
            size_t end = list.find(' ', at);
            if (end == std::string::npos) end = list.size();
            const std::string item = list.substr(at, end - at);
            const size_t equals = item.find('=');
            if (equals != std::string::npos) {
                const std::string path = item.substr(equals + 1);
                builds().push_back(
                    {item.substr(0, equals), std::make_unique<LoadedPlugin>(path.c_str()), path, std::string()});
            }
            at = end + 1;
        }
    }
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
    benchmark::RegisterBenchmark("VsFloor", VsFloor)->Iterations(1)->Unit(benchmark::kMillisecond);
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
    // Debian's peers, measured the same way.
    static const std::string peers[][2] = {{"ZamTube", "/usr/lib/vst/ZamTube-vst.so"},
                                           {"ZamAutoSat", "/usr/lib/vst/ZamAutoSat-vst.so"}};
    for (const Build& b : builds())
        benchmark::RegisterBenchmark(("StartUp/" + b.name).c_str(), StartUp, &b.path)
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
    for (const auto& peer : peers)
        if (access(peer[1].c_str(), R_OK) == 0)
            benchmark::RegisterBenchmark(("StartUp/" + peer[0]).c_str(), StartUp, &peer[1])
                ->Iterations(1)
                ->Unit(benchmark::kMillisecond);
    for (const Build& b : builds())
        benchmark::RegisterBenchmark(("WarmUp/" + b.name).c_str(), WarmUp, &b)
            ->Arg(1)
            ->Arg(0)
            ->ArgName("resumed")
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
    for (const Build& b : builds())
        if (access(b.lv2Path.c_str(), R_OK) == 0)
            benchmark::RegisterBenchmark(("Lv2Process/" + b.name).c_str(), Lv2Process, &b.lv2Path)
                ->Arg(1)
                ->Arg(16)
                ->ArgName("factor");
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
