// The block driver: parameter hand-over (busy lock, re-preparation, level
// and normalisation), smoothing, channel handling, bad buffers and samples,
// latency, block-size independence and the scope feed.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <memory>
#include <thread>
#include <utility>

namespace {

intptr_t VST_CALL quietHost(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float)
{
    return opcode == audioMasterVersion ? 2400 : 0;
}

std::unique_ptr<TubeEffect> makeEffect()
{
    return std::make_unique<TubeEffect>(quietHost);
}

// Processes an empty block: applies pending changes, runs no frame.
void applyChanges(TubeEffect& effect)
{
    tableBuilder::waitUntilIdle();
    float silence = 0.0f;
    float* buffers[2] = {&silence, &silence};
    effect.processReplacing(buffers, buffers, 0);
}

double rms(const std::vector<float>& v, size_t from)
{
    double sum = 0.0;
    for (size_t i = from; i < v.size(); ++i) sum += double(v[i]) * v[i];
    return std::sqrt(sum / double(v.size() - from));
}

bool allFinite(const Stereo& s)
{
    for (const auto* ch : {&s.left, &s.right})
        for (float v : *ch)
            if (!std::isfinite(v)) return false;
    return true;
}

}  // namespace

TEST(EffectLifecycle, NewInstanceStartsFromProgramZeroWithEveryChangePending)
{
    auto effect = makeEffect();
    EXPECT_EQ(effect->getSampleRate(), 48000.0f);
    EXPECT_EQ(effect->getChangeMask(), 0x7F);
    EXPECT_EQ(effect->getScopeDecimation(), kScopeFeedOff);
    EXPECT_EQ(effect->getProgram(), 0);
    for (int32_t i = 0; i < kNumParams; ++i) EXPECT_EQ(effect->getParameter(i), kFactoryPrograms[0].values[i]);
    const AEffect* a = effect->getAeffect();
    EXPECT_EQ(a->numInputs, 2);
    EXPECT_EQ(a->numOutputs, 2);
    EXPECT_EQ(a->uniqueID, 0x30333468);
    EXPECT_EQ(a->flags, effFlagsCanReplacing);  // no editor on this platform
    EXPECT_EQ(a->initialDelay, 0);
    EXPECT_EQ(effect->getEngine().getGainSmoothed(), 0.0);
    EXPECT_EQ(effect->getEngine().getLevelSmoothed(), 0.0);
}

TEST(EffectLifecycle, EditorIsDestroyedWithTheEffect)
{
    auto effect = makeEffect();
    bool destroyed = false;
    new StandInEditor(effect.get(), &destroyed);
    EXPECT_TRUE(effect->getFlag(effFlagsHasEditor));
    effect.reset();
    EXPECT_TRUE(destroyed);
}

TEST(EffectLifecycle, SampleRateOutsideBoundsOrUnchangedChangesNothing)
{
    auto effect = makeEffect();
    applyChanges(*effect);
    ASSERT_EQ(effect->getChangeMask(), 0);
    const double b0 = effect->getEngine().getDcBlocker().b0;
    for (float bad : {7999.0f, 1000001.0f, std::nanf(""), -48000.0f, std::numeric_limits<float>::infinity(), 48000.0f}) {
        effect->setSampleRate(bad);
        EXPECT_EQ(effect->getSampleRate(), 48000.0f);
        EXPECT_EQ(effect->getChangeMask(), 0);
        applyChanges(*effect);
        EXPECT_EQ(effect->getEngine().getDcBlocker().b0, b0);
    }
    for (float good : {8000.0f, 1000000.0f}) {
        effect->setSampleRate(good);
        EXPECT_EQ(effect->getSampleRate(), good);
        EXPECT_EQ(effect->getChangeMask(), 1);
        // The audio thread takes the rate, and with it the DC blocker, at its next block.
        applyChanges(*effect);
        const double k = 4.835589941972921;
        EXPECT_DOUBLE_EQ(effect->getEngine().getDcBlocker().b0, good * (1.0 / (good + k)));
        EXPECT_DOUBLE_EQ(effect->getEngine().getDcBlocker().a1, (k - good) * (1.0 / (good + k)));
        EXPECT_EQ(effect->getProcessor().getSampleRate(), good);
    }
}

