// The VST3 build sounds exactly like the VST 2.4 build: the same scenes as
// the golden-output test (every tube setting at both factors and three
// rates, changes and programs mid-run, rate changes, random block sizes, NaN
// input, mono, in place) run through both libraries as hosts drive them,
// and every output sample's bits must agree. Parameter changes reach the
// VST3 build as queue points at the block's first frame, the way hosts send
// them between blocks.
#include "../../tests/LoadedPlugin.h"
#include "Vst3Host.h"
#include "vst3/Vst3Effect.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace testhost;

intptr_t VST_CALL vst2Host(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float)
{
    return opcode == audioMasterVersion ? 2400 : 0;
}

const LoadedPlugin& vst2Library()
{
    static LoadedPlugin lib(Z5R_VST2_FILE);
    return lib;
}

// What a scene asks of a host, said once for both formats.
class Driver {
public:
    virtual ~Driver() = default;
    virtual bool ok() const = 0;
    virtual void set(int32_t index, float value) = 0;
    virtual void program(int32_t program) = 0;
    virtual void changeRate(float rate) = 0;
    virtual void mono() = 0;
    virtual void block(float** in, float** out, int32_t channelsIn, int32_t frames) = 0;
};

class Vst2Driver final : public Driver {
public:
    explicit Vst2Driver(float rate)
    {
        if (!vst2Library().vstPluginMain) return;
        effect = vst2Library().vstPluginMain(vst2Host);
        if (!effect) return;
        call(effSetSampleRate, 0, 0, rate);
        call(effSetBlockSize, 0, 1024);
        call(effMainsChanged, 0, 1);
        waitForTables();
    }
    ~Vst2Driver() override
    {
        if (effect) call(effClose);
    }
    bool ok() const override { return effect != nullptr; }
    void set(int32_t index, float value) override { effect->setParameter(effect, index, value); }
    void program(int32_t p) override { call(effSetProgram, 0, p); }
    void changeRate(float rate) override
    {
        call(effMainsChanged, 0, 0);
        call(effSetSampleRate, 0, 0, rate);
        call(effMainsChanged, 0, 1);
        waitForTables();
    }
    // Both builds make every table set before the first change, so that a
    // change lands at its first block in both ('Z5Rw', the VST 2.4 build's
    // vendor call; the VST3 build does it for an offline render).
    void waitForTables() { call(effVendorSpecific, 0x5A355277); }
    void mono() override
    {
        VstSpeakerArrangement one{};
        one.numChannels = 1;
        VstSpeakerArrangement two{};
        two.numChannels = 2;
        call(effSetSpeakerArrangement, 0, reinterpret_cast<intptr_t>(&one), 0.0f, &two);
    }
    void block(float** in, float** out, int32_t, int32_t frames) override
    {
        effect->processReplacing(effect, in, out, frames);
    }

private:
    intptr_t call(int32_t opcode, int32_t index = 0, intptr_t value = 0, float opt = 0.0f, void* ptr = nullptr)
    {
        return effect->dispatcher(effect, opcode, index, value, ptr, opt);
    }
    AEffect* effect = nullptr;
};

class Vst3Driver final : public Driver {
public:
    explicit Vst3Driver(float rate) : instance(rate, 1024, false) { instance.start(rate, 1024, kOffline); }
    bool ok() const override { return instance.ok(); }
    void set(int32_t index, float value) override { changes.add(static_cast<ParamID>(index), 0, value); }
    void program(int32_t p) override
    {
        instance.controller->setParamNormalized(kProgramId, static_cast<double>(p) / (kNumPrograms - 1));
    }
    void changeRate(float rate) override
    {
        instance.stop();
        instance.start(rate, 1024, kOffline);
    }
    void mono() override
    {
        SpeakerArrangement in = kArrMono, out = kArrStereo;
        instance.stop();
        instance.processor->setBusArrangements(&in, 1, &out, 1);
        instance.start(48000.0, 1024, kOffline);
    }
    void block(float** in, float** out, int32_t channelsIn, int32_t frames) override
    {
        instance.process(std::vector<float*>(in, in + channelsIn), {out[0], out[1]}, frames,
                         changes.queues.empty() ? nullptr : &changes);
        changes.queues.clear();
    }

private:
    Instance instance;
    Changes changes;
};

// Repeatable block sizes and a test signal made with additions and
// multiplications only.
class Scene {
public:
    Scene(Driver& driver, uint32_t seed) : driver(driver), random(seed ? seed : 1u) {}

    void run(int32_t frames, const std::function<void()>& before = {},
             const std::function<void(int64_t, float&, float&)>& shape = {})
    {
        while (frames > 0) {
            random ^= random << 13;
            random ^= random >> 17;
            random ^= random << 5;
            const int32_t n = std::min(frames, 1 + static_cast<int32_t>(random % 700u));
            if (before) before();
            block(n, shape);
            frames -= n;
        }
    }

    bool inPlace = false;
    int32_t channelsIn = 2;
    std::vector<uint32_t> output;

private:
    void block(int32_t n, const std::function<void(int64_t, float&, float&)>& shape)
    {
        std::vector<float> inL(n), inR(n), outL(n, 7.0f), outR(n, 7.0f);
        for (int32_t i = 0; i < n; ++i) {
            if (frame % 3000 == 0) envelope = 1.0;
            envelope *= 0.9994;
            step(a, 0.0571);
            step(b, 0.0383);
            inL[i] = static_cast<float>(envelope * 0.7 * a.x);
            inR[i] = static_cast<float>(envelope * 0.6 * b.x);
            if (shape) shape(frame, inL[i], inR[i]);
            ++frame;
        }
        if (inPlace) {
            outL = inL;
            outR = inR;
        }
        float* in[2] = {inPlace ? outL.data() : inL.data(), inPlace ? outR.data() : inR.data()};
        float* out[2] = {outL.data(), outR.data()};
        driver.block(in, out, channelsIn, n);
        for (int32_t i = 0; i < n; ++i) {
            output.push_back(bitsOf(outL[i]));
            output.push_back(bitsOf(outR[i]));
        }
    }
    struct Phasor {
        double x = 0.0, y = 1.0;
    };
    static void step(Phasor& p, double rate)
    {
        p.x += rate * p.y;
        p.y -= rate * p.x;
    }

