// The two-ring LED dial at (15, 15) in the editor: a knob surrounded by two
// arcs of LED segments. The inner ring follows vertical drags with the left
// mouse button, the outer ring with the right one. The dial sends nothing:
// its owner reads and writes the ring values on its timer. [UI thread]
#pragma once

#include "gui/controls/DialModel.h"
#include "gui/controls/DlgElem.h"
#include "gui/panel/PanelLayout.h"

class CLedDial : public CDlgElem {
public:
    static constexpr int32_t kLeft = panel::kDialAt.x;
    static constexpr int32_t kTop = panel::kDialAt.y;

    CLedDial() = default;
    ~CLedDial() override;

    void Create(HMODULE module, HWND parent, HBITMAP backdrop);
    void DestroyControl() override;

    int32_t GetValue(int32_t ring) const { return model.getValue(ring); }
    void SetValue(int32_t ring, int32_t value) { model.setValue(ring, value); }
    bool IsChanged(int32_t ring) const { return model.isChanged(ring); }
    // Invalidates the window when either ring changed since the last paint.
    void RefreshIfChanged();

    const char* GetClassSuffix() const override { return "CLedDialWindowClass"; }
    int32_t* GetInstanceCounter() const override { return &liveWindows; }
    WNDPROC GetWindowProc() const override { return WindowProc; }

    DialModel model;

private:
    // Base picture (backdrop and unlit dial), one lit picture per ring, and
    // the picture being painted; all 32-bit top-down DIB sections so their
    // pixels can be read and written directly.
    CBitmapDC baseLayer;
    CBitmapDC ringLayers[DialModel::kRings];
    CBitmapDC paintLayer;
    uint32_t* basePixels = nullptr;
    uint32_t* ringPixels[DialModel::kRings] = {};
    uint32_t* paintPixels = nullptr;

    void LoadBitmaps(HBITMAP backdrop);
    void ReleaseLayers();
    void Paint();
    void Apply(DialModel::Capture capture);
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    static int32_t liveWindows;
};
