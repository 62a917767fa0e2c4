// The effect's editor as a VST3 view: the shared panel in the host's
// window. Each platform's file builds it; null where there is none.
// [UI thread]
#pragma once

#include "gui/panel/PanelLayout.h"
#include "vst3/Vst3Effect.h"
#include "vst3/vst3abi.h"

#include <atomic>
#include <cstring>

namespace vst3 {

// A new view holding one reference to `effect`, or null.
IPlugView* createEditorView(Vst3Effect& effect);

// What the views of every platform share: the panel's fixed size, the
// reference count, the one reference to the effect, and the host's frame
// (owned by the host, not held). The platform adds attaching and removing.
class PanelView : public IPlugView {
public:
    PanelView(Vst3Effect& effect, FIDString platformType) : effect(effect), platformType(platformType)
    {
        effect.addRef();
    }

    tresult VST3_CALL queryInterface(const uint8_t* iid, void** obj) override
    {
        if (!obj) return kInvalidArgument;
        *obj = nullptr;
        if (!sameUid(iid, kFUnknownIid) && !sameUid(iid, kIPlugViewIid)) return kNoInterface;
        *obj = static_cast<IPlugView*>(this);
        addRef();
        return kResultOk;
    }
    uint32_t VST3_CALL addRef() override { return refCount.fetch_add(1) + 1; }
    uint32_t VST3_CALL release() override
    {
        const uint32_t left = refCount.fetch_sub(1) - 1;
        if (left == 0) delete this;
        return left;
    }

    tresult VST3_CALL isPlatformTypeSupported(FIDString type) override
    {
        return type && std::strcmp(type, platformType) == 0 ? kResultTrue : kResultFalse;
    }
    tresult VST3_CALL onWheel(float) override { return kResultFalse; }
    tresult VST3_CALL onKeyDown(char16, int16_t, int16_t) override { return kResultFalse; }
    tresult VST3_CALL onKeyUp(char16, int16_t, int16_t) override { return kResultFalse; }
    tresult VST3_CALL getSize(ViewRect* size) override
    {
        if (!size) return kInvalidArgument;
        *size = {0, 0, panel::kWidth, panel::kHeight};
        return kResultOk;
    }
    tresult VST3_CALL onSize(ViewRect* size) override { return size ? kResultOk : kInvalidArgument; }
    tresult VST3_CALL onFocus(TBool) override { return kResultOk; }
    tresult VST3_CALL setFrame(IPlugFrame* newFrame) override
    {
        frame = newFrame;
        return kResultOk;
    }
    tresult VST3_CALL canResize() override { return kResultFalse; }
    tresult VST3_CALL checkSizeConstraint(ViewRect* rect) override
    {
        if (!rect) return kInvalidArgument;
        rect->right = rect->left + panel::kWidth;
        rect->bottom = rect->top + panel::kHeight;
        return kResultTrue;
    }

protected:
    // The platform closes its panel in its own destructor, before this one
    // lets go of the effect.
    virtual ~PanelView() { effect.release(); }

    Vst3Effect& effect;
    IPlugFrame* frame = nullptr;

private:
    std::atomic<uint32_t> refCount{1};
    FIDString platformType;
};

}  // namespace vst3
