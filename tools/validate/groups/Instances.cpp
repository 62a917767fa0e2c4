// Several instances in one process must not hear each other: each one's
// output, with its own settings, must be what it gives alone -- when they
// run together on several threads, interleaved on one thread, and while
// other instances are created and closed around them.
#include "Common.h"

#include <atomic>
#include <thread>

namespace validate {

namespace {

constexpr double kRate = 44100.0;
constexpr int32_t kBlock = 256;

struct Voice {
    std::vector<float> values;  // parameter settings
    int32_t program = 0;
};

std::vector<Voice> makeVoices(Rng& rng, const Module& module, int32_t count)
{
    Instance probe(module);
    std::vector<Voice> voices(static_cast<size_t>(count));
    for (Voice& voice : voices) {
        voice.program = probe.programs() ? static_cast<int32_t>(rng.below(static_cast<uint32_t>(probe.programs()))) : 0;
        for (int32_t i = 0; i < probe.params(); ++i) voice.values.push_back(static_cast<float>(rng.unit()));
    }
    return voices;
}

std::unique_ptr<Instance> makeInstance(const Module& module, const Voice& voice)
{
    auto instance = std::make_unique<Instance>(module);
    if (instance->programs()) instance->setProgram(voice.program);
    for (int32_t i = 0; i < static_cast<int32_t>(voice.values.size()); ++i)
        instance->setParameter(i, voice.values[static_cast<size_t>(i)]);
    instance->start(kRate, kBlock);
    return instance;
}

// Each voice's own input: the test signal shifted in time and level.
InputSource voiceSource(int32_t voice)
{
    return [voice](AudioBuffers& buffers, int64_t first, int32_t frames) {
        fillSignal(buffers, first + 7919 * voice, frames, kRate, 0.3f + 0.1f * static_cast<float>(voice % 5));
    };
}

int32_t fixedBlocks(int64_t left) { return static_cast<int32_t>(std::min<int64_t>(kBlock, left)); }

// Compares and describes; true when within the tolerance.
void compare(Check& check, const Options& options, const Render& alone, const Render& together, int32_t voice,
             bool& allExact, double& worst)
{
    const bool exact = bitExact(alone, together);
    const double d = exact ? 0.0 : largestDifference(alone, together);
    allExact = allExact && exact;
    worst = std::max(worst, d);
    check.expect(d <= options.instanceTolerance, "instance %d differs from itself alone by %g (tolerance %g)", voice, d,
                 options.instanceTolerance);
    check.expect(together.scan.clean(), "instance %d: %s", voice, together.scan.describe().c_str());
}

}  // namespace

void instancesGroup(Runner& runner)
{
    const Options& options = runner.options;
    auto module = loadForGroup(runner, "instances");
    if (!module) return;
    constexpr int32_t count = 4;
    const int64_t frames = static_cast<int64_t>(kRate * (options.quick ? 0.5 : 2.0));
    const std::vector<Voice> voices = makeVoices(runner.rng, *module, count);

    // Each voice alone: its own instance, nothing else open. Only output
    // that repeats itself can show what other instances changed, so the
    // first voice plays alone once more, in a second copy of the library
    // (its own globals, as in a fresh process).
    std::vector<Render> alone;
    for (int32_t v = 0; v < count; ++v) {
        auto instance = makeInstance(*module, voices[static_cast<size_t>(v)]);
        alone.push_back(render(*instance, frames, fixedBlocks, false, voiceSource(v), options.bound));
    }
    double unrepeatable = 0.0;
    {
        LibraryCopy copy(options.plugin, "again");
        std::string why;
        auto again = copy.ok() ? Module::load(copy.path, why) : nullptr;
        if (again) {
            auto instance = makeInstance(*again, voices[0]);
            const Render once = render(*instance, frames, fixedBlocks, false, voiceSource(0), options.bound);
            if (!bitExact(once, alone[0])) unrepeatable = largestDifference(once, alone[0]);
        }
    }
    const char* kTests[] = {"instances.threads-4", "instances.interleaved", "instances.others-come-and-go"};
    if (!(unrepeatable <= options.instanceTolerance)) {
        // A plug-in with random modulation sounds different each run: fair,
        // but then there is nothing to compare with. Asked for bit-exact
        // instances (tolerance 0), it is a fault.
        const std::string why = format("two runs alone differ by %g: the output does not repeat itself", unrepeatable);
        if (options.instanceTolerance == 0.0)
            runner.run("instances.repeatable", [&](Check& check) { check.expect(false, "%s", why.c_str()); });
        for (const char* name : kTests) runner.skip(name, why);
        return;
    }

    static_assert(count == 4, "the first test's name counts the threads");
    runner.run(kTests[0], [&](Check& check) {
        std::vector<std::unique_ptr<Instance>> instances;
        for (int32_t v = 0; v < count; ++v) instances.push_back(makeInstance(*module, voices[static_cast<size_t>(v)]));
        std::vector<Render> together(static_cast<size_t>(count));
        std::atomic<int32_t> ready{0};
        std::vector<std::thread> threads;
        for (int32_t v = 0; v < count; ++v)
            threads.emplace_back([&, v] {
                ready.fetch_add(1);
                while (ready.load() < count) std::this_thread::yield();
                together[static_cast<size_t>(v)] =
                    render(*instances[static_cast<size_t>(v)], frames, fixedBlocks, false, voiceSource(v), options.bound);
            });
        for (auto& thread : threads) thread.join();
        bool exact = true;
        double worst = 0.0;
        for (int32_t v = 0; v < count; ++v)
            compare(check, options, alone[static_cast<size_t>(v)], together[static_cast<size_t>(v)], v, exact, worst);
        check.note(exact ? "%d instances on %d threads, each bit-exact with itself alone"
                         : "%d instances on %d threads, largest difference %g",
                   count, count, worst);
    });

    runner.run("instances.interleaved", [&](Check& check) {
        std::vector<std::unique_ptr<Instance>> instances;
        for (int32_t v = 0; v < count; ++v) instances.push_back(makeInstance(*module, voices[static_cast<size_t>(v)]));
        std::vector<Render> together(static_cast<size_t>(count));
        for (auto& r : together) r.out.assign(static_cast<size_t>(instances[0]->outputs()), {});
        std::vector<AudioBuffers> buffers;
        for (int32_t v = 0; v < count; ++v)
            buffers.emplace_back(instances[static_cast<size_t>(v)]->inputs(), instances[static_cast<size_t>(v)]->outputs(), kBlock);
        for (int64_t done = 0; done < frames; done += kBlock) {
            const int32_t n = fixedBlocks(frames - done);
            for (int32_t v = 0; v < count; ++v) {
                const size_t i = static_cast<size_t>(v);
                voiceSource(v)(buffers[i], done, n);
                buffers[i].markOutputs(n);
                instances[i]->process(buffers[i].inputs(), buffers[i].outputs(), n);
                together[i].scan.add(buffers[i], instances[i]->outputs(), n, options.bound);
                for (size_t c = 0; c < together[i].out.size(); ++c)
                    together[i].out[c].insert(together[i].out[c].end(), buffers[i].out[c].begin(), buffers[i].out[c].begin() + n);
            }
        }
        bool exact = true;
        double worst = 0.0;
        for (int32_t v = 0; v < count; ++v)
            compare(check, options, alone[static_cast<size_t>(v)], together[static_cast<size_t>(v)], v, exact, worst);
        check.note(exact ? "%d instances block by block on one thread, bit-exact" : "%d instances, largest difference %g",
                   count, worst);
    });

    runner.run("instances.others-come-and-go", [&](Check& check) {
        // One instance plays on a thread while others are created, used and closed.
        auto instance = makeInstance(*module, voices[0]);
        Render played;
        std::atomic<bool> finished{false};
        std::thread audio([&] {
            played = render(*instance, frames, fixedBlocks, false, voiceSource(0), options.bound);
            finished.store(true);
        });
        int32_t cycles = 0;
        Rng rng(runner.rng.next());
        while (!finished.load() || cycles < 4) {
            auto other = makeInstance(*module, voices[static_cast<size_t>(1 + rng.below(count - 1))]);
            other->setAll(static_cast<float>(rng.unit()));
            AudioBuffers buffers(other->inputs(), other->outputs(), kBlock);
            fillSignal(buffers, 0, kBlock, kRate);
            other->process(buffers.inputs(), buffers.outputs(), kBlock);
            if (other->programs()) other->programName();  // reading, not renaming: programs may be shared
            ++cycles;
        }
        audio.join();
        bool exact = true;
        double worst = 0.0;
        compare(check, options, alone[0], played, 0, exact, worst);
        check.note("%d other instances created and closed meanwhile%s", cycles, exact ? ", bit-exact" : "");
    });
}

}  // namespace validate
