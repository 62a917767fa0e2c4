// The editor as an LV2 UI: the X11 panel inside the window the host gives
// (ui:parent), driven by the host's idle calls, its size told through
// ui:resize where the host offers it. The idle interface is always there
// through extension_data, whether or not the host also names it as a
// feature: jalv and Ardour (through suil's GTK wrappers) pass it, Qtractor
// and suil's Qt wrapper only ask for it once the UI exists. The panel talks to the
// plug-in only through ports, never through the instance: a control the
// user moves is written as a port value through the host's write function,
// a port value the host reports moves the control at the panel's next
// refresh, and the scope points arrive as atom events from the `scope`
// output while the panel tells the plug-in, over `scope_watch`, that it
// shows them.
//
// Every call, from the host and into the panel, comes from the host's UI
// thread. Nothing here throws across the C interface.
//
// The handle the host holds is a serial number, not the editor's address:
// a host may still pass it after cleanup, or pass a null one (suil's GTK
// wrappers clean the UI up when its window goes and null the handle, while
// the host's update timer goes on forwarding port events). Such a call
// finds no editor and does nothing. The same lock keeps a port event from
// another thread out of a running idle and out of cleanup.
#include "gui/panel/PanelHost.h"
#include "gui/x11/X11Editor.h"
#include "lv2/PortMap.h"
#include "lv2/ScopeMessage.h"
#include "lv2/Uris.h"

#include <lv2/core/lv2_util.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace {

// What the panel knows of the plug-in: the ports' values as the host last
// reported them (or as the panel last wrote them), and the scope points
// received while the panel shows the scope.
class PortPanelHost final : public PanelHost {
public:
    PortPanelHost(LV2UI_Write_Function write, LV2UI_Controller controller, const ScopeUrids& urids) noexcept
        : write(write), controller(controller), urids(urids)
    {
        for (int32_t i = 0; i < kNumParams; ++i) values[i] = normalizedFromPhysical(i, kParameterInfo[i].defaultPhysical);
    }

    float getParameter(int32_t index) override
    {
        return isParameterIndex(index) ? values[index] : 0.0f;
    }
    void setParameterFromUser(int32_t index, float value) override
    {
        if (!isParameterIndex(index)) return;
        float port = physicalFromNormalized(index, value);
        // What the plug-in will hear, so that the control does not jump when
        // the host echoes the value back (or never does).
        values[index] = normalizedFromPhysical(index, port);
        write(controller, static_cast<uint32_t>(index), sizeof(float), 0, &port);
    }
    void copyScope(ScopePoint (&out)[kScopeRingSize]) override
    {
        std::memcpy(out, ring, sizeof(ring));
        // Called at every refresh while the scope shows: the plug-in hears
        // once a second that someone still looks.
        if (scopeOn && ++refreshesSinceWord >= kRefreshesPerWord) tellPlugin(ScopeWord::Watch);
    }
    void startScope() override
    {
        scopeOn = true;
        writeIndex = 0;
        tellPlugin(ScopeWord::Watch);
    }
    void stopScope() override
    {
        scopeOn = false;
        tellPlugin(ScopeWord::Closed);
    }

    // [UI thread] A port event from the host.
    void portEvent(uint32_t port, uint32_t size, uint32_t format, const void* buffer) noexcept
    {
        if (!buffer) return;
        if (port < static_cast<uint32_t>(kNumParams) && format == 0 && size == sizeof(float)) {
            float value;
            std::memcpy(&value, buffer, sizeof(value));
            values[port] = normalizedFromPhysical(static_cast<int32_t>(port), value);
        } else if (port == kPortScope && format == urids.atomEventTransfer && scopeOn) {
            ScopePoint points[kScopeRingSize];
            const int32_t n =
                readScopeBlock(urids, static_cast<const LV2_Atom*>(buffer), size, points, kScopeRingSize);
            for (int32_t i = 0; i < n; ++i) {
                ring[writeIndex] = points[i];
                writeIndex = (writeIndex + 1) % kScopeRingSize;
            }
        }
    }

private:
    // 50 refreshes of 20 ms.
    static constexpr int32_t kRefreshesPerWord = 50;

    void tellPlugin(ScopeWord word) noexcept
    {
        refreshesSinceWord = 0;
        const LV2_Atom_Object atom = scopeWordAtom(urids, word);
        write(controller, kPortScopeWatch, sizeof(atom), urids.atomEventTransfer, &atom);
    }

    LV2UI_Write_Function write;
    LV2UI_Controller controller;
    const ScopeUrids& urids;
    float values[kNumParams] = {};
    ScopePoint ring[kScopeRingSize] = {};
    int32_t writeIndex = 0;
    bool scopeOn = false;
    int32_t refreshesSinceWord = 0;
};

