// The editor on Windows: the shared Win32 panel inside the host's window
// (HWND). The panel keeps its own 20 ms timer on the host's UI thread, so
// the view needs nothing more of the host. [UI thread]
#include "gui/editor/Win32Panel.h"
#include "vst3/Vst3Effect.h"
#include "vst3/Vst3PanelHost.h"
#include "vst3/Vst3View.h"

#include <atomic>
#include <cstring>

namespace vst3 {

namespace {

class Win32View final : public IPlugView {
public:
    explicit Win32View(Vst3Effect& effect) : effect(effect), host(effect), panel(host) { effect.addRef(); }

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
        return type && std::strcmp(type, kPlatformTypeHWND) == 0 ? kResultTrue : kResultFalse;
    }
    tresult VST3_CALL attached(void* parent, FIDString type) override
    {
        if (isPlatformTypeSupported(type) != kResultTrue || !parent) return kResultFalse;
        return panel.open(static_cast<HWND>(parent)) ? kResultOk : kResultFalse;
    }
    tresult VST3_CALL removed() override
    {
        panel.close();
        return kResultOk;
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
    tresult VST3_CALL setFrame(IPlugFrame*) override { return kResultOk; }
    tresult VST3_CALL canResize() override { return kResultFalse; }
    tresult VST3_CALL checkSizeConstraint(ViewRect* rect) override
    {
        if (!rect) return kInvalidArgument;
        rect->right = rect->left + panel::kWidth;
        rect->bottom = rect->top + panel::kHeight;
        return kResultTrue;
    }

private:
    ~Win32View()
    {
        panel.close();
        effect.release();
    }

    std::atomic<uint32_t> refCount{1};
    Vst3Effect& effect;
    Vst3PanelHost host;
    Win32Panel panel;
};

}  // namespace

IPlugView* createEditorView(Vst3Effect& effect) { return new Win32View(effect); }

}  // namespace vst3
