#include "gui/panel/PanelController.h"

#include "gui/controls/ButtonModel.h"
#include "gui/editor/EditorWiring.h"

#include <utility>

namespace {

constexpr int32_t kRingParameters[DialModel::kRings] = {kParamGain, kParamLevel};
using panel::kLeftTraceButton;
using panel::kNormalizeButton;
using panel::kOversampleButton;
using panel::kRightTraceButton;

}  // namespace

void PanelController::select(int32_t group, int32_t index)
{
    // Selecting the button that is on turns it off and on again: it stays on.
    if (selectedIndex[group] >= 0) view.setButtonValue(panel::radioButton(group, selectedIndex[group]), 0);
    view.setButtonValue(panel::radioButton(group, index), 1);
    selectedIndex[group] = index;
}

void PanelController::opened()
{
    about = false;
    view.setButtonValue(kLeftTraceButton, 1);
    view.setButtonValue(kRightTraceButton, 0);
    // The rings take the values truncated, written without a repaint: the
    // dial paints them with the panel before the first refresh.
    DialModel& dial = view.dial();
    for (int32_t r = 0; r < DialModel::kRings; ++r)
        dial.rings[r].value = wiring::ringValueAtOpen(host.getParameter(kRingParameters[r]));
    for (int32_t g = 0; g < wiring::kGroups; ++g)
        select(g, wiring::radioIndex(g, host.getParameter(wiring::kGroupParameter[g])));
    view.setButtonValue(kOversampleButton, wiring::switchValue(host.getParameter(kParamOversample)));
    view.setButtonValue(kNormalizeButton, wiring::switchValue(host.getParameter(kParamNormalize)));
    host.startScope();
}

void PanelController::closed()
{
    host.stopScope();
    // The window that held the mouse is gone, and its release with it.
    DialModel& dial = view.dial();
    for (DialRing& r : dial.rings) r.dragAnchor = -1;
    for (int32_t r = 0; r < DialModel::kRings; ++r) endDialGesture(r);
    for (int32_t b = 0; b < panel::kButtonCount; ++b) view.settleButton(b);
}

void PanelController::endDialGesture(int32_t ring)
{
    if (!dialGesture[ring]) return;
    dialGesture[ring] = false;
    host.endEdit(kRingParameters[ring]);
}

void PanelController::plotTrace(bool right)
{
    const uint32_t colour = right ? wiring::kRightTraceColour : wiring::kLeftTraceColour;
    for (const ScopePoint& p : ring) {
        if (right)
            view.plotScope(-p.inputRight, p.outputRight, colour);
        else
            view.plotScope(-p.inputLeft, p.outputLeft, colour);
    }
}

void PanelController::refresh()
{
    if (about) return;
    // The left trace is drawn last, so it lies on top where they meet.
    host.copyScope(ring);
    if (button::isOn(view.buttonState(kRightTraceButton))) plotTrace(true);
    if (button::isOn(view.buttonState(kLeftTraceButton))) plotTrace(false);
    view.refreshScope();

    DialModel& dial = view.dial();
    for (int32_t r = 0; r < DialModel::kRings; ++r) {
        DialRing& dialRing = dial.rings[r];
        const wiring::RingStep step =
            wiring::refreshRing(dialRing.value, dialRing.paintedValue, host.getParameter(kRingParameters[r]));
        if (step.push) {
            if (!dialGesture[r]) {
                dialGesture[r] = true;
                host.beginEdit(kRingParameters[r]);
            }
            host.setParameterFromUser(kRingParameters[r], step.pushedValue);
        } else {
            dialRing.value = step.pulledValue;
            // Let go (or a Ctrl-click's one step taken): the gesture ends.
            if (!dialRing.isDragged()) endDialGesture(r);
        }
    }
    view.dialMayHaveChanged();

    for (int32_t g : {wiring::kCapGroup, wiring::kTriodeGroup, wiring::kVoltageGroup}) {
        const int32_t index = wiring::radioIndex(g, host.getParameter(wiring::kGroupParameter[g]));
        if (index != selectedIndex[g]) select(g, index);
    }
    for (auto [b, parameter] : {std::pair{kOversampleButton, kParamOversample}, std::pair{kNormalizeButton, kParamNormalize}})
        if (auto v = wiring::switchUpdate(view.buttonState(b), host.getParameter(parameter))) view.setButtonValue(b, *v);
}

void PanelController::buttonChanged(int32_t controlId, int32_t newState)
{
    const wiring::ButtonAction action = wiring::buttonAction(controlId, newState);
    if (action.group >= 0) select(action.group, action.groupIndex);
    if (action.parameter >= 0) {
        host.beginEdit(action.parameter);
        host.setParameterFromUser(action.parameter, action.value);
        host.endEdit(action.parameter);
    }
}

void PanelController::panelClicked(int32_t x, int32_t y)
{
    if (about) {
        // Any click closes it: the controls are hidden while it shows.
        about = false;
        view.showControls(true);
        return;
    }
    if (wiring::inAboutHotSpot(x, y)) {
        about = true;
        view.showControls(false);
    }
}
