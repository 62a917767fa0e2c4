// The editor's behaviour, for every platform: what opening does, the 20 ms
// refresh that keeps the controls and the effect's parameters in step and
// draws the scope, what an LED button's press changes, and the about
// image's toggle. It talks to the effect through a PanelHost and shows
// its changes through a PanelView; the platform's window only creates
// windows, turns input into these calls and puts pixels. [UI thread]
#pragma once

#include "engine/ScopeFeed.h"
#include "gui/controls/DialModel.h"
#include "gui/panel/PanelHost.h"
#include "gui/panel/PanelLayout.h"

#include <cstdint>

// How the controls show what the controller changes. Buttons are numbered
// as in panel::kButtons (control id minus one).
class PanelView {
public:
    virtual ~PanelView() = default;

    // The button's state 0..3 (ButtonModel.h): bit 1 the value, bit 0 the held look.
    virtual int32_t buttonState(int32_t button) = 0;
    // Sets bit 1 of the state to `value` (0 or 1), keeps the held look, and
    // shows the button so.
    virtual void setButtonValue(int32_t button, int32_t value) = 0;
    // Ends a held look without a release (the window went away while the
    // mouse button was down): on and held becomes on, off and held off.
    virtual void settleButton(int32_t button) = 0;
    virtual DialModel& dial() = 0;
    // Repaints the dial if a ring's value differs from the one last painted.
    virtual void dialMayHaveChanged() = 0;
    // A point of the scope, -1 to 1 on both axes; colour 0x00RRGGBB.
    virtual void plotScope(float x, float y, uint32_t colour) = 0;
    // Shows what was plotted since the last refresh and fades it.
    virtual void refreshScope() = 0;
    // Shows the controls over the panel, or hides them behind the about image.
    virtual void showControls(bool shown) = 0;
};

class PanelController {
public:
    PanelController(PanelHost& host, PanelView& view) noexcept : host(host), view(view) {}

    // The panel's window was made and its controls exist: the left trace
    // on, the right one off, every control loaded from the effect, the
    // scope fed. The about image is closed.
    void opened();
    // The window goes: the scope is no longer fed, and a drag or press the
    // window was in the middle of ends.
    void closed();
    // One refresh pass (every 20 ms while open): the scope's traces, dial
    // drags pushed to the effect or parameter changes pulled into the
    // rings, radio groups and switches following their parameters.
    // Nothing happens while the about image shows.
    void refresh();
    // An LED button's press changed its state to `newState`.
    void buttonChanged(int32_t controlId, int32_t newState);
    // A left click on the panel itself, outside any shown control: opens the
    // about image from the logo, or closes it from anywhere.
    void panelClicked(int32_t x, int32_t y);

    bool aboutShown() const noexcept { return about; }
    // The index of the button that is on in radio group `group`, -1 for none.
    int32_t selected(int32_t group) const noexcept { return selectedIndex[group]; }

private:
    void select(int32_t group, int32_t index);
    void plotTrace(bool right);

    PanelHost& host;
    PanelView& view;
    void endDialGesture(int32_t ring);

    int32_t selectedIndex[3] = {-1, -1, -1};
    bool dialGesture[DialModel::kRings] = {};
    bool about = false;
    ScopePoint ring[kScopeRingSize] = {};
};
