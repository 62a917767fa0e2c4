#include "plugin/EffectBase.h"

#include "plugin/EditorBase.h"

#include <atomic>
#include <cstring>

namespace {

EffectBase* instanceOf(AEffect* effect) noexcept
{
    return static_cast<EffectBase*>(effect->object);
}

intptr_t VST_CALL dispatchEffect(AEffect* effect, int32_t opcode, int32_t index, intptr_t value, void* ptr,
                                 float opt)
{
    EffectBase* instance = instanceOf(effect);
    const intptr_t answer = instance->dispatcher(opcode, index, value, ptr, opt);
    if (opcode == effClose) {
        delete instance;
        return 1;
    }
    return answer;
}

void VST_CALL processAccumulating(AEffect*, float**, float**, int32_t) {}

void VST_CALL processDoubleReplacing(AEffect*, double**, double**, int32_t) {}

void VST_CALL processReplacingEntry(AEffect* effect, float** inputs, float** outputs, int32_t frames)
{
    instanceOf(effect)->processReplacing(inputs, outputs, frames);
}

void VST_CALL setParameterEntry(AEffect* effect, int32_t index, float value)
{
    instanceOf(effect)->setParameter(index, value);
}

float VST_CALL getParameterEntry(AEffect* effect, int32_t index)
{
    return instanceOf(effect)->getParameter(index);
}

}  // namespace

EffectBase::EffectBase(audioMasterCallback hostCallback, int32_t numPrograms, int32_t numParams) noexcept
    : hostCallback(hostCallback), numPrograms(numPrograms), numParams(numParams)
{
    std::memset(&cEffect, 0, sizeof(cEffect));
    cEffect.magic = kEffectMagic;
    cEffect.dispatcher = dispatchEffect;
    cEffect.process = processAccumulating;
    cEffect.setParameter = setParameterEntry;
    cEffect.getParameter = getParameterEntry;
    cEffect.numPrograms = numPrograms;
    cEffect.numParams = numParams;
    cEffect.numInputs = 2;
    cEffect.numOutputs = 2;
    cEffect.flags = effFlagsCanReplacing;
    cEffect.ioRatio = 1.0f;
    cEffect.object = this;
    cEffect.version = 1;
    cEffect.processReplacing = processReplacingEntry;
    cEffect.processDoubleReplacing = processDoubleReplacing;
}

EffectBase::~EffectBase() = default;

void EffectBase::setFlag(int32_t flag, bool state) noexcept
{
    if (state)
        cEffect.flags |= flag;
    else
        cEffect.flags &= ~flag;
}

void EffectBase::setInitialDelay(int32_t samples) noexcept
{
    // Written by the audio thread while the host may read it.
    std::atomic_ref<int32_t>(cEffect.initialDelay).store(samples, std::memory_order_relaxed);
}

intptr_t EffectBase::callHost(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt)
{
    return hostCallback ? hostCallback(&cEffect, opcode, index, value, ptr, opt) : 0;
}

void EffectBase::setParameterAutomated(int32_t index, float value)
{
    setParameter(index, value);
    callHost(audioMasterAutomate, index, 0, nullptr, value);
}

intptr_t EffectBase::dispatcher(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt)
{
    switch (opcode) {
    case effOpen:
        open();
        return 0;
    case effClose:
        close();
        return 0;
    case effSetProgram:
        // Only 0 to numPrograms - 1 reach setProgram; a value that would
        // truncate into that range is refused here too.
        if (value >= 0 && value < numPrograms) setProgram(static_cast<int32_t>(value));
        return 0;
    case effGetProgram:
        return getProgram();
    case effSetProgramName:
        setProgramName(static_cast<char*>(ptr));
        return 0;
    case effGetProgramName:
        getProgramName(static_cast<char*>(ptr));
        return 0;
    case effGetParamLabel:
        getParameterLabel(index, static_cast<char*>(ptr));
        return 0;
    case effGetParamDisplay:
        getParameterDisplay(index, static_cast<char*>(ptr));
        return 0;
    case effGetParamName:
        getParameterName(index, static_cast<char*>(ptr));
        return 0;
    case effSetSampleRate:
        setSampleRate(opt);
        return 0;
    case effSetBlockSize:
        setBlockSize(static_cast<int32_t>(value));
        return 0;
    case effMainsChanged:
        if (value)
            resume();
        else
            suspend();
        return 0;
    case effEditGetRect:
        return editor && editor->getRect(static_cast<ERect**>(ptr)) ? 1 : 0;
    case effEditOpen:
        return editor && editor->open(ptr) ? 1 : 0;
    case effEditClose:
        if (editor) editor->close();
        return 0;
    case effEditIdle:
        if (editor) editor->idle();
        return 0;
    case effIdentify:
        return 0x4E764566;  // 'NvEf'
    default:
        return 0;
    }
}

intptr_t EffectBaseX::dispatcher(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt)
{
    switch (opcode) {
    case effCanBeAutomated:
        return canParameterBeAutomated(index) ? 1 : 0;
    case effGetPlugCategory:
        return getPlugCategory();
    case effSetSpeakerArrangement:
        return setSpeakerArrangement(reinterpret_cast<VstSpeakerArrangement*>(value),
                                     static_cast<VstSpeakerArrangement*>(ptr))
                   ? 1
                   : 0;
    case effGetEffectName:
        return getEffectName(static_cast<char*>(ptr)) ? 1 : 0;
    case effGetVendorString:
        return getVendorString(static_cast<char*>(ptr)) ? 1 : 0;
    case effGetProductString:
        return getProductString(static_cast<char*>(ptr)) ? 1 : 0;
    case effGetVendorVersion:
        return getVendorVersion();
    case effCanDo:
        return canDo(static_cast<const char*>(ptr));
    case effGetTailSize:
        return getTailSize();
    case effGetVstVersion:
        return getVstVersion();
    case effGetCurrentMidiProgram:
        return getCurrentMidiProgram(index);
    case effGetSpeakerArrangement:
        getSpeakerArrangement(reinterpret_cast<VstSpeakerArrangement**>(value),
                              static_cast<VstSpeakerArrangement**>(ptr));
        return 0;
    case effSetTotalSampleToProcess:
        return setTotalSampleToProcess(static_cast<int32_t>(value));
    case effVendorSpecific:
        return vendorSpecific(index, value, ptr, opt);
    default:
        if (opcode >= effProcessEvents && opcode <= effGetNumMidiOutputChannels) return 0;
        return EffectBase::dispatcher(opcode, index, value, ptr, opt);
    }
}

void EffectBaseX::getSpeakerArrangement(VstSpeakerArrangement** input, VstSpeakerArrangement** output)
{
    if (input) *input = nullptr;
    if (output) *output = nullptr;
}
