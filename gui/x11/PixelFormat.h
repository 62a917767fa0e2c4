// How an X server wants a window's pixels: the depth and bits per pixel of
// its visual, the row padding, the byte order, and where red, green and
// blue sit in a pixel. Turns the panel's 0x00RRGGBB words into that.
#pragma once

#include <cstdint>

struct PixelFormat {
    int32_t depth = 24;
    int32_t bitsPerPixel = 32;
    int32_t scanlinePad = 32;   // bits
    bool leastSignificantFirst = true;  // the server's image byte order
    uint32_t redMask = 0xFF0000u;
    uint32_t greenMask = 0x00FF00u;
    uint32_t blueMask = 0x0000FFu;

    // True colour at 8, 16, 24 or 32 bits per pixel, with masks that fit.
    bool supported() const noexcept;
    // Bytes of one row of `width` pixels, padded.
    int32_t stride(int32_t width) const noexcept;
    // Converts `height` rows of `width` words (rows `sourceStride` words
    // apart) into rows of stride(width) bytes at `out`.
    void convert(const uint32_t* source, int32_t sourceStride, int32_t width, int32_t height, uint8_t* out) const noexcept;
    // One pixel as the server takes it.
    uint32_t pixelOf(uint32_t rgb) const noexcept;
};
