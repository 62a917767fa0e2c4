#include "gui/editor/Win32Panel.h"

#include "gui/controls/SkinImage.h"
#include "plugin/ModuleHandle.h"

namespace {

constexpr const char* kWindowClass = "KTubeWndClass";
constexpr const char* kWindowName = "KorvaneZ5RWnd";

// Panels alive in the process: the first registers the main window class,
// the last unregisters it.
int32_t livingPanels = 0;

HMODULE module() { return static_cast<HMODULE>(moduleHandle); }

using panel::kLeftTraceButton;
using panel::kNormalizeButton;
using panel::kOversampleButton;
using panel::kRightTraceButton;

}  // namespace

void Win32Panel::registerWindowClass()
{
    WNDCLASSA wc{};
    wc.style = 0;
    wc.lpfnWndProc = windowProc;
    wc.hInstance = module();
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.lpszClassName = kWindowClass;
    RegisterClassA(&wc);  // a failure shows as a window that cannot be made
}

Win32Panel::Win32Panel(PanelHost& host) : controller(host, *this)
{
    if (livingPanels == 0) registerWindowClass();
    ++livingPanels;

    backdrop = LoadPngResource(module(), panel::kPanelSkin);
    aboutImage = LoadPngResource(module(), panel::kAboutSkin);
    drawAboutText();
    BITMAP picture{};
    if (backdrop && GetObjectA(backdrop, sizeof(picture), &picture)) size = {picture.bmWidth, picture.bmHeight};
}

Win32Panel::~Win32Panel()
{
    Win32Panel::close();
    if (backdrop) DeleteObject(backdrop);
    if (aboutImage) DeleteObject(aboutImage);
    backdrop = aboutImage = nullptr;
    if (--livingPanels == 0) UnregisterClassA(kWindowClass, module());
}

bool Win32Panel::open(HWND parent)
{
    // A host that opens the editor again without closing it gets one window,
    // not a second one beside an orphan that outlives the editor.
    if (window) close();
    window = CreateWindowExA(0, kWindowClass, kWindowName, WS_CHILD, 0, 0, size.cx, size.cy, parent, nullptr,
                             module(), nullptr);
    if (!window) {
        close();
        return false;
    }
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));

    dialControl.Create(module(), window, backdrop);
    scope.Create(module(), window, backdrop);
    for (int32_t b = 0; b < panel::kButtonCount; ++b)
        buttons[b].Create(module(), window, backdrop, panel::kButtons[b].left, panel::kButtons[b].top,
                          panel::kButtons[b].skin, panel::controlIdOf(b));
    controller.opened();

    timerId = SetTimer(window, kRefreshTimerId, kRefreshPeriodMs, nullptr);
    ShowWindow(window, SW_SHOW);
    showControlWindows(SW_SHOW);
    InvalidateRect(window, nullptr, FALSE);
    return true;
}

void Win32Panel::close()
{
    controller.closed();
    if (!window) return;
    KillTimer(window, timerId);
    for (int32_t b : {kOversampleButton, kNormalizeButton, kLeftTraceButton, kRightTraceButton})
        buttons[b].DestroyControl();
    dialControl.DestroyControl();
    scope.DestroyControl();
    for (int32_t b = 0; b < panel::kGroupSize * 3; ++b) buttons[b].DestroyControl();
    DestroyWindow(window);
    window = nullptr;
}

void Win32Panel::settleButton(int32_t button)
{
    buttons[button].state = button::released(buttons[button].state);
}

void Win32Panel::showControlWindows(int command)
{
    for (CDlgElem* control : {static_cast<CDlgElem*>(&dialControl), static_cast<CDlgElem*>(&scope),
                              static_cast<CDlgElem*>(&buttons[kOversampleButton]),
                              static_cast<CDlgElem*>(&buttons[kNormalizeButton]),
                              static_cast<CDlgElem*>(&buttons[kLeftTraceButton]),
                              static_cast<CDlgElem*>(&buttons[kRightTraceButton])})
        if (control->GetWindow()) ShowWindow(control->GetWindow(), command);
    // Cap, triode and voltage at each position in turn.
    for (int32_t i = 0; i < panel::kGroupSize; ++i)
        for (int32_t g : {2, 0, 1})
            if (HWND w = buttons[panel::radioButton(g, i)].GetWindow()) ShowWindow(w, command);
}

void Win32Panel::showControls(bool shown)
{
    showControlWindows(shown ? SW_SHOW : SW_HIDE);
    InvalidateRect(window, nullptr, FALSE);
}
