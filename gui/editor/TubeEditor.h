// The effect's editor on Windows: a 665 x 178 skinned panel opened as a
// child of the host's window, with fifteen control windows (the gain/level
// dial, the XY scope, three radio groups, two switches, two trace buttons),
// a 20 ms refresh timer and the about image. What the controls do lives in
// the platform-neutral PanelController; this class makes the windows,
// hands their input to it and shows its changes. [UI thread]
#pragma once

#include "gui/controls/LedButton.h"
#include "gui/controls/LedDial.h"
#include "gui/controls/ScopeXY.h"
#include "gui/editor/EffectPanelHost.h"
#include "gui/panel/PanelController.h"
#include "plugin/EditorBase.h"

#include <windows.h>

class TubeEffect;

constexpr UINT_PTR kRefreshTimerId = 0x1234;
constexpr UINT kRefreshPeriodMs = 20;

class TubeEditor : public EditorBase, private PanelView {
public:
    explicit TubeEditor(TubeEffect* effect);
    ~TubeEditor() override;

    bool getRect(ERect** rect) override;
    bool open(void* parentWindow) override;
    void close() override;

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

    ERect rect{};
    HBITMAP backdrop = nullptr;
    HBITMAP aboutImage = nullptr;
    CLedDial dialControl;
    CScopeXY scope;
    CLedButton buttons[panel::kButtonCount];  // in control-id order
    UINT_PTR timerId = 0;
    HWND window = nullptr;
    EffectPanelHost host;
    PanelController controller;

    void drawAboutText();
    void paint(HDC given);
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static void registerWindowClass();
};
