#include "WindowTestSupport.h"

#include "gui/controls/SkinImage.h"

#include <wincodec.h>

#include <string>

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

namespace {

// "Z:\..." for a Unix path, as Wine maps the root of the file system.
std::wstring windowsPath(const char* path)
{
    std::wstring wide;
    if (path[0] == '/') wide = L"Z:";
    for (const char* c = path; *c; ++c) wide.push_back(*c == '/' ? L'\\' : static_cast<wchar_t>(*c));
    return wide;
}

template <class T>
void release(T*& object)
{
    if (object) object->Release();
    object = nullptr;
}

IWICImagingFactory* imagingFactory()
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IWICImagingFactory* factory = nullptr;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                reinterpret_cast<void**>(&factory))))
        return nullptr;
    return factory;
}

}  // namespace

bool writePng(const std::vector<uint32_t>& pixels, int32_t width, int32_t height, const char* path)
{
    IWICImagingFactory* factory = imagingFactory();
    IWICStream* stream = nullptr;
    IWICBitmapEncoder* encoder = nullptr;
    IWICBitmapFrameEncode* frame = nullptr;
    const std::wstring file = windowsPath(path);
    std::vector<BYTE> rgb(size_t(width) * height * 3);
    for (size_t i = 0; i < pixels.size() && i * 3 + 2 < rgb.size(); ++i) {
        rgb[i * 3] = static_cast<BYTE>(pixels[i]);
        rgb[i * 3 + 1] = static_cast<BYTE>(pixels[i] >> 8);
        rgb[i * 3 + 2] = static_cast<BYTE>(pixels[i] >> 16);
    }
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    const bool ok = factory && SUCCEEDED(factory->CreateStream(&stream)) &&
                    SUCCEEDED(stream->InitializeFromFilename(file.c_str(), GENERIC_WRITE)) &&
                    SUCCEEDED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder)) &&
                    SUCCEEDED(encoder->Initialize(stream, WICBitmapEncoderNoCache)) &&
                    SUCCEEDED(encoder->CreateNewFrame(&frame, nullptr)) && SUCCEEDED(frame->Initialize(nullptr)) &&
                    SUCCEEDED(frame->SetSize(width, height)) && SUCCEEDED(frame->SetPixelFormat(&format)) &&
                    IsEqualGUID(format, GUID_WICPixelFormat24bppBGR) &&
                    SUCCEEDED(frame->WritePixels(height, width * 3, static_cast<UINT>(rgb.size()), rgb.data())) &&
                    SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
    release(frame);
    release(encoder);
    release(stream);
    release(factory);
    return ok;
}

std::vector<uint32_t> readPng(const char* path, int32_t* width, int32_t* height)
{
    IWICImagingFactory* factory = imagingFactory();
    IWICBitmapDecoder* decoder = nullptr;
    IWICBitmapFrameDecode* frame = nullptr;
    IWICBitmapSource* converted = nullptr;
    std::vector<uint32_t> pixels;
    const std::wstring file = windowsPath(path);
    UINT w = 0, h = 0;
    if (factory &&
        SUCCEEDED(factory->CreateDecoderFromFilename(file.c_str(), nullptr, GENERIC_READ,
                                                     WICDecodeMetadataCacheOnLoad, &decoder)) &&
        SUCCEEDED(decoder->GetFrame(0, &frame)) &&
        SUCCEEDED(WICConvertBitmapSource(GUID_WICPixelFormat32bppBGR, frame, &converted)) &&
        SUCCEEDED(converted->GetSize(&w, &h))) {
        pixels.resize(size_t(w) * h);
        if (FAILED(converted->CopyPixels(nullptr, w * 4, static_cast<UINT>(pixels.size() * 4),
                                         reinterpret_cast<BYTE*>(pixels.data()))))
            pixels.clear();
        for (uint32_t& p : pixels) p &= 0xFFFFFFu;
    }
    *width = static_cast<int32_t>(w);
    *height = static_cast<int32_t>(h);
    release(converted);
    release(frame);
    release(decoder);
    release(factory);
    return pixels;
}