TEST(BlockProcessing, GainAndLevelRiseSmoothlyFromZero)
{
    auto effect = makeEffect();
    processBlock(*effect, testSignal(1));
    const double gain = effect->getEngine().getGainTarget();
    EXPECT_NEAR(gain, std::pow(10.0, 12.0 / 20.0), 1e-12);
    EXPECT_DOUBLE_EQ(effect->getEngine().getGainSmoothed(), gain * 0.01);
    processBlock(*effect, testSignal(459));
    EXPECT_NEAR(effect->getEngine().getGainSmoothed() / gain, 1.0 - std::pow(0.99, 460), 1e-9);
    processBlock(*effect, testSignal(5000));
    // Once within the threshold, each lands on its target.
    EXPECT_EQ(effect->getEngine().getGainSmoothed(), gain);
    EXPECT_EQ(effect->getEngine().getLevelSmoothed(), effect->getEngine().getLevelTarget());
}

TEST(BlockProcessing, OnlyARealChangeOfSettingReprepares)
{
    auto effect = makeEffect();
    processBlock(*effect, testSignal(2000));
    const double bias = kBiasCathodeVoltages[0][0];
    ASSERT_NE(effect->getProcessor().channels[0].cathodeVoltage, bias);

    // The same gain again recomputes the target and leaves the stage alone;
    // so do a Triode value that selects the entry in force, the factor in
    // force written again, and the rate in force set again.
    effect->setParameter(kParamGain, 0.5f);
    effect->setParameter(kParamTriode, 0.2f);
    effect->setParameter(kParamOversample, 0.3f);
    effect->setSampleRate(48000.0f);
    applyChanges(*effect);
    EXPECT_NE(effect->getProcessor().channels[0].cathodeVoltage, bias);

    // A new factor re-prepares, and so does a new rate.
    effect->setParameter(kParamOversample, 1.0f);
    applyChanges(*effect);
    EXPECT_EQ(effect->getProcessor().channels[0].cathodeVoltage, bias);
    EXPECT_EQ(effect->getProcessor().channels[1].cathodeVoltage, bias);
    processBlock(*effect, testSignal(500));
    effect->setSampleRate(44100.0f);
    applyChanges(*effect);
    EXPECT_EQ(effect->getProcessor().channels[0].cathodeVoltage, bias);

    // A different tube re-prepares with that tube's resting point.
    processBlock(*effect, testSignal(500));
    effect->setParameter(kParamTriode, 0.5f);
    applyChanges(*effect);
    EXPECT_EQ(effect->getProcessor().getTriodeIndex(), 1);
    EXPECT_EQ(effect->getProcessor().channels[0].cathodeVoltage, kBiasCathodeVoltages[0][1]);
}

TEST(BlockProcessing, LatencyFollowsTheOversamplingValueAtOnce)
{
    auto effect = makeEffect();
    effect->setParameter(kParamOversample, 1.0f);
    EXPECT_EQ(effect->getAeffect()->initialDelay, 8);
    char text[16] = {};
    effect->getParameterDisplay(kParamOversample, text);
    EXPECT_STREQ(text, "1");  // the factor in force, until a block applies it
    processBlock(*effect, testSignal(16));
    effect->getParameterDisplay(kParamOversample, text);
    EXPECT_STREQ(text, "16");
    effect->setParameter(kParamOversample, 0.49f);
    EXPECT_EQ(effect->getAeffect()->initialDelay, 0);
    effect->setProgram(3);  // a 16x program
    EXPECT_EQ(effect->getAeffect()->initialDelay, 8);
}

TEST(BlockProcessing, LevelIsFiftyDecibelsDownOrNormalisedToTheSwing)
{
    auto effect = makeEffect();
    effect->setParameter(kParamLevel, 0.75f);  // +12 dB
    effect->setParameter(kParamNormalize, 0.49f);
    applyChanges(*effect);
    const double level = std::pow(10.0, 12.0 * 0.05);
    EXPECT_NEAR(effect->getEngine().getLevelTarget(), level * 0.0031622776601683794, 1e-15);
    effect->setParameter(kParamNormalize, 0.5f);
    applyChanges(*effect);
    EXPECT_NEAR(effect->getEngine().getLevelTarget(), level / (effect->getProcessor().outputSwing() + 1.0), 1e-15);
}

