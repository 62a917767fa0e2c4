#include "gui/panel/SkinPicture.h"

#include <algorithm>

namespace {

int32_t slotOf(int id) noexcept
{
    for (int32_t i = 0; i < panel::kSkinCount; ++i)
        if (panel::kSkinIds[i] == id) return i;
    return -1;
}

uint32_t scaled(uint32_t value, uint32_t alpha) noexcept { return (value * alpha + 127) / 255; }

}  // namespace

SkinPicture& SkinSet::operator[](int id) noexcept
{
    const int32_t slot = slotOf(id);
    if (slot < 0) {
        none = SkinPicture{};
        return none;
    }
    return pictures[slot];
}

const SkinPicture& SkinSet::operator[](int id) const noexcept
{
    const int32_t slot = slotOf(id);
    return slot < 0 ? none : pictures[slot];
}

uint32_t premultiply(uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha) noexcept
{
    return uint32_t(alpha) << 24 | scaled(red, alpha) << 16 | scaled(green, alpha) << 8 | scaled(blue, alpha);
}

uint32_t blendOver(uint32_t under, uint32_t premultiplied) noexcept
{
    const uint32_t keep = 255 - (premultiplied >> 24);
    uint32_t out = 0;
    for (int32_t shift = 0; shift < 32; shift += 8) {
        // A byte of a properly premultiplied pixel never exceeds its alpha,
        // so the sum stays within a byte; anything else is held there.
        uint32_t byte = ((premultiplied >> shift) & 0xFF) + (((under >> shift) & 0xFF) * keep + 127) / 255;
        if (byte > 255) byte = 255;
        out |= byte << shift;
    }
    return out;
}

std::vector<uint32_t> composeOverBackdrop(const SkinPicture& backdrop, int32_t x, int32_t y, int32_t width,
                                          int32_t height, const SkinPicture* picture, int32_t frames)
{
    if (width <= 0 || height <= 0 || frames <= 0) return {};
    std::vector<uint32_t> strip(size_t(width) * size_t(height) * size_t(frames), 0xFF000000u);
    for (int32_t k = 0; k < frames; ++k)
        for (int32_t row = 0; row < height; ++row) {
            const int32_t by = y + row;
            if (by < 0 || by >= backdrop.height || backdrop.empty()) continue;
            for (int32_t column = 0; column < width; ++column) {
                const int32_t bx = x + column;
                if (bx < 0 || bx >= backdrop.width) continue;
                strip[(size_t(k) * height + row) * width + column] = backdrop.pixels[size_t(by) * backdrop.width + bx];
            }
        }
    if (picture && !picture->empty()) {
        const int32_t rows = std::min(height * frames, picture->height);
        const int32_t columns = std::min(width, picture->width);
        for (int32_t row = 0; row < rows; ++row)
            for (int32_t column = 0; column < columns; ++column) {
                uint32_t& pixel = strip[size_t(row) * width + column];
                pixel = blendOver(pixel, picture->pixels[size_t(row) * picture->width + column]);
            }
    }
    return strip;
}
