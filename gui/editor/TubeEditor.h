// The effect's editor: a 665 x 178 skinned panel opened as a child of the
// host's window, with fifteen controls (the gain/level dial, the XY scope,
// three radio groups, two switches, two trace buttons), a 20 ms refresh
// timer that keeps controls and parameters in step, and the about image.
// The scope draws from the engine's ring. [UI thread]
#pragma once

#include "gui/controls/LedButton.h"
#include "gui/controls/LedDial.h"
#include "gui/controls/ScopeXY.h"
#include "engine/ScopeFeed.h"
#include "plugin/EditorBase.h"

#include <windows.h>

class TubeEffect;

// Three LED buttons that behave as radio buttons.
class CLedRadioGroup {
public:
    CLedRadioGroup();
    // Turns the selected button off and the one at `index` on.
    void select(int32_t index);

    CLedButton buttons[3];
    int32_t selected = -1;
};

constexpr UINT_PTR kRefreshTimerId = 0x1234;
constexpr UINT kRefreshPeriodMs = 20;

class TubeEditor : public EditorBase {
public:
    explicit TubeEditor(TubeEffect* effect);
    ~TubeEditor() override;

    bool getRect(ERect** rect) override;
    bool open(void* parentWindow) override;
    void close() override;

    // Shows or hides the fifteen control windows.
    void showControls(int command);
    // One refresh pass: scope traces, dial pull or push, groups and switches.
    void refresh();

    HWND getWindow() const { return window; }
    bool isAboutShown() const { return aboutShown; }

private:
    ERect rect{};
    HBITMAP backdrop = nullptr;
    HBITMAP aboutImage = nullptr;
    CLedDial dial;
    CScopeXY scope;
    bool aboutShown = false;
    RECT aboutHotSpot{};
    CLedRadioGroup triodeGroup;
    CLedRadioGroup voltageGroup;
    CLedRadioGroup capGroup;
    CLedButton oversampleButton;
    CLedButton normalizeButton;
    CLedButton leftTraceButton;
    CLedButton rightTraceButton;
    UINT_PTR timerId = 0;
    HWND window = nullptr;
    ScopePoint scopeRing[kScopeRingSize] = {};  // the engine's ring, copied at each refresh

    TubeEffect* tube() const;
    CLedRadioGroup& group(int32_t index);
    void drawAboutText();
    void paint(HDC given);
    void toggleAbout(LPARAM point);
    void onLedButton(int32_t controlId, int32_t state);
    void plotTrace(bool right);
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static void registerWindowClass();
};
