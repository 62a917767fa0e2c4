// The XY persistence scope at (507, 18) in the editor: points plotted into
// a 126 x 126 square over the scope face, faded toward the empty face by a
// sixteenth per refresh, with overload bars at the top and bottom. It only
// displays; the editor feeds it on its timer. [UI thread]
#pragma once

#include "gui/controls/DlgElem.h"
#include "gui/controls/ScopeModel.h"
#include "gui/panel/PanelLayout.h"

class CScopeXY : public CDlgElem {
public:
    static constexpr int32_t kLeft = panel::kScopeAt.x;
    static constexpr int32_t kTop = panel::kScopeAt.y;
    static constexpr int32_t kPlotSize = panel::kScopePlotSize;
    static constexpr int kFaceImage = panel::kScopeFaceSkin;

    CScopeXY() = default;
    ~CScopeXY() override;

    void Create(HMODULE module, HWND parent, HBITMAP backdrop);
    void DestroyControl() override;
    // x and y nominally in -1..1; colour as 0x00RRGGBB.
    void Plot(float x, float y, uint32_t colour) { model.plot(x, y, colour); }
    // Shows what was plotted since the last refresh, then fades it.
    void Refresh();

    const char* GetClassSuffix() const override { return "CScopeXYWindowClass"; }
    int32_t* GetInstanceCounter() const override { return &liveWindows; }
    WNDPROC GetWindowProc() const override { return WindowProc; }

    ScopeModel model;
    int32_t refreshDivider = 1;
    int32_t refreshCounter = 0;

private:
    CBitmapDC display;

    void LoadBitmaps(HBITMAP backdrop);
    void ReleasePicture();
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    static int32_t liveWindows;
};
