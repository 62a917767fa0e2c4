// Skin images: PNG resources of the library decoded into 32-bit top-down
// device-independent bitmaps with premultiplied alpha (blue, green, red,
// alpha bytes), ready for AlphaBlend. [UI thread]
#pragma once

#include <windows.h>
#include <objidl.h>

struct IWICBitmapSource;

// The header of a 32-bit top-down device-independent bitmap: the layout
// of skin images, and of every pixel buffer the controls read or write.
BITMAPINFO TopDown32BitInfo(LONG width, LONG height);

// Resource type of the skin images.
constexpr const char* kPngResourceType = "PNG";

// Finds the "PNG" resource `id` in `module` and decodes it; null on any
// failure. The caller owns the bitmap and deletes it with DeleteObject.
HBITMAP LoadPngResource(HMODULE module, int id);

// A stream over a private copy of the resource bytes; the stream frees the
// copy when it is released. Null on failure.
IStream* CreateResourceStream(HMODULE module, HRSRC resource);

// The one frame of a PNG stream, converted to premultiplied BGRA; null on
// failure. When the thread had not initialised COM, COM is initialised for
// the caller and *startedCom is set: the caller balances it with
// CoUninitialize once every COM object of the load is released.
IWICBitmapSource* DecodePng(IStream* stream, bool* startedCom);

// A top-down 32-bit DIB section filled from the source; null on failure.
HBITMAP CreateSkinBitmap(IWICBitmapSource* source);
