#include "plugin/TubeEffect.h"

#include "plugin/EditorBase.h"

#include <cstring>

namespace {

constexpr float kMinSampleRate = 8000.0f;
constexpr float kMaxSampleRate = 1000000.0f;
// The DC blocker's corner is kDcCorner / pi, about 1.54 Hz.
constexpr double kDcCorner = 4.835589941972921;
// The scope feed writes one point per (spacing + 1) frames: 512 points
// spread over the editor's 20 ms refresh period.
constexpr float kScopeRefreshMs = 20.0f;
constexpr float kScopePerRingAndMs = 1.953125e-6f;  // 1 / (512 * 1000)

bool paramInRange(int32_t index) noexcept
{
    return static_cast<uint32_t>(index) < static_cast<uint32_t>(kNumParams);
}

}  // namespace

TubeEffect::TubeEffect(audioMasterCallback hostCallback)
    : EffectBaseX(hostCallback, kNumPrograms, kNumParams)
{
    curProgram = 0;
    for (int32_t i = 0; i < kNumParams; ++i) setParameter(i, programBank[0].values[i]);
    restartScopeFeed(kScopeFeedOff);
    setSampleRate(48000.0f);

    cEffect.numInputs = getChannelCount();
    cEffect.numOutputs = 2;
    cEffect.uniqueID = kUniqueId;
    setFlag(effFlagsIsSynth, false);
    setFlag(effFlagsProgramChunks, false);
    setFlag(effFlagsCanReplacing, true);
    setInitialDelay(0);

    // The editor attaches itself (editor pointer and effFlagsHasEditor).
    createEditor(this);
}

TubeEffect::~TubeEffect()
{
    // The editor goes first: its destruction closes its window and stops
    // the scope feed while the rest of the effect still stands.
    delete editor;
}

void TubeEffect::setSampleRate(float rate)
{
    if (!(rate >= kMinSampleRate && rate <= kMaxSampleRate)) return;
    sampleRate = rate;
    if (getScopeDecimation() != kScopeFeedOff) startScopeFeed();
    {
        LockGuard hold(paramLock);
        changeMask |= 1 << kParamOversample;  // hands the new rate to the processor
    }
    const double fs = rate;
    const double c = 1.0 / (fs + kDcCorner);
    dcBlocker = DcBlocker{};
    dcBlocker.b0 = fs * c;
    dcBlocker.b1 = -fs * c;
    dcBlocker.b2 = 0.0;
    dcBlocker.a1 = (kDcCorner - fs) * c;
    dcBlocker.a2 = 0.0;
}

void TubeEffect::restartScopeFeed(uint32_t decimation) noexcept
{
    scopeCounter.store(0, std::memory_order_relaxed);
    scopeWriteIndex.store(0, std::memory_order_relaxed);
    scopeDecimation.store(decimation, std::memory_order_relaxed);
}

void TubeEffect::startScopeFeed() noexcept
{
    const float spacing = sampleRate * kScopeRefreshMs * kScopePerRingAndMs;
    restartScopeFeed(static_cast<uint32_t>(spacing));
}

void TubeEffect::stopScopeFeed() noexcept { restartScopeFeed(kScopeFeedOff); }

int32_t TubeEffect::getChangeMask()
{
    LockGuard hold(paramLock);
    return changeMask;
}

void TubeEffect::setParameter(int32_t index, float value)
{
    if (!paramInRange(index)) return;
    LockGuard hold(paramLock);
    paramValues[index] = value;
    changeMask |= 1 << index;
}

float TubeEffect::getParameter(int32_t index)
{
    if (!paramInRange(index)) return 0.0f;
    LockGuard hold(paramLock);
    return paramValues[index];
}

void TubeEffect::setProgram(int32_t program)
{
    if (static_cast<uint32_t>(program) >= static_cast<uint32_t>(kNumPrograms) || program == curProgram) return;
    lockProgramBank();
    for (int32_t i = 0; i < kNumParams; ++i) programBank[curProgram].values[i] = getParameter(i);
    curProgram = program;
    for (int32_t i = 0; i < kNumParams; ++i) setParameter(i, programBank[program].values[i]);
    unlockProgramBank();
}

void TubeEffect::setProgramName(char* name)
{
    if (!name) return;
    lockProgramBank();
    std::strncpy(programBank[curProgram].name, name, kProgramNameLength);
    unlockProgramBank();
}

void TubeEffect::getProgramName(char* name)
{
    if (!name) return;
    lockProgramBank();
    copyText(name, programBank[curProgram].name, kProgramNameLength);
    unlockProgramBank();
}

void TubeEffect::getParameterLabel(int32_t index, char* label)
{
    if (!label || !paramInRange(index)) return;
    copyText(label, parameterLabel(index), kParamTextLength);
}

void TubeEffect::getParameterDisplay(int32_t index, char* text)
{
    if (!text || !paramInRange(index)) return;
    // The oversampling factor shown is the one in force, not the stored value.
    const float value = index == kParamOversample ? 0.0f : getParameter(index);
    formatParameterDisplay(index, value, dsp.getOversampling(), text);
}

void TubeEffect::getParameterName(int32_t index, char* text)
{
    if (!text) return;
    copyText(text, parameterName(index), kParamTextLength);
}

bool TubeEffect::setSpeakerArrangement(VstSpeakerArrangement* input, VstSpeakerArrangement*)
{
    if (!input) return false;
    channelCount.store(input->numChannels, std::memory_order_relaxed);
    return true;
}

bool TubeEffect::getEffectName(char* name)
{
    if (!name) return false;
    copyText(name, kEffectName, kEffectNameLength);
    return true;
}

bool TubeEffect::getVendorString(char* text)
{
    if (!text) return false;
    copyText(text, kVendorName, kVendorTextLength);
    return true;
}

bool TubeEffect::getProductString(char* text)
{
    if (!text) return false;
    copyText(text, kProductName, kVendorTextLength);
    return true;
}
