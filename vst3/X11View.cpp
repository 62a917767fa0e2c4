// The editor on Linux: the X11 panel inside the host's window
// (X11EmbedWindowID), driven by the host's run loop, which the plug frame
// answers for: a 20 ms timer for the refresh and an event handler on the
// panel's X connection. No thread of the editor's own. A host without a run
// loop is refused at attach: the panel would never be drawn.
// [UI thread]
#include "gui/x11/X11Editor.h"
#include "vst3/Vst3Effect.h"
#include "vst3/Vst3PanelHost.h"
#include "vst3/Vst3View.h"

namespace vst3 {

namespace {

constexpr uint64_t kRefreshMilliseconds = 20;

class X11View final : public PanelView, public IEventHandler, public ITimerHandler {
public:
    explicit X11View(Vst3Effect& effect)
        : PanelView(effect, kPlatformTypeX11EmbedWindowID), host(effect), panel(host)
    {
    }

    tresult VST3_CALL queryInterface(const uint8_t* iid, void** obj) override
    {
        if (obj && sameUid(iid, kIEventHandlerIid)) {
            *obj = static_cast<IEventHandler*>(this);
        } else if (obj && sameUid(iid, kITimerHandlerIid)) {
            *obj = static_cast<ITimerHandler*>(this);
        } else {
            return PanelView::queryInterface(iid, obj);
        }
        addRef();
        return kResultOk;
    }
    uint32_t VST3_CALL addRef() override { return PanelView::addRef(); }
    uint32_t VST3_CALL release() override { return PanelView::release(); }

    tresult VST3_CALL attached(void* parent, FIDString type) override
    {
        if (isPlatformTypeSupported(type) != kResultTrue || !parent || runLoop) return kResultFalse;
        void* loop = nullptr;
        if (!frame || frame->queryInterface(kIRunLoopIid.bytes, &loop) != kResultOk || !loop) return kResultFalse;
        runLoop = static_cast<IRunLoop*>(loop);
        // The window id travels in the pointer's bits.
        const auto window = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(parent));
        if (!panel.open(window)) {
            dropRunLoop();
            return kResultFalse;
        }
        watching = runLoop->registerEventHandler(static_cast<IEventHandler*>(this), panel.connectionFd()) ==
                   kResultOk;
        timing = runLoop->registerTimer(static_cast<ITimerHandler*>(this), kRefreshMilliseconds) == kResultOk;
        if (!timing) {
            // Without the refresh the panel would stand still: refuse.
            panel.close();
            dropRunLoop();
            return kResultFalse;
        }
        return kResultOk;
    }

    tresult VST3_CALL removed() override
    {
        panel.close();
        dropRunLoop();
        return kResultOk;
    }

    void VST3_CALL onFDIsSet(int) override { step(); }
    void VST3_CALL onTimer() override { step(); }

private:
    ~X11View() override
    {
        panel.close();
        dropRunLoop();
    }

    void step()
    {
        panel.idle();
        // A value the host's automation wrote reaches the host's latency here.
        effect.announceLatencyIfChanged();
        // The panel closes itself when the host destroyed its parent: its
        // descriptor is gone, so the run loop must stop watching it.
        if (!panel.isOpen() && watching && runLoop) {
            runLoop->unregisterEventHandler(static_cast<IEventHandler*>(this));
            watching = false;
        }
    }

    void dropRunLoop()
    {
        if (!runLoop) return;
        if (watching) runLoop->unregisterEventHandler(static_cast<IEventHandler*>(this));
        if (timing) runLoop->unregisterTimer(static_cast<ITimerHandler*>(this));
        watching = timing = false;
        runLoop->release();
        runLoop = nullptr;
    }

    Vst3PanelHost host;
    X11Editor panel;
    IRunLoop* runLoop = nullptr;
    bool watching = false;
    bool timing = false;
};

}  // namespace

IPlugView* createEditorView(Vst3Effect& effect) { return new X11View(effect); }

}  // namespace vst3
