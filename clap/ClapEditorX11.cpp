#include "clap/ClapEditor.h"

#include "clap/ClapEffect.h"
#include "clap/ClapPanelHost.h"
#include "gui/x11/X11Editor.h"

#include "clap/ext/gui.h"
#include "clap/ext/timer-support.h"

#include <new>

namespace {

constexpr uint32_t kRefreshMilliseconds = 20;

class X11ClapEditor final : public ClapEditor {
public:
    explicit X11ClapEditor(ClapEffect& effect) : effect(effect), host(effect), panel(host) {}
    ~X11ClapEditor() override { close(); }

    bool open(uint32_t parent)
    {
        close();
        if (!panel.open(parent)) return false;
        const clap_host_t* h = effect.getHost();
        fd = panel.connectionFd();
        if (fd >= 0 && !effect.hostFd()->register_fd(h, fd, kClapPosixFdRead | kClapPosixFdError)) fd = -1;
        if (!effect.hostTimer()->register_timer(h, kRefreshMilliseconds, &timer)) timer = CLAP_INVALID_ID;
        if (fd < 0 || timer == CLAP_INVALID_ID) {
            // Without both the panel would freeze: better not open it at all.
            close();
            return false;
        }
        return true;
    }

    void close()
    {
        const clap_host_t* h = effect.getHost();
        if (fd >= 0) effect.hostFd()->unregister_fd(h, fd);
        if (timer != CLAP_INVALID_ID) effect.hostTimer()->unregister_timer(h, timer);
        fd = -1;
        timer = CLAP_INVALID_ID;
        panel.close();
    }

    // The host's timer or the connection's descriptor: events and refresh.
    void idle(bool fromFd, int readyFd, clap_id timerId)
    {
        if (fromFd ? readyFd != fd : timerId != timer) return;
        panel.idle();
        // The panel closes itself when its parent went away: stop watching.
        if (!panel.isOpen()) close();
    }

    bool isOpen() const { return panel.isOpen(); }

private:
    ClapEffect& effect;
    ClapPanelHost host;
    X11Editor panel;
    int fd = -1;
    clap_id timer = CLAP_INVALID_ID;
};

ClapEffect& self(const clap_plugin_t* plugin) noexcept { return *ClapEffect::from(plugin); }
X11ClapEditor* editorOf(const clap_plugin_t* plugin) noexcept
{
    return static_cast<X11ClapEditor*>(self(plugin).editor());
}

// The editor is an embedded X11 window. Hosts probe this with a bare host
// record when they scan (one that offers no extension at all), so the
// answer depends on the API alone; create() is where a host without a
// timer and a descriptor watch is told the editor cannot run.
bool CLAP_ABI isApiSupported(const clap_plugin_t*, const char* api, bool floating)
{
    return api && std::string_view(api) == CLAP_WINDOW_API_X11 && !floating;
}

bool hostCanDriveEditor(const ClapEffect& effect) { return effect.hostTimer() && effect.hostFd(); }

bool CLAP_ABI preferredApi(const clap_plugin_t* plugin, const char** api, bool* floating)
{
    if (!api || !floating || !isApiSupported(plugin, CLAP_WINDOW_API_X11, false)) return false;
    *api = CLAP_WINDOW_API_X11;
    *floating = false;
    return true;
}

bool CLAP_ABI create(const clap_plugin_t* plugin, const char* api, bool floating)
{
    if (!isApiSupported(plugin, api, floating) || !hostCanDriveEditor(self(plugin))) return false;
    try {
        self(plugin).editorSlot() = std::make_unique<X11ClapEditor>(self(plugin));
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
    *width = X11Editor::kWidth;
    *height = X11Editor::kHeight;
    return true;
}
bool CLAP_ABI canResize(const clap_plugin_t*) { return false; }
bool CLAP_ABI resizeHints(const clap_plugin_t*, clap_gui_resize_hints_t*) { return false; }
bool CLAP_ABI adjustSize(const clap_plugin_t*, uint32_t* width, uint32_t* height)
{
    if (!width || !height) return false;
    *width = X11Editor::kWidth;
    *height = X11Editor::kHeight;
    return true;
}
bool CLAP_ABI setSize(const clap_plugin_t*, uint32_t width, uint32_t height)
{
    return width == X11Editor::kWidth && height == X11Editor::kHeight;
}

bool CLAP_ABI setParent(const clap_plugin_t* plugin, const clap_window_t* window)
{
    X11ClapEditor* editor = editorOf(plugin);
    if (!editor || !window || !window->api || std::string_view(window->api) != CLAP_WINDOW_API_X11) return false;
    return editor->open(static_cast<uint32_t>(window->x11));
}

bool CLAP_ABI setTransient(const clap_plugin_t*, const clap_window_t*) { return false; }
void CLAP_ABI suggestTitle(const clap_plugin_t*, const char*) {}
// The panel is shown from the moment it has a parent; the host shows or
// hides the parent.
bool CLAP_ABI show(const clap_plugin_t* plugin) { return editorOf(plugin) && editorOf(plugin)->isOpen(); }
bool CLAP_ABI hide(const clap_plugin_t* plugin) { return editorOf(plugin) != nullptr; }

const clap_plugin_gui_t kGui = {isApiSupported, preferredApi, create, destroy,      setScale,     getSize, canResize,
                                resizeHints,    adjustSize,   setSize, setParent,   setTransient, suggestTitle, show,
                                hide};

void CLAP_ABI onTimer(const clap_plugin_t* plugin, clap_id id)
{
    if (X11ClapEditor* editor = editorOf(plugin)) editor->idle(false, -1, id);
}
const clap_plugin_timer_support_t kTimer = {onTimer};

void CLAP_ABI onFd(const clap_plugin_t* plugin, int fd, uint32_t)
{
    if (X11ClapEditor* editor = editorOf(plugin)) editor->idle(true, fd, CLAP_INVALID_ID);
}
const ClapPluginPosixFdSupport kFd = {onFd};

}  // namespace

const void* clapEditorExtension(ClapEffect&, std::string_view id) noexcept
{
    if (id == CLAP_EXT_GUI) return &kGui;
    if (id == CLAP_EXT_TIMER_SUPPORT) return &kTimer;
    if (id == kClapExtPosixFdSupport) return &kFd;
    return nullptr;
}
