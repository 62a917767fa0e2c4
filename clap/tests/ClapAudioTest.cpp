// The CLAP plug-in's sound against the VST 2.4 library of the same build,
// both loaded by file name: bit for bit over every tube setting at both
// factors and three rates in blocks of random size; parameter events at
// their frames against the VST 2.4 library fed the same block cut by hand;
// and parameter traffic from another thread while one processes (run it
// under ThreadSanitizer: the tsan preset).
#include "LoadedPlugin.h"
#include "TestHost.h"
#include "clap/ClapEffect.h"
#include "engine/ParameterInfo.h"
#include "plugin/TubeEffect.h"
#include "plugin/vst2abi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

const LoadedPlugin& vst()
{
    static LoadedPlugin lib(Z5R_PLUGIN_FILE);
    return lib;
}

intptr_t VST_CALL vstHost(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float)
{
    return opcode == audioMasterVersion ? 2400 : 0;
}

// The VST 2.4 effect, set up as the golden-output test sets it up.
class VstEffect {
public:
    explicit VstEffect(float rate)
    {
        if (!vst().vstPluginMain) return;
        effect = vst().vstPluginMain(vstHost);
        if (!effect) return;
        call(effSetSampleRate, 0, rate);
        call(effSetBlockSize, 1024, 0.0f);
        call(effMainsChanged, 1, 0.0f);
        // Every table set of the rate, as the CLAP side makes them offline:
        // what either sounds like cannot hang on the background builder.
        effect->dispatcher(effect, effVendorSpecific, kVendorWaitForTables, 0, nullptr, 0.0f);
    }
    ~VstEffect()
    {
        if (effect) call(effClose, 0, 0.0f);
    }
    bool ok() const { return effect != nullptr; }
    void set(int32_t index, float value) { effect->setParameter(effect, index, value); }
    void process(float* inL, float* inR, float* outL, float* outR, int32_t frames)
    {
        float* in[2] = {inL, inR};
        float* out[2] = {outL, outR};
        effect->processReplacing(effect, in, out, frames);
    }

private:
    void call(int32_t opcode, intptr_t value, float opt) { effect->dispatcher(effect, opcode, 0, value, nullptr, opt); }
    AEffect* effect = nullptr;
};

// A repeatable input: two partials per channel under a restarting decay.
class Signal {
public:
    void fill(std::vector<float>& left, std::vector<float>& right)
    {
        for (size_t i = 0; i < left.size(); ++i) {
            if (frame++ % 2500 == 0) envelope = 1.0;
            envelope *= 0.9993;
            l.x += 0.0571 * l.y;
            l.y -= 0.0571 * l.x;
            r.x += 0.0383 * r.y;
            r.y -= 0.0383 * r.x;
            left[i] = static_cast<float>(envelope * l.x);
            right[i] = static_cast<float>(envelope * 0.8 * r.x);
        }
    }

private:
    struct Phasor {
        double x = 0.0, y = 1.0;
    };
    Phasor l, r;
    double envelope = 1.0;
    uint32_t frame = 0;
};