TEST(BlockProcessing, MonoInputProcessesOneChannelIntoBothOutputs)
{
    auto effect = makeEffect();
    auto stereo = makeEffect();
    effect->startScopeFeed();
    VstSpeakerArrangement mono{};
    mono.type = kSpeakerArrMono;
    mono.numChannels = 1;
    EXPECT_TRUE(effect->dispatcher(effSetSpeakerArrangement, 0, reinterpret_cast<intptr_t>(&mono), &mono, 0.0f));
    EXPECT_EQ(effect->getChannelCount(), 1);
    EXPECT_EQ(effect->getAeffect()->numInputs, 2);

    Stereo in = testSignal(256);
    std::vector<float> right(256, 123.0f);
    float* inputs[2] = {in.left.data(), nullptr};  // the second input is never read
    std::vector<float> left(256);
    float* outputs[2] = {left.data(), right.data()};
    effect->processReplacing(inputs, outputs, 256);
    // The host asked for two outputs: the right one carries the left result,
    // which is what the left channel of a stereo instance gives.
    EXPECT_EQ(right, left);
    EXPECT_EQ(left, processBlock(*stereo, in).left);
    for (const ScopePoint& p : ScopeRing(*effect)) {
        EXPECT_EQ(p.inputRight, 0.0f);
        EXPECT_EQ(p.outputRight, 0.0f);
    }
    // In place, and with no right output at all.
    float* inPlace[2] = {in.left.data(), in.right.data()};
    effect->processReplacing(inPlace, inPlace, 256);
    EXPECT_EQ(in.right, in.left);
    float* leftOnly[2] = {left.data(), nullptr};
    effect->processReplacing(inputs, leftOnly, 256);
}

TEST(BlockProcessing, OnlyArrangementsTheEffectHonoursAreAccepted)
{
    auto effect = makeEffect();
    auto offer = [&](VstSpeakerArrangement* in, VstSpeakerArrangement* out) {
        return effect->dispatcher(effSetSpeakerArrangement, 0, reinterpret_cast<intptr_t>(in), out, 0.0f);
    };
    VstSpeakerArrangement input{};
    VstSpeakerArrangement output{};
    // Inputs other than one or two, whatever the output says.
    output.numChannels = 2;
    for (int32_t channels : {0, 3, 6, -3, 8}) {
        input.numChannels = channels;
        EXPECT_EQ(offer(&input, &output), 0) << channels;
        EXPECT_EQ(effect->getChannelCount(), 2);
    }
    // Outputs other than the two always written (or one after a mono input),
    // with an input that would be fine: refused whole, the input included.
    for (int32_t in : {1, 2}) {
        input.numChannels = in;
        for (int32_t channels : {0, -1, 3, 8, in == 2 ? 1 : 0}) {
            output.numChannels = channels;
            EXPECT_EQ(offer(&input, &output), 0) << in << " into " << channels;
            EXPECT_EQ(effect->getChannelCount(), 2);
        }
    }
    EXPECT_EQ(offer(nullptr, &output), 0);
    input.numChannels = 1;
    EXPECT_EQ(offer(&input, nullptr), 0);
    EXPECT_EQ(effect->getChannelCount(), 2);

    for (auto [in, out] : {std::pair{1, 2}, std::pair{2, 2}, std::pair{1, 1}}) {
        input.numChannels = in;
        output.numChannels = out;
        EXPECT_EQ(offer(&input, &output), 1) << in << " into " << out;
        EXPECT_EQ(effect->getChannelCount(), in);
    }
}

TEST(BlockProcessing, NullBuffersAreIgnored)
{
    auto effect = makeEffect();
    float sample = 0.5f;
    float* one[2] = {&sample, &sample};
    float* none[2] = {nullptr, nullptr};
    effect->processReplacing(nullptr, one, 1);
    effect->processReplacing(one, nullptr, 1);
    effect->processReplacing(none, one, 1);
    effect->processReplacing(one, none, 1);
    EXPECT_EQ(sample, 0.5f);
    EXPECT_EQ(effect->getChangeMask(), 0x7F);

    // A missing right input or output in stereo: the left still runs.
    float left = 0.25f, out = 9.0f;
    float* in[2] = {&left, nullptr};
    float* outs[2] = {&out, nullptr};
    effect->processReplacing(in, outs, 1);
    EXPECT_NE(out, 9.0f);
    EXPECT_EQ(effect->getChangeMask(), 0);
}

TEST(BlockProcessing, NonFiniteInputSoundsLikeSilenceAndLeavesNoTrace)
{
    for (float program : {0.0f, 2.0f}) {
        auto a = makeEffect();
        auto b = makeEffect();
        a->setProgram(static_cast<int32_t>(program));
        b->setProgram(static_cast<int32_t>(program));
        Stereo clean = testSignal(4000), dirty = clean;
        const float bad[] = {std::nanf(""), std::numeric_limits<float>::infinity(),
                             -std::numeric_limits<float>::infinity()};
        for (size_t i = 100; i < 200; ++i) {
            clean.left[i] = clean.right[i] = 0.0f;
            dirty.left[i] = bad[i % 3];
            dirty.right[i] = bad[(i + 1) % 3];
        }
        const Stereo x = processBlock(*a, clean), y = processBlock(*b, dirty);
        EXPECT_TRUE(allFinite(y));
        EXPECT_EQ(x.left, y.left);
        EXPECT_EQ(x.right, y.right);
    }
}

