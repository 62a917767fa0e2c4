// The editor's panel as a Win32 window, for any Windows plug-in format: a
// 665 x 178 skinned child of a window the host gives, with fifteen control
// windows (the gain/level dial, the XY scope, three radio groups, two
// switches, two trace buttons), a 20 ms refresh timer and the about image.
// What the controls do lives in the platform-neutral PanelController; this
// class makes the windows, hands their input to it and shows its changes,
// talking to the effect through a PanelHost. [UI thread]
#pragma once

#include "gui/controls/LedButton.h"
#include "gui/controls/LedDial.h"
#include "gui/controls/ScopeXY.h"
#include "gui/panel/PanelController.h"
#include "gui/panel/PanelHost.h"

#include <windows.h>

constexpr UINT_PTR kRefreshTimerId = 0x1234;
constexpr UINT kRefreshPeriodMs = 20;

class Win32Panel : private PanelView {
public:
    // Decodes the panel and about images; the first panel of the process
    // registers the main window class.
    explicit Win32Panel(PanelHost& host);
    ~Win32Panel() override;
    Win32Panel(const Win32Panel&) = delete;
    Win32Panel& operator=(const Win32Panel&) = delete;

    // Opens the panel at (0, 0) in `parent`, replacing a panel already
    // open. False, with nothing left behind, when the window cannot be made.
    bool open(HWND parent);
    // Destroys the windows and stops the scope feed; harmless when closed.
    void close();

    // The panel image's size: 665 x 178, or 0 x 0 when it could not be decoded.
    int32_t width() const noexcept { return size.cx; }
    int32_t height() const noexcept { return size.cy; }

    // Shows or hides the fifteen control windows (SW_SHOW or SW_HIDE).
    void showControlWindows(int command);
    // One refresh pass: scope traces, dial pull or push, groups and switches.
    void refresh() { controller.refresh(); }

    HWND getWindow() const { return window; }
    bool isAboutShown() const { return controller.aboutShown(); }

private:
    // How the controls show the controller's changes.
    int32_t buttonState(int32_t button) override { return buttons[button].state; }
    void setButtonValue(int32_t button, int32_t value) override { buttons[button].SetValue(value); }
    void settleButton(int32_t button) override;
    DialModel& dial() override { return dialControl.model; }
    void dialMayHaveChanged() override { dialControl.RefreshIfChanged(); }
    void plotScope(float x, float y, uint32_t colour) override { scope.Plot(x, y, colour); }
    void refreshScope() override { scope.Refresh(); }
    void showControls(bool shown) override;

    SIZE size{};
    HBITMAP backdrop = nullptr;
    HBITMAP aboutImage = nullptr;
    CLedDial dialControl;
    CScopeXY scope;
    CLedButton buttons[panel::kButtonCount];  // in control-id order
    UINT_PTR timerId = 0;
    HWND window = nullptr;
    PanelController controller;

    void drawAboutText();
    void paint(HDC given);
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static void registerWindowClass();
};
