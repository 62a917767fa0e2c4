// Real-time timing: how long processReplacing takes for a block of 64
// frames at 48 kHz (1.333 ms of audio), against that duration, under three
// kinds of parameter traffic: none; every parameter changed before every
// block (a host replaying dense automation, or a user sweeping a preset
// browser); and the same values sent again before every block (hosts that
// send all automation every block whether it moved or not). A plug-in that
// does expensive work whenever a value arrives shows in the last two.
//
// The judged figure must not depend on how busy the machine is. Time is the
// audio thread's CPU time where the system keeps it (what the plug-in costs,
// not what other threads took); even so, on a busy shared machine a block
// now and then costs a millisecond it did not spend on its own work (cold
// caches after other work, page faults, time a virtual machine lost). So:
// - the kinds run interleaved block by block, one instance each, so that a
//   busy moment falls on all of them alike;
// - each of several runs of a few hundred blocks gives its 99th percentile
//   (the third-slowest of 256 blocks), and the judged figure is the lowest of
//   them: a fault that makes even one block in a hundred slow does so in
//   every run, while a busy machine disturbs some runs, not all;
// - the traffic's cost is also the ratio of its median block to the median
//   of the quiet blocks beside it, reported for every storm.
// The median block and the single worst block are reported beside them.
#include "Common.h"

#include <algorithm>
#include <cmath>

