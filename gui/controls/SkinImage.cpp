#include "gui/controls/SkinImage.h"

#include <wincodec.h>

#include <cstring>

namespace {

// {389EA17B-5078-4CDE-B6EF-25C15175C751}
const GUID kPngDecoderClass = {0x389EA17B, 0x5078, 0x4CDE, {0xB6, 0xEF, 0x25, 0xC1, 0x51, 0x75, 0xC7, 0x51}};
// {9EDDE9E7-8DEE-47EA-99DF-E6FAF2ED44BF}
const GUID kBitmapDecoderInterface = {0x9EDDE9E7, 0x8DEE, 0x47EA, {0x99, 0xDF, 0xE6, 0xFA, 0xF2, 0xED, 0x44, 0xBF}};
// {6FDDC324-4E03-4BFE-B185-3D77768DC910}: 32 bits, premultiplied blue, green, red, alpha.
const GUID kPremultipliedBgra = {0x6FDDC324, 0x4E03, 0x4BFE, {0xB1, 0x85, 0x3D, 0x77, 0x76, 0x8D, 0xC9, 0x10}};

template <class T>
void release(T*& object)
{
    if (object) object->Release();
    object = nullptr;
}

}  // namespace

BITMAPINFO TopDown32BitInfo(LONG width, LONG height)
{
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // the first row in memory is the top row
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

IStream* CreateResourceStream(HMODULE module, HRSRC resource)
{
    const DWORD size = SizeofResource(module, resource);
    HGLOBAL loaded = LoadResource(module, resource);
    if (!loaded) return nullptr;
    const void* bytes = LockResource(loaded);
    if (!bytes) return nullptr;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
    if (!block) return nullptr;
    void* copy = GlobalLock(block);
    if (!copy) {
        GlobalFree(block);
        return nullptr;
    }
    std::memcpy(copy, bytes, size);
    GlobalUnlock(block);
    IStream* stream = nullptr;
    // The stream owns the block from here: releasing it frees the copy.
    if (FAILED(CreateStreamOnHGlobal(block, TRUE, &stream)) || !stream) {
        GlobalFree(block);
        return nullptr;
    }
    return stream;
}

IWICBitmapSource* DecodePng(IStream* stream, bool* startedCom)
{
    IWICBitmapDecoder* decoder = nullptr;
    HRESULT result = CoCreateInstance(kPngDecoderClass, nullptr, CLSCTX_INPROC_SERVER, kBitmapDecoderInterface,
                                      reinterpret_cast<void**>(&decoder));
    if (result == CO_E_NOTINITIALIZED && startedCom && !*startedCom) {
        // A host that never initialised COM on this thread still gets its
        // pictures: COM is started for the load and stopped after it.
        if (SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
            *startedCom = true;
            result = CoCreateInstance(kPngDecoderClass, nullptr, CLSCTX_INPROC_SERVER, kBitmapDecoderInterface,
                                      reinterpret_cast<void**>(&decoder));
        }
    }
    if (FAILED(result) || !decoder) return nullptr;

    IWICBitmapSource* converted = nullptr;
    IWICBitmapFrameDecode* frame = nullptr;
    UINT frames = 0;
    if (SUCCEEDED(decoder->Initialize(stream, WICDecodeMetadataCacheOnLoad)) &&
        SUCCEEDED(decoder->GetFrameCount(&frames)) && frames == 1 && SUCCEEDED(decoder->GetFrame(0, &frame))) {
        if (FAILED(WICConvertBitmapSource(kPremultipliedBgra, frame, &converted))) converted = nullptr;
    }
    release(frame);
    release(decoder);
    return converted;
}

HBITMAP CreateSkinBitmap(IWICBitmapSource* source)
{
    UINT width = 0, height = 0;
    if (FAILED(source->GetSize(&width, &height)) || width == 0 || height == 0) return nullptr;
    const unsigned long long bytes = 4ull * width * height;
    if (bytes > 0x7FFFFFFFull) return nullptr;

    BITMAPINFO info = TopDown32BitInfo(static_cast<LONG>(width), static_cast<LONG>(height));
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ReleaseDC(nullptr, screen);
    if (!bitmap) return nullptr;
    if (!bits || FAILED(source->CopyPixels(nullptr, width * 4, static_cast<UINT>(bytes), static_cast<BYTE*>(bits)))) {
        DeleteObject(bitmap);
        return nullptr;
    }
    return bitmap;
}

HBITMAP LoadPngResource(HMODULE module, int id)
{
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(id), kPngResourceType);
    if (!resource) return nullptr;
    IStream* stream = CreateResourceStream(module, resource);
    if (!stream) return nullptr;
    bool startedCom = false;
    IWICBitmapSource* source = DecodePng(stream, &startedCom);
    HBITMAP image = source ? CreateSkinBitmap(source) : nullptr;
    release(source);
    release(stream);
    if (startedCom) CoUninitialize();
    return image;
}
