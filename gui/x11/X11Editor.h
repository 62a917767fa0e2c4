// The editor's panel as an X11 window, for any Linux plug-in format: a
// 665 x 178 child of a window the host gives, on an X connection of the
// editor's own, driven by the host's idle calls. It draws the panel with
// the platform-neutral PanelCanvas and behaves through the PanelController,
// talking to the effect through a PanelHost.
//
//     X11Editor editor(host);      // host: the effect, or an LV2 UI's ports
//     editor.open(parentWindowId); // ui:parent / effEditOpen's window
//     editor.idle();               // every 10 to 50 ms: ui:idleInterface / effEditIdle
//     editor.close();              // or destroy the editor
//
// Threads: every call comes from the host's UI thread, and so does every
// call into the PanelHost. Nothing here blocks in idle(): it takes the
// events already received, runs the 20 ms refresh when its time has come
// and sends the changed pixels.
//
// X errors: the editor speaks XCB on its own connection to the process's
// display (DISPLAY), never the host's, so its errors come back to it as
// events and are dropped; no process-wide Xlib error handler is involved.
// When the host destroys the parent window first, or the X server goes
// away, the editor closes itself quietly at its next idle().
#pragma once

#include "gui/panel/PanelCanvas.h"
#include "gui/panel/PanelController.h"
#include "gui/panel/PanelHost.h"

#include <chrono>
#include <cstdint>
#include <memory>

class X11Editor {
public:
    static constexpr int32_t kWidth = panel::kWidth;
    static constexpr int32_t kHeight = panel::kHeight;

    explicit X11Editor(PanelHost& host);
    ~X11Editor();
    X11Editor(const X11Editor&) = delete;
    X11Editor& operator=(const X11Editor&) = delete;

    // Opens the panel at (0, 0) in `parent`, an X window id, replacing a
    // panel already open. False, with nothing left behind, when there is no
    // display or no such window.
    bool open(uint32_t parent);
    // Handles every pending event, refreshes every 20 ms, and puts what
    // changed on the screen. Does nothing while closed.
    void idle();
    // Destroys the window and closes the connection; the scope feed stops.
    // Harmless when closed.
    void close();

    bool isOpen() const noexcept { return x != nullptr; }
    // The panel's own window, 0 while closed.
    uint32_t window() const noexcept;
    // The descriptor of the editor's X connection, -1 while closed: hosts
    // with a run loop (VST3, CLAP) watch it and call idle() when it is
    // readable, besides a 20 ms timer.
    int connectionFd() const noexcept;

    // For tests: the picture as the editor last drew it, and the X errors
    // its connection received since it opened.
    const PanelCanvas& canvas() const noexcept { return panelCanvas; }
    int32_t errorsSeen() const noexcept { return errors; }

private:
    struct Connection;

    void handleEvents();
    void closeConnection();
    void show(const PanelCanvas::Rect& area);

    PanelCanvas panelCanvas;
    PanelController controller;
    std::unique_ptr<Connection> x;
    std::chrono::steady_clock::time_point nextRefresh;
    PanelCanvas::Rect exposed;
    int32_t errors = 0;
};
