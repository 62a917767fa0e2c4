// The host-facing base of the effect's editor: the editor counterpart of
// EffectBase. The dispatcher reaches the editor only through these virtual
// operations; block processing reaches the editor's scope ring through the
// two ring operations, which never wait.
#pragma once

#include "plugin/vst2abi.h"

class EffectBase;

// One scope sample pair: input and output of both channels.
struct ScopePoint {
    float inputLeft;
    float inputRight;
    float outputLeft;
    float outputRight;
};
static_assert(sizeof(ScopePoint) == 16);

constexpr int32_t kScopeRingSize = 512;

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

    // [audio thread] The scope ring if its lock could be taken without
    // waiting, else null. An editor without a scope has no ring.
    virtual ScopePoint* tryLockScopeRing() noexcept { return nullptr; }
    // [audio thread] Releases the lock after a successful tryLockScopeRing.
    virtual void unlockScopeRing() noexcept {}

protected:
    EffectBase* effect;
    void* systemWindow = nullptr;
};
