#include "gui/controls/LedDial.h"

#include "gui/controls/SkinImage.h"

#include <windowsx.h>

int32_t CLedDial::liveWindows = 0;

namespace {

constexpr int kBaseImage = panel::kDialUnlitSkin;
constexpr int kRingImages[DialModel::kRings] = {panel::kDialInnerLitSkin, panel::kDialOuterLitSkin};

// A top-down 32-bit DIB section of the given size, and its pixels.
HBITMAP createPixelBitmap(HDC reference, int32_t width, int32_t height, uint32_t** pixels)
{
    BITMAPINFO info = TopDown32BitInfo(width, height);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(reference, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    *pixels = bitmap ? static_cast<uint32_t*>(bits) : nullptr;
    return bitmap;
}

}  // namespace

CLedDial::~CLedDial()
{
    DestroyControl();
    ReleaseLayers();
}

void CLedDial::Create(HMODULE moduleHandle, HWND parentWindow, HBITMAP backdrop)
{
    if (window) return;
    module = moduleHandle;
    parent = parentWindow;
    model.configure();
    model.buildSlopeTables();
    LoadBitmaps(backdrop);
    if (width <= 0 || height <= 0) return;
    CreateCustomControl(kLeft, kTop);
    if (window) {
        // The visible window is painted with its parent.
        AttachToWindow();
    } else {
        ReleaseLayers();
        model.freeSlopeTables();
    }
}

void CLedDial::ReleaseLayers()
{
    baseLayer.Release();
    for (CBitmapDC& layer : ringLayers) layer.Release();
    paintLayer.Release();
    basePixels = paintPixels = nullptr;
    ringPixels[0] = ringPixels[1] = nullptr;
}

void CLedDial::LoadBitmaps(HBITMAP backdrop)
{
    ReleaseLayers();
    HDC parentDc = GetDC(parent);
    CBitmapDC backdropDc;
    backdropDc.Create(parentDc);
    HGDIOBJ backdropInitial = backdropDc.dc ? SelectObject(backdropDc.dc, backdrop) : nullptr;

    HBITMAP base = LoadPngResource(module, kBaseImage);
    HBITMAP lit[DialModel::kRings] = {LoadPngResource(module, kRingImages[0]),
                                      LoadPngResource(module, kRingImages[1])};
    BITMAP size{};
    if (parentDc && backdropDc.dc && base && GetObjectA(base, sizeof(size), &size)) {
        width = size.bmWidth;
        height = size.bmHeight;
        // Each layer starts as the backdrop rectangle under the dial, with
        // its picture blended on top.
        CBitmapDC* layers[3] = {&baseLayer, &ringLayers[0], &ringLayers[1]};
        uint32_t** pixels[3] = {&basePixels, &ringPixels[0], &ringPixels[1]};
        HBITMAP images[3] = {base, lit[0], lit[1]};
        HDC imageDc = CreateCompatibleDC(parentDc);
        HGDIOBJ imageInitial = imageDc ? GetCurrentObject(imageDc, OBJ_BITMAP) : nullptr;
        for (int32_t l = 0; l < 3; ++l) {
            if (!layers[l]->Create(parentDc)) continue;
            layers[l]->Select(createPixelBitmap(parentDc, width, height, pixels[l]));
            BitBlt(layers[l]->dc, 0, 0, width, height, backdropDc.dc, kLeft, kTop, SRCCOPY);
            if (imageDc && images[l]) {
                SelectObject(imageDc, images[l]);
                AlphaBlend(layers[l]->dc, 0, 0, width, height, imageDc, 0, 0, width, height, SkinBlend());
            }
        }
        if (imageDc) {
            SelectObject(imageDc, imageInitial);
            DeleteDC(imageDc);
        }
        if (paintLayer.Create(parentDc)) paintLayer.Select(createPixelBitmap(parentDc, width, height, &paintPixels));
        GdiFlush();
    }

    if (parentDc) ReleaseDC(parent, parentDc);
    if (backdropDc.dc) SelectObject(backdropDc.dc, backdropInitial);
    if (base) DeleteObject(base);
    for (HBITMAP image : lit)
        if (image) DeleteObject(image);
}

void CLedDial::DestroyControl()
{
    if (!DeinitCustomControl()) return;
    model.freeSlopeTables();
    ReleaseLayers();
}

void CLedDial::RefreshIfChanged()
{
    if (model.anyChanged() && window) InvalidateRect(window, nullptr, FALSE);
}

void CLedDial::Paint()
{
    PAINTSTRUCT ps;
    HDC target = BeginPaint(window, &ps);
    if (target) {
        CPaintBuffer buffer(target);
        if (buffer.dc && basePixels && paintPixels && ringPixels[0] && ringPixels[1]) {
            // The whole control is tested, whatever the clip box.
            const uint32_t* lit[DialModel::kRings] = {ringPixels[0], ringPixels[1]};
            GdiFlush();
            model.paint(basePixels, lit, paintPixels, width, height);
            BitBlt(buffer.dc, 0, 0, width, height, paintLayer.dc, 0, 0, SRCCOPY);
        }
    }
    EndPaint(window, &ps);
    model.markPainted();
}

void CLedDial::Apply(DialModel::Capture capture)
{
    if (capture == DialModel::Capture::take)
        SetCapture(window);
    else if (capture == DialModel::Capture::release)
        ReleaseCapture();
}

LRESULT CALLBACK CLedDial::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CLedDial* self = FromWindow<CLedDial>(hwnd);
    if (!self) return DefWindowProcA(hwnd, message, wParam, lParam);
    const int32_t y = GET_Y_LPARAM(lParam);  // signed: above the control is negative
    const bool ctrl = (wParam & MK_CONTROL) != 0;
    switch (message) {
    case WM_PAINT:
        self->Paint();
        return 1;
    case WM_ERASEBKGND:
        return 1;
    case WM_MOUSEMOVE:
        self->model.mouseMove(y, (wParam & MK_SHIFT) != 0);
        return 1;
    case WM_LBUTTONDOWN:
        self->Apply(self->model.buttonDown(0, y, ctrl));
        return 1;
    case WM_LBUTTONUP:
        self->Apply(self->model.buttonUp(0));
        return 1;
    case WM_RBUTTONDOWN:
        self->Apply(self->model.buttonDown(1, y, ctrl));
        return 1;
    case WM_RBUTTONUP:
        self->Apply(self->model.buttonUp(1));
        return 1;
    default:
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
}
