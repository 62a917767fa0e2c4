// z5r-jack's window: a top-level window titled "Korvane Z5R", the panel's
// size and not resizable, on an X connection of its own, with the shared
// X11 panel opened inside it. Closing it through the window manager asks
// the program to quit.
//
// [main thread] The main loop watches both X connections' descriptors
// (fds()) and calls idle() when one is readable and at least every 20 ms.
#pragma once

#include "gui/panel/PanelHost.h"
#include "gui/x11/X11Editor.h"

#include <cstdint>
#include <memory>
#include <string>

class TubeEngine;

namespace jackapp {

// The panel's host in the standalone program: the engine itself. Changes
// from the panel land in the engine as they are; nothing records them.
class EnginePanelHost final : public PanelHost {
public:
    explicit EnginePanelHost(TubeEngine& engine) noexcept : engine(engine) {}
    float getParameter(int32_t index) override;
    void setParameterFromUser(int32_t index, float value) override;
    void copyScope(ScopePoint (&ring)[kScopeRingSize]) override;
    void startScope() override;
    void stopScope() override;

private:
    TubeEngine& engine;
};

class AppWindow {
public:
    explicit AppWindow(TubeEngine& engine);
    ~AppWindow();
    AppWindow(const AppWindow&) = delete;
    AppWindow& operator=(const AppWindow&) = delete;

    // Opens the window and the panel in it; false with the reason.
    bool open(std::string& error);
    // Takes the window's events and runs the panel's. Answers whether the
    // window is still there: false once closed through the window manager
    // (closeRequested()) or when the display went away.
    bool idle();
    bool closeRequested() const noexcept { return deleteAsked; }
    void close();

    // The window's and the panel's connection descriptors (-1 when closed).
    int windowFd() const noexcept;
    int panelFd() const noexcept { return panel.connectionFd(); }
    uint32_t window() const noexcept;

private:
    struct Connection;
    EnginePanelHost host;
    X11Editor panel;
    std::unique_ptr<Connection> x;
    bool deleteAsked = false;
};

}  // namespace jackapp
