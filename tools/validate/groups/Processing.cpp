// The processing grid: sample rates x block sizes (fixed, and random up to
// the announced size) x plug-in settings. Each cell runs a fresh instance
// out of place and another in place on the same input: the two must agree
// bit for bit, every frame must be written, and the output must be finite,
// free of subnormals, bounded (when a bound is asked for) and not running
// away. The host's floating-point control word must come back unchanged
// from every block.
#include "Common.h"

#include <algorithm>
#include <cmath>

namespace validate {

namespace {

struct Cell {
    double rate;
    int32_t block;
    bool random;  // random sizes up to the announced block
    const Setting* setting;
};

std::string rateText(double rate)
{
    return rate == static_cast<double>(static_cast<int64_t>(rate)) ? format("%lld", static_cast<long long>(rate))
                                                                    : format("%.1f", rate);
}

void runCell(Runner& runner, Check& check, const Module& module, const Cell& cell)
{
    const Options& options = runner.options;
    constexpr int32_t kRandomAnnounced = 4096;
    const int32_t announced = cell.random ? kRandomAnnounced : std::max(cell.block, 1);
    // At least three blocks, and at least ~8k frames so the state has moved.
    const int64_t total = std::max<int64_t>(options.quick ? 4096 : 8192, 3 * static_cast<int64_t>(std::max(cell.block, 1)));

    auto makeInstance = [&]() {
        auto instance = std::make_unique<Instance>(module);
        instance->setAll(cell.setting->value);
        instance->start(cell.rate, announced);
        return instance;
    };
    // The same block sequence for both runs.
    std::vector<int32_t> sizes;
    {
        Rng rng(runner.rng.next());
        int64_t left = total;
        while (left > 0) {
            // Blocks of no frames alternate with blocks of 64.
            int32_t n = cell.block > 0 ? cell.block : sizes.size() % 2 ? 64 : 0;
            if (cell.random) {
                const uint32_t kind = rng.below(10);
                n = kind == 0 ? 0 : kind == 1 ? 1 : kind == 2 ? kRandomAnnounced : static_cast<int32_t>(rng.range(1, kRandomAnnounced));
            }
            n = static_cast<int32_t>(std::min<int64_t>(n, left));
            sizes.push_back(n);
            left -= n;
        }
    }
    auto blocks = [&sizes](size_t& next) { return [&sizes, &next](int64_t) { return sizes[next++]; }; };
    const InputSource source = signalSource(cell.rate);

    auto outOfPlace = makeInstance();
    size_t next = 0;
    const Render a = render(*outOfPlace, total, blocks(next), false, source, options.bound);
    auto inPlace = makeInstance();
    next = 0;
    const Render b = render(*inPlace, total, blocks(next), true, source, options.bound);

    check.expect(a.scan.clean(), "out of place: %s", a.scan.describe().c_str());
    Scan inPlaceScan = b.scan;
    inPlaceScan.unwritten = 0;  // in place, the input stands where output was not written
    check.expect(inPlaceScan.clean(), "in place: %s", inPlaceScan.describe().c_str());
    if (outOfPlace->inputs() == outOfPlace->outputs() && !bitExact(a, b)) {
        // A noise source differs from itself: only a difference larger than
        // two runs out of place show is the in-place processing's.
        auto again = makeInstance();
        next = 0;
        const Render c = render(*again, total, blocks(next), false, source, options.bound);
        const double own = bitExact(a, c) ? 0.0 : largestDifference(a, c);
        const double inPlaceDifference = largestDifference(a, b);
        if (own > 0.0 && !(inPlaceDifference > 10.0 * own) && options.instanceTolerance != 0.0)
            check.note("out of place twice differs by %g already, in place by %g: not judged", own, inPlaceDifference);
        else
            check.expect(false, "in place differs from out of place (largest difference %g)", inPlaceDifference);
    }
    // Without a fixed bound, a runaway still shows against the plug-in's own
    // output: rising quarter after quarter (10 dB or more each time), 60 dB
    // in all, and loud at the end (over +20 dBFS). A delay filling up, or a
    // large gain that comes into force at some moment, levels off; an
    // unstable loop keeps rising.
    for (const Render* run : {&a, &b}) {
        const size_t quarter = run->out.empty() ? 0 : run->out[0].size() / 4;
        double peaks[4] = {0.0, 0.0, 0.0, 0.0};
        for (const auto& channel : run->out)
            for (size_t k = 0; k < 4 * quarter; ++k)
                if (std::isfinite(channel[k])) peaks[k / quarter] = std::max(peaks[k / quarter], std::fabs(static_cast<double>(channel[k])));
        const bool rising = peaks[1] > 3.0 * peaks[0] && peaks[2] > 3.0 * peaks[1] && peaks[3] > 3.0 * peaks[2];
        check.expect(!(rising && peaks[3] > 10.0 && peaks[3] > 1000.0 * peaks[0]),
                     "%s: the output runs away: peaks %.3g, %.3g, %.3g and %.3g in its four quarters",
                     run == &a ? "out of place" : "in place", peaks[0], peaks[1], peaks[2], peaks[3]);
    }
    const int64_t setUpCalls = outOfPlace->setUpFromProcess() + inPlace->setUpFromProcess();
    check.expect(setUpCalls == 0,
                 "the plug-in called %s from its audio callback %lld times "
                 "(hosts answer them with work that must not run on the audio thread)",
                 outOfPlace->isVst2() ? "audioMasterIOChanged or audioMasterSizeWindow"
                                      : "for set-up work (VST3: restartComponent; CLAP: a main-thread host call)",
                 static_cast<long long>(setUpCalls));
    for (const Instance* one : {outOfPlace.get(), inPlace.get()})
        check.expect(one->threadProblems().empty(), "%s", one->threadProblems().c_str());
    check.expect(outOfPlace->controlWordChanges == 0 && inPlace->controlWordChanges == 0,
                 "%lld blocks returned with the host's floating-point control word changed",
                 static_cast<long long>(outOfPlace->controlWordChanges + inPlace->controlWordChanges));
    const std::string peak = a.scan.peak > 0.0 ? format("peak %.3g (%+.1f dBFS)", a.scan.peak, 20.0 * std::log10(a.scan.peak))
                                               : std::string("silent");
    check.note("%lld frames in %zu blocks, %s, latency %d", static_cast<long long>(total), sizes.size(), peak.c_str(),
               outOfPlace->latency());
}

}  // namespace

void processingGroup(Runner& runner)
{
    const Options& options = runner.options;
    std::vector<double> rates = {8000, 11025, 22050, 44100, 48000, 88200, 96000, 192000, 384000, 1000000, 44100.5};
    std::vector<int32_t> blocks = {0, 1, 17, 64, 512, 1024, 2027, 4096, 16384};
    if (options.quick) {
        // Still the low rates and the large block sizes where plug-ins break most.
        rates = {8000, 11025, 44100, 44100.5, 192000, 1000000};
        blocks = {0, 1, 17, 512, 4096, 16384};
    }

    auto module = loadForGroup(runner, "processing");
    if (!module) return;

    for (const Setting& setting : gridSettings()) {
        for (double rate : rates) {
            for (int32_t block : blocks) {
                const Cell cell{rate, block, false, &setting};
                runner.run(format("processing.%s.%sHz.block-%d", setting.name, rateText(rate).c_str(), block),
                           [&](Check& check) {
                               if (block == 0) {
                                   // Blocks of no frames: nothing written, nothing broken.
                                   Instance instance(*module);
                                   instance.setAll(setting.value);
                                   instance.start(rate, 512);
                                   AudioBuffers buffers(instance.inputs(), instance.outputs(), 64);
                                   buffers.markOutputs(64);
                                   for (int32_t i = 0; i < 8; ++i) instance.process(buffers.inputs(), buffers.outputs(), 0);
                                   Scan untouched;
                                   untouched.add(buffers, instance.outputs(), 64, options.bound);
                                   check.expect(untouched.unwritten == 64 * static_cast<int64_t>(buffers.out.size()),
                                                "a block of 0 frames wrote into the outputs");
                               }
                               runCell(runner, check, *module, cell);
                           });
            }
            runner.run(format("processing.%s.%sHz.block-random", setting.name, rateText(rate).c_str()),
                       [&](Check& check) { runCell(runner, check, *module, Cell{rate, 0, true, &setting}); });
        }
    }
}

}  // namespace validate
