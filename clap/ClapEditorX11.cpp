#include "clap/ClapEditor.h"

#include "clap/ClapEffect.h"
#include "clap/ClapPanelHost.h"
#include "gui/x11/X11Editor.h"

#include "clap/ext/timer-support.h"

#include <memory>

namespace {

constexpr uint32_t kRefreshMilliseconds = 20;

class X11ClapEditor final : public ClapEditor {
public:
    explicit X11ClapEditor(ClapEffect& effect) : effect(effect), host(effect), panel(host) {}
    ~X11ClapEditor() override { close(); }

    bool open(const clap_window_t& parent) override
    {
        close();
        if (!panel.open(static_cast<uint32_t>(parent.x11))) return false;
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

    // The panel is shown from the moment it has a parent; the host shows or
    // hides the parent.
    bool show() override { return panel.isOpen(); }
    bool hide() override { return true; }

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

namespace clapPlatform {

const char* const kWindowApi = CLAP_WINDOW_API_X11;
bool hostCanDriveEditor(const ClapEffect& effect) noexcept { return effect.hostTimer() && effect.hostFd(); }
std::unique_ptr<ClapEditor> makeEditor(ClapEffect& effect) { return std::make_unique<X11ClapEditor>(effect); }

const void* editorExtension(std::string_view id) noexcept
{
    if (id == CLAP_EXT_TIMER_SUPPORT) return &kTimer;
    if (id == kClapExtPosixFdSupport) return &kFd;
    return nullptr;
}

}  // namespace clapPlatform
