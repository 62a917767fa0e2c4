// The host-interface layer: the AEffect record a VST 2.4 host holds for each
// instance, the static entry functions stored in it, and the two-level
// dispatcher that turns host opcodes into virtual operations with default
// answers. EffectBase answers opcodes 0 to 24; EffectBaseX adds 25 to 79.
// The effect class overrides only what it needs.
#pragma once

#include "plugin/vst2abi.h"

class EditorBase;

class EffectBase {
public:
    EffectBase(audioMasterCallback hostCallback, int32_t numPrograms, int32_t numParams) noexcept;
    virtual ~EffectBase();
    EffectBase(const EffectBase&) = delete;
    EffectBase& operator=(const EffectBase&) = delete;

    // The record handed to the host; its `object` field leads back here.
    AEffect* getAeffect() noexcept { return &cEffect; }

    // [UI thread] Tells the host that the user changed a parameter: sets it,
    // then sends audioMasterAutomate.
    void setParameterAutomated(int32_t index, float value);

    // [any thread] Opcodes 0 to 24; anything else is answered 0.
    virtual intptr_t dispatcher(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt);

    virtual void open() {}
    virtual void close() {}
    virtual void setProgram(int32_t program) { curProgram = program; }
    virtual int32_t getProgram() { return curProgram; }
    virtual void setProgramName(char*) {}
    virtual void getProgramName(char* name)
    {
        if (name) *name = '\0';
    }
    virtual void getParameterLabel(int32_t, char* label)
    {
        if (label) *label = '\0';
    }
    virtual void getParameterDisplay(int32_t, char* text)
    {
        if (text) *text = '\0';
    }
    virtual void getParameterName(int32_t, char* text)
    {
        if (text) *text = '\0';
    }
    virtual void setSampleRate(float rate) { sampleRate = rate; }
    virtual void setBlockSize(int32_t frames) { blockSize = frames; }
    virtual void suspend() {}
    virtual void resume() {}

    // [audio thread]
    virtual void processReplacing(float**, float**, int32_t) {}
    // [any thread]
    virtual void setParameter(int32_t, float) {}
    virtual float getParameter(int32_t) { return 0.0f; }

    float getSampleRate() const noexcept { return sampleRate; }
    int32_t getBlockSize() const noexcept { return blockSize; }
    EditorBase* getEditor() const noexcept { return editor; }

    // The editor attaches itself in its constructor and detaches in its
    // destructor; the effect owns it.
    void setEditor(EditorBase* newEditor) noexcept { editor = newEditor; }
    void hasEditor(bool state) noexcept { setFlag(effFlagsHasEditor, state); }

    void setFlag(int32_t flag, bool state) noexcept;
    bool getFlag(int32_t flag) const noexcept { return (cEffect.flags & flag) != 0; }

    // The latency the host reads from the record, in samples.
    void setInitialDelay(int32_t samples) noexcept;

protected:
    audioMasterCallback hostCallback;
    EditorBase* editor = nullptr;
    float sampleRate = 44100.0f;
    int32_t blockSize = 1024;
    int32_t numPrograms;
    int32_t numParams;
    int32_t curProgram = 0;
    AEffect cEffect;

    intptr_t callHost(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt);
};

class EffectBaseX : public EffectBase {
public:
    using EffectBase::EffectBase;

    // [any thread] Opcodes 25 to 79; everything else goes to EffectBase.
    intptr_t dispatcher(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) override;

    virtual bool canParameterBeAutomated(int32_t) { return true; }
    virtual intptr_t getPlugCategory() { return getFlag(effFlagsIsSynth) ? kPlugCategSynth : kPlugCategUnknown; }
    virtual bool setSpeakerArrangement(VstSpeakerArrangement*, VstSpeakerArrangement*) { return false; }
    virtual bool getEffectName(char*) { return false; }
    virtual bool getVendorString(char*) { return false; }
    virtual bool getProductString(char*) { return false; }
    virtual int32_t getVendorVersion() { return 0; }
    virtual intptr_t canDo(const char*) { return 0; }
    virtual int32_t getTailSize() { return 0; }
    virtual int32_t getVstVersion() { return kVstVersion; }
    virtual int32_t getCurrentMidiProgram(int32_t) { return -1; }
    virtual void getSpeakerArrangement(VstSpeakerArrangement** input, VstSpeakerArrangement** output);
    virtual int32_t setTotalSampleToProcess(int32_t frames) { return frames; }
    // effVendorSpecific: IN index (the vendor's code), value, ptr, opt; returns 0 unless understood
    virtual intptr_t vendorSpecific(int32_t, intptr_t, void*, float) { return 0; }
};
