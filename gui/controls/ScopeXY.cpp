#include "gui/controls/ScopeXY.h"

#include "gui/controls/SkinImage.h"

#include <vector>

int32_t CScopeXY::liveWindows = 0;

namespace {

// Moves pixels between the display's bitmap and a buffer of 0xAARRGGBB
// words. A 32-bit display bitmap holds exactly that layout; any other depth
// goes through a 32-bit device-independent copy, made with the bitmap taken
// out of its context as GetDIBits and SetDIBits require.
bool is32Bit(HBITMAP bitmap)
{
    BITMAP about{};
    return GetObjectA(bitmap, sizeof(about), &about) && about.bmBitsPixel == 32;
}

void movePixels(CBitmapDC& display, int32_t width, int32_t height, uint32_t* pixels, bool read)
{
    HBITMAP bitmap = static_cast<HBITMAP>(GetCurrentObject(display.dc, OBJ_BITMAP));
    if (is32Bit(bitmap)) {
        if (read)
            GetBitmapBits(bitmap, width * height * 4, pixels);
        else
            SetBitmapBits(bitmap, width * height * 4, pixels);
        return;
    }
    SelectObject(display.dc, display.initialBitmap);
    BITMAPINFO info = TopDown32BitInfo(width, height);
    if (read)
        GetDIBits(display.dc, bitmap, 0, height, pixels, &info, DIB_RGB_COLORS);
    else
        SetDIBits(display.dc, bitmap, 0, height, pixels, &info, DIB_RGB_COLORS);
    SelectObject(display.dc, bitmap);
}

}  // namespace

CScopeXY::~CScopeXY()
{
    DestroyControl();
    ReleasePicture();
}

void CScopeXY::Create(HMODULE moduleHandle, HWND parentWindow, HBITMAP backdrop)
{
    if (window) return;
    module = moduleHandle;
    parent = parentWindow;
    model.configure(kPlotSize);
    LoadBitmaps(backdrop);
    if (width <= 0 || height <= 0) return;
    CreateCustomControl(kLeft, kTop);
    if (window) {
        AttachToWindow();
        Refresh();  // shows the empty face
    } else {
        ReleasePicture();
    }
    model.setBounds();
}

void CScopeXY::ReleasePicture()
{
    display.Release();
    model.release();
}

void CScopeXY::LoadBitmaps(HBITMAP backdrop)
{
    ReleasePicture();
    HBITMAP face = LoadPngResource(module, kFaceImage);
    if (!face) return;
    BITMAP size{};
    if (GetObjectA(face, sizeof(size), &size)) {
        width = size.bmWidth;
        height = size.bmHeight;
    }
    if (width > 0 && height > 0) {
        HDC parentDc = GetDC(parent);
        if (parentDc && display.Create(parentDc)) {
            HBITMAP composed = ComposeOverBackground(backdrop, face, kLeft, kTop, 1);
            if (composed) {
                display.Select(composed);
                std::vector<uint32_t> pixels(size_t(width) * size_t(height));
                movePixels(display, width, height, pixels.data(), true);
                model.setFace(pixels.data(), width, height, kPlotSize);
            }
        }
        if (parentDc) ReleaseDC(parent, parentDc);
    }
    DeleteObject(face);
}

void CScopeXY::DestroyControl()
{
    if (!DeinitCustomControl()) return;
    ReleasePicture();
}

void CScopeXY::Refresh()
{
    if (++refreshCounter < refreshDivider) return;
    refreshCounter = 0;
    if (model.hasPixels() && display.dc) {
        movePixels(display, width, height, model.workPixels.data(), false);
        model.fade();
    }
    if (window) {
        InvalidateRect(window, nullptr, FALSE);
        UpdateWindow(window);
    }
}

LRESULT CALLBACK CScopeXY::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CScopeXY* self = FromWindow<CScopeXY>(hwnd);
    if (!self) return DefWindowProcA(hwnd, message, wParam, lParam);
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC target = BeginPaint(hwnd, &ps);
        if (target && self->display.dc)
            BitBlt(target, 0, 0, self->width, self->height, self->display.dc, 0, 0, SRCCOPY);
        EndPaint(hwnd, &ps);
        return 1;
    }
    case WM_ERASEBKGND:
        return 1;
    default:
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
}
