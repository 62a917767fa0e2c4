// The VST3 build as hosts see it, through its exported factory: what the
// factory and moduleinfo.json say, parameters and their texts against the
// VST 2.4 build, sample-accurate automation against blocks split by hand,
// state round trips and hostile blobs, the bypass and its timing, latency
// announcements and their thread, buses, programs, and two threads at once.
#include "../../tests/LoadedPlugin.h"
#include "Vst3Host.h"
#include "engine/InstanceState.h"
#include "engine/ParameterInfo.h"
#include "engine/Product.h"
#include "vst3/Utf16.h"
#include "vst3/Vst3Effect.h"

#include <algorithm>
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace testhost;

const LoadedPlugin& vst2Library()
{
    static LoadedPlugin lib(Z5R_VST2_FILE);
    return lib;
}

std::string utf8(const char16_t* text, size_t units = 128)
{
    char out[512];
    toUtf8(text, units, out, sizeof(out));
    return out;
}

std::u16string utf16(const char* text)
{
    char16_t out[128];
    toUtf16(text, out, 128);
    return out;
}

// A block of the test signal, the same for every caller.
struct Block {
    explicit Block(int32_t frames, int32_t start = 0) : left(frames), right(frames), outL(frames), outR(frames)
    {
        for (int32_t i = 0; i < frames; ++i) {
            const double n = start + i;
            left[i] = static_cast<float>(0.6 * std::sin(0.031 * n));
            right[i] = static_cast<float>(0.5 * std::sin(0.017 * n + 1.0));
        }
    }
    std::vector<float> left, right, outL, outR;
};

// Runs `frames` frames of the signal through `instance` in one block.
Block render(Instance& instance, int32_t frames, int32_t start = 0, IParameterChanges* changes = nullptr)
{
    Block b(frames, start);
    instance.process({b.left.data(), b.right.data()}, {b.outL.data(), b.outR.data()}, frames, changes);
    return b;
}

// --- Factory and module ---

TEST(Factory, DescribesOneEffectClassAsTheModuleInfoDoes)
{
    IPluginFactory* factory = module().factory;
    ASSERT_NE(factory, nullptr) << "cannot load " Z5R_VST3_FILE;
    EXPECT_TRUE(module().entered);
    PFactoryInfo info{};
    ASSERT_EQ(factory->getFactoryInfo(&info), kResultOk);
    EXPECT_STREQ(info.vendor, "QMV");
    EXPECT_EQ(info.flags, PFactoryInfo::kUnicode);
    EXPECT_EQ(factory->countClasses(), 1);

    void* obj = nullptr;
    ASSERT_EQ(factory->queryInterface(kIPluginFactory3Iid.bytes, &obj), kResultOk);
    auto* factory3 = static_cast<IPluginFactory3*>(obj);
    PClassInfo2 two{};
    ASSERT_EQ(factory3->getClassInfo2(0, &two), kResultOk);
    EXPECT_STREQ(two.category, "Audio Module Class");
    EXPECT_STREQ(two.name, product::kName);
    EXPECT_STREQ(two.subCategories, "Fx|Distortion");
    EXPECT_STREQ(two.version, "1.0.6.0");
    EXPECT_STREQ(two.vendor, "QMV");
    PClassInfoW wide{};
    ASSERT_EQ(factory3->getClassInfoUnicode(0, &wide), kResultOk);
    EXPECT_EQ(utf8(wide.name, 64), product::kName);
    EXPECT_EQ(utf8(wide.version, 64), "1.0.6.0");
    EXPECT_EQ(std::memcmp(wide.cid, two.cid, 16), 0);
    EXPECT_NE(factory3->getClassInfo2(1, &two), kResultOk);

    // The class identifier's four words, as moduleinfo.json writes them.
    const Uid expected = makeUid(product::kVst3ProcessorId.l1, product::kVst3ProcessorId.l2,
                                 product::kVst3ProcessorId.l3, product::kVst3ProcessorId.l4);
    EXPECT_EQ(std::memcmp(two.cid, expected.bytes, 16), 0);
    char words[33];
    std::snprintf(words, sizeof(words), "%08X%08X%08X%08X", product::kVst3ProcessorId.l1, product::kVst3ProcessorId.l2,
                  product::kVst3ProcessorId.l3, product::kVst3ProcessorId.l4);
    std::ifstream file(Z5R_MODULEINFO);
    std::stringstream json;
    json << file.rdbuf();
    EXPECT_NE(json.str().find(std::string("\"CID\": \"") + words + "\""), std::string::npos);
    EXPECT_NE(json.str().find("\"Version\": \"1.0.6.0\""), std::string::npos);
    EXPECT_NE(json.str().find("\"Distortion\""), std::string::npos);
}

