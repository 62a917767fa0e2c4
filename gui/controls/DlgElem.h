// The base of the editor's skinned controls, and two small GDI helpers.
// Each control owns at most one child window of the editor's main window;
// the window's class is made per control kind and module file, counted per
// class, and unregistered by the last window of the class to go.
// [UI thread]
#pragma once

#include <windows.h>

#include <cstdint>

// A memory device context and the bitmap it held when it was made. A bitmap
// selected into it belongs to it: releasing the context deletes it.
class CBitmapDC {
public:
    CBitmapDC() = default;
    virtual ~CBitmapDC() { Release(); }
    CBitmapDC(const CBitmapDC&) = delete;
    CBitmapDC& operator=(const CBitmapDC&) = delete;

    // Makes the context, compatible with `reference`; false on failure.
    bool Create(HDC reference);
    // Selects a bitmap, which the context then owns.
    void Select(HBITMAP bitmap);
    // Deletes the selected bitmap (unless it is the initial one) and the context.
    void Release();

    HDC dc = nullptr;
    HBITMAP initialBitmap = nullptr;
};

// An off-screen buffer for one paint message, spanning the window from its
// origin to the clip box's far corner; its destruction copies the clip box
// to the window.
class CPaintBuffer : public CBitmapDC {
public:
    explicit CPaintBuffer(HDC paintDc);
    ~CPaintBuffer() override;

    HBITMAP bitmap = nullptr;
    RECT clip{};
    HDC paintDc;
};

class CDlgElem {
public:
    CDlgElem() = default;
    virtual ~CDlgElem() = default;
    CDlgElem(const CDlgElem&) = delete;
    CDlgElem& operator=(const CDlgElem&) = delete;

    // Destroys the window and releases the control's images.
    virtual void DestroyControl() = 0;
    virtual const char* GetClassSuffix() const = 0;
    // The kind's count of live windows, one per class.
    virtual int32_t* GetInstanceCounter() const = 0;
    virtual WNDPROC GetWindowProc() const = 0;

    HWND GetWindow() const { return window; }
    int32_t GetWidth() const { return width; }
    int32_t GetHeight() const { return height; }
    const char* GetWindowClassName() const { return className; }

    // Composes `image` (may be null) over the backdrop rectangle at
    // (sourceX, sourceY) into a new strip of `frames` frames of width x
    // height, compatible with the parent window. The caller owns the strip.
    HBITMAP ComposeOverBackground(HBITMAP backdrop, HBITMAP image, int32_t sourceX, int32_t sourceY,
                                  int32_t frames);

protected:
    void InitCustomControl();
    void CreateCustomControl(int32_t x, int32_t y);
    // Destroys the window and uncounts it; false (and nothing done) when
    // there is no window.
    bool DeinitCustomControl();

    // The control object stored in a window's user data, or null.
    template <class T>
    static T* FromWindow(HWND hwnd)
    {
        return reinterpret_cast<T*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    }
    void AttachToWindow() { SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this)); }

    static constexpr size_t kClassNameSize = 128;

    HMODULE module = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    HWND window = nullptr;
    HWND parent = nullptr;
    char className[kClassNameSize] = {};
};

// The blend of a premultiplied skin image over opaque pixels.
BLENDFUNCTION SkinBlend();
