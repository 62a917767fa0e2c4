// The audio thread must neither allocate nor wait: inside processReplacing
// the plug-in may not call malloc, free, operator new or delete, a blocking
// mutex lock, a condition wait, a semaphore or a sleep -- not on the first
// block, not on blocks that follow a parameter, program or sample-rate
// change, and not while another thread holds the plug-in busy with
// parameter calls.
#include "Common.h"

#include "../Realtime.h"

#include <atomic>
#include <cstdlib>
#include <limits>
#include <thread>

namespace validate {

namespace {

// Counts what `work` made the audio thread do.
template <typename Work>
void expectNothing(Check& check, const char* what, Work&& work)
{
    rt::reset();
    work();
    const rt::Counts counts = rt::counts();
    check.expect(counts.total() == 0, "%s: %s", what, counts.describe().c_str());
}

}  // namespace

void realtimeGroup(Runner& runner)
{
    const Options& options = runner.options;
    const char* names[] = {"realtime.first-blocks",       "realtime.steady",          "realtime.parameter-changes",
                           "realtime.every-parameter-end", "realtime.wild-values",     "realtime.program-changes",
                           "realtime.rate-and-block-changes", "realtime.contended"};
    if (!rt::available()) {
        for (const char* name : names) runner.skip(name, rt::unavailableReason());
        return;
    }
    auto module = loadForGroup(runner, "realtime");
    if (!module) return;
    const int32_t blocks = options.quick ? 100 : 400;
    constexpr int32_t kFrames = 256;

    // The harness itself must count nothing when the plug-in does nothing wrong.
    runner.run("realtime.counters-work", [&](Check& check) {
        rt::reset();
        rt::enterAudio();
        void* volatile p = std::malloc(16);
        std::free(p);
        rt::leaveAudio();
        check.expect(rt::counts().allocations == 1 && rt::counts().releases == 1, "the counters missed a malloc: %s",
                     rt::counts().describe().c_str());
        rt::reset();
    });

    runner.run(names[0], [&](Check& check) {
        Instance instance(*module);
        instance.setAll(1.0f);
        instance.sampleRate = 48000.0;
        instance.blockSize = kFrames;
        if (instance.isVst2()) {
            instance.call(effSetSampleRate, 0, 0, nullptr, 48000.0f);
            instance.call(effSetBlockSize, 0, kFrames);
        }
        AudioBuffers buffers(instance.inputs(), instance.outputs(), kFrames);
        fillSignal(buffers, 0, kFrames, 48000.0);
        instance.resume();
        expectNothing(check, "first blocks after the first resume", [&] {
            for (int32_t i = 0; i < 4; ++i) instance.process(buffers.inputs(), buffers.outputs(), kFrames);
        });
    });

    runner.run(names[1], [&](Check& check) {
        Instance instance(*module);
        instance.start(44100.0, kFrames);
        AudioBuffers buffers(instance.inputs(), instance.outputs(), kFrames);
        expectNothing(check, "steady blocks", [&] {
            for (int32_t i = 0; i < blocks; ++i) {
                fillSignal(buffers, static_cast<int64_t>(i) * kFrames, kFrames, 44100.0);
                instance.process(buffers.inputs(), buffers.outputs(), kFrames);
            }
        });
        check.note("%d blocks", blocks);
    });

    runner.run(names[2], [&](Check& check) {
        Instance instance(*module);
        instance.start(44100.0, kFrames);
        AudioBuffers buffers(instance.inputs(), instance.outputs(), kFrames);
        fillSignal(buffers, 0, kFrames, 44100.0);
        Rng rng(runner.rng.next());
        rt::reset();
        for (int32_t i = 0; i < blocks; ++i) {
            // A random parameter to a random value before each block (table
            // rebuilds among them); the setting call itself is not audio work.
            if (instance.params())
                instance.setParameter(static_cast<int32_t>(rng.below(static_cast<uint32_t>(instance.params()))),
                                      static_cast<float>(rng.unit()));
            instance.process(buffers.inputs(), buffers.outputs(), kFrames);
        }
        check.expect(rt::counts().total() == 0, "%s", rt::counts().describe().c_str());
        check.note("%d blocks, each after a parameter change", blocks);
    });

    runner.run(names[3], [&](Check& check) {
        Instance instance(*module);
        instance.start(44100.0, kFrames);
        AudioBuffers buffers(instance.inputs(), instance.outputs(), kFrames);
        fillSignal(buffers, 0, kFrames, 44100.0);
        rt::reset();
        for (int32_t i = 0; i < instance.params(); ++i)
            for (float v : {0.0f, 1.0f, 0.5f, 0.0f}) {
                instance.setParameter(i, v);
                instance.process(buffers.inputs(), buffers.outputs(), kFrames);
                instance.process(buffers.inputs(), buffers.outputs(), kFrames);
            }
        check.expect(rt::counts().total() == 0, "%s", rt::counts().describe().c_str());
        check.note("each of %d parameters to 0, 1, 0.5 and 0", instance.params());
    });

    runner.run(names[4], [&](Check& check) {
        Instance instance(*module);
        instance.start(44100.0, kFrames);
        AudioBuffers buffers(instance.inputs(), instance.outputs(), kFrames);
        fillSignal(buffers, 0, kFrames, 44100.0);
        const std::vector<float>& wild = edgeValues(options);
        rt::reset();
        for (int32_t i = 0; i < instance.params(); ++i)
            for (float v : wild) {
                instance.setParameter(i, v);
                instance.process(buffers.inputs(), buffers.outputs(), kFrames);
            }
        for (int32_t i = 0; i < instance.params(); ++i) instance.setParameter(i, 0.5f);
        instance.process(buffers.inputs(), buffers.outputs(), kFrames);
        check.expect(rt::counts().total() == 0, "%s", rt::counts().describe().c_str());
    });

    runner.run(names[5], [&](Check& check) {
        Instance instance(*module);
        if (instance.programs() < 2) check.skip("fewer than two programs");
        instance.start(44100.0, kFrames);
        AudioBuffers buffers(instance.inputs(), instance.outputs(), kFrames);
        fillSignal(buffers, 0, kFrames, 44100.0);
        rt::reset();
        for (int32_t i = 0; i < blocks / 4; ++i) {
            instance.setProgram(i % instance.programs());
            instance.process(buffers.inputs(), buffers.outputs(), kFrames);
            instance.process(buffers.inputs(), buffers.outputs(), kFrames);
        }
        check.expect(rt::counts().total() == 0, "%s", rt::counts().describe().c_str());
    });

    runner.run(names[6], [&](Check& check) {
        Instance instance(*module);
        const double rates[] = {44100, 96000, 8000, 192000, 48000, 1000000, 22050};
        const int32_t sizes[] = {256, 64, 1024, 17, 4096, 512, 1};
        rt::reset();
        int32_t n = 0;
        for (double rate : rates) {
            const int32_t frames = sizes[n++];
            instance.start(rate, frames);  // not audio work
            AudioBuffers buffers(instance.inputs(), instance.outputs(), frames);
            fillSignal(buffers, 0, frames, rate);
            for (int32_t i = 0; i < 4; ++i) instance.process(buffers.inputs(), buffers.outputs(), frames);
        }
        check.expect(rt::counts().total() == 0, "%s", rt::counts().describe().c_str());
        check.note("%d rate and block changes, 4 blocks each", n);
    });

    runner.run(names[7], [&](Check& check) {
        Instance instance(*module);
        instance.start(44100.0, 64);
        if (instance.params() == 0) check.skip("no parameters to contend over");
        std::atomic<bool> done{false};
        std::thread ui([&] {
            Rng rng(77);
            while (!done.load(std::memory_order_relaxed)) {
                const int32_t i = static_cast<int32_t>(rng.below(static_cast<uint32_t>(instance.params())));
                instance.setParameter(i, static_cast<float>(rng.unit()));
                (void)instance.getParameter(i);
            }
        });
        AudioBuffers buffers(instance.inputs(), instance.outputs(), 64);
        fillSignal(buffers, 0, 64, 44100.0);
        rt::reset();
        for (int32_t i = 0; i < blocks * 4; ++i) instance.process(buffers.inputs(), buffers.outputs(), 64);
        const rt::Counts counts = rt::counts();
        done.store(true);
        ui.join();
        check.expect(counts.total() == 0, "%s", counts.describe().c_str());
        check.note("%d blocks while another thread set parameters", blocks * 4);
    });
}

}  // namespace validate