TEST(Factory, RefusesUnknownClassesAndInterfaces)
{
    IPluginFactory* factory = module().factory;
    ASSERT_NE(factory, nullptr);
    void* obj = reinterpret_cast<void*>(1);
    const Uid other = makeUid(1, 2, 3, 4);
    EXPECT_NE(factory->createInstance(reinterpret_cast<const char*>(other.bytes),
                                      reinterpret_cast<const char*>(kIComponentIid.bytes), &obj),
              kResultOk);
    EXPECT_EQ(obj, nullptr);
    const Uid cid = classId();
    EXPECT_EQ(factory->createInstance(reinterpret_cast<const char*>(cid.bytes),
                                      reinterpret_cast<const char*>(kIPlugViewIid.bytes), &obj),
              kNoInterface);
    EXPECT_EQ(obj, nullptr);
}

// --- Parameters ---

TEST(Parameters, SameIdsStepsTextsAndUnitsAsTheVst24Build)
{
    Instance instance;
    ASSERT_TRUE(instance.ok());
    IEditController* c = instance.controller;
    ASSERT_EQ(c->getParameterCount(), kParameterCount);
    const int32_t steps[kNumParams] = {1, 0, 0, 2, 2, 2, 1};

    ASSERT_NE(vst2Library().vstPluginMain, nullptr);
    AEffect* effect = vst2Library().vstPluginMain(
        [](AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) -> intptr_t { return opcode == 1 ? 2400 : 0; });
    ASSERT_NE(effect, nullptr);
    auto vst2Text = [&](int32_t opcode, int32_t index) {
        char text[64] = {};
        effect->dispatcher(effect, opcode, index, 0, text, 0.0f);
        return std::string(text);
    };

    for (int32_t i = 0; i < kNumParams; ++i) {
        vst3::ParameterInfo info{};
        ASSERT_EQ(c->getParameterInfo(i, info), kResultOk);
        EXPECT_EQ(info.id, static_cast<ParamID>(i));
        EXPECT_EQ(info.stepCount, steps[i]) << i;
        EXPECT_EQ(info.defaultNormalizedValue, kFactoryPrograms[0].values[i]);
        EXPECT_TRUE(info.flags & vst3::ParameterInfo::kCanAutomate);
        EXPECT_EQ(utf8(info.shortTitle), vst2Text(effGetParamName, i)) << i;
        EXPECT_EQ(utf8(info.units), vst2Text(effGetParamLabel, i)) << i;
        for (float v : {0.0f, 0.1f, 0.3f, 0.34f, 0.5f, 0.66f, 0.75f, 0.8f, 1.0f}) {
            effect->setParameter(effect, i, v);
            String128 text{};
            ASSERT_EQ(c->getParamStringByValue(static_cast<ParamID>(i), v, text), kResultOk);
            // VST 2.4 shows the oversampling in force, which follows the
            // value at the next block; VST3 shows the value's own factor.
            if (i == kParamOversample)
                EXPECT_EQ(utf8(text), v >= 0.5f ? "16" : "1");
            else
                EXPECT_EQ(utf8(text), vst2Text(effGetParamDisplay, i)) << i << " at " << v;
        }
    }
    effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f);

    vst3::ParameterInfo bypass{}, program{};
    ASSERT_EQ(c->getParameterInfo(kBypassId, bypass), kResultOk);
    EXPECT_TRUE(bypass.flags & vst3::ParameterInfo::kIsBypass);
    EXPECT_EQ(bypass.stepCount, 1);
    ASSERT_EQ(c->getParameterInfo(kProgramId, program), kResultOk);
    EXPECT_TRUE(program.flags & vst3::ParameterInfo::kIsProgramChange);
    EXPECT_EQ(program.stepCount, kNumPrograms - 1);
    vst3::ParameterInfo none{};
    EXPECT_NE(c->getParameterInfo(kParameterCount, none), kResultOk);
    EXPECT_NE(c->getParameterInfo(-1, none), kResultOk);
}

