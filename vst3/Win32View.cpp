// The editor on Windows: the shared Win32 panel inside the host's window
// (HWND). The panel keeps its own 20 ms timer on the host's UI thread, so
// the view needs nothing more of the host. [UI thread]
#include "gui/editor/Win32Panel.h"
#include "vst3/Vst3Effect.h"
#include "vst3/Vst3PanelHost.h"
#include "vst3/Vst3View.h"

namespace vst3 {

namespace {

class Win32View final : public PanelView {
public:
    explicit Win32View(Vst3Effect& effect) : PanelView(effect, kPlatformTypeHWND), host(effect), panel(host) {}

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

private:
    ~Win32View() override { panel.close(); }

    Vst3PanelHost host;
    Win32Panel panel;
};

}  // namespace

IPlugView* createEditorView(Vst3Effect& effect) { return new Win32View(effect); }

}  // namespace vst3
