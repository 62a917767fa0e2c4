#include "gui/controls/ScopeModel.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Truncates toward zero, saturating beyond the range of int32_t (a point
// far outside the plot is still "beyond the edge").
int32_t truncateSaturating(float v) noexcept
{
    if (v >= 2147483520.0f) return std::numeric_limits<int32_t>::max();
    if (v <= -2147483520.0f) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(v);
}

}  // namespace

uint32_t fadePixel(uint32_t old, uint32_t face) noexcept
{
    // Red and blue together, green alone: each difference is taken as an
    // unsigned 32-bit number and shifted as one.
    const uint32_t oldRB = old & 0x00FF00FFu, faceRB = face & 0x00FF00FFu;
    const uint32_t oldG = old & 0x0000FF00u, faceG = face & 0x0000FF00u;
    const uint32_t rb = oldRB + ((faceRB - oldRB) >> 4);
    const uint32_t g = oldG + ((faceG - oldG) >> 4);
    return (rb & 0x00FF00FFu) | (g & 0xFF00FF00u);
}

void ScopeModel::setFace(const uint32_t* pixels, int32_t faceWidth, int32_t faceHeight, int32_t plotSize)
{
    width = faceWidth;
    height = faceHeight;
    plotWidth = plotHeight = plotSize;
    facePixels.assign(pixels, pixels + size_t(width) * size_t(height));
    workPixels = facePixels;
}

void ScopeModel::setBounds() noexcept
{
    left = (width - plotWidth) / 2;
    right = (width + plotWidth) / 2 - 1;
    top = (height - plotHeight) / 2;
    bottom = (height + plotHeight) / 2 - 1;
}

void ScopeModel::release() noexcept
{
    workPixels.clear();
    workPixels.shrink_to_fit();
    facePixels.clear();
    facePixels.shrink_to_fit();
}

void ScopeModel::plot(float x, float y, uint32_t colour) noexcept
{
    if (workPixels.empty() || std::isnan(x) || std::isnan(y)) return;
    const float fx = (scale * x * static_cast<float>(plotWidth) + static_cast<float>(width)) * 0.5f;
    const float fy = (scale * y * static_cast<float>(plotHeight) + static_cast<float>(height)) * 0.5f;
    const int32_t px = std::clamp(truncateSaturating(fx), left, right);
    const int32_t py = truncateSaturating(fy);
    uint32_t* pixels = workPixels.data();
    if (py < top) {
        for (int32_t c = left; c <= right; ++c) {
            pixels[top * width + c] = kOverloadOuter;
            pixels[(top + 1) * width + c] = kOverloadInner;
        }
        return;
    }
    if (py > bottom) {
        for (int32_t c = left; c <= right; ++c) {
            pixels[bottom * width + c] = kOverloadOuter;
            pixels[(bottom - 1) * width + c] = kOverloadInner;
        }
        return;
    }
    pixels[py * width + px] = colour;
}

int32_t ScopeModel::fadeStart() const noexcept
{
    return width * ((height - plotHeight) / 2) + (width - plotWidth) / 2;
}

int32_t ScopeModel::fadeEnd() const noexcept
{
    return width * ((height + plotHeight) / 2) + (width + plotWidth) / 2;
}

void ScopeModel::fade() noexcept
{
    if (workPixels.empty()) return;
    if (persistence == kEraseEachRefresh) {
        workPixels = facePixels;
        return;
    }
    const int32_t end = std::min<int32_t>(fadeEnd(), static_cast<int32_t>(workPixels.size()));
    for (int32_t i = std::max(fadeStart(), 0); i < end; ++i) workPixels[i] = fadePixel(workPixels[i], facePixels[i]);
}