    Driver& driver;
    uint32_t random;
    Phasor a, b;
    double envelope = 1.0;
    int64_t frame = 0;
};

// Runs `script` on both builds and compares every output bit.
void expectSame(const std::string& name, const std::function<void(Driver&, Scene&)>& script, float rate = 48000.0f)
{
    uint32_t seed = 2166136261u;
    for (char c : name) seed = (seed ^ static_cast<unsigned char>(c)) * 16777619u;
    Vst2Driver two(rate);
    Vst3Driver three(rate);
    ASSERT_TRUE(two.ok()) << "cannot load " Z5R_VST2_FILE;
    ASSERT_TRUE(three.ok()) << "cannot load " Z5R_VST3_FILE;
    Scene sceneTwo(two, seed), sceneThree(three, seed);
    script(two, sceneTwo);
    script(three, sceneThree);
    ASSERT_EQ(sceneTwo.output.size(), sceneThree.output.size()) << name;
    size_t differing = 0, first = 0;
    for (size_t i = 0; i < sceneTwo.output.size(); ++i)
        if (sceneTwo.output[i] != sceneThree.output[i] && differing++ == 0) first = i;
    EXPECT_EQ(differing, 0u) << name << ": first at output sample " << first;
}

constexpr float kSelect[3] = {0.0f, 0.5f, 1.0f};

void setAll(Driver& d, const float (&values)[7])
{
    for (int32_t i = 0; i < 7; ++i) d.set(i, values[i]);
}

TEST(BitIdentity, EveryTubeSettingAtBothFactorsAndThreeRates)
{
    for (float rate : {44100.0f, 48000.0f, 96000.0f})
        for (int32_t factor : {1, 16})
            for (int32_t t = 0; t < 3; ++t)
                for (int32_t v = 0; v < 3; ++v)
                    for (int32_t c = 0; c < 3; ++c)
                        expectSame(
                            "grid/" + std::to_string(static_cast<int32_t>(rate)) + "/" + std::to_string(factor) + "/" +
                                std::to_string(t * 9 + v * 3 + c),
                            [&](Driver& d, Scene& s) {
                                setAll(d, {factor == 16 ? 1.0f : 0.0f, 0.75f, 0.5f, kSelect[t], kSelect[v],
                                           kSelect[c], 1.0f});
                                s.run(factor == 16 ? 1024 : 2048);
                            },
                            rate);
}

TEST(BitIdentity, ChangesProgramsAndRatesMidRun)
{
    for (float rate : {44100.0f, 48000.0f, 96000.0f})
        expectSame(
            "changes/" + std::to_string(static_cast<int32_t>(rate)),
            [](Driver& d, Scene& s) {
                s.run(700);
                d.program(2);
                s.run(800);
                d.program(3);
                s.run(600);
                d.program(0);
                s.run(900);
                d.set(1, 0.95f);
                s.run(900);
                d.set(2, 0.2f);
                d.set(3, 0.5f);
                s.run(800);
                d.set(4, 1.0f);
                d.set(5, 0.4f);
                d.set(6, 1.0f);
                s.run(600);
                d.set(0, 1.0f);  // 16x
                s.run(900);
                d.set(3, 0.9f);
                d.set(1, 0.3f);
                s.run(700);
                d.set(0, 0.2f);  // back to 1x
                s.run(900);
                d.changeRate(88200.0f);
                s.run(1200);
                d.set(2, 0.8f);
                s.run(700);
            },
            rate);
}

TEST(BitIdentity, ValuesResentEveryBlockAndEveryProgram)
{
    for (int32_t factor : {1, 16})
        expectSame("resend/" + std::to_string(factor), [&](Driver& d, Scene& s) {
            const float values[7] = {factor == 16 ? 1.0f : 0.0f, 0.8f, 0.5f, 0.5f, 0.5f, 0.5f, 0.0f};
            setAll(d, values);
            s.run(3000, [&] { setAll(d, values); });
        });
    for (int32_t program = 0; program < kNumPrograms; ++program)
        expectSame("program/" + std::to_string(program), [&](Driver& d, Scene& s) {
            d.program(program);
            s.run(2048);
        });
}

TEST(BitIdentity, NonFiniteInputMonoAndInPlace)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    for (int32_t factor : {1, 16}) {
        expectSame("nan/" + std::to_string(factor), [&](Driver& d, Scene& s) {
            d.set(0, factor == 16 ? 1.0f : 0.0f);
            s.run(3000, {}, [&](int64_t frame, float& l, float& r) {
                if (frame % 500 == 7) l = nan;
                if (frame % 700 == 3) r = inf;
                if (frame % 900 == 11) l = -inf;
            });
        });
        expectSame("mono/" + std::to_string(factor), [&](Driver& d, Scene& s) {
            d.mono();
            s.channelsIn = 1;
            d.set(0, factor == 16 ? 1.0f : 0.0f);
            d.set(1, 0.9f);
            s.run(3000);
        });
        expectSame("in-place/" + std::to_string(factor), [&](Driver& d, Scene& s) {
            s.inPlace = true;
            d.set(0, factor == 16 ? 1.0f : 0.0f);
            d.set(3, 0.5f);
            s.run(3000);
        });
    }
}

}  // namespace
