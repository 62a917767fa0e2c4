#include "clap/ClapEditor.h"

#include "clap/ClapEffect.h"
#include "clap/ClapPanelHost.h"
#include "gui/editor/Win32Panel.h"
#include "gui/panel/PanelLayout.h"

#include "clap/ext/gui.h"

#include <memory>

namespace {

// The Windows panel inside the host's window. It refreshes on a timer of
// its own window, so it needs nothing of the host's run loop.
class Win32ClapEditor final : public ClapEditor {
public:
    explicit Win32ClapEditor(ClapEffect& effect) : host(effect), panel(host) {}
    ~Win32ClapEditor() override { panel.close(); }

    bool open(HWND parent) { return panel.open(parent); }
    bool show(bool shown)
    {
        if (!panel.getWindow()) return false;
        ShowWindow(panel.getWindow(), shown ? SW_SHOW : SW_HIDE);
        return true;
    }

private:
    ClapPanelHost host;
    Win32Panel panel;
};

ClapEffect& self(const clap_plugin_t* plugin) noexcept { return *ClapEffect::from(plugin); }
Win32ClapEditor* editorOf(const clap_plugin_t* plugin) noexcept
{
    return static_cast<Win32ClapEditor*>(self(plugin).editor());
}

bool CLAP_ABI isApiSupported(const clap_plugin_t*, const char* api, bool floating)
{
    return api && std::string_view(api) == CLAP_WINDOW_API_WIN32 && !floating;
}

bool CLAP_ABI preferredApi(const clap_plugin_t*, const char** api, bool* floating)
{
    if (!api || !floating) return false;
    *api = CLAP_WINDOW_API_WIN32;
    *floating = false;
    return true;
}

bool CLAP_ABI create(const clap_plugin_t* plugin, const char* api, bool floating)
{
    if (!isApiSupported(plugin, api, floating)) return false;
    try {
        self(plugin).editorSlot() = std::make_unique<Win32ClapEditor>(self(plugin));
    } catch (...) {
        return false;
    }
    return true;
}

void CLAP_ABI destroy(const clap_plugin_t* plugin) { self(plugin).editorSlot().reset(); }

// The panel's pixels are fixed: no scaling, no resizing.
bool CLAP_ABI setScale(const clap_plugin_t*, double) { return false; }
bool CLAP_ABI getSize(const clap_plugin_t* plugin, uint32_t* width, uint32_t* height)
{
    if (!editorOf(plugin) || !width || !height) return false;
    *width = panel::kWidth;
    *height = panel::kHeight;
    return true;
}
bool CLAP_ABI canResize(const clap_plugin_t*) { return false; }
bool CLAP_ABI resizeHints(const clap_plugin_t*, clap_gui_resize_hints_t*) { return false; }
bool CLAP_ABI adjustSize(const clap_plugin_t*, uint32_t* width, uint32_t* height)
{
    if (!width || !height) return false;
    *width = panel::kWidth;
    *height = panel::kHeight;
    return true;
}
bool CLAP_ABI setSize(const clap_plugin_t*, uint32_t width, uint32_t height)
{
    return width == static_cast<uint32_t>(panel::kWidth) && height == static_cast<uint32_t>(panel::kHeight);
}

bool CLAP_ABI setParent(const clap_plugin_t* plugin, const clap_window_t* window)
{
    Win32ClapEditor* editor = editorOf(plugin);
    if (!editor || !window || !window->api || std::string_view(window->api) != CLAP_WINDOW_API_WIN32) return false;
    return editor->open(static_cast<HWND>(window->win32));
}

bool CLAP_ABI setTransient(const clap_plugin_t*, const clap_window_t*) { return false; }
void CLAP_ABI suggestTitle(const clap_plugin_t*, const char*) {}
bool CLAP_ABI show(const clap_plugin_t* plugin) { return editorOf(plugin) && editorOf(plugin)->show(true); }
bool CLAP_ABI hide(const clap_plugin_t* plugin) { return editorOf(plugin) && editorOf(plugin)->show(false); }

const clap_plugin_gui_t kGui = {isApiSupported, preferredApi, create, destroy,      setScale,     getSize, canResize,
                                resizeHints,    adjustSize,   setSize, setParent,   setTransient, suggestTitle, show,
                                hide};

}  // namespace

const void* clapEditorExtension(ClapEffect&, std::string_view id) noexcept
{
    return id == CLAP_EXT_GUI ? &kGui : nullptr;
}
