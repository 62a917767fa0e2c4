// The host-facing base of the effect's editor: the editor counterpart of
// EffectBase. The dispatcher reaches the editor only through these virtual
// operations. The audio thread never reaches the editor.
#pragma once

#include "plugin/vst2abi.h"

class EffectBase;

// A key as the host reports it to effEditKeyDown / effEditKeyUp.
struct VstKeyCode {
    int32_t character;
    unsigned char virt;
    unsigned char modifier;
};

class EditorBase {
public:
    explicit EditorBase(EffectBase* effect) noexcept : effect(effect) {}
    virtual ~EditorBase() = default;
    EditorBase(const EditorBase&) = delete;
    EditorBase& operator=(const EditorBase&) = delete;

    virtual EffectBase* getEffect() { return effect; }
    virtual bool getRect(ERect** rect)
    {
        if (rect) *rect = nullptr;
        return false;
    }
    virtual bool open(void* parentWindow)
    {
        systemWindow = parentWindow;
        return false;
    }
    virtual void close() { systemWindow = nullptr; }
    virtual bool isOpen() { return systemWindow != nullptr; }
    virtual void idle() {}
    virtual bool onKeyDown(VstKeyCode&) { return false; }
    virtual bool onKeyUp(VstKeyCode&) { return false; }
    virtual bool onWheel(float) { return false; }
    virtual bool setKnobMode(int32_t) { return false; }


protected:
    EffectBase* effect;
    void* systemWindow = nullptr;
};
