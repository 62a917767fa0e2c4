#include "gui/controls/LedButton.h"

#include "gui/controls/SkinImage.h"

int32_t CLedButton::liveWindows = 0;

CLedButton::~CLedButton()
{
    DestroyControl();
    ReleaseStrip();
}

void CLedButton::Create(HMODULE moduleHandle, HWND parentWindow, HBITMAP backdrop, int32_t x, int32_t y,
                        int imageId, int32_t id)
{
    if (window) return;
    module = moduleHandle;
    parent = parentWindow;
    frameCount = button::kFrames;
    controlId = id;
    for (int32_t s = 0; s < button::kFrames; ++s) {
        downNext[s] = button::kDownNext[s];
        upNext[s] = button::kUpNext[s];
    }
    LoadBitmaps(backdrop, imageId, x, y);
    if (width <= 0 || height <= 0) return;
    CreateCustomControl(x, y);
    if (window) {
        AttachToWindow();
        InvalidateRect(window, nullptr, TRUE);
        UpdateWindow(window);
    } else {
        ReleaseStrip();
    }
}

void CLedButton::ReleaseStrip()
{
    if (strip) DeleteObject(strip);
    strip = nullptr;
}

void CLedButton::LoadBitmaps(HBITMAP backdrop, int imageId, int32_t x, int32_t y)
{
    ReleaseStrip();
    HBITMAP image = LoadPngResource(module, imageId);
    BITMAP size{};
    if (image && GetObjectA(image, sizeof(size), &size)) {
        width = size.bmWidth;
        height = size.bmHeight / frameCount;
        strip = ComposeOverBackground(backdrop, image, x, y, frameCount);
    }
    if (image) DeleteObject(image);
}

void CLedButton::SetValue(int32_t value)
{
    state = button::withValue(state, value);
    if (window) {
        InvalidateRect(window, nullptr, FALSE);
        UpdateWindow(window);
    }
}

void CLedButton::DestroyControl()
{
    if (!DeinitCustomControl()) return;
    ReleaseStrip();
}

void CLedButton::Paint()
{
    PAINTSTRUCT ps;
    HDC target = BeginPaint(window, &ps);
    if (target) {
        HDC memory = CreateCompatibleDC(target);
        if (memory) {
            HGDIOBJ initial = SelectObject(memory, strip);
            BitBlt(target, 0, 0, width, height, memory, 0, (state & 3) * height, SRCCOPY);
            SelectObject(memory, initial);
        }
        EndPaint(window, &ps);
        if (memory) DeleteDC(memory);
    } else {
        EndPaint(window, &ps);
    }
}

LRESULT CALLBACK CLedButton::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CLedButton* self = FromWindow<CLedButton>(hwnd);
    if (!self) return DefWindowProcA(hwnd, message, wParam, lParam);
    switch (message) {
    case WM_PAINT:
        self->Paint();
        return 1;
    case WM_ERASEBKGND:
        return 1;  // the paint covers every pixel
    case WM_LBUTTONDOWN:
        if (self->controlId != 0) {
            const int32_t next = self->downNext[self->state & 3];
            if (next != self->state) {
                self->state = next;
                // Synchronous: the parent acts before the button repaints.
                SendMessageA(self->parent, WM_LEDBUTTON, static_cast<WPARAM>(self->controlId), next);
            }
            SetCapture(hwnd);
            InvalidateRect(hwnd, nullptr, FALSE);
        }
        return 1;
    case WM_LBUTTONUP:
        if (self->controlId != 0) {
            const int32_t next = self->upNext[self->state & 3];
            if (next != self->state) self->state = next;
            ReleaseCapture();
            InvalidateRect(hwnd, nullptr, FALSE);
        }
        return 1;
    default:
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
}
