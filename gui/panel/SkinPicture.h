// Skin pictures as plain pixels, and their composition over the panel, for
// platforms that draw the panel themselves. A picture holds 32-bit words
// 0xAARRGGBB (blue, green, red, alpha bytes in memory), rows top first,
// colour premultiplied by alpha: the layout the Windows editor's decoder
// delivers. Composition gives the same pixels as the Windows editor's
// per-pixel alpha blend over its backdrop.
#pragma once

#include "gui/panel/PanelLayout.h"

#include <cstddef>
#include <cstdint>
#include <vector>

struct SkinPicture {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint32_t> pixels;

    bool empty() const noexcept { return width <= 0 || height <= 0 || pixels.size() < size_t(width) * size_t(height); }
};

// The ten pictures of the panel, by skin id (gui/panel/PanelLayout.h).
class SkinSet {
public:
    // An empty picture for an id that is not one of the ten.
    SkinPicture& operator[](int id) noexcept;
    const SkinPicture& operator[](int id) const noexcept;

private:
    SkinPicture pictures[panel::kSkinCount];
    SkinPicture none;
};

// One pixel of straight (not premultiplied) 8-bit colour and alpha,
// premultiplied with rounding to nearest, as the Windows decoder converts it.
uint32_t premultiply(uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha) noexcept;

// A premultiplied pixel blended over an opaque one: each colour byte
// becomes source + under x (255 - alpha) / 255, rounded to nearest. The
// alpha byte of the result is 255 for an opaque pixel under.
uint32_t blendOver(uint32_t under, uint32_t premultiplied) noexcept;

// A strip of `frames` frames, each `width` x `height`: the backdrop's
// rectangle at (x, y) in every frame, with `picture` (width x height x
// frames, or null for bare backdrop) blended over the whole strip. Parts
// of the rectangle outside the backdrop are black.
std::vector<uint32_t> composeOverBackdrop(const SkinPicture& backdrop, int32_t x, int32_t y, int32_t width,
                                          int32_t height, const SkinPicture* picture, int32_t frames);
