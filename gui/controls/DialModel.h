// The two-ring LED dial without its window: ring geometry, the slope tables
// behind the per-pixel segment test, the painting of lit segments over
// 32-bit pixel buffers, and the mouse-drag arithmetic. Ring 0 (inner) is
// dragged with the left mouse button, ring 1 (outer) with the right one;
// each shows a value 0 to 100 as a bar of lit segments growing clockwise
// from the lower left.
#pragma once

#include <cstdint>
#include <memory>

struct DialRing {
    std::unique_ptr<float[]> ownTable;  // null when the ring borrows ring 0's table
    const float* slopeTable = nullptr;  // segments + 1 entries, or null when not built
    float startAngle = 0.0f;            // radians, screen coordinates (y down)
    float endAngle = 0.0f;
    int32_t segments = 0;
    int32_t innerRadiusSq = 0;  // squared pixels, both ends included
    int32_t outerRadiusSq = 0;
    int32_t value = 0;          // 0..100
    int32_t paintedValue = 0;   // value at the end of the last paint
    int32_t dragAnchor = -1;    // drag reference while its mouse button is held, else -1

    bool isDragged() const noexcept { return dragAnchor != -1; }
    bool isChanged() const noexcept { return value != paintedValue; }
};

class DialModel {
public:
    static constexpr int32_t kSize = 144;  // pixels, square
    static constexpr int32_t kRings = 2;

    // What a mouse message asks of the window's mouse capture.
    enum class Capture { keep, take, release };

    DialRing rings[kRings];
    bool sharedSlopes = false;
    float centreX = 0.0f;
    float centreY = 0.0f;
    int32_t dragShift = 1;  // two pixels of vertical movement per step

    // The ring settings of this product's dial: 29 segments of 10 degrees
    // from -235 to 55 degrees, inner ring radius 54 to 62, outer 62 to 72,
    // centre (72, 72).
    void configure() noexcept;
    void buildSlopeTables();
    void freeSlopeTables() noexcept;

    int32_t getValue(int32_t ring) const noexcept { return rings[ring].value; }
    // Clamps to 0..100; does not repaint.
    void setValue(int32_t ring, int32_t value) noexcept;
    bool isChanged(int32_t ring) const noexcept { return rings[ring].isChanged(); }
    bool anyChanged() const noexcept { return rings[0].isChanged() || rings[1].isChanged(); }

    // The segment boundary up to which a ring is lit: value 0 lights none,
    // 50 lights 15, 97 to 100 light all.
    static int32_t litBoundary(int32_t value, int32_t segments) noexcept;
    // Whether a pixel at offset (dx, dy) from the centre lies on the start
    // side of boundary c of a ring with the given slope table.
    static bool before(const float* table, int32_t segments, int32_t boundary, float dx, float dy) noexcept;
    // The first ring, inner before outer, whose annulus holds the squared
    // distance; -1 for none.
    int32_t ringAt(float distanceSq) const noexcept;

    // Paints the whole control: the base layer, with every lit pixel of
    // each ring taken from that ring's lit layer. All buffers are
    // width x height words, rows top first. Marks both rings painted.
    void paint(const uint32_t* base, const uint32_t* const lit[kRings], uint32_t* out, int32_t width,
               int32_t height) noexcept;
    void markPainted() noexcept;

    // Mouse messages; y is the pointer's vertical position in the control.
    Capture mouseMove(int32_t y, bool shiftDown) noexcept;
    Capture buttonDown(int32_t ring, int32_t y, bool ctrlDown) noexcept;
    Capture buttonUp(int32_t ring) noexcept;
};