struct Lv2Editor {
    ScopeUrids urids;
    PortPanelHost host;
    X11Editor panel;

    Lv2Editor(LV2UI_Write_Function write, LV2UI_Controller controller) : host(write, controller, urids), panel(host) {}
};

// The editors alive in this process, by the serial number their host holds.
// Recursive: the panel's writes during idle reach the host, which may answer
// at once with a port event on the same thread.
class LiveEditors {
public:
    LV2UI_Handle add(std::unique_ptr<Lv2Editor> editor)
    {
        std::lock_guard<std::recursive_mutex> hold(mutex);
        // Zero stays unused: it reads as the null handle.
        if (++lastSerial == 0) ++lastSerial;
        editors.emplace_back(lastSerial, std::move(editor));
        return reinterpret_cast<LV2UI_Handle>(lastSerial);
    }
    // Runs `use` on the editor under the lock; false when there is none.
    template <typename Use>
    bool with(LV2UI_Handle handle, Use&& use)
    {
        std::lock_guard<std::recursive_mutex> hold(mutex);
        for (auto& [serial, editor] : editors)
            if (reinterpret_cast<LV2UI_Handle>(serial) == handle) {
                use(*editor);
                return true;
            }
        return false;
    }
    // Destroys the editor, still under the lock: a port event waiting for it
    // then finds nothing.
    void remove(LV2UI_Handle handle)
    {
        std::lock_guard<std::recursive_mutex> hold(mutex);
        for (auto e = editors.begin(); e != editors.end(); ++e)
            if (reinterpret_cast<LV2UI_Handle>(e->first) == handle) {
                editors.erase(e);
                return;
            }
    }

private:
    std::recursive_mutex mutex;
    uintptr_t lastSerial = 0;
    std::vector<std::pair<uintptr_t, std::unique_ptr<Lv2Editor>>> editors;
};

// Never destroyed: a host thread may still call in while the process exits.
LiveEditors& liveEditors()
{
    static LiveEditors* live = new LiveEditors;
    return *live;
}

LV2UI_Handle instantiate(const LV2UI_Descriptor*, const char* pluginUri, const char*, LV2UI_Write_Function write,
                         LV2UI_Controller controller, LV2UI_Widget* widget, const LV2_Feature* const* features)
{
    try {
        if (!pluginUri || std::strcmp(pluginUri, Z5R_LV2_URI) != 0 || !write || !widget) return nullptr;
        const auto* map = static_cast<const LV2_URID_Map*>(lv2_features_data(features, LV2_URID__map));
        // The window id travels in the pointer's bits.
        const auto parent = reinterpret_cast<uintptr_t>(lv2_features_data(features, LV2_UI__parent));
        if (!map || !parent) return nullptr;

        auto editor = std::make_unique<Lv2Editor>(write, controller);
        if (!editor->urids.map(*map)) return nullptr;
        if (!editor->panel.open(static_cast<uint32_t>(parent))) return nullptr;
        *widget = reinterpret_cast<LV2UI_Widget>(static_cast<uintptr_t>(editor->panel.window()));
        if (const auto* resize = static_cast<const LV2UI_Resize*>(lv2_features_data(features, LV2_UI__resize)))
            if (resize->ui_resize) resize->ui_resize(resize->handle, X11Editor::kWidth, X11Editor::kHeight);
        return liveEditors().add(std::move(editor));
    } catch (...) {
        return nullptr;
    }
}

void cleanup(LV2UI_Handle handle)
{
    try {
        liveEditors().remove(handle);
    } catch (...) {
    }
}

void portEvent(LV2UI_Handle handle, uint32_t port, uint32_t size, uint32_t format, const void* buffer)
{
    try {
        liveEditors().with(handle, [&](Lv2Editor& editor) { editor.host.portEvent(port, size, format, buffer); });
    } catch (...) {
    }
}

// Non-zero asks the host to close the UI: the panel closed itself (its
// parent window went, or the X server did), or the handle is gone.
int idle(LV2UI_Handle handle)
{
    bool open = false;
    try {
        liveEditors().with(handle, [&](Lv2Editor& editor) {
            editor.panel.idle();
            open = editor.panel.isOpen();
        });
    } catch (...) {
    }
    return open ? 0 : 1;
}

const LV2UI_Idle_Interface kIdleInterface = {idle};

const void* extensionData(const char* uri)
{
    return uri && std::strcmp(uri, LV2_UI__idleInterface) == 0 ? &kIdleInterface : nullptr;
}

const LV2UI_Descriptor kDescriptor = {Z5R_LV2_UI_URI, instantiate, cleanup, portEvent, extensionData};

}  // namespace

LV2_SYMBOL_EXPORT const LV2UI_Descriptor* lv2ui_descriptor(uint32_t index)
{
    return index == 0 ? &kDescriptor : nullptr;
}