TEST(BlockProcessing, OneLongBlockEqualsManySmallOnes)
{
    for (int32_t program : {0, 1, 2, 3}) {
        auto whole = makeEffect();
        auto pieces = makeEffect();
        whole->setProgram(program);
        pieces->setProgram(program);
        const Stereo in = testSignal(6000);
        const Stereo expected = processBlock(*whole, in);
        Stereo got;
        size_t at = 0;
        for (size_t size : {1u, 17u, 64u, 2027u, 3u, 512u}) {
            while (at < in.left.size() && size) {
                const size_t n = std::min(size, in.left.size() - at);
                Stereo part{{in.left.begin() + at, in.left.begin() + at + n},
                            {in.right.begin() + at, in.right.begin() + at + n}};
                Stereo out = processBlock(*pieces, part);
                got.left.insert(got.left.end(), out.left.begin(), out.left.end());
                got.right.insert(got.right.end(), out.right.begin(), out.right.end());
                at += n;
                if (size != 512u) break;
            }
        }
        ASSERT_EQ(got.left.size(), in.left.size());
        EXPECT_EQ(got.left, expected.left) << program;
        EXPECT_EQ(got.right, expected.right) << program;
    }
}

TEST(BlockProcessing, EveryFrameOfABlockLargerThanAnnouncedIsProcessed)
{
    auto effect = makeEffect();
    effect->dispatcher(effSetBlockSize, 0, 64, nullptr, 0.0f);
    EXPECT_EQ(effect->getBlockSize(), 64);
    Stereo in = testSignal(300, 0.8f, 1000);
    std::vector<float> left(300, 7.0f), right(300, 7.0f);
    float* inputs[2] = {in.left.data(), in.right.data()};
    float* outputs[2] = {left.data(), right.data()};
    effect->processReplacing(inputs, outputs, 300);
    for (size_t i = 64; i < 300; ++i) {
        ASSERT_NE(left[i], 7.0f) << i;
        ASSERT_NE(right[i], 7.0f) << i;
    }
}

TEST(BlockProcessing, InPlaceEqualsOutOfPlace)
{
    auto a = makeEffect();
    auto b = makeEffect();
    Stereo in = testSignal(3000);
    const Stereo expected = processBlock(*a, in);
    float* buffers[2] = {in.left.data(), in.right.data()};
    b->processReplacing(buffers, buffers, 3000);
    EXPECT_EQ(in.left, expected.left);
    EXPECT_EQ(in.right, expected.right);
}

TEST(BlockProcessing, WildParameterValuesNeverLeaveTheOutputNonFinite)
{
    const float wild[] = {std::nanf(""), std::numeric_limits<float>::infinity(),
                          -std::numeric_limits<float>::infinity(), 1e30f, -1e30f, -5.0f, 2.0f};
    for (int32_t index = 0; index < kNumParams; ++index) {
        for (float value : wild) {
            auto effect = makeEffect();
            processBlock(*effect, testSignal(1000));
            effect->setParameter(index, value);
            const Stereo during = processBlock(*effect, testSignal(3000, 1.0f, 1000));
            ASSERT_TRUE(allFinite(during)) << index << " " << value;

            // Back to the factory value: the sound comes back, at the level
            // of a fresh instance (gain and level land on their targets).
            effect->setParameter(index, kFactoryPrograms[0].values[index]);
            const Stereo after = processBlock(*effect, testSignal(48000, 0.5f, 4000));
            ASSERT_TRUE(allFinite(after)) << index << " " << value;
            auto reference = makeEffect();
            const Stereo expected = processBlock(*reference, testSignal(48000, 0.5f, 4000));
            EXPECT_NEAR(rms(after.left, 24000), rms(expected.left, 24000), rms(expected.left, 24000) * 0.001)
                << index << " " << value;
        }
    }
}

TEST(ScopeFeed, WritesOnePointEverySecondFrameAt48kHz)
{
    auto effect = makeEffect();
    effect->startScopeFeed();
    EXPECT_EQ(effect->getScopeDecimation(), 1u);
    const Stereo in = testSignal(10);
    const Stereo out = processBlock(*effect, in);
    EXPECT_EQ(effect->getScopeWriteIndex(), 5u);
    const ScopeRing ring(*effect);
    for (int32_t p = 0; p < 5; ++p) {
        const size_t frame = 2 * p + 1;
        EXPECT_EQ(ring[p].inputLeft, in.left[frame]);
        EXPECT_EQ(ring[p].inputRight, in.right[frame]);
        EXPECT_EQ(ring[p].outputLeft, out.left[frame]);
        EXPECT_EQ(ring[p].outputRight, out.right[frame]);
    }
    // The ring wraps after 512 points.
    processBlock(*effect, testSignal(1024));
    EXPECT_EQ(effect->getScopeWriteIndex(), 5u);
}

