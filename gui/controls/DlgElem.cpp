#include "gui/controls/DlgElem.h"

#include <algorithm>
#include <cstring>

bool CBitmapDC::Create(HDC reference)
{
    Release();
    dc = CreateCompatibleDC(reference);
    if (!dc) return false;
    initialBitmap = static_cast<HBITMAP>(GetCurrentObject(dc, OBJ_BITMAP));
    return true;
}

void CBitmapDC::Select(HBITMAP bitmap)
{
    if (dc && bitmap) SelectObject(dc, bitmap);
}

void CBitmapDC::Release()
{
    if (!dc) return;
    HBITMAP current = static_cast<HBITMAP>(GetCurrentObject(dc, OBJ_BITMAP));
    if (current != initialBitmap) {
        SelectObject(dc, initialBitmap);
        DeleteObject(current);
    }
    DeleteDC(dc);
    dc = nullptr;
    initialBitmap = nullptr;
}

CPaintBuffer::CPaintBuffer(HDC paintDc) : paintDc(paintDc)
{
    if (!Create(paintDc)) return;
    GetClipBox(paintDc, &clip);
    bitmap = CreateCompatibleBitmap(paintDc, clip.right, clip.bottom);
    Select(bitmap);
}

CPaintBuffer::~CPaintBuffer()
{
    if (dc)
        BitBlt(paintDc, clip.left, clip.top, clip.right - clip.left, clip.bottom - clip.top, dc, clip.left,
               clip.top, SRCCOPY);
}

BLENDFUNCTION SkinBlend()
{
    BLENDFUNCTION blend{};
    blend.BlendOp = AC_SRC_OVER;
    blend.BlendFlags = 0;
    blend.SourceConstantAlpha = 255;
    blend.AlphaFormat = AC_SRC_ALPHA;
    return blend;
}

void CDlgElem::InitCustomControl()
{
    // The module's file name, extension included, then the kind's suffix:
    // two copies of the library loaded from different files never share a
    // class (whose window procedure lives in one of them).
    className[0] = '\0';
    char path[MAX_PATH] = {};
    GetModuleFileNameA(module, path, MAX_PATH);
    const char* slash = std::strrchr(path, '\\');
    const char* suffix = GetClassSuffix();
    const size_t suffixLength = std::strlen(suffix);
    if (slash) {
        // A file name too long to leave room for the suffix is cut, the same
        // way every time.
        const size_t room = kClassNameSize - 1 - suffixLength;
        const size_t length = std::min(std::strlen(slash + 1), room);
        std::memcpy(className, slash + 1, length);
        className[length] = '\0';
    }
    std::strncat(className, suffix, kClassNameSize - 1 - std::strlen(className));

    WNDCLASSEXA existing{};
    existing.cbSize = sizeof(existing);
    if (GetClassInfoExA(module, className, &existing)) return;

    *GetInstanceCounter() = 0;
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof(wc);
    wc.style = 0;
    wc.lpfnWndProc = GetWindowProc();
    wc.hInstance = module;
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.lpszClassName = className;
    RegisterClassExA(&wc);  // a failure shows as a window that cannot be made
}

void CDlgElem::CreateCustomControl(int32_t x, int32_t y)
{
    InitCustomControl();
    window = CreateWindowExA(0, className, className, WS_CHILD | WS_VISIBLE, x, y, width, height, parent, nullptr,
                             module, nullptr);
    if (window) ++*GetInstanceCounter();
}

bool CDlgElem::DeinitCustomControl()
{
    if (!window) return false;
    DestroyWindow(window);
    window = nullptr;
    int32_t* count = GetInstanceCounter();
    if (*count > 0) --*count;
    if (*count == 0) UnregisterClassA(className, module);
    return true;
}

HBITMAP CDlgElem::ComposeOverBackground(HBITMAP backdrop, HBITMAP image, int32_t sourceX, int32_t sourceY,
                                        int32_t frames)
{
    HDC parentDc = GetDC(parent);
    if (!parentDc) return nullptr;
    HDC source = CreateCompatibleDC(parentDc);
    HDC destination = CreateCompatibleDC(parentDc);
    HBITMAP strip = CreateCompatibleBitmap(parentDc, width, height * frames);
    ReleaseDC(parent, parentDc);
    if (!source || !destination || !strip) {
        if (source) DeleteDC(source);
        if (destination) DeleteDC(destination);
        if (strip) DeleteObject(strip);
        return nullptr;
    }
    HGDIOBJ sourceInitial = GetCurrentObject(source, OBJ_BITMAP);
    HGDIOBJ destinationInitial = GetCurrentObject(destination, OBJ_BITMAP);

    SelectObject(destination, strip);
    SelectObject(source, backdrop);
    // Every frame gets the same backdrop: the rectangle the control covers.
    for (int32_t k = 0; k < frames; ++k) BitBlt(destination, 0, k * height, width, height, source, sourceX, sourceY, SRCCOPY);
    if (image) {
        SelectObject(source, image);
        AlphaBlend(destination, 0, 0, width, height * frames, source, 0, 0, width, height * frames, SkinBlend());
    }

    SelectObject(source, sourceInitial);
    SelectObject(destination, destinationInitial);
    DeleteDC(source);
    DeleteDC(destination);
    return strip;
}
