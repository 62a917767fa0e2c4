#include "Common.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace validate {

#if !defined(VALIDATE_HAVE_CLAP)
void clapGroup(Runner& runner) { runner.skip("clap.all", "built without CLAP headers"); }
#endif

std::unique_ptr<Module> requireModule(const Options& options, Check& check)
{
    std::string error;
    auto module = Module::load(options.plugin, error);
    check.require(module != nullptr, "cannot load %s: %s", options.plugin.c_str(), error.c_str());
    return module;
}

TwoCopies::TwoCopies(const Options& options, const char* firstTag, const char* secondTag, Check& check)
    : first(options.plugin, firstTag), second(options.plugin, secondTag)
{
    check.require(first.ok() && second.ok(), "cannot copy the library to a temporary folder");
    std::string why;
    a = Module::load(first.path, why);
    check.require(a != nullptr, "cannot load the first copy: %s", why.c_str());
    b = Module::load(second.path, why);
    check.require(b != nullptr, "cannot load the second copy: %s", why.c_str());
}

std::unique_ptr<Module> loadForGroup(Runner& runner, const char* group)
{
    std::string error;
    auto module = Module::load(runner.options.plugin, error);
    if (!module)
        runner.setup(std::string(group) + ".load", [&](Check& check) { check.require(false, "%s", error.c_str()); });
    return module;
}

const std::vector<Setting>& gridSettings()
{
    static const std::vector<Setting> settings = {{"min", 0.0f}, {"mid", 0.5f}, {"max", 1.0f}};
    return settings;
}

const std::vector<float>& edgeValues(const Options& options)
{
    static const std::vector<float> hostSends = {0.0f, 1.0f, -0.0f, 1.0000001f, -1e-7f, 1e-40f,
                                                 std::numeric_limits<float>::denorm_min(), 0.9999999f};
    static const std::vector<float> wild = [] {
        std::vector<float> v = hostSends;
        for (float x : {-5.0f, -1.0f, 2.0f, 7.0f, 1e30f, -1e30f, std::numeric_limits<float>::max(),
                        -std::numeric_limits<float>::max(), std::numeric_limits<float>::quiet_NaN(),
                        -std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                        -std::numeric_limits<float>::infinity()})
            v.push_back(x);
        return v;
    }();
    return options.wildParameters ? wild : hostSends;
}

InputSource signalSource(double sampleRate, float amplitude)
{
    return [sampleRate, amplitude](AudioBuffers& buffers, int64_t first, int32_t frames) {
        fillSignal(buffers, first, frames, sampleRate, amplitude);
    };
}

Render render(Instance& instance, int64_t total, const std::function<int32_t(int64_t)>& nextBlock, bool inPlace,
              const InputSource& source, double bound)
{
    Render result;
    const int32_t outs = instance.outputs();
    result.out.assign(static_cast<size_t>(std::max(outs, 0)), {});
    for (auto& channel : result.out) channel.reserve(static_cast<size_t>(total));
    // Room for the largest block asked for.
    int32_t room = 1;
    AudioBuffers buffers(instance.inputs(), outs, 1);
    int64_t done = 0;
    while (done < total) {
        // nextBlock may ask for blocks of no frames, as long as it moves on.
        const int32_t frames = nextBlock(total - done);
        if (frames > room) {
            room = frames;
            buffers = AudioBuffers(instance.inputs(), outs, room);
        }
        source(buffers, done, frames);
        if (inPlace) {
            // Input channels without a matching output are left as they are.
            instance.process(buffers.inputs(), buffers.inPlace(), frames);
            for (int32_t c = 0; c < outs; ++c) {
                const float* data = buffers.inPlace()[c];
                result.scan.add(data, frames, bound);
                result.out[static_cast<size_t>(c)].insert(result.out[static_cast<size_t>(c)].end(), data, data + frames);
            }
        } else {
            buffers.markOutputs(frames);
            instance.process(buffers.inputs(), buffers.outputs(), frames);
            result.scan.add(buffers, outs, frames, bound);
            for (int32_t c = 0; c < outs; ++c) {
                const auto& data = buffers.out[static_cast<size_t>(c)];
                result.out[static_cast<size_t>(c)].insert(result.out[static_cast<size_t>(c)].end(), data.begin(),
                                                         data.begin() + frames);
            }
        }
        done += frames;
    }
    return result;
}

double largestDifference(const Render& a, const Render& b)
{
    if (a.out.size() != b.out.size()) return std::numeric_limits<double>::infinity();
    double worst = 0.0;
    for (size_t c = 0; c < a.out.size(); ++c) {
        if (a.out[c].size() != b.out[c].size()) return std::numeric_limits<double>::infinity();
        for (size_t k = 0; k < a.out[c].size(); ++k) {
            const double d = std::fabs(static_cast<double>(a.out[c][k]) - static_cast<double>(b.out[c][k]));
            if (!(d <= worst)) worst = std::isnan(d) ? std::numeric_limits<double>::infinity() : d;
        }
    }
    return worst;
}

bool bitExact(const Render& a, const Render& b)
{
    if (a.out.size() != b.out.size()) return false;
    for (size_t c = 0; c < a.out.size(); ++c) {
        if (a.out[c].size() != b.out[c].size()) return false;
        if (!a.out[c].empty() && std::memcmp(a.out[c].data(), b.out[c].data(), a.out[c].size() * sizeof(float)) != 0)
            return false;
    }
    return true;
}

const std::vector<Group>& allGroups()
{
    static const std::vector<Group> groups = {
        {"lifecycle", "open and close, cold and warm; processing outside resume; rate and block changes", lifecycleGroup},
        {"dispatcher", "VST 2.4: every opcode from -10 to 100 with random arguments; answers and text limits",
         dispatcherGroup, kVst2},
        {"processing", "sample rates x block sizes x settings; in place equals out of place; clean output", processingGroup},
        {"bad-audio", "NaN, infinite, huge and subnormal input; recovery; subnormal CPU cost", badAudioGroup},
        {"parameters", "texts, ranges, wild values while processing, automation from another thread", parametersGroup},
        {"programs", "state saved and restored through programs and parameters, as hosts do without chunks", programsGroup},
        {"instances", "instances together on several threads sound as each alone", instancesGroup},
        {"realtime", "no allocation and no blocking call on the audio thread", realtimeGroup},
        {"timing", "block times at 64 frames under parameter storms, against the block's duration", timingGroup},
        {"editor", "editor open and close, idle, with processing, two library copies", editorGroup},
        {"vst3", "VST3: parameter list, initialize and buses, empty blocks, silence flags, streams, threads", vst3Group,
         kVst3},
        {"clap", "CLAP: factory and descriptor, activation range, flush, value texts, state streams, threads, GUI",
         clapGroup, kClap},
    };
    return groups;
}

}  // namespace validate
