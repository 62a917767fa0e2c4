// Open and close, cold (library loaded each time) and warm; nothing left
// behind by an instance once it is closed (memory, descriptors or handles);
// effClose right after creation; processing before the first resume and
// after a suspend; sample rate and block size changed between resumes, with
// the sound an instance fresh at each rate makes.
#include "Common.h"

#include <algorithm>
#include <cmath>

#if defined(_WIN32)
#include <windows.h>

#include <vector>
#else
#include <malloc.h>

#include <filesystem>
#endif

namespace validate {

namespace {

// Processes `blocks` blocks of the test signal and scans them.
Scan processBlocks(Instance& instance, int32_t blocks, int32_t frames, double bound, int64_t first = 0)
{
    AudioBuffers buffers(instance.inputs(), instance.outputs(), frames);
    Scan scan;
    for (int32_t b = 0; b < blocks; ++b) {
        fillSignal(buffers, first + static_cast<int64_t>(b) * frames, frames, instance.sampleRate);
        buffers.markOutputs(frames);
        instance.process(buffers.inputs(), buffers.outputs(), frames);
        scan.add(buffers, instance.outputs(), frames, bound);
    }
    return scan;
}

// What the process holds: heap bytes in use (private bytes on Windows) and
// open descriptors (handles on Windows).
struct Usage {
    double bytes = 0.0;
    int64_t descriptors = 0;
};

Usage usageNow()
{
    Usage usage;
#if defined(_WIN32)
    // The busy blocks of every heap of the process (the C runtime's among
    // them): private bytes move in steps of whole pages, and not at all
    // under Wine.
    std::vector<HANDLE> heaps(GetProcessHeaps(0, nullptr) + 16);
    heaps.resize(GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data()));
    for (HANDLE heap : heaps) {
        if (!HeapLock(heap)) continue;
        PROCESS_HEAP_ENTRY entry{};
        while (HeapWalk(heap, &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) usage.bytes += static_cast<double>(entry.cbData);
        HeapUnlock(heap);
    }
    DWORD handles = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &handles)) usage.descriptors = handles;
#else
#if defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 33)
    const struct mallinfo2 info = mallinfo2();
    usage.bytes = static_cast<double>(info.uordblks) + static_cast<double>(info.hblkhd);
#endif
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator("/proc/self/fd", ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec))
        ++usage.descriptors;
#endif
    return usage;
}

// Peak of a block's outputs.
double peakOf(const AudioBuffers& buffers, int32_t outputs, int32_t frames)
{
    double peak = 0.0;
    for (int32_t c = 0; c < outputs; ++c)
        for (int32_t k = 0; k < frames; ++k) {
            const float v = buffers.out[static_cast<size_t>(c)][static_cast<size_t>(k)];
            if (std::isfinite(v)) peak = std::max(peak, std::fabs(static_cast<double>(v)));
        }
    return peak;
}

}  // namespace

