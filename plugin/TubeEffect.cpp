#include "plugin/TubeEffect.h"

#include "plugin/EditorBase.h"

#include <atomic>
#include <cstring>

namespace {

bool paramInRange(int32_t index) noexcept
{
    return static_cast<uint32_t>(index) < static_cast<uint32_t>(kNumParams);
}

}  // namespace

TubeEffect::TubeEffect(audioMasterCallback hostCallback)
    : EffectBaseX(hostCallback, kNumPrograms, kNumParams)
{
    // The engine starts with every change pending, at 48 kHz, the scope feed
    // off; the values come from program row 0.
    curProgram = 0;
    float values[kNumParams];
    lockProgramBank();
    std::memcpy(values, programBank[0].values, sizeof(values));
    unlockProgramBank();
    engine.setParameters(values);
    sampleRate = engine.getSampleRate();

    cEffect.numInputs = getChannelCount();
    cEffect.numOutputs = 2;
    cEffect.uniqueID = kUniqueId;
    setFlag(effFlagsIsSynth, false);
    setFlag(effFlagsProgramChunks, false);
    setFlag(effFlagsCanReplacing, true);
    setInitialDelay(engine.latency());

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
    if (engine.setSampleRate(rate)) sampleRate = rate;
}

void TubeEffect::resume() { engine.prepareTables(); }

void TubeEffect::processReplacing(float** inputs, float** outputs, int32_t sampleFrames)
{
    if (!inputs || !outputs || !inputs[0] || !outputs[0]) return;
    const bool stereo = getChannelCount() == 2;
    engine.process(inputs[0], stereo ? inputs[1] : nullptr, outputs[0], stereo ? outputs[1] : nullptr,
                   sampleFrames);
}

void TubeEffect::latencyMayHaveChanged() noexcept
{
    const int32_t latency = engine.latency();
    if (std::atomic_ref<int32_t>(cEffect.initialDelay).exchange(latency) != latency)
        callHost(audioMasterIOChanged, 0, 0, nullptr, 0.0f);
}

void TubeEffect::setParameter(int32_t index, float value)
{
    engine.setParameter(index, value);
    if (index == kParamOversample) latencyMayHaveChanged();
}

float TubeEffect::getParameter(int32_t index) { return engine.getParameter(index); }

void TubeEffect::setProgram(int32_t program)
{
    if (static_cast<uint32_t>(program) >= static_cast<uint32_t>(kNumPrograms) || program == curProgram) return;
    float values[kNumParams];
    lockProgramBank();
    for (int32_t i = 0; i < kNumParams; ++i) programBank[curProgram].values[i] = getParameter(i);
    curProgram = program;
    std::memcpy(values, programBank[program].values, sizeof(values));
    unlockProgramBank();
    // All seven land in one block.
    engine.setParameters(values);
    latencyMayHaveChanged();
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
    formatParameterDisplay(index, value, engine.oversamplingInForce(), text);
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
