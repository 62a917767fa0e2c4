// The Windows panel inside the host's window. It refreshes on a timer of
// its own window, so it needs nothing of the host's run loop.
#include "clap/ClapEditor.h"

#include "clap/ClapEffect.h"
#include "clap/ClapPanelHost.h"
#include "gui/editor/Win32Panel.h"

namespace {

class Win32ClapEditor final : public ClapEditor {
public:
    explicit Win32ClapEditor(ClapEffect& effect) : host(effect), panel(host) {}
    ~Win32ClapEditor() override { panel.close(); }

    bool open(const clap_window_t& parent) override { return panel.open(static_cast<HWND>(parent.win32)); }
    bool show() override { return showWindow(SW_SHOW); }
    bool hide() override { return showWindow(SW_HIDE); }

private:
    bool showWindow(int command)
    {
        if (!panel.getWindow()) return false;
        ShowWindow(panel.getWindow(), command);
        return true;
    }

    ClapPanelHost host;
    Win32Panel panel;
};

}  // namespace

namespace clapPlatform {

const char* const kWindowApi = CLAP_WINDOW_API_WIN32;
bool hostCanDriveEditor(const ClapEffect&) noexcept { return true; }
std::unique_ptr<ClapEditor> makeEditor(ClapEffect& effect) { return std::make_unique<Win32ClapEditor>(effect); }
const void* editorExtension(std::string_view) noexcept { return nullptr; }

}  // namespace clapPlatform
