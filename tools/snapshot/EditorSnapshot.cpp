// Pictures of the editor for people: loads the Windows plug-in the way a
// host does, opens its editor in a top-level window, runs audio through it
// on a second thread so the scope shows traces, and writes PNG captures of
// the panel and of the about image.
//   z5r-editor-snapshot PLUGIN.dll PANEL.png ABOUT.png
#include "plugin/vst2abi.h"

#include <windows.h>
#include <wincodec.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

intptr_t VST_CALL host(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float)
{
    return opcode == audioMasterVersion ? 2400 : 0;
}

void pump(DWORD milliseconds)
{
    const DWORD until = GetTickCount() + milliseconds;
    MSG msg;
    while (static_cast<LONG>(GetTickCount() - until) < 0) {
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(2);
    }
}

// A picked, decaying guitar-like chord, a little different on each side.
float pluck(double t, double f0, double phase)
{
    double sum = 0.0;
    const double decay = std::exp(-2.5 * t);
    for (int h = 1; h <= 6; ++h) sum += std::sin(6.283185307179586 * f0 * h * t + phase * h) / (h * h);
    return static_cast<float>(0.55 * decay * sum);
}

bool savePng(HWND window, int width, int height, const wchar_t* path)
{
    HDC source = GetDC(window);
    HDC memory = CreateCompatibleDC(source);
    HBITMAP copy = CreateCompatibleBitmap(source, width, height);
    HGDIOBJ initial = SelectObject(memory, copy);
    BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY);
    SelectObject(memory, initial);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    const UINT stride = (width * 3 + 3) & ~3;
    std::vector<BYTE> pixels(size_t(stride) * height);
    GetDIBits(memory, copy, 0, height, pixels.data(), &info, DIB_RGB_COLORS);
    DeleteDC(memory);
    DeleteObject(copy);
    ReleaseDC(window, source);

    IWICImagingFactory* factory = nullptr;
    IWICStream* stream = nullptr;
    IWICBitmapEncoder* encoder = nullptr;
    IWICBitmapFrameEncode* frame = nullptr;
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    bool ok = SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_IWICImagingFactory, reinterpret_cast<void**>(&factory))) &&
              SUCCEEDED(factory->CreateStream(&stream)) &&
              SUCCEEDED(stream->InitializeFromFilename(path, GENERIC_WRITE)) &&
              SUCCEEDED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder)) &&
              SUCCEEDED(encoder->Initialize(stream, WICBitmapEncoderNoCache)) &&
              SUCCEEDED(encoder->CreateNewFrame(&frame, nullptr)) && SUCCEEDED(frame->Initialize(nullptr)) &&
              SUCCEEDED(frame->SetSize(width, height)) && SUCCEEDED(frame->SetPixelFormat(&format)) &&
              IsEqualGUID(format, GUID_WICPixelFormat24bppBGR) &&
              SUCCEEDED(frame->WritePixels(height, stride, static_cast<UINT>(pixels.size()), pixels.data())) &&
              SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
    if (frame) frame->Release();
    if (encoder) encoder->Release();
    if (stream) stream->Release();
    if (factory) factory->Release();
    return ok;
}

LRESULT CALLBACK hostWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: z5r-editor-snapshot PLUGIN.dll PANEL.png ABOUT.png\n");
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    HMODULE library = LoadLibraryW(argv[1]);
    auto entry = library ? reinterpret_cast<AEffect*(VST_CALL*)(audioMasterCallback)>(
                               reinterpret_cast<void*>(GetProcAddress(library, "VSTPluginMain")))
                         : nullptr;
    AEffect* effect = entry ? entry(host) : nullptr;
    if (!effect) {
        std::fprintf(stderr, "z5r-editor-snapshot: cannot load the plug-in\n");
        return 1;
    }
    auto call = [effect](int32_t opcode, intptr_t value = 0, void* ptr = nullptr, float opt = 0.0f) {
        return effect->dispatcher(effect, opcode, 0, value, ptr, opt);
    };
    call(effOpen);
    call(effSetSampleRate, 0, nullptr, 48000.0f);
    call(effSetBlockSize, 256);
    effect->setParameter(effect, 1, 0.72f);  // a little more drive than the default
    call(effMainsChanged, 1);

    ERect* rect = nullptr;
    call(effEditGetRect, 0, &rect);
    const int width = rect ? rect->right - rect->left : 665;
    const int height = rect ? rect->bottom - rect->top : 178;

    WNDCLASSA wc{};
    wc.lpfnWndProc = hostWindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "Z5RSnapshotHost";
    RegisterClassA(&wc);
    HWND hostWindow = CreateWindowExA(0, wc.lpszClassName, "Korvane Z5R", WS_POPUP | WS_VISIBLE, 0, 0, width,
                                      height, nullptr, nullptr, wc.hInstance, nullptr);
    call(effEditOpen, 0, hostWindow);

    std::atomic<bool> running{true};
    std::thread audio([&] {
        std::vector<float> left(256), right(256), outLeft(256), outRight(256);
        float* in[2] = {left.data(), right.data()};
        float* out[2] = {outLeft.data(), outRight.data()};
        long long frame = 0;
        while (running) {
            for (int i = 0; i < 256; ++i, ++frame) {
                const double t = std::fmod(frame / 48000.0, 1.2);
                left[i] = pluck(t, 110.0, 0.0) + pluck(t, 164.8, 0.4);
                right[i] = pluck(t, 146.8, 0.9) + pluck(t, 220.0, 0.2);
            }
            effect->processReplacing(effect, in, out, 256);
            Sleep(5);
        }
    });

    pump(1500);
    // The editor's own window: its children (the controls) are drawn into it.
    HWND editorWindow = FindWindowExA(hostWindow, nullptr, "KTubeWndClass", nullptr);
    const bool panel = savePng(editorWindow, width, height, argv[2]);
    SendMessageA(editorWindow, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(320, 60));  // the logo
    SendMessageA(editorWindow, WM_LBUTTONUP, 0, MAKELPARAM(320, 60));
    pump(300);
    const bool about = savePng(editorWindow, width, height, argv[3]);

    running = false;
    audio.join();
    call(effEditClose);
    call(effMainsChanged, 0);
    call(effClose);
    DestroyWindow(hostWindow);
    if (!panel || !about) std::fprintf(stderr, "z5r-editor-snapshot: could not write the pictures\n");
    return panel && about ? 0 : 1;
}