TEST(Parameters, TypedTextGivesTheValueTheVst24BuildWouldSet)
{
    Instance instance;
    ASSERT_TRUE(instance.ok());
    IEditController* c = instance.controller;
    struct Case {
        ParamID id;
        const char* text;
        double value;
    } cases[] = {
        {kParamGain, "24", 0.75},       {kParamGain, "24 dB", 0.75},  {kParamGain, "+24.0dB", 0.75},
        {kParamLevel, "-6", 0.375},     {kParamTriode, "12AT7", 0.5}, {kParamVoltage, "350", 1.0},
        {kParamVoltage, "250 V", 0.5},  {kParamCap, "1 µF", 0.5},     {kParamOversample, "16x", 1.0},
        {kParamNormalize, "On", 1.0},   {kBypassId, "on", 1.0},       {kProgramId, "Moderate", 2.0 / 7.0},
    };
    for (const Case& k : cases) {
        std::u16string text = utf16(k.text);
        ParamValue value = -1.0;
        ASSERT_EQ(c->getParamValueByString(k.id, text.data(), value), kResultOk) << k.text;
        EXPECT_EQ(static_cast<float>(value), static_cast<float>(k.value)) << k.text;
    }
    for (const char* junk : {"", "loud", "24 V", "12AX9", "nan"}) {
        std::u16string text = utf16(junk);
        ParamValue value = -1.0;
        EXPECT_NE(c->getParamValueByString(kParamGain, text.data(), value), kResultOk) << junk;
        EXPECT_EQ(value, -1.0);
    }
    // Plain values: steps for switches and choices, the unit's numbers for
    // the continuous ones; both ways agree.
    EXPECT_EQ(c->normalizedParamToPlain(kParamTriode, 0.5), 1.0);
    EXPECT_EQ(c->normalizedParamToPlain(kParamOversample, 0.49), 0.0);
    EXPECT_EQ(c->plainParamToNormalized(kParamVoltage, 2.0), 1.0);
    EXPECT_FLOAT_EQ(static_cast<float>(c->normalizedParamToPlain(kParamGain, 0.75)), 24.0f);
    EXPECT_EQ(static_cast<float>(c->plainParamToNormalized(kParamGain, 24.0)), 0.75f);
}

// --- Automation ---

TEST(Automation, PointsLandAtTheirFrameAsBlocksSplitByHand)
{
    // Points in several queues, out of time order across queues, two in one
    // queue, one past the block's end (it lands before the last frame).
    struct P {
        ParamID id;
        int32_t offset;
        double value;
    };
    const std::vector<P> points = {{kParamLevel, 300, 0.2}, {kParamGain, 100, 0.9},  {kParamGain, 450, 0.6},
                                   {kParamOversample, 200, 1.0}, {kParamTriode, 0, 0.5}, {kParamCap, 9000, 1.0}};
    const int32_t frames = 512;
    for (int32_t run = 0; run < 2; ++run) {
        Instance automated, split;
        ASSERT_TRUE(automated.ok() && split.ok());
        // A warm-up block so the points meet a running engine.
        render(automated, 256);
        render(split, 256);

        Changes changes;
        for (const P& p : points) changes.add(p.id, p.offset, p.value);
        const Block whole = render(automated, frames, 256, &changes);

        // The same by hand: a block ends at every point's frame, and the
        // points are sent at the next block's first frame.
        std::vector<int32_t> cuts = {0, 100, 200, 300, 450, frames - 1, frames};
        std::vector<float> outL, outR;
        for (size_t k = 0; k + 1 < cuts.size(); ++k) {
            Changes now;
            for (const P& p : points)
                if (std::min(p.offset, frames - 1) == cuts[k]) now.add(p.id, 0, p.value);
            const int32_t n = cuts[k + 1] - cuts[k];
            Block piece(n, 256 + cuts[k]);
            split.process({piece.left.data(), piece.right.data()}, {piece.outL.data(), piece.outR.data()}, n, &now);
            outL.insert(outL.end(), piece.outL.begin(), piece.outL.end());
            outR.insert(outR.end(), piece.outR.begin(), piece.outR.end());
        }
        for (int32_t i = 0; i < frames; ++i) {
            ASSERT_EQ(bitsOf(whole.outL[i]), bitsOf(outL[i])) << "frame " << i;
            ASSERT_EQ(bitsOf(whole.outR[i]), bitsOf(outR[i])) << "frame " << i;
        }
        EXPECT_EQ(automated.controller->getParamNormalized(kParamGain), static_cast<float>(0.6));
        EXPECT_EQ(automated.processor->getLatencySamples(), 8u);
    }
}

