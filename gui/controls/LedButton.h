// A toggle button drawn from a four-frame skin strip (off, off held, on, on
// held). It flips at the left press, shows a held look until the release,
// and tells its parent at once with WM_LEDBUTTON. [UI thread]
#pragma once

#include "gui/controls/ButtonModel.h"
#include "gui/controls/DlgElem.h"

constexpr UINT WM_LEDBUTTON = WM_USER + 1;
static_assert(WM_LEDBUTTON == button::kMessage);

class CLedButton : public CDlgElem {
public:
    CLedButton() = default;
    ~CLedButton() override;

    // Makes the button at (x, y) in `parent` from the four-frame PNG
    // resource `imageId`; a zero `controlId` makes it ignore the mouse.
    void Create(HMODULE module, HWND parent, HBITMAP backdrop, int32_t x, int32_t y, int imageId, int32_t controlId);
    // Sets the value (0 or 1) and keeps the held look; repaints at once.
    void SetValue(int32_t value);
    void DestroyControl() override;

    const char* GetClassSuffix() const override { return "CLedButtonWindowClass"; }
    int32_t* GetInstanceCounter() const override { return &liveWindows; }
    WNDPROC GetWindowProc() const override { return WindowProc; }

    int32_t controlId = 0;
    int32_t state = button::kOff;  // also the frame shown
    int32_t frameCount = 1;
    HBITMAP strip = nullptr;
    int32_t downNext[button::kFrames] = {};
    int32_t upNext[button::kFrames] = {};

private:
    void LoadBitmaps(HBITMAP backdrop, int imageId, int32_t x, int32_t y);
    void ReleaseStrip();
    void Paint();
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    static int32_t liveWindows;
};