uint32_t nextRandom(uint32_t& state)
{
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

bool sameBits(const std::vector<float>& a, const std::vector<float>& b)
{
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

constexpr float kEntries[3] = {0.0f, 0.5f, 1.0f};

TEST(ClapAudio, EveryTubeSettingEqualsTheVst24BuildBitForBit)
{
    int32_t compared = 0;
    for (double rate : {44100.0, 48000.0, 96000.0})
        for (float oversample : {0.0f, 1.0f})
            for (int32_t t = 0; t < 3; ++t)
                for (int32_t v = 0; v < 3; ++v)
                    for (int32_t c = 0; c < 3; ++c) {
                        const std::string name = std::to_string(static_cast<int32_t>(rate)) + "/" +
                                                 (oversample > 0.5f ? "16x/" : "1x/") + std::to_string(t) +
                                                 std::to_string(v) + std::to_string(c);
                        SCOPED_TRACE(name);
                        const float values[kNumParams] = {oversample, 0.75f, 0.5f, kEntries[t], kEntries[v],
                                                          kEntries[c], 1.0f};
                        VstEffect reference(static_cast<float>(rate));
                        ASSERT_TRUE(reference.ok()) << "cannot load " Z5R_PLUGIN_FILE;
                        for (int32_t i = 0; i < kNumParams; ++i) reference.set(i, values[i]);
                        TestHost host;
                        ASSERT_TRUE(host.ok()) << "cannot load " Z5R_CLAP_FILE;
                        // Half the settings arrive by flush before activation,
                        // half as events at the first block's first frame.
                        EventList first;
                        const bool byFlush = (t + v + c) % 2 == 0;
                        for (int32_t i = 0; i < kNumParams; ++i)
                            first.value(0, static_cast<clap_id>(i), clapValueFromNormalized(i, values[i]));
                        if (byFlush) host.flush(&first, nullptr);
                        ASSERT_TRUE(host.renderOffline());
                        ASSERT_TRUE(host.activate(rate));

                        Signal signal;
                        uint32_t random = 0x9E3779B9u + static_cast<uint32_t>(compared);
                        int32_t frames = oversample > 0.5f ? 1536 : 4096;
                        bool firstBlock = true;
                        while (frames > 0) {
                            const int32_t n = std::min<int32_t>(frames, 1 + static_cast<int32_t>(nextRandom(random) % 700u));
                            std::vector<float> inL(n), inR(n), vstL(n, 7.0f), vstR(n, 7.0f), clapL(n, 5.0f),
                                clapR(n, 5.0f);
                            signal.fill(inL, inR);
                            reference.process(inL.data(), inR.data(), vstL.data(), vstR.data(), n);
                            host.process(inL.data(), inR.data(), clapL.data(), clapR.data(), static_cast<uint32_t>(n),
                                         firstBlock && !byFlush ? &first : nullptr);
                            ASSERT_TRUE(sameBits(vstL, clapL) && sameBits(vstR, clapR));
                            firstBlock = false;
                            frames -= n;
                        }
                        ++compared;
                    }
    EXPECT_EQ(compared, 162);
}

// One block with changes inside it, against the VST 2.4 build fed the same
// block in pieces with each change set between them.
TEST(ClapAudio, EventsLandAtTheirFrames)
{
    struct Change {
        uint32_t time;
        int32_t index;
        float normalized;
    };
    const std::vector<std::vector<Change>> cases = {
        {{100, kParamGain, 0.95f}},
        {{1, kParamLevel, 0.2f}, {1, kParamTriode, 0.5f}, {300, kParamOversample, 1.0f}, {511, kParamGain, 0.3f}},
        {{0, kParamCap, 1.0f}, {256, kParamVoltage, 0.5f}, {256, kParamNormalize, 1.0f}, {400, kParamOversample, 0.0f}},
    };
    constexpr uint32_t kBlock = 512;
    for (size_t k = 0; k < cases.size(); ++k) {
        SCOPED_TRACE(k);
        VstEffect reference(48000.0f);
        ASSERT_TRUE(reference.ok());
        TestHost host;
        ASSERT_TRUE(host.ok());
        ASSERT_FALSE(host.render->set(host.plugin, 2));  // no such mode
        ASSERT_TRUE(host.renderOffline());
        ASSERT_TRUE(host.activate(48000.0));
        Signal signal;
        for (int32_t b = 0; b < 3; ++b) {
            std::vector<float> inL(kBlock), inR(kBlock), vstL(kBlock), vstR(kBlock), clapL(kBlock), clapR(kBlock);
            signal.fill(inL, inR);
            EventList events;
            uint32_t done = 0;
            for (const Change& change : b == 1 ? cases[k] : std::vector<Change>{}) {
                events.value(change.time, static_cast<clap_id>(change.index),
                             clapValueFromNormalized(change.index, change.normalized));
                if (change.time > done) {
                    reference.process(inL.data() + done, inR.data() + done, vstL.data() + done, vstR.data() + done,
                                      static_cast<int32_t>(change.time - done));
                    done = change.time;
                }
                reference.set(change.index, change.normalized);
            }
            reference.process(inL.data() + done, inR.data() + done, vstL.data() + done, vstR.data() + done,
                              static_cast<int32_t>(kBlock - done));
            host.process(inL.data(), inR.data(), clapL.data(), clapR.data(), kBlock, &events);
            ASSERT_TRUE(sameBits(vstL, clapL) && sameBits(vstR, clapR)) << "block " << b;
        }
    }
}

// Events past the block's end land after it; events out of order land where
// they are met; in place, the input is the output.
TEST(ClapAudio, LateUnorderedAndInPlaceEvents)
{
    TestHost a, b;
    ASSERT_TRUE(a.ok() && b.ok());
    ASSERT_TRUE(a.activate(48000.0) && b.activate(48000.0));
    std::vector<float> inL(256), inR(256), outL(256), outR(256);
    Signal signal;
    signal.fill(inL, inR);
    EventList late;
    late.value(9999, kParamGain, 30.0);
    a.process(inL.data(), inR.data(), outL.data(), outR.data(), 256, &late);
    EXPECT_EQ(a.value(kParamGain), 30.0);
    std::vector<float> reference = outL;
    b.process(inL.data(), inR.data(), outL.data(), outR.data(), 256);
    EXPECT_TRUE(sameBits(reference, outL));
    // In place, on b after the same change.
    b.set(kParamGain, 30.0);
    signal.fill(inL, inR);
    std::vector<float> ioL = inL, ioR = inR;
    a.process(inL.data(), inR.data(), outL.data(), outR.data(), 256);
    b.process(ioL.data(), ioR.data(), ioL.data(), ioR.data(), 256);
    EXPECT_TRUE(sameBits(outL, ioL) && sameBits(outR, ioR));
    // Out of order: the earlier time after the later one still lands.
    EventList unordered;
    unordered.value(200, kParamLevel, 6.0);
    unordered.value(50, kParamLevel, -6.0);
    a.process(inL.data(), inR.data(), outL.data(), outR.data(), 256, &unordered);
    EXPECT_EQ(a.value(kParamLevel), -6.0);
}

TEST(ClapAudio, MonoInputFeedsBothOutputs)
{
    VstEffect reference(48000.0f);
    TestHost host;
    ASSERT_TRUE(reference.ok() && host.ok());
    ASSERT_TRUE(host.activate(48000.0));
    std::vector<float> inL(300), inR(300), vstL(300), vstR(300), outL(300), outR(300, 9.0f);
    Signal signal;
    signal.fill(inL, inR);
    std::vector<float> silent(300, 0.0f);
    reference.process(inL.data(), silent.data(), vstL.data(), vstR.data(), 300);
    host.process(inL.data(), nullptr, outL.data(), outR.data(), 300, nullptr, nullptr, 1);
    EXPECT_TRUE(sameBits(outL, outR));
    EXPECT_TRUE(sameBits(outL, vstL));  // the left lane does not hear the right
}

// The editor's changes reach the host in process or flush, inside their
// gestures, with the flush asked for when the host is not processing.
TEST(ClapAudio, ProcessAndFlushCarryTheEditorsChangesOut)
{
    TestHost host;
    ASSERT_TRUE(host.ok());
    ClapEffect& effect = *ClapEffect::from(host.plugin);
    effect.gesture(kParamGain, true);
    effect.setFromUser(kParamGain, 0.8f);
    effect.gesture(kParamGain, false);
    EXPECT_EQ(host.flushRequests.load(), 3);
    OutputList out;
    host.flush(nullptr, &out);
    ASSERT_EQ(out.events.size(), 3u);
    EXPECT_EQ(out.events[0].type, CLAP_EVENT_PARAM_GESTURE_BEGIN);
    EXPECT_EQ(out.events[1].type, CLAP_EVENT_PARAM_VALUE);
    EXPECT_EQ(out.events[1].value, 26.4);
    EXPECT_EQ(out.events[2].type, CLAP_EVENT_PARAM_GESTURE_END);
    for (const OutEvent& e : out.events) EXPECT_EQ(e.id, static_cast<clap_id>(kParamGain));
    EXPECT_EQ(host.value(kParamGain), 26.4);

    // A host out of room keeps them for the next call.
    ASSERT_TRUE(host.activate(48000.0));
    effect.setFromUser(kParamTriode, 1.0f);
    std::vector<float> in(32, 0.0f), outL(32), outR(32);
    OutputList refusing;
    refusing.full = true;
    host.process(in.data(), in.data(), outL.data(), outR.data(), 32, nullptr, &refusing);
    OutputList next;
    host.process(in.data(), in.data(), outL.data(), outR.data(), 32, nullptr, &next);
    ASSERT_EQ(next.events.size(), 1u);
    EXPECT_EQ(next.events[0].value, 2.0);
    // A change of Oversmpl from the editor while active asks for a restart.
    effect.setFromUser(kParamOversample, 1.0f);
    EXPECT_EQ(host.restartRequests.load(), 1);
}

// Parameters set and flushed on one thread, a state saved and a preset
// loaded on it, while another processes with events: no data race
// (ThreadSanitizer), and every value the host reads is one it could have.
TEST(ClapThreads, MainThreadTrafficWhileAnotherProcesses)
{
    TestHost host;
    ASSERT_TRUE(host.ok());
    ASSERT_TRUE(host.activate(48000.0));
    ClapEffect& effect = *ClapEffect::from(host.plugin);
    std::atomic<bool> stop{false};
    std::thread audio([&] {
        std::vector<float> inL(128), inR(128), outL(128), outR(128);
        Signal signal;
        uint32_t random = 77;
        while (!stop.load()) {
            signal.fill(inL, inR);
            EventList events;
            events.value(nextRandom(random) % 128, kParamLevel, -6.0 + (nextRandom(random) % 12));
            OutputList out;
            host.process(inL.data(), inR.data(), outL.data(), outR.data(), 128, &events, &out);
            for (float x : outL) ASSERT_TRUE(std::isfinite(x));
        }
    });
    for (int32_t round = 0; round < 300; ++round) {
        effect.gesture(kParamGain, true);
        effect.setFromUser(kParamGain, static_cast<float>(round % 10) / 10.0f);
        effect.gesture(kParamGain, false);
        const double level = host.value(kParamLevel);
        EXPECT_TRUE(level >= -24.0 && level <= 24.0);
        if (round % 50 == 0) {
            ByteStream stream;
            EXPECT_TRUE(host.state->save(host.plugin, &stream.out));
            EXPECT_TRUE(host.presetLoad->from_location(host.plugin, kClapPresetLocationPlugin, nullptr,
                                                       round % 100 ? "1" : "0"));
        }
        std::this_thread::yield();
    }
    stop.store(true);
    audio.join();
}

}  // namespace