// --- State ---

TEST(State, RoundTripsThroughStreamsOfAnyPieceSize)
{
    Instance source;
    ASSERT_TRUE(source.ok());
    source.controller->setParamNormalized(kProgramId, 2.0 / 7.0);
    source.controller->setParamNormalized(kParamGain, 0.33);
    source.controller->setParamNormalized(kParamCap, 1.0);
    const std::vector<uint8_t> saved = source.state();
    ASSERT_EQ(saved.size(), kInstanceStateSize);

    for (int32_t piece : {1, 7, 100, 1000}) {
        Instance target;
        MemoryStream stream(saved, piece);
        ASSERT_EQ(target.component->setState(&stream), kResultOk) << piece;
        EXPECT_EQ(target.state(), saved) << piece;
        EXPECT_EQ(target.controller->getParamNormalized(kProgramId), 2.0 / 7.0);
        EXPECT_EQ(target.controller->getParamNormalized(kParamGain), static_cast<float>(0.33));
        // The controller is told the same state as hosts do, and a second
        // restore of the same blob leaves the same instance.
        stream.rewind();
        ASSERT_EQ(target.controller->setComponentState(&stream), kResultOk);
        EXPECT_EQ(target.state(), saved);
        // Writing in pieces too.
        MemoryStream out({}, piece);
        ASSERT_EQ(target.component->getState(&out), kResultOk);
        EXPECT_EQ(out.data, saved);
    }
    // Both instances sound the same afterwards.
    Instance restored;
    MemoryStream stream(saved);
    ASSERT_EQ(restored.component->setState(&stream), kResultOk);
    const Block a = render(source, 700), b = render(restored, 700);
    for (int32_t i = 0; i < 700; ++i) ASSERT_EQ(bitsOf(a.outL[i]), bitsOf(b.outL[i]));
}

TEST(State, HostileBlobsAreRefusedAndChangeNothing)
{
    Instance instance;
    ASSERT_TRUE(instance.ok());
    instance.controller->setParamNormalized(kParamLevel, 0.7);
    const std::vector<uint8_t> before = instance.state();

    Instance other;
    other.controller->setParamNormalized(kParamGain, 0.1);
    const std::vector<uint8_t> good = other.state();
    std::vector<std::vector<uint8_t>> hostile;
    hostile.push_back({});
    hostile.emplace_back(good.begin(), good.end() - 1);  // truncated
    hostile.push_back(good);
    hostile.back().push_back(0);  // oversized
    std::vector<uint8_t> garbage(good.size());
    uint32_t x = 12345;
    for (uint8_t& byte : garbage) byte = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 16);
    hostile.push_back(garbage);
    std::vector<uint8_t> nanValue = good;
    const uint32_t nanBits = 0x7FC00000u;
    std::memcpy(nanValue.data() + 8 + 4, &nanBits, 4);  // the second value
    hostile.push_back(nanValue);
    std::vector<uint8_t> badProgram = good;
    const int32_t program = 8;
    std::memcpy(badProgram.data() + 8 + 4 * kNumParams, &program, 4);
    hostile.push_back(badProgram);

    for (size_t k = 0; k < hostile.size(); ++k)
        for (int32_t piece : {3, 1 << 20}) {
            MemoryStream stream(hostile[k], piece);
            EXPECT_NE(instance.component->setState(&stream), kResultOk) << k;
            stream.rewind();
            EXPECT_NE(instance.controller->setComponentState(&stream), kResultOk) << k;
            EXPECT_EQ(instance.state(), before) << k;
        }
    EXPECT_NE(instance.component->setState(nullptr), kResultOk);
    EXPECT_EQ(instance.handler.restarts(kLatencyChanged), 0);
}

