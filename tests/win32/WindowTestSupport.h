// Helpers for tests that make real Win32 windows (under Wine and a virtual
// X display in CI): the plug-in library for its skin resources, a visible
// parent window that records LED button messages, pixel read-back.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

// The built plug-in library, loaded once for its resources.
HMODULE pluginModule();

// Delivers pending messages, at most for the given time.
void pumpMessages(DWORD milliseconds = 50);

// What the parent saw of one WM_LEDBUTTON message.
struct LedMessage {
    WPARAM controlId;
    LPARAM state;
    bool buttonInvalidated;  // whether the button already had an update region
};

// A visible top-level window with a plain dark backdrop bitmap of its size.
class TestParent {
public:
    TestParent(int32_t width = 665, int32_t height = 178);
    ~TestParent();
    HWND hwnd = nullptr;
    HBITMAP backdrop = nullptr;
    std::vector<LedMessage> messages;
    HWND watchedButton = nullptr;  // whose update state is recorded with each message
};

// The pixels of a window's client area, 0x00RRGGBB words, rows top first.
std::vector<uint32_t> windowPixels(HWND hwnd, int32_t width, int32_t height);
// The pixels of a bitmap (any depth), 0x00RRGGBB words, rows top first.
std::vector<uint32_t> bitmapPixels(HBITMAP bitmap, int32_t width, int32_t height);

// A picture file of 0x00RRGGBB words, written and read through the imaging
// component as an opaque PNG. The path may be a Unix one (Wine maps it).
bool writePng(const std::vector<uint32_t>& pixels, int32_t width, int32_t height, const char* path);
// Empty when the file cannot be read.
std::vector<uint32_t> readPng(const char* path, int32_t* width, int32_t* height);
