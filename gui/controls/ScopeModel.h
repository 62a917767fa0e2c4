// The XY persistence scope without its window: points in -1..1 plotted into
// a square over the scope face, overload bars at the top and bottom edges,
// and the fade of the picture back toward the empty face by one sixteenth
// per refresh. Pixels are 32-bit words 0xAARRGGBB, rows top first.
#pragma once

#include <cstdint>
#include <vector>

class ScopeModel {
public:
    static constexpr uint32_t kOverloadOuter = 0xFFFFA045u;  // bright orange
    static constexpr uint32_t kOverloadInner = 0xFF7F5022u;  // dark orange
    static constexpr uint8_t kEraseEachRefresh = 255;

    int32_t width = 0;
    int32_t height = 0;
    int32_t plotWidth = 0;
    int32_t plotHeight = 0;
    // Inclusive plot bounds.
    int32_t left = 0, right = 1, top = 0, bottom = 1;
    float scale = 1.0f;
    uint8_t persistence = 15;
    std::vector<uint32_t> workPixels;  // the picture being built
    std::vector<uint32_t> facePixels;  // the empty face

    // The settings of this product's scope: a plot square of `plotSize`,
    // scale 1, and a picture that fades over 15 refreshes.
    void configure(int32_t plotSize) noexcept
    {
        plotWidth = plotHeight = plotSize;
        scale = 1.0f;
        persistence = 15;
    }
    // Takes the composed face; the plot square is centred in it.
    void setFace(const uint32_t* pixels, int32_t faceWidth, int32_t faceHeight, int32_t plotSize);
    // Sets the bounds from the size (no pixels needed).
    void setBounds() noexcept;
    void release() noexcept;
    bool hasPixels() const noexcept { return !workPixels.empty(); }

    // Plots one point, or an overload bar when it lies beyond the top or
    // bottom; a point beyond the left or right sticks to the edge. A point
    // with a coordinate that is not a number is skipped.
    void plot(float x, float y, uint32_t colour) noexcept;
    // Readies the work picture for the next refresh: erases it, or fades
    // each colour byte of the plot square a sixteenth of the way to the face.
    void fade() noexcept;
    // The raster range the fade covers, start and end (exclusive).
    int32_t fadeStart() const noexcept;
    int32_t fadeEnd() const noexcept;
};

// One pixel faded toward the face: old + floor((face - old) / 16) in each of
// the red, green and blue bytes.
uint32_t fadePixel(uint32_t old, uint32_t face) noexcept;
