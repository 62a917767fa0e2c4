#include "WindowTestSupport.h"

#include "gui/controls/SkinImage.h"

namespace {

LRESULT CALLBACK parentProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<TestParent*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (self && message == WM_USER + 1) {
        RECT pending;
        const bool invalidated = self->watchedButton && GetUpdateRect(self->watchedButton, &pending, FALSE);
        self->messages.push_back({wParam, lParam, invalidated});
        return 1;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

}  // namespace

HMODULE pluginModule()
{
    static HMODULE module = LoadLibraryA("KorvaneZ5R.dll");
    return module;
}

void pumpMessages(DWORD milliseconds)
{
    const DWORD until = GetTickCount() + milliseconds;
    MSG msg;
    do {
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(1);
    } while (static_cast<LONG>(GetTickCount() - until) < 0);
}

TestParent::TestParent(int32_t width, int32_t height)
{
    static bool registered = false;
    if (!registered) {
        WNDCLASSA wc{};
        wc.lpfnWndProc = parentProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "Z5RTestParent";
        wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
        registered = RegisterClassA(&wc) != 0;
    }
    hwnd = CreateWindowExA(0, "Z5RTestParent", "test parent", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, width,
                           height, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    // A backdrop with a gradient, so that composition mistakes show.
    HDC screen = GetDC(nullptr);
    backdrop = CreateCompatibleBitmap(screen, width, height);
    HDC memory = CreateCompatibleDC(screen);
    HGDIOBJ initial = SelectObject(memory, backdrop);
    for (int32_t x = 0; x < width; ++x) {
        HBRUSH brush = CreateSolidBrush(RGB(20 + x % 40, 30, 40 + x % 60));
        RECT column{x, 0, x + 1, height};
        FillRect(memory, &column, brush);
        DeleteObject(brush);
    }
    SelectObject(memory, initial);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    pumpMessages(20);
}

TestParent::~TestParent()
{
    if (hwnd) DestroyWindow(hwnd);
    if (backdrop) DeleteObject(backdrop);
    pumpMessages(5);
}

std::vector<uint32_t> bitmapPixels(HBITMAP bitmap, int32_t width, int32_t height)
{
    std::vector<uint32_t> pixels(size_t(width) * height);
    BITMAPINFO info = TopDown32BitInfo(width, height);
    HDC screen = GetDC(nullptr);
    GetDIBits(screen, bitmap, 0, height, pixels.data(), &info, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    for (uint32_t& p : pixels) p &= 0xFFFFFFu;
    return pixels;
}

std::vector<uint32_t> windowPixels(HWND hwnd, int32_t width, int32_t height)
{
    HDC source = GetDC(hwnd);
    HDC memory = CreateCompatibleDC(source);
    HBITMAP copy = CreateCompatibleBitmap(source, width, height);
    HGDIOBJ initial = SelectObject(memory, copy);
    BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY);
    SelectObject(memory, initial);
    DeleteDC(memory);
    ReleaseDC(hwnd, source);
    std::vector<uint32_t> pixels = bitmapPixels(copy, width, height);
    DeleteObject(copy);
    return pixels;
}
