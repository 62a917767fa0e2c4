#include "gui/x11/PixelFormat.h"

#include <bit>
#include <cstring>
#include <initializer_list>

namespace {

// An 8-bit channel placed into a mask of any width.
uint32_t place(uint32_t channel, uint32_t mask) noexcept
{
    if (!mask) return 0;
    const int32_t shift = std::countr_zero(mask);
    const int32_t bits = std::popcount(mask);
    const uint32_t value = bits <= 8 ? channel >> (8 - bits) : channel << (bits - 8);
    return (value << shift) & mask;
}

bool contiguous(uint32_t mask) noexcept
{
    if (!mask) return false;
    const uint32_t shifted = mask >> std::countr_zero(mask);
    return (shifted & (shifted + 1)) == 0;
}

}  // namespace

bool PixelFormat::supported() const noexcept
{
    if (bitsPerPixel != 8 && bitsPerPixel != 16 && bitsPerPixel != 24 && bitsPerPixel != 32) return false;
    if (depth < 1 || depth > bitsPerPixel) return false;
    if (scanlinePad != 8 && scanlinePad != 16 && scanlinePad != 32) return false;
    const uint64_t room = bitsPerPixel == 32 ? 0xFFFFFFFFull : (1ull << bitsPerPixel) - 1;
    for (uint32_t mask : {redMask, greenMask, blueMask})
        if (!contiguous(mask) || mask > room) return false;
    return true;
}

int32_t PixelFormat::stride(int32_t width) const noexcept
{
    const int32_t bits = width * bitsPerPixel;
    return (bits + scanlinePad - 1) / scanlinePad * scanlinePad / 8;
}

uint32_t PixelFormat::pixelOf(uint32_t rgb) const noexcept
{
    uint32_t pixel = place((rgb >> 16) & 0xFF, redMask) | place((rgb >> 8) & 0xFF, greenMask) | place(rgb & 0xFF, blueMask);
    // Bits beyond the colour (an alpha channel in a 32-bit visual) say opaque.
    if (depth > 24 && bitsPerPixel == 32) pixel |= ~(redMask | greenMask | blueMask);
    return pixel;
}

void PixelFormat::convert(const uint32_t* source, int32_t sourceStride, int32_t width, int32_t height,
                          uint8_t* out) const noexcept
{
    const int32_t bytes = bitsPerPixel / 8;
    const int32_t rowBytes = stride(width);
    // Nearly every server: the panel's own layout in 32-bit words, in this
    // machine's byte order. Each word then only needs its top byte set.
    const bool native = bitsPerPixel == 32 && redMask == 0xFF0000u && greenMask == 0x00FF00u &&
                        blueMask == 0x0000FFu && leastSignificantFirst == (std::endian::native == std::endian::little);
    if (native) {
        const uint32_t extra = pixelOf(0);
        for (int32_t y = 0; y < height; ++y) {
            const uint32_t* row = source + size_t(y) * sourceStride;
            uint8_t* to = out + size_t(y) * rowBytes;
            for (int32_t x = 0; x < width; ++x) {
                const uint32_t pixel = (row[x] & 0x00FFFFFFu) | extra;
                std::memcpy(to + size_t(x) * 4, &pixel, 4);
            }
        }
        return;
    }
    for (int32_t y = 0; y < height; ++y) {
        const uint32_t* row = source + size_t(y) * sourceStride;
        uint8_t* to = out + size_t(y) * rowBytes;
        std::memset(to + size_t(width) * bytes, 0, size_t(rowBytes - width * bytes));
        for (int32_t x = 0; x < width; ++x, to += bytes) {
            const uint32_t pixel = pixelOf(row[x]);
            for (int32_t b = 0; b < bytes; ++b) {
                const int32_t shift = leastSignificantFirst ? 8 * b : 8 * (bytes - 1 - b);
                to[b] = static_cast<uint8_t>(pixel >> shift);
            }
        }
    }
}
