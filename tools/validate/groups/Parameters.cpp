// Parameters, read from the plug-in: their texts stay terminated within the
// interface's limits at any value; values within 0..1 read back within
// 0..1; edge values (and, when asked, wild ones: out of range, NaN,
// infinite) while audio runs break nothing, and the output is sound again
// once ordinary values return; automation from a second thread while the
// audio thread runs.
#include "Common.h"

#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>

namespace validate {

namespace {

constexpr size_t kParamText = 9;  // 8 characters and the terminator

float wildValue(Rng& rng, const Options& options)
{
    if (rng.chance(0.3)) return static_cast<float>(rng.unit());
    const std::vector<float>& values = edgeValues(options);
    return values[rng.below(static_cast<uint32_t>(values.size()))];
}

// Each of the three texts of parameter `index`, in a buffer filled with
// '#': nothing written past the limit, and what is written is terminated
// within it. A parameter's name and display text must be given; a label
// may be left unwritten, and so may anything for an index out of range.
void checkTexts(Check& check, Instance& instance, int32_t index, const char* when)
{
    const bool inRange = index >= 0 && index < instance.params();
    if (!instance.isVst2()) {
        // The other formats hand texts over with their own sizes (the VST3
        // and CLAP groups check those); a name must be given.
        if (inRange) check.expect(!instance.paramName(index).empty(), "parameter %d has no name", index);
        if (inRange) instance.paramDisplay(index);
        return;
    }
    GuardedBuffer buffer(256, '#');
    for (int32_t opcode : {effGetParamName, effGetParamLabel, effGetParamDisplay}) {
        buffer.reset();
        instance.call(opcode, index, 0, buffer.data());
        const char* what = opcode == effGetParamName ? "name" : opcode == effGetParamLabel ? "label" : "display";
        const size_t extent = buffer.writtenExtent();
        const bool mayBeUntouched = !inRange || opcode == effGetParamLabel;
        const bool terminated = buffer.terminatedWithin(kParamText) || (extent == 0 && mayBeUntouched);
        check.expect(buffer.guardsIntact() && extent <= kParamText && terminated, "parameter %d %s %s: %zu bytes written, %s",
                     index, what, when, extent, terminated ? "terminated" : "not terminated within 9 bytes");
    }
}

// Blocks of the test signal at 44.1 kHz.
class Player {
public:
    Player(Instance& instance, int32_t frames, double bound)
        : instance(instance), frames(frames), bound(bound), buffers(instance.inputs(), instance.outputs(), frames)
    {
    }
    Scan block()
    {
        fillSignal(buffers, position, frames, 44100.0);
        buffers.markOutputs(frames);
        instance.process(buffers.inputs(), buffers.outputs(), frames);
        position += frames;
        Scan scan;
        scan.add(buffers, instance.outputs(), frames, bound);
        return scan;
    }
    Scan seconds(double s)
    {
        Scan total;
        const int32_t count = std::max(1, static_cast<int32_t>(s * 44100.0 / frames));
        for (int32_t i = 0; i < count; ++i) {
            const Scan one = block();
            total.nonFinite += one.nonFinite;
            total.subnormal += one.subnormal;
            total.unwritten += one.unwritten;
            total.overBound += one.overBound;
            total.peak = std::max(total.peak, one.peak);
        }
        return total;
    }

private:
    Instance& instance;
    int32_t frames;
    double bound;
    AudioBuffers buffers;
    int64_t position = 0;
};

// Sets wild values on the chosen parameters (-1: all) while processing,
// then sane ones, and checks the way back.
void wildTest(Runner& runner, Check& check, const Module& module, int32_t only)
{
    const Options& options = runner.options;
    Instance instance(module);
    instance.start(44100.0, 256);
    const int32_t params = instance.params();
    std::vector<float> sane(static_cast<size_t>(params));
    for (int32_t i = 0; i < params; ++i) {
        sane[static_cast<size_t>(i)] = instance.getParameter(i);
        if (!(sane[static_cast<size_t>(i)] >= 0.0f && sane[static_cast<size_t>(i)] <= 1.0f)) sane[static_cast<size_t>(i)] = 0.5f;
    }
    Player player(instance, 256, std::numeric_limits<double>::infinity());
    const int32_t rounds = options.quick ? 300 : 2000;
    int64_t nonFinite = 0;
    for (int32_t r = 0; r < rounds; ++r) {
        const int32_t index = only >= 0 ? only : static_cast<int32_t>(runner.rng.below(static_cast<uint32_t>(params)));
        const float v = wildValue(runner.rng, options);
        instance.setParameter(index, v);
        const float back = instance.getParameter(index);
        (void)back;  // any value may come back from a wild one; reading must not break
        if (r % 7 == 0) checkTexts(check, instance, index, format("at %g", static_cast<double>(v)).c_str());
        if (r % 4 == 0) nonFinite += player.block().nonFinite;
    }
    for (int32_t i = 0; i < params; ++i) instance.setParameter(i, sane[static_cast<size_t>(i)]);
    player.seconds(0.5);  // settling
    Player clean(instance, 256, options.bound);
    const Scan after = clean.seconds(0.5);
    check.expect(after.clean(), "after sane values returned: %s", after.describe().c_str());
    for (int32_t i = 0; i < params; ++i) checkTexts(check, instance, i, "after wild values");
    check.note("%d wild values, %s", rounds,
               nonFinite ? format("%lld non-finite samples while values were wild", static_cast<long long>(nonFinite)).c_str()
                         : "output finite throughout");
}

}  // namespace

void parametersGroup(Runner& runner)
{
    const Options& options = runner.options;
    auto module = loadForGroup(runner, "parameters");
    if (!module) return;
    int32_t params = 0;
    std::vector<std::string> names;
    {
        Instance probe(*module);
        params = probe.params();
        for (int32_t i = 0; i < params; ++i) names.push_back(probe.paramName(i));
    }
    if (params == 0) {
        runner.skip("parameters.all", "the plug-in has no parameters");
        return;
    }

    runner.run("parameters.texts", [&](Check& check) {
        Instance instance(*module);
        std::vector<float> values = {0.25f, 0.5f, 0.75f};
        values.insert(values.end(), edgeValues(options).begin(), edgeValues(options).end());
        for (int32_t i = 0; i < params; ++i) {
            checkTexts(check, instance, i, "at the start");
            for (float v : values) {
                instance.setParameter(i, v);
                checkTexts(check, instance, i, format("at %g", static_cast<double>(v)).c_str());
            }
            instance.setParameter(i, 0.5f);
        }
        // Indices outside the range answer without writing past the limits.
        for (int32_t i : {-1, params, params + 1, 1000}) checkTexts(check, instance, i, "out of range");
        check.note("%d parameters at %zu values", params, values.size());
    });

    runner.run("parameters.range", [&](Check& check) {
        Instance instance(*module);
        for (int32_t i = 0; i < params; ++i) {
            const float start = instance.getParameter(i);
            check.expect(std::isfinite(start) && start >= 0.0f && start <= 1.0f, "parameter %d starts at %g", i,
                         static_cast<double>(start));
            for (float v : {0.0f, 0.1f, 0.5f, 0.9f, 1.0f, static_cast<float>(runner.rng.unit())}) {
                instance.setParameter(i, v);
                const float back = instance.getParameter(i);
                check.expect(std::isfinite(back) && back >= 0.0f && back <= 1.0f, "parameter %d set to %g reads %g", i,
                             static_cast<double>(v), static_cast<double>(back));
            }
            if (!instance.isVst2()) continue;
            const intptr_t automatable = instance.call(effCanBeAutomated, i);
            check.expect(automatable == 0 || automatable == 1, "effCanBeAutomated(%d) answered %lld", i,
                         static_cast<long long>(automatable));
        }
    });

    // "edges" with the values hosts send, "wild" with any.
    const char* kind = options.wildParameters ? "wild" : "edges";
    for (int32_t i = 0; i < params && i < 64; ++i) {
        runner.run(format("parameters.%s.%d-%s", kind, i, slug(names[static_cast<size_t>(i)]).c_str()),
                   [&](Check& check) { wildTest(runner, check, *module, i); });
    }
    runner.run(format("parameters.%s.all", kind), [&](Check& check) { wildTest(runner, check, *module, -1); });

    runner.run("parameters.automation-thread", [&](Check& check) {
        Instance instance(*module);
        instance.start(44100.0, 64);
        const int32_t changes = options.quick ? 3000 : 20000;
        std::atomic<bool> done{false};
        std::atomic<int64_t> blocks{0};
        Scan scan;
        std::thread audio([&] {
            Player player(instance, 64, options.bound);
            Scan mine;
            while (!done.load(std::memory_order_acquire)) {
                const Scan one = player.block();
                mine.nonFinite += one.nonFinite;
                mine.subnormal += one.subnormal;
                mine.unwritten += one.unwritten;
                mine.overBound += one.overBound;
                mine.peak = std::max(mine.peak, one.peak);
                blocks.fetch_add(1, std::memory_order_relaxed);
            }
            scan = mine;
        });
        Rng rng(runner.rng.next());
        GuardedBuffer text(64, '#');
        // Both sides must really overlap: changes go on until the audio
        // thread has run a good number of blocks too (within a minute).
        const int64_t minBlocks = options.quick ? 500 : 2000;
        const double deadline = wallSeconds() + 60.0;
        int32_t c = 0;
        for (; c < changes || (blocks.load(std::memory_order_relaxed) < minBlocks && wallSeconds() < deadline); ++c) {
            const int32_t index = static_cast<int32_t>(rng.below(static_cast<uint32_t>(params)));
            instance.setParameter(index, static_cast<float>(rng.unit()));
            const float back = instance.getParameter(index);
            check.expect(std::isfinite(back), "parameter %d reads %g", index, static_cast<double>(back));
            if (c % 8 == 0 && !instance.isVst2()) {
                instance.paramDisplay(index);
            } else if (c % 8 == 0) {
                text.reset();
                instance.call(effGetParamDisplay, index, 0, text.data());
                check.expect(text.terminatedWithin(kParamText) && text.writtenExtent() <= kParamText,
                             "display text of parameter %d overran while audio ran", index);
            }
            // Let audio blocks run between the changes now and then.
            if (c % 64 == 0) std::this_thread::yield();
        }
        done.store(true, std::memory_order_release);
        audio.join();
        check.expect(scan.clean(), "audio while automated: %s", scan.describe().c_str());
        check.expect(blocks.load() >= minBlocks, "only %lld audio blocks ran during the changes",
                     static_cast<long long>(blocks.load()));
        check.note("%d changes from a second thread during %lld audio blocks", c,
                   static_cast<long long>(blocks.load()));
    });
}

}  // namespace validate
