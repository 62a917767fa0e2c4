// The gui extension, the same on every platform: a panel of fixed pixels,
// embedded, never floating, never scaled or resized.
#include "clap/ClapEditor.h"
#include "clap/ClapEffect.h"
#include "gui/panel/PanelLayout.h"

namespace {

ClapEffect& self(const clap_plugin_t* plugin) noexcept { return *ClapEffect::from(plugin); }
ClapEditor* editorOf(const clap_plugin_t* plugin) noexcept { return self(plugin).editor(); }

// Hosts probe this with a bare host record when they scan (one that offers
// no extension at all), so the answer depends on the API alone; create() is
// where a host that cannot drive the editor is told it cannot run.
bool CLAP_ABI isApiSupported(const clap_plugin_t*, const char* api, bool floating)
{
    return api && std::string_view(api) == clapPlatform::kWindowApi && !floating;
}

bool CLAP_ABI preferredApi(const clap_plugin_t*, const char** api, bool* floating)
{
    if (!api || !floating) return false;
    *api = clapPlatform::kWindowApi;
    *floating = false;
    return true;
}

bool CLAP_ABI create(const clap_plugin_t* plugin, const char* api, bool floating)
{
    if (!isApiSupported(plugin, api, floating) || !clapPlatform::hostCanDriveEditor(self(plugin))) return false;
    try {
        self(plugin).editorSlot() = clapPlatform::makeEditor(self(plugin));
    } catch (...) {
        return false;
    }
    return true;
}

void CLAP_ABI destroy(const clap_plugin_t* plugin) { self(plugin).editorSlot().reset(); }

bool CLAP_ABI setScale(const clap_plugin_t*, double) { return false; }
bool CLAP_ABI getSize(const clap_plugin_t* plugin, uint32_t* width, uint32_t* height)
{
    if (!editorOf(plugin) || !width || !height) return false;
    *width = panel::kWidth;
    *height = panel::kHeight;
    return true;
}
bool CLAP_ABI canResize(const clap_plugin_t*) { return false; }
// Hosts that ask (Qtractor does on every open) are told plainly that the
// panel keeps its size, rather than left without an answer.
bool CLAP_ABI resizeHints(const clap_plugin_t*, clap_gui_resize_hints_t* hints)
{
    if (!hints) return false;
    *hints = clap_gui_resize_hints_t{false, false, false, 0, 0};
    return true;
}
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
    ClapEditor* editor = editorOf(plugin);
    if (!editor || !window || !window->api || std::string_view(window->api) != clapPlatform::kWindowApi)
        return false;
    return editor->open(*window);
}

bool CLAP_ABI setTransient(const clap_plugin_t*, const clap_window_t*) { return false; }
void CLAP_ABI suggestTitle(const clap_plugin_t*, const char*) {}
bool CLAP_ABI show(const clap_plugin_t* plugin) { return editorOf(plugin) && editorOf(plugin)->show(); }
bool CLAP_ABI hide(const clap_plugin_t* plugin) { return editorOf(plugin) && editorOf(plugin)->hide(); }

const clap_plugin_gui_t kGui = {isApiSupported, preferredApi, create, destroy,      setScale,     getSize, canResize,
                                resizeHints,    adjustSize,   setSize, setParent,   setTransient, suggestTitle, show,
                                hide};

}  // namespace

const void* clapEditorExtension(ClapEffect&, std::string_view id) noexcept
{
    return id == CLAP_EXT_GUI ? &kGui : clapPlatform::editorExtension(id);
}
