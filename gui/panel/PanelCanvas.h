// The whole panel as one picture, drawn by platform-neutral code, for
// windows that show the panel as pixels (the X11 editor, and through it an
// LV2 UI): the controls' frames composed over the panel as the Windows
// editor composes them, the dial's rings, the scope, the about image; and
// pointer input routed to the controls the way the Windows controls'
// windows receive it (a pressed control keeps the mouse until released).
// It is the controller's view. [UI thread]
#pragma once

#include "gui/controls/ButtonModel.h"
#include "gui/controls/DialModel.h"
#include "gui/controls/ScopeModel.h"
#include "gui/panel/PanelController.h"
#include "gui/panel/PanelLayout.h"
#include "gui/panel/SkinPicture.h"

#include <cstdint>
#include <vector>

class PanelCanvas final : public PanelView {
public:
    // A rectangle of the panel, right and bottom edges excluded.
    struct Rect {
        int32_t left = 0, top = 0, right = 0, bottom = 0;
        bool empty() const noexcept { return right <= left || bottom <= top; }
        void add(const Rect& other) noexcept;
    };
    enum class Pointer { left, right };

    // Composes every control's pictures over the panel and draws the about
    // text onto the about picture: what the Windows editor does when it
    // opens. Control states and ring values are kept from before. A control
    // whose picture is missing is left off.
    void build(const SkinSet& skins, const char* platformWord, const char* buildDate);
    // Drops the pictures; states and values stay, as the Windows controls' do.
    void release();
    bool built() const noexcept { return !frame.empty(); }

    // --- Pointer input, in panel pixels ---
    // A mouse button goes down; with Ctrl on the dial, its ring goes to the middle.
    void press(PanelController& controller, Pointer pointer, int32_t x, int32_t y, bool ctrl);
    // The pointer moves; with Shift a dragged ring moves in steps of 10.
    void move(int32_t x, int32_t y, bool shift);
    // A mouse button goes up.
    void release(Pointer pointer, int32_t x, int32_t y);

    // --- The picture ---
    // Draws what changed since the last call (a dial whose rings moved is
    // repainted here, which marks it painted) and returns the area that
    // changed; empty when nothing did.
    Rect paint();
    // kWidth x kHeight words 0x00RRGGBB (the top byte means nothing), rows top first.
    const uint32_t* pixels() const noexcept { return frame.data(); }
    bool controlsShown() const noexcept { return shown; }

    // --- The view the controller drives ---
    int32_t buttonState(int32_t button) override { return buttons[button].state; }
    void setButtonValue(int32_t button, int32_t value) override;
    void settleButton(int32_t button) override;
    DialModel& dial() override { return dialModel; }
    void dialMayHaveChanged() override;
    void plotScope(float x, float y, uint32_t colour) override { scopeModel.plot(x, y, colour); }
    void refreshScope() override;
    void showControls(bool controls) override;

    const ScopeModel& scope() const noexcept { return scopeModel; }

private:
    // What receives a pointer event: as the Windows child windows do.
    enum class Target { panel, dial, scope, button };
    struct Hit {
        Target target = Target::panel;
        int32_t button = -1;
    };
    struct Button {
        int32_t state = button::kOff;
        int32_t width = 0, height = 0;  // one frame
        std::vector<uint32_t> strip;    // four frames, top to bottom
        bool dirty = false;
        bool exists() const noexcept { return !strip.empty(); }
    };

    Hit hitAt(int32_t x, int32_t y) const;
    Hit target(int32_t x, int32_t y) const { return hasCapture ? captured : hitAt(x, y); }
    void capture(DialModel::Capture what);
    Rect drawAll();
    Rect drawButton(int32_t index);
    Rect drawDial();
    Rect drawScope();

    SkinPicture backdrop;
    SkinPicture aboutPicture;
    Button buttons[panel::kButtonCount];
    DialModel dialModel;
    std::vector<uint32_t> dialBase, dialLit[DialModel::kRings], dialPainted;
    int32_t dialWidth = 0, dialHeight = 0;
    bool dialDirty = false;
    ScopeModel scopeModel;
    std::vector<uint32_t> scopeShown;  // what the scope shows: the work picture as of its last refresh
    int32_t scopeWidth = 0, scopeHeight = 0;
    bool scopeDirty = false;
    bool shown = true;
    bool allDirty = false;
    std::vector<uint32_t> frame;
    // The control that holds the pointer, as a window holds the mouse capture.
    bool hasCapture = false;
    Hit captured;
};