// --- Bypass ---

TEST(Bypass, PassesTheInputDelayedByTheLatencyAfterAShortFade)
{
    for (double oversample : {0.0, 1.0}) {
        Instance bypassed, reference;
        ASSERT_TRUE(bypassed.ok());
        for (Instance* i : {&bypassed, &reference}) i->controller->setParamNormalized(kParamOversample, oversample);
        const uint32_t latency = bypassed.processor->getLatencySamples();
        EXPECT_EQ(latency, oversample > 0.5 ? 8u : 0u);
        render(bypassed, 300);
        render(reference, 300);

        Changes on;
        on.add(kBypassId, 0, 1.0);
        const int32_t fade = 240;  // 5 ms at 48 kHz
        const Block b = render(bypassed, 1024, 300, &on);
        const Block wet = render(reference, 1024, 300);
        const Block in(1024 + 300);
        // The fade starts at once, from the effect...
        EXPECT_NEAR(b.outL[0], wet.outL[0], 0.05f);
        // ...and after it the output is the input, shifted by the latency.
        for (int32_t i = fade; i < 1024; ++i) {
            ASSERT_EQ(b.outL[i], in.left[300 + i - latency]) << i;
            ASSERT_EQ(b.outR[i], in.right[300 + i - latency]) << i;
        }
        EXPECT_EQ(bypassed.controller->getParamNormalized(kBypassId), 1.0);

        // Back from bypass: after the fade, the effect's own bits, as if it
        // had never been bypassed (it ran on underneath).
        bypassed.controller->setParamNormalized(kBypassId, 0.0);
        const Block back = render(bypassed, 1024, 1324);
        const Block wetBack = render(reference, 1024, 1324);
        for (int32_t i = fade; i < 1024; ++i) ASSERT_EQ(bitsOf(back.outL[i]), bitsOf(wetBack.outL[i])) << i;
        // No click: the largest step within the fades stays within the signal's.
        float largest = 0.0f;
        for (int32_t i = 1; i < fade; ++i) largest = std::max(largest, std::fabs(back.outL[i] - back.outL[i - 1]));
        EXPECT_LT(largest, 0.2f);
    }
}

// --- Latency ---

TEST(Latency, AnnouncedOnceFromTheWritingThreadAndNeverFromProcess)
{
    Instance instance;
    ASSERT_TRUE(instance.ok());
    EXPECT_EQ(instance.processor->getLatencySamples(), 0u);

    std::thread::id writer;
    std::thread([&] {
        writer = std::this_thread::get_id();
        instance.controller->setParamNormalized(kParamOversample, 1.0);
        instance.controller->setParamNormalized(kParamOversample, 0.9);  // still 16x: no news
        instance.controller->setParamNormalized(kParamGain, 0.9);
    }).join();
    auto calls = instance.handler.taken();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].kind, 'r');
    EXPECT_EQ(calls[0].flags, kLatencyChanged);
    EXPECT_EQ(calls[0].thread, writer);
    EXPECT_EQ(instance.processor->getLatencySamples(), 8u);

    // Automation in a block changes the latency, and process tells nobody;
    // the host hears of it at the next write from its UI thread.
    Changes off;
    off.add(kParamOversample, 10, 0.0);
    render(instance, 64, 0, &off);
    EXPECT_TRUE(instance.handler.taken().empty());
    EXPECT_EQ(instance.processor->getLatencySamples(), 0u);
    instance.controller->setParamNormalized(kParamOversample, 0.0);
    EXPECT_EQ(instance.handler.restarts(kLatencyChanged), 1);
    instance.handler.taken();

    // A program or a state that changes the latency is announced too.
    instance.controller->setParamNormalized(kProgramId, 2.0 / 7.0);  // Moderate: 16x
    EXPECT_EQ(instance.handler.restarts(kLatencyChanged), 1);
    EXPECT_EQ(instance.handler.restarts(kParamValuesChanged), 1);
    instance.handler.taken();
    Instance plain;
    MemoryStream stream(plain.state());
    ASSERT_EQ(instance.component->setState(&stream), kResultOk);
    EXPECT_EQ(instance.handler.restarts(kLatencyChanged), 1);
    EXPECT_EQ(instance.processor->getLatencySamples(), 0u);
}

