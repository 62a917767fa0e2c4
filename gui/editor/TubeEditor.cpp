#include "gui/editor/TubeEditor.h"

#include "gui/controls/SkinImage.h"
#include "gui/editor/EditorWiring.h"
#include "plugin/ModuleHandle.h"
#include "plugin/TubeEffect.h"

namespace {

constexpr const char* kWindowClass = "KTubeWndClass";
constexpr const char* kWindowName = "KorvaneZ5RWnd";

// Editors alive in the process: the first registers the main window class,
// the last unregisters it.
int32_t livingEditors = 0;

HMODULE module() { return static_cast<HMODULE>(moduleHandle); }

}  // namespace

EditorBase* createEditor(TubeEffect* effect) { return new TubeEditor(effect); }

CLedRadioGroup::CLedRadioGroup()
{
    for (CLedButton& b : buttons) b.SetValue(0);
}

void CLedRadioGroup::select(int32_t index)
{
    if (selected >= 0) buttons[selected].SetValue(0);
    buttons[index].SetValue(1);
    selected = index;
}

void TubeEditor::registerWindowClass()
{
    WNDCLASSA wc{};
    wc.style = 0;
    wc.lpfnWndProc = windowProc;
    wc.hInstance = module();
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.lpszClassName = kWindowClass;
    RegisterClassA(&wc);  // a failure shows as a window that cannot be made
}

TubeEditor::TubeEditor(TubeEffect* effect) : EditorBase(effect)
{
    aboutHotSpot = {wiring::kAboutLeft, wiring::kAboutTop, wiring::kAboutRight, wiring::kAboutBottom};
    if (livingEditors == 0) registerWindowClass();
    ++livingEditors;

    backdrop = LoadPngResource(module(), wiring::kPanelImage);
    aboutImage = LoadPngResource(module(), wiring::kAboutImage);
    drawAboutText();
    BITMAP size{};
    if (backdrop && GetObjectA(backdrop, sizeof(size), &size)) {
        rect.right = static_cast<int16_t>(size.bmWidth);
        rect.bottom = static_cast<int16_t>(size.bmHeight);
    }

    effect->setEditor(this);
    effect->hasEditor(true);
}

TubeEditor::~TubeEditor()
{
    effect->setEditor(nullptr);
    effect->hasEditor(false);
    TubeEditor::close();
    if (backdrop) DeleteObject(backdrop);
    if (aboutImage) DeleteObject(aboutImage);
    backdrop = aboutImage = nullptr;
    if (--livingEditors == 0) UnregisterClassA(kWindowClass, module());
}

TubeEffect* TubeEditor::tube() const { return static_cast<TubeEffect*>(effect); }

CLedRadioGroup& TubeEditor::group(int32_t index)
{
    return index == wiring::kTriodeGroup ? triodeGroup : (index == wiring::kVoltageGroup ? voltageGroup : capGroup);
}

bool TubeEditor::getRect(ERect** out)
{
    if (!out) return false;
    *out = &rect;
    return true;
}

bool TubeEditor::open(void* parentWindow)
{
    // A host that opens the editor again without closing it gets one window,
    // not a second one beside an orphan that outlives the editor.
    if (window) close();
    systemWindow = parentWindow;
    aboutShown = false;
    window = CreateWindowExA(0, kWindowClass, kWindowName, WS_CHILD, rect.left, rect.top, rect.right - rect.left,
                             rect.bottom - rect.top, static_cast<HWND>(parentWindow), nullptr, module(), nullptr);
    if (!window) {
        close();
        return false;
    }
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));

    dial.Create(module(), window, backdrop);
    scope.Create(module(), window, backdrop);
    for (int32_t g = 0; g < wiring::kGroups; ++g)
        for (int32_t i = 0; i < 3; ++i)
            group(g).buttons[i].Create(module(), window, backdrop, wiring::kRadioLefts[g][i], wiring::kRadioTop,
                                       wiring::kRadioImage, wiring::kFirstRadioId + 3 * g + i);
    oversampleButton.Create(module(), window, backdrop, wiring::kOversampleLeft, wiring::kSwitchTop,
                            wiring::kSwitchImage, wiring::kOversampleId);
    normalizeButton.Create(module(), window, backdrop, wiring::kNormalizeLeft, wiring::kSwitchTop,
                           wiring::kSwitchImage, wiring::kNormalizeId);
    leftTraceButton.Create(module(), window, backdrop, wiring::kLeftTraceLeft, wiring::kTraceTop,
                           wiring::kLeftTraceImage, wiring::kLeftTraceId);
    rightTraceButton.Create(module(), window, backdrop, wiring::kRightTraceLeft, wiring::kTraceTop,
                            wiring::kRightTraceImage, wiring::kRightTraceId);
    leftTraceButton.SetValue(1);
    rightTraceButton.SetValue(0);

    TubeEffect* fx = tube();
    dial.model.rings[0].value = wiring::ringValueAtOpen(fx->getParameter(kParamGain));
    dial.model.rings[1].value = wiring::ringValueAtOpen(fx->getParameter(kParamLevel));
    for (int32_t g = 0; g < wiring::kGroups; ++g)
        group(g).select(wiring::radioIndex(fx->getParameter(wiring::kGroupParameter[g])));
    oversampleButton.SetValue(wiring::switchValue(fx->getParameter(kParamOversample)));
    normalizeButton.SetValue(wiring::switchValue(fx->getParameter(kParamNormalize)));

    fx->startScopeFeed();
    timerId = SetTimer(window, kRefreshTimerId, kRefreshPeriodMs, nullptr);
    ShowWindow(window, SW_SHOW);
    showControls(SW_SHOW);
    InvalidateRect(window, nullptr, FALSE);
    // Hosts are answered 0 whether or not the window was made.
    return false;
}

void TubeEditor::close()
{
    if (effect) tube()->stopScopeFeed();
    systemWindow = nullptr;
    if (!window) return;
    KillTimer(window, timerId);
    oversampleButton.DestroyControl();
    normalizeButton.DestroyControl();
    leftTraceButton.DestroyControl();
    rightTraceButton.DestroyControl();
    dial.DestroyControl();
    scope.DestroyControl();
    for (int32_t g : {wiring::kTriodeGroup, wiring::kVoltageGroup, wiring::kCapGroup})
        for (CLedButton& b : group(g).buttons) b.DestroyControl();
    DestroyWindow(window);
    window = nullptr;
}

void TubeEditor::showControls(int command)
{
    for (CDlgElem* control : {static_cast<CDlgElem*>(&dial), static_cast<CDlgElem*>(&scope),
                              static_cast<CDlgElem*>(&oversampleButton), static_cast<CDlgElem*>(&normalizeButton),
                              static_cast<CDlgElem*>(&leftTraceButton), static_cast<CDlgElem*>(&rightTraceButton)})
        if (control->GetWindow()) ShowWindow(control->GetWindow(), command);
    for (int32_t i = 0; i < 3; ++i)
        for (int32_t g : {wiring::kCapGroup, wiring::kTriodeGroup, wiring::kVoltageGroup})
            if (HWND w = group(g).buttons[i].GetWindow()) ShowWindow(w, command);
}