void lifecycleGroup(Runner& runner)
{
    const Options& options = runner.options;
    const int32_t cold = options.quick ? 5 : 20;
    const int32_t warm = options.quick ? 50 : 200;

    runner.run("lifecycle.record", [&](Check& check) {
        auto module = requireModule(options, check);
        Instance instance(*module, false);
        if (!instance.isVst2()) {
            check.expect(instance.outputs() >= 1 && instance.outputs() <= 1024, "%d output channels", instance.outputs());
            check.expect(instance.inputs() >= 0 && instance.inputs() <= 1024, "%d input channels", instance.inputs());
            check.expect(instance.latency() >= 0, "latency %d", instance.latency());
            check.note("%s: %d in, %d out, %d parameters, latency %d", formatName(instance.format), instance.inputs(),
                       instance.outputs(), instance.params(), instance.latency());
            return;
        }
        AEffect* e = instance.effect;
        check.expect(e->setParameter && e->getParameter, "setParameter or getParameter entry missing");
        check.expect(e->processReplacing != nullptr, "no processReplacing entry");
        check.expect((e->flags & effFlagsCanReplacing) != 0, "effFlagsCanReplacing is clear (required since 2.4)");
        check.expect(e->numInputs >= 0 && e->numInputs <= 1024, "numInputs %d", e->numInputs);  // samplers with direct outputs have dozens
        check.expect(e->numOutputs >= 1 && e->numOutputs <= 1024, "numOutputs %d", e->numOutputs);
        check.expect(e->numParams >= 0 && e->numParams <= 100000, "numParams %d", e->numParams);
        check.expect(e->numPrograms >= 0 && e->numPrograms <= 100000, "numPrograms %d", e->numPrograms);
        check.expect(e->initialDelay >= 0, "initialDelay %d", e->initialDelay);
        check.expect(e->user == &instance, "the plug-in changed the host's user field");
        const uint32_t id = static_cast<uint32_t>(e->uniqueID);
        char idText[5] = {static_cast<char>(id >> 24), static_cast<char>(id >> 16), static_cast<char>(id >> 8),
                          static_cast<char>(id), 0};
        for (char& c : idText)
            if (c && (c < 32 || c > 126)) c = '?';
        check.note("%d in, %d out, %d parameters, %d programs, flags 0x%x, id '%s', latency %d", e->numInputs,
                   e->numOutputs, e->numParams, e->numPrograms, static_cast<unsigned>(e->flags), idText,
                   e->initialDelay);
        instance.call(effOpen);
    });

    runner.run("lifecycle.cold-open-close", [&](Check& check) {
        for (int32_t i = 0; i < cold; ++i) {
            auto module = requireModule(options, check);
            Instance instance(*module);
        }
        check.note("%d times, library loaded and unloaded each time", cold);
    });

    runner.run("lifecycle.cold-process", [&](Check& check) {
        for (int32_t i = 0; i < cold; ++i) {
            auto module = requireModule(options, check);
            Instance instance(*module);
            instance.start(44100.0, 512);
            const Scan scan = processBlocks(instance, 8, 512, options.bound);
            check.expect(scan.clean(), "cycle %d: %s", i, scan.describe().c_str());
            instance.suspend();
        }
        check.note("%d times", cold);
    });

    runner.run("lifecycle.warm-open-close", [&](Check& check) {
        auto module = requireModule(options, check);
        for (int32_t i = 0; i < warm; ++i) {
            Instance instance(*module);
            check.expect(instance.program() >= 0 || instance.programs() == 0, "negative program");
        }
        check.note("%d instances", warm);
    });

    runner.run("lifecycle.warm-process-cycles", [&](Check& check) {
        auto module = requireModule(options, check);
        const int32_t cycles = warm / 4;
        for (int32_t i = 0; i < cycles; ++i) {
            Instance instance(*module);
            instance.start(i % 2 ? 48000.0 : 44100.0, 256);
            const Scan scan = processBlocks(instance, 4, 256, options.bound);
            check.expect(scan.clean(), "cycle %d: %s", i, scan.describe().c_str());
            instance.suspend();
        }
        check.note("%d cycles", cycles);
    });

    runner.run("lifecycle.nothing-left-behind", [&](Check& check) {
        // Instances opened, run and closed one after another must leave the
        // process as they found it. The first ones may fill caches shared by
        // all instances, and a plug-in that makes its tables in the
        // background fills its cache a little with every instance, until it
        // is full: so the instances are counted in rounds, and the process
        // passes once a round leaves nothing behind. A leak grows in every
        // round.
        auto module = requireModule(options, check);
        const int32_t round = options.quick ? 300 : 1000;
        const int32_t maxRounds = options.quick ? 6 : 20;
        auto cycle = [&](int32_t i) {
            Instance instance(*module);
            instance.start(48000.0, 256);
            processBlocks(instance, 1, 256, options.bound, static_cast<int64_t>(i) * 256);
            instance.suspend();
        };
        for (int32_t i = 0; i < 20; ++i) cycle(i);
        const Usage first = usageNow();
        Usage before = first, after = first;
        double bytesEach = 0.0;
        int32_t rounds = 0;
        while (rounds < maxRounds) {
            for (int32_t i = 0; i < round; ++i) cycle(rounds * round + i);
            ++rounds;
            after = usageNow();
            bytesEach = (after.bytes - before.bytes) / round;
            before = after;
            // Allocators keep some memory back: a few kilobytes over a round
            // are noise; a kilobyte or more for every instance is a leak. So
            // is a cache that has grown past 64 MiB, and descriptors that
            // pile up.
            if (bytesEach < 1024.0 || after.bytes - first.bytes > 64.0 * 1024 * 1024 ||
                after.descriptors - first.descriptors >= round / 10)
                break;
        }
        const int32_t cycles = rounds * round;
        const int64_t descriptors = after.descriptors - first.descriptors;
        check.note("%d instances in %d rounds: %+.0f bytes each in the last, %+lld descriptors in all", cycles, rounds,
                   bytesEach, static_cast<long long>(descriptors));
        check.expect(bytesEach < 1024.0,
                     "the process holds %.1f KiB more after each instance is closed, in each of %d rounds of %d",
                     bytesEach / 1024.0, rounds, round);
        check.expect(descriptors < cycles / 10, "%lld more descriptors or handles open after %d instances were closed",
                     static_cast<long long>(descriptors), cycles);
    });

    runner.run("lifecycle.many-at-once", [&](Check& check) {
        auto module = requireModule(options, check);
        std::vector<std::unique_ptr<Instance>> instances;
        for (int32_t i = 0; i < 32; ++i) instances.push_back(std::make_unique<Instance>(*module));
        for (auto& instance : instances) instance->start(44100.0, 128);
        for (auto& instance : instances) {
            const Scan scan = processBlocks(*instance, 2, 128, options.bound);
            check.expect(scan.clean(), "%s", scan.describe().c_str());
        }
        // Closed in an order unrelated to creation.
        for (size_t i = instances.size(); i > 1; --i) std::swap(instances[i - 1], instances[runner.rng.below(static_cast<uint32_t>(i))]);
        for (auto& instance : instances) instance.reset();
        check.note("32 instances open together, closed in random order");
    });

    runner.run("lifecycle.close-right-after-creation", [&](Check& check) {
        auto module = requireModule(options, check);
        if (module->format != Format::vst2) {
            // Made and let go without ever processing.
            for (int32_t i = 0; i < 20; ++i) Instance instance(*module);
            check.note("20 times");
            return;
        }
        for (int32_t i = 0; i < 20; ++i) {
            AEffect* effect = module->entry(hostCallback);
            check.require(effect != nullptr, "the entry point gave no instance");
            const intptr_t answer = effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f);
            check.expect(answer == 0 || answer == 1, "effClose answered %lld", static_cast<long long>(answer));
        }
        check.note("20 times, without effOpen");
    });

    runner.run("lifecycle.process-before-resume", [&](Check& check) {
        auto module = requireModule(options, check);
        Instance instance(*module);
        if (!instance.isVst2()) check.skip("VST 2.4's: the other formats never process before activation");
        instance.sampleRate = 44100.0;
        instance.call(effSetSampleRate, 0, 0, nullptr, 44100.0f);
        instance.call(effSetBlockSize, 0, 256);
        // Outside the interface: nothing may break, and whatever is written must be sound.
        Scan before = processBlocks(instance, 4, 256, options.bound);
        check.expect(before.nonFinite == 0 && before.subnormal == 0 && before.overBound == 0,
                     "before the first resume: %s", before.describe().c_str());
        instance.resume();
        const Scan after = processBlocks(instance, 8, 256, options.bound);
        check.expect(after.clean(), "after resuming: %s", after.describe().c_str());
        check.note(before.unwritten ? "output left unwritten before resume" : "output written before resume");
    });

    runner.run("lifecycle.process-after-suspend", [&](Check& check) {
        auto module = requireModule(options, check);
        Instance instance(*module);
        instance.start(48000.0, 256);
        processBlocks(instance, 4, 256, options.bound);
        instance.suspend();
        const Scan suspended = processBlocks(instance, 4, 256, options.bound, 1024);
        check.expect(suspended.nonFinite == 0 && suspended.subnormal == 0 && suspended.overBound == 0,
                     "while suspended: %s", suspended.describe().c_str());
        instance.suspend();  // twice
        instance.resume();
        instance.resume();  // twice
        const Scan again = processBlocks(instance, 8, 256, options.bound, 2048);
        check.expect(again.clean(), "after resuming again: %s", again.describe().c_str());
    });

    runner.run("lifecycle.rate-and-block-changes", [&](Check& check) {
        auto module = requireModule(options, check);
        Instance instance(*module);
        struct Step {
            double rate;
            int32_t block;
        };
        const Step steps[] = {{44100, 512}, {96000, 64}, {8000, 4096}, {192000, 1}, {48000, 2027},
                              {1000000, 1024}, {22050, 17}, {44100.5, 333}, {44100, 512}};
        int64_t frames = 0;
        for (const Step& step : steps) {
            instance.start(step.rate, step.block);
            const int32_t blocks = std::min(400, std::max<int32_t>(2, static_cast<int32_t>(step.rate * 0.05 / step.block)));
            // An instance fresh at this rate, fed the same, tells what it should sound like.
            Instance fresh(*module);
            fresh.start(step.rate, step.block);
            AudioBuffers buffers(instance.inputs(), instance.outputs(), step.block);
            AudioBuffers freshBuffers(fresh.inputs(), fresh.outputs(), step.block);
            Scan scan;
            double peak = 0.0, freshPeak = 0.0;
            for (int32_t b = 0; b < blocks; ++b) {
                const int64_t first = static_cast<int64_t>(b) * step.block;
                fillSignal(buffers, first, step.block, step.rate);
                fillSignal(freshBuffers, first, step.block, step.rate);
                buffers.markOutputs(step.block);
                instance.process(buffers.inputs(), buffers.outputs(), step.block);
                fresh.process(freshBuffers.inputs(), freshBuffers.outputs(), step.block);
                scan.add(buffers, instance.outputs(), step.block, options.bound);
                // The second half: past a fade-in or a filter's start.
                if (2 * b >= blocks) {
                    peak = std::max(peak, peakOf(buffers, instance.outputs(), step.block));
                    freshPeak = std::max(freshPeak, peakOf(freshBuffers, fresh.outputs(), step.block));
                }
            }
            check.expect(scan.clean(), "%.1f Hz, %d frames: %s", step.rate, step.block, scan.describe().c_str());
            // Silent (60 dB or more below) where a fresh instance sounds: the
            // change of rate has lost the sound.
            check.expect(!(freshPeak > 1e-4 && peak < 1e-3 * freshPeak),
                         "%.1f Hz, %d frames: silent after the change of rate (peak %.3g), where an instance "
                         "started at this rate gives a peak of %.3g",
                         step.rate, step.block, peak, freshPeak);
            check.expect(instance.latency() >= 0 && instance.latency() <= step.rate * 10.0, "%.1f Hz: latency %d",
                         step.rate, instance.latency());
            frames += static_cast<int64_t>(blocks) * step.block;
        }
        check.note("%zu rate and block changes", std::size(steps));
    });
}

}  // namespace validate