// --- Buses ---

TEST(Buses, StereoMonoAndMonoToStereoOnlyKeepingTheArrangementOtherwise)
{
    Instance instance(48000.0, 1024, false);
    ASSERT_TRUE(instance.ok());
    IAudioProcessor* p = instance.processor;
    auto arrangement = [&](BusDirection dir) {
        SpeakerArrangement a = 0;
        p->getBusArrangement(dir, 0, a);
        return a;
    };
    EXPECT_EQ(arrangement(kInput), kArrStereo);
    SpeakerArrangement mono = kArrMono, stereo = kArrStereo, surround = 0x3F, both[2] = {kArrStereo, kArrStereo};
    EXPECT_EQ(p->setBusArrangements(&mono, 1, &stereo, 1), kResultTrue);
    EXPECT_EQ(arrangement(kInput), kArrMono);
    EXPECT_EQ(arrangement(kOutput), kArrStereo);
    EXPECT_EQ(p->setBusArrangements(&stereo, 1, &mono, 1), kResultFalse);
    EXPECT_EQ(p->setBusArrangements(&surround, 1, &surround, 1), kResultFalse);
    EXPECT_EQ(p->setBusArrangements(both, 2, both, 2), kResultFalse);
    EXPECT_EQ(p->setBusArrangements(nullptr, 1, &stereo, 1), kResultFalse);
    EXPECT_EQ(arrangement(kInput), kArrMono);  // kept
    EXPECT_EQ(arrangement(kOutput), kArrStereo);
    EXPECT_EQ(p->setBusArrangements(&mono, 1, &mono, 1), kResultTrue);
    BusInfo bus{};
    ASSERT_EQ(instance.component->getBusInfo(kAudio, kOutput, 0, bus), kResultOk);
    EXPECT_EQ(bus.channelCount, 1);
    EXPECT_EQ(instance.component->getBusCount(kEvent, kInput), 0);
    EXPECT_EQ(p->canProcessSampleSize(kSample64), kResultFalse);


    // Mono to mono processes one channel and writes one.
    instance.start(48000.0);
    Block b(256);
    instance.process({b.left.data()}, {b.outL.data()}, 256);
    Instance stereoRef;
    SpeakerArrangement m = kArrMono, s = kArrStereo;
    stereoRef.stop();
    stereoRef.processor->setBusArrangements(&m, 1, &s, 1);
    stereoRef.start(48000.0);
    Block ref(256);
    stereoRef.process({ref.left.data()}, {ref.outL.data(), ref.outR.data()}, 256);
    for (int32_t i = 0; i < 256; ++i) {
        ASSERT_EQ(bitsOf(b.outL[i]), bitsOf(ref.outL[i]));
        ASSERT_EQ(bitsOf(ref.outR[i]), bitsOf(ref.outL[i]));  // mono to stereo: both outputs
    }

    // Outputs without inputs get silence, and a block of no frames with
    // parameter points still takes the points.
    std::vector<float> l(64, 7.0f), r(64, 7.0f);
    ProcessData data{};
    AudioBusBuffers out{};
    float* outs[2] = {l.data(), r.data()};
    out.numChannels = 2;
    out.channelBuffers32 = outs;
    data.symbolicSampleSize = kSample32;
    data.numSamples = 64;
    data.numOutputs = 1;
    data.outputs = &out;
    ASSERT_EQ(p->process(data), kResultOk);
    EXPECT_EQ(l, std::vector<float>(64, 0.0f));
    EXPECT_EQ(r, std::vector<float>(64, 0.0f));
    Changes changes;
    changes.add(kParamGain, 0, 0.25);
    ProcessData flush{};
    flush.symbolicSampleSize = kSample32;
    flush.inputParameterChanges = &changes;
    ASSERT_EQ(p->process(flush), kResultOk);
    EXPECT_EQ(instance.controller->getParamNormalized(kParamGain), 0.25);
}

