#include "GoldenFrames.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace golden {

namespace {

int32_t channel(uint32_t pixel, int32_t shift) { return static_cast<int32_t>((pixel >> shift) & 0xFF); }

int32_t largestChannelDifference(uint32_t a, uint32_t b)
{
    int32_t largest = 0;
    for (int32_t shift : {0, 8, 16}) largest = std::max(largest, std::abs(channel(a, shift) - channel(b, shift)));
    return largest;
}

bool skippedAt(int32_t x, int32_t y, const Box* skipped, int32_t count)
{
    for (int32_t i = 0; i < count; ++i)
        if (x >= skipped[i].left && x < skipped[i].right && y >= skipped[i].top && y < skipped[i].bottom) return true;
    return false;
}

// Text is drawn in light colours; the about image's ground stays well below this.
bool isInk(uint32_t pixel)
{
    return channel(pixel, 0) >= 110 || channel(pixel, 8) >= 110 || channel(pixel, 16) >= 110;
}

}  // namespace

std::string path(const char* file) { return std::string(Z5R_GOLDEN_FRAMES_DIR) + "/" + file; }

int32_t pixelsBeyondTolerance(const std::vector<uint32_t>& frame, const std::vector<uint32_t>& reference,
                              const Box* skipped, int32_t skippedCount)
{
    if (frame.size() != reference.size() || frame.size() != size_t(kWidth) * kHeight) return kWidth * kHeight;
    int32_t beyond = 0;
    for (int32_t y = 0; y < kHeight; ++y)
        for (int32_t x = 0; x < kWidth; ++x) {
            if (skippedAt(x, y, skipped, skippedCount)) continue;
            const size_t at = size_t(y) * kWidth + x;
            if (largestChannelDifference(frame[at], reference[at]) > kTolerance) ++beyond;
        }
    return beyond;
}

Box inkWithin(const std::vector<uint32_t>& frame, const Box& line)
{
    Box ink{line.right, line.bottom, line.left, line.top};
    if (frame.size() != size_t(kWidth) * kHeight) return {0, 0, 0, 0};
    for (int32_t y = line.top; y < line.bottom; ++y)
        for (int32_t x = line.left; x < line.right; ++x) {
            if (!isInk(frame[size_t(y) * kWidth + x])) continue;
            ink.left = std::min(ink.left, x);
            ink.top = std::min(ink.top, y);
            ink.right = std::max(ink.right, x + 1);
            ink.bottom = std::max(ink.bottom, y + 1);
        }
    if (ink.left >= ink.right) return {0, 0, 0, 0};
    return ink;
}

std::string describeDifferences(const std::vector<uint32_t>& frame, const std::vector<uint32_t>& reference,
                                const Box* skipped, int32_t skippedCount)
{
    if (frame.size() != reference.size()) return "the pictures differ in size";
    std::string text;
    int32_t shown = 0;
    for (int32_t y = 0; y < kHeight && shown < 8; ++y)
        for (int32_t x = 0; x < kWidth && shown < 8; ++x) {
            if (skippedAt(x, y, skipped, skippedCount)) continue;
            const size_t at = size_t(y) * kWidth + x;
            if (largestChannelDifference(frame[at], reference[at]) <= kTolerance) continue;
            char line[96];
            std::snprintf(line, sizeof(line), " (%d,%d) %06X, expected %06X;", static_cast<int>(x),
                          static_cast<int>(y), static_cast<unsigned>(frame[at]), static_cast<unsigned>(reference[at]));
            text += line;
            ++shown;
        }
    return text;
}

}  // namespace golden