namespace validate {

namespace {

constexpr double kRate = 48000.0;
constexpr int32_t kFrames = 64;
constexpr double kBlockSeconds = kFrames / kRate;
// A run stops early after this much wall time, so that a plug-in that
// rebuilds for 100 ms on every change still finishes (with fewer blocks).
constexpr double kRunBudgetSeconds = 2.0;
constexpr int32_t kFewestBlocks = 16;

enum class Traffic { Quiet, EveryParameter, SameValues };

struct Kind {
    const char* name;
    const char* what;
    Traffic traffic;
};

const Kind kKinds[] = {
    {"timing.quiet", "no parameter calls", Traffic::Quiet},
    {"timing.storm-every-parameter", "every parameter changed before every block", Traffic::EveryParameter},
    {"timing.storm-same-values", "the same values re-sent before every block", Traffic::SameValues},
};

// The value at rank `fraction` of the sorted times (0.99: the 99th percentile).
double percentile(std::vector<double> times, double fraction)
{
    if (times.empty()) return 0.0;
    std::sort(times.begin(), times.end());
    const size_t rank = static_cast<size_t>(std::ceil(fraction * static_cast<double>(times.size())));
    return times[std::min(times.size() - 1, rank > 0 ? rank - 1 : 0)];
}

struct Subject {
    std::unique_ptr<Instance> instance;
    std::unique_ptr<AudioBuffers> buffers;
    const Kind* kind = nullptr;
    std::vector<double> runPercentiles;  // CPU
    std::vector<double> wallPercentiles;
    std::vector<double> all;  // every block's CPU time
    double worst = 0.0;
    int32_t shortRuns = 0;
    int64_t position = 0;
    int64_t blocks = 0;
};

std::string ms(double seconds) { return format("%.3f ms", seconds * 1e3); }

}  // namespace

void timingGroup(Runner& runner)
{
    const Options& options = runner.options;
    auto module = loadForGroup(runner, "timing");
    if (!module) return;
    const int32_t runs = options.quick ? 5 : 9;
    const int32_t perRun = options.quick ? 128 : 256;

    // Two sets of values, each parameter a half apart between them, so that
    // every value changes each time, switches and three-way choices included.
    std::vector<float> a, b;
    {
        Instance probe(*module);
        Rng rng(runner.rng.next());
        for (int32_t i = 0; i < probe.params(); ++i) {
            a.push_back(static_cast<float>(rng.unit()));
            b.push_back(std::fmod(a.back() + 0.5f, 1.0f));
        }
    }
    auto setAll = [](Instance& instance, const std::vector<float>& values) {
        for (int32_t i = 0; i < static_cast<int32_t>(values.size()); ++i) instance.setParameter(i, values[static_cast<size_t>(i)]);
    };

    std::vector<Subject> subjects;
    bool made = false;
    runner.setup("timing.setup", [&](Check& check) {
        for (const Kind& kind : kKinds) {
            Subject s;
            s.kind = &kind;
            s.instance = std::make_unique<Instance>(*module);
            setAll(*s.instance, a);
            s.instance->start(kRate, kFrames);
            s.buffers = std::make_unique<AudioBuffers>(s.instance->inputs(), s.instance->outputs(), kFrames);
            subjects.push_back(std::move(s));
        }
        check.note("%zu parameters, %d runs of up to %d blocks of %d frames at %.0f Hz (%.3f ms each)", a.size(), runs,
                   perRun, kFrames, kRate, kBlockSeconds * 1e3);
        made = true;
    });
    if (!made) return;

    // One block under the subject's traffic; its CPU and wall time.
    auto block = [&](Subject& s, int64_t n) {
        Instance& instance = *s.instance;
        if (s.kind->traffic == Traffic::EveryParameter) setAll(instance, n % 2 ? b : a);
        if (s.kind->traffic == Traffic::SameValues) setAll(instance, a);
        fillSignal(*s.buffers, s.position, kFrames, kRate);
        s.position += kFrames;
        setActivity("processReplacing under %s", s.kind->what);
        const double wall0 = wallSeconds();
        const double cpu0 = threadSeconds();
        instance.process(s.buffers->inputs(), s.buffers->outputs(), kFrames);
        const double cpu = threadSeconds() - cpu0;
        const double wall = wallSeconds() - wall0;
        setActivity("%s", "");
        return std::pair<double, double>(cpu, wall);
    };

    for (Subject& s : subjects)
        for (int64_t n = 0; n < 32; ++n) block(s, n);  // warm up
    for (int32_t run = 0; run < runs; ++run) {
        std::vector<std::vector<double>> cpu(subjects.size()), wall(subjects.size());
        const double start = wallSeconds();
        for (int32_t n = 0; n < perRun; ++n) {
            // Block by block, the kinds taking turns leading, so none always follows another.
            for (size_t k = 0; k < subjects.size(); ++k) {
                const size_t which = (k + static_cast<size_t>(n + run)) % subjects.size();
                Subject& s = subjects[which];
                const auto [c, w] = block(s, s.blocks++);
                cpu[which].push_back(c);
                wall[which].push_back(w);
                s.worst = std::max(s.worst, c);
            }
            if (n + 1 >= kFewestBlocks && wallSeconds() - start > kRunBudgetSeconds) {
                for (Subject& s : subjects) ++s.shortRuns;
                break;
            }
        }
        for (size_t k = 0; k < subjects.size(); ++k) {
            Subject& s = subjects[k];
            s.runPercentiles.push_back(percentile(cpu[k], 0.99));
            s.wallPercentiles.push_back(percentile(wall[k], 0.99));
            s.all.insert(s.all.end(), cpu[k].begin(), cpu[k].end());
        }
    }
    const double quietMedian = median(subjects.front().all);  // the first kind is the quiet one

    for (Subject& s : subjects) {
        runner.run(s.kind->name, [&](Check& check) {
            if (s.kind->traffic != Traffic::Quiet && a.empty()) check.skip("the plug-in has no parameters");
            const double judged = *std::min_element(s.runPercentiles.begin(), s.runPercentiles.end());
            const double share = judged / kBlockSeconds;
            const double blockMedian = median(s.all);
            const std::string ratio =
                s.kind->traffic == Traffic::Quiet || quietMedian <= 0.0
                    ? std::string()
                    : format(", %.2f times the median quiet block beside it", blockMedian / quietMedian);
            check.note("%s: %s judged (lowest of %zu runs' 99th percentiles, %.0f %% of the block; highest %s), "
                       "median block %s%s, worst block %s, wall-clock 99th percentile %s%s",
                       s.kind->what, ms(judged).c_str(), s.runPercentiles.size(), share * 100.0,
                       ms(*std::max_element(s.runPercentiles.begin(), s.runPercentiles.end())).c_str(),
                       ms(blockMedian).c_str(), ratio.c_str(), ms(s.worst).c_str(),
                       ms(median(s.wallPercentiles)).c_str(),
                       s.shortRuns ? format(", %d runs cut short after %.0f s", s.shortRuns, kRunBudgetSeconds).c_str() : "");
            if (options.blockTimeLimit > 0.0)
                check.expect(share <= options.blockTimeLimit,
                             "%s: blocks take %s (lowest of %zu runs' 99th percentiles), over %.0f %% of the block's "
                             "%s; median block %s%s, worst %s",
                             s.kind->what, ms(judged).c_str(), s.runPercentiles.size(), options.blockTimeLimit * 100.0,
                             ms(kBlockSeconds).c_str(), ms(blockMedian).c_str(), ratio.c_str(), ms(s.worst).c_str());
        });
    }
}

}  // namespace validate