// --- Programs ---

TEST(Programs, OneListOfEightThatTheProgramParameterSwitches)
{
    Instance instance;
    ASSERT_TRUE(instance.ok());
    void* obj = nullptr;
    ASSERT_EQ(instance.component->queryInterface(kIUnitInfoIid.bytes, &obj), kResultOk);
    auto* units = static_cast<IUnitInfo*>(obj);
    UnitInfo unit{};
    ASSERT_EQ(units->getUnitInfo(0, unit), kResultOk);
    EXPECT_EQ(unit.id, kRootUnitId);
    ASSERT_EQ(units->getProgramListCount(), 1);
    ProgramListInfo list{};
    ASSERT_EQ(units->getProgramListInfo(0, list), kResultOk);
    EXPECT_EQ(list.id, unit.programListId);
    EXPECT_EQ(list.programCount, kNumPrograms);
    for (int32_t p = 0; p < kNumPrograms; ++p) {
        String128 name{};
        ASSERT_EQ(units->getProgramName(list.id, p, name), kResultOk);
        EXPECT_EQ(utf8(name), kFactoryPrograms[p].name);
    }
    String128 name{};
    EXPECT_NE(units->getProgramName(list.id, kNumPrograms, name), kResultOk);
    EXPECT_NE(units->getProgramName(list.id + 1, 0, name), kResultOk);
    units->release();

    instance.controller->setParamNormalized(kProgramId, 3.0 / 7.0);
    EXPECT_EQ(instance.controller->getParamNormalized(kProgramId), 3.0 / 7.0);
    for (int32_t i = 0; i < kNumParams; ++i)
        EXPECT_EQ(instance.controller->getParamNormalized(static_cast<ParamID>(i)), kFactoryPrograms[3].values[i]);
    String128 text{};
    instance.controller->getParamStringByValue(kProgramId, 1.0 / 7.0, text);
    EXPECT_EQ(utf8(text), "Smooth");
    // Smooth stores 2.0 for its last entries: the host sees 1.0, which
    // names the same entry, never a value outside 0..1.
    instance.controller->setParamNormalized(kProgramId, 1.0 / 7.0);
    for (int32_t i = 0; i < kNumParams; ++i) {
        const double expected = std::min(kFactoryPrograms[1].values[i], 1.0f);
        EXPECT_EQ(instance.controller->getParamNormalized(static_cast<ParamID>(i)), expected) << i;
    }
}

// --- Threads ---

TEST(Threads, HostWritesWhileTheAudioThreadProcesses)
{
    Instance instance;
    ASSERT_TRUE(instance.ok());
    std::atomic<bool> done{false};
    std::thread audio([&] {
        Changes changes;
        for (int32_t k = 0; k < 300; ++k) {
            changes.queues.clear();
            changes.add(kParamGain, k % 64, (k % 10) / 10.0);
            if (k % 50 == 0) changes.add(kBypassId, 3, (k / 50) % 2);
            const Block b = render(instance, 64, k * 64, &changes);
            for (float v : b.outL) ASSERT_TRUE(std::isfinite(v));
        }
        done = true;
    });
    int32_t k = 0;
    while (!done) {
        instance.controller->setParamNormalized(static_cast<ParamID>(k % kNumParams), (k % 7) / 7.0);
        instance.controller->setParamNormalized(kBypassId, (k / 3) % 2);
        instance.controller->getParamNormalized(kParamGain);
        instance.processor->getLatencySamples();
        ++k;
        std::this_thread::yield();
    }
    audio.join();
}

}  // namespace
