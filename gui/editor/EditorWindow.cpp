// The editor's main window: painting the panel or the about image, the
// about toggle on clicks, LED button notifications turned into parameter
// changes, and the 20 ms refresh that keeps controls and parameters in step.
#include "gui/editor/EditorWiring.h"
#include "gui/editor/TubeEditor.h"
#include "plugin/TubeEffect.h"

#include <windowsx.h>

void TubeEditor::paint(HDC given)
{
    PAINTSTRUCT ps{};
    HDC target = given ? given : BeginPaint(window, &ps);
    if (target) {
        RECT clip{};
        GetClipBox(target, &clip);
        HDC memory = CreateCompatibleDC(target);
        if (memory) {
            HGDIOBJ initial = SelectObject(memory, aboutShown ? aboutImage : backdrop);
            BitBlt(target, clip.left, clip.top, clip.right - clip.left, clip.bottom - clip.top, memory, clip.left,
                   clip.top, SRCCOPY);
            SelectObject(memory, initial);
        }
        if (!given) EndPaint(window, &ps);
        if (memory) DeleteDC(memory);
    } else if (!given) {
        EndPaint(window, &ps);
    }
}

void TubeEditor::toggleAbout(LPARAM point)
{
    if (aboutShown) {
        // Any click closes it: the controls are hidden while it shows.
        aboutShown = false;
        showControls(SW_SHOW);
        InvalidateRect(window, nullptr, FALSE);
        return;
    }
    if (wiring::inAboutHotSpot(GET_X_LPARAM(point), GET_Y_LPARAM(point))) {
        showControls(SW_HIDE);
        aboutShown = true;
        InvalidateRect(window, nullptr, FALSE);
    }
}

void TubeEditor::onLedButton(int32_t controlId, int32_t state)
{
    const wiring::ButtonAction action = wiring::buttonAction(controlId, state);
    if (action.group >= 0) group(action.group).select(action.groupIndex);
    if (action.parameter >= 0) tube()->setParameterAutomated(action.parameter, action.value);
}

void TubeEditor::plotTrace(bool right)
{
    const uint32_t colour = right ? wiring::kRightTraceColour : wiring::kLeftTraceColour;
    for (const ScopePoint& p : scopeRing) {
        if (right)
            scope.Plot(-p.inputRight, p.outputRight, colour);
        else
            scope.Plot(-p.inputLeft, p.outputLeft, colour);
    }
}

void TubeEditor::refresh()
{
    if (!effect) return;
    // The left trace is drawn last, so it lies on top where they meet.
    tube()->getEngine().scope().copy(scopeRing);
    if (button::isOn(rightTraceButton.state)) plotTrace(true);
    if (button::isOn(leftTraceButton.state)) plotTrace(false);
    scope.Refresh();

    TubeEffect* fx = tube();
    const int32_t ringParameters[DialModel::kRings] = {kParamGain, kParamLevel};
    for (int32_t r = 0; r < DialModel::kRings; ++r) {
        DialRing& ring = dial.model.rings[r];
        const wiring::RingStep step =
            wiring::refreshRing(ring.value, ring.paintedValue, fx->getParameter(ringParameters[r]));
        if (step.push)
            fx->setParameterAutomated(ringParameters[r], step.pushedValue);
        else
            ring.value = step.pulledValue;
    }
    dial.RefreshIfChanged();

    for (int32_t g : {wiring::kCapGroup, wiring::kTriodeGroup, wiring::kVoltageGroup}) {
        const int32_t index = wiring::radioIndex(fx->getParameter(wiring::kGroupParameter[g]));
        if (index != group(g).selected) group(g).select(index);
    }
    if (auto v = wiring::switchUpdate(oversampleButton.state, fx->getParameter(kParamOversample)))
        oversampleButton.SetValue(*v);
    if (auto v = wiring::switchUpdate(normalizeButton.state, fx->getParameter(kParamNormalize)))
        normalizeButton.SetValue(*v);
}

LRESULT CALLBACK TubeEditor::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<TubeEditor*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcA(hwnd, message, wParam, lParam);
    switch (message) {
    case WM_PAINT:
        self->paint(reinterpret_cast<HDC>(wParam));
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_TIMER:
        if (wParam == kRefreshTimerId && !self->aboutShown) self->refresh();
        return 0;
    case WM_LBUTTONDOWN:
        self->toggleAbout(lParam);
        return 1;
    case WM_LEDBUTTON:
        self->onLedButton(static_cast<int32_t>(wParam), static_cast<int32_t>(lParam));
        return 1;
    default:
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
}