TEST(ScopeFeed, NewSampleRateRestartsTheRingWhileTheEditorIsOpen)
{
    auto effect = makeEffect();
    effect->setSampleRate(44100.0f);
    effect->startScopeFeed();
    EXPECT_EQ(effect->getScopeDecimation(), 1u);
    processBlock(*effect, testSignal(7));
    effect->setSampleRate(96000.0f);
    EXPECT_EQ(effect->getScopeDecimation(), 3u);
    EXPECT_EQ(effect->getScopeWriteIndex(), 0u);
    EXPECT_EQ(effect->getScopeCounter(), 0u);
    processBlock(*effect, testSignal(8));
    EXPECT_EQ(effect->getScopeWriteIndex(), 2u);  // one point per four frames
    effect->setSampleRate(192000.0f);
    EXPECT_EQ(effect->getScopeDecimation(), 7u);
    effect->stopScopeFeed();
    EXPECT_EQ(effect->getScopeDecimation(), kScopeFeedOff);
    effect->setSampleRate(48000.0f);
    EXPECT_EQ(effect->getScopeDecimation(), kScopeFeedOff);
}

TEST(ScopeFeed, OffFeedCountsFramesAndWritesNothing)
{
    auto effect = makeEffect();
    processBlock(*effect, testSignal(3000));
    EXPECT_EQ(effect->getScopeCounter(), 3000u);
    EXPECT_EQ(effect->getScopeWriteIndex(), 0u);
    for (const ScopePoint& p : ScopeRing(*effect)) EXPECT_EQ(p.inputLeft, 0.0f);
    effect->startScopeFeed();
    EXPECT_EQ(effect->getScopeCounter(), 0u);
}

TEST(ScopeFeed, AnEditorCopyingAllTheWhileCostsNoPoint)
{
    // The ring has no lock: an editor that copies it without pause never
    // makes the audio thread drop a point, and sees only points written.
    auto effect = makeEffect();
    effect->startScopeFeed();
    processBlock(*effect, testSignal(1));  // the tables ready, one frame counted
    const Stereo in = testSignal(100, 0.5f, 1);
    std::atomic<bool> stop{false};
    std::atomic<int32_t> copies{0};
    std::atomic<bool> foreign{false};
    std::thread editor([&] {
        ScopePoint ring[kScopeRingSize];
        while (!stop) {
            effect->getEngine().scope().copy(ring);
            for (const ScopePoint& p : ring)
                if (p.inputLeft != 0.0f && std::find(in.left.begin(), in.left.end(), p.inputLeft) == in.left.end())
                    foreign = true;
            copies.fetch_add(1);
        }
    });
    while (copies.load() < 2) std::this_thread::yield();
    processBlock(*effect, in);
    stop = true;
    editor.join();
    EXPECT_EQ(effect->getScopeWriteIndex(), 50u);
    EXPECT_EQ(effect->getEngine().scope().getWritten(), 50u);
    EXPECT_FALSE(foreign);
}

TEST(Automation, UserChangesReachTheHostAfterTheEffect)
{
    struct Call {
        int32_t opcode, index;
        float value, stored;
    };
    static std::vector<Call> calls;
    static TubeEffect* current = nullptr;
    calls.clear();
    auto host = [](AEffect*, int32_t opcode, int32_t index, intptr_t, void*, float opt) -> intptr_t {
        if (opcode == audioMasterVersion) return 2400;
        calls.push_back({opcode, index, opt, current ? current->getParameter(index) : -1.0f});
        return 0;
    };
    TubeEffect effect(host);
    current = &effect;
    effect.setParameterAutomated(kParamCap, 0.5f);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].opcode, audioMasterAutomate);
    EXPECT_EQ(calls[0].index, kParamCap);
    EXPECT_EQ(calls[0].value, 0.5f);
    EXPECT_EQ(calls[0].stored, 0.5f);  // the effect had the value before the host heard of it
    current = nullptr;

    TubeEffect orphan(nullptr);  // no host to tell: the value is still set
    orphan.setParameterAutomated(kParamGain, 0.25f);
    EXPECT_EQ(orphan.getParameter(kParamGain), 0.25f);
}
