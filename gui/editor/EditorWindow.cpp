// The editor's main window: painting the panel or the about image, and its
// messages handed to the controller: clicks on the panel (the about
// toggle), LED button notifications, and the 20 ms refresh timer.
#include "gui/editor/Win32Panel.h"

#include <windowsx.h>

void Win32Panel::paint(HDC given)
{
    PAINTSTRUCT ps{};
    HDC target = given ? given : BeginPaint(window, &ps);
    if (target) {
        RECT clip{};
        GetClipBox(target, &clip);
        HDC memory = CreateCompatibleDC(target);
        if (memory) {
            HGDIOBJ initial = SelectObject(memory, controller.aboutShown() ? aboutImage : backdrop);
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

LRESULT CALLBACK Win32Panel::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<Win32Panel*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcA(hwnd, message, wParam, lParam);
    switch (message) {
    case WM_PAINT:
        self->paint(reinterpret_cast<HDC>(wParam));
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_TIMER:
        // Skipped by the controller while the about image shows.
        if (wParam == kRefreshTimerId) self->refresh();
        return 0;
    case WM_LBUTTONDOWN:
        // Clicks on a shown control reach the control's own window.
        self->controller.panelClicked(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
        return 1;
    case WM_LEDBUTTON:
        self->controller.buttonChanged(static_cast<int32_t>(wParam), static_cast<int32_t>(lParam));
        return 1;
    default:
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
}
