#include "gui/controls/DialModel.h"

#include <bit>
#include <cfloat>
#include <cmath>

namespace {

// -235 and 55 degrees, as the exact single-precision values the rings use.
const float kStartAngle = std::bit_cast<float>(0xC0833FAFu);
const float kEndAngle = std::bit_cast<float>(0x3F75BE0Cu);
constexpr int32_t kSegments = 29;
constexpr float kStraightUp = -1.5707964f;  // -pi/2
constexpr float kCentre = 72.0f;
constexpr int32_t kMaxValue = 100;
constexpr int32_t kResetValue = 50;  // Ctrl-click

struct RingSetting {
    int32_t innerSq, outerSq;
};
constexpr RingSetting kRingSettings[DialModel::kRings] = {{54 * 54, 62 * 62}, {62 * 62, 72 * 72}};

std::unique_ptr<float[]> slopeTableFor(const DialRing& ring)
{
    const int32_t n = ring.segments;
    if (n < 1) return nullptr;
    auto table = std::make_unique<float[]>(n + 1);
    for (int32_t j = 0; j <= n; ++j) {
        const float t = static_cast<float>(j) / static_cast<float>(n);
        const float theta = (1.0f - t) * ring.startAngle + t * ring.endAngle;
        // Past straight up the boundary lies in the right half, which the
        // segment test reaches through the mirror image.
        table[j] = theta > kStraightUp ? FLT_MAX : std::tan(theta);
    }
    return table;
}

}  // namespace

void DialModel::configure() noexcept
{
    for (int32_t r = 0; r < kRings; ++r) {
        DialRing& ring = rings[r];
        ring.startAngle = kStartAngle;
        ring.endAngle = kEndAngle;
        ring.segments = kSegments;
        ring.innerRadiusSq = kRingSettings[r].innerSq;
        ring.outerRadiusSq = kRingSettings[r].outerSq;
    }
    freeSlopeTables();
    centreX = kCentre;
    centreY = kCentre;
}

void DialModel::freeSlopeTables() noexcept
{
    for (DialRing& ring : rings) {
        ring.ownTable.reset();
        ring.slopeTable = nullptr;
    }
    sharedSlopes = false;
}

void DialModel::buildSlopeTables()
{
    freeSlopeTables();
    rings[0].ownTable = slopeTableFor(rings[0]);
    rings[0].slopeTable = rings[0].ownTable.get();
    const DialRing &first = rings[0], &second = rings[1];
    if (second.startAngle == first.startAngle && second.endAngle == first.endAngle &&
        second.segments == first.segments) {
        rings[1].slopeTable = rings[0].slopeTable;
        sharedSlopes = true;
    } else {
        rings[1].ownTable = slopeTableFor(rings[1]);
        rings[1].slopeTable = rings[1].ownTable.get();
    }
}

void DialModel::setValue(int32_t ring, int32_t value) noexcept
{
    rings[ring].value = value >= kMaxValue ? kMaxValue : (value <= 0 ? 0 : value);
}

int32_t DialModel::litBoundary(int32_t value, int32_t segments) noexcept
{
    const float v = static_cast<float>(value) * 0.01f;
    const int32_t c = static_cast<int32_t>(v * static_cast<float>(segments + 1));
    // A value written around the clamp can never reach outside the table.
    return c >= segments + 1 ? segments : (c < 0 ? 0 : c);
}

bool DialModel::before(const float* t, int32_t n, int32_t c, float dx, float dy) noexcept
{
    // The column through the centre counts as right of centre.
    if (dx == 0.0f) dx = 0.1f;
    const float s = dy / dx;
    // A boundary in the right half is tested through its mirror image: the
    // arc is symmetric about straight up.
    if (dx > 0.0f) return s <= -t[n - c];
    if (dy >= 0.0f) return t[0] <= s && s <= t[c];
    return s <= t[c];
}

int32_t DialModel::ringAt(float distanceSq) const noexcept
{
    for (int32_t r = 0; r < kRings; ++r)
        if (static_cast<float>(rings[r].innerRadiusSq) <= distanceSq &&
            distanceSq <= static_cast<float>(rings[r].outerRadiusSq))
            return r;
    return -1;
}

void DialModel::paint(const uint32_t* base, const uint32_t* const lit[kRings], uint32_t* out, int32_t width,
                      int32_t height) noexcept
{
    int32_t boundary[kRings];
    for (int32_t r = 0; r < kRings; ++r) boundary[r] = litBoundary(rings[r].value, rings[r].segments);
    for (int32_t i = 0; i < height; ++i) {
        for (int32_t j = 0; j < width; ++j) {
            const int32_t at = i * width + j;
            out[at] = base[at];
            const float dx = static_cast<float>(j) - centreX;
            const float dy = static_cast<float>(i) - centreY;
            const int32_t r = ringAt(dx * dx + dy * dy);
            if (r < 0 || !rings[r].slopeTable) continue;
            if (before(rings[r].slopeTable, rings[r].segments, boundary[r], dx, dy)) out[at] = lit[r][at];
        }
    }
    markPainted();
}

void DialModel::markPainted() noexcept
{
    for (DialRing& ring : rings) ring.paintedValue = ring.value;
}

DialModel::Capture DialModel::mouseMove(int32_t y, bool shiftDown) noexcept
{
    for (int32_t r = 0; r < kRings; ++r) {
        if (!rings[r].isDragged()) continue;
        const int32_t value = rings[r].dragAnchor - (y >> dragShift);
        // With Shift only multiples of 10 are taken: the ring moves in steps of 10.
        if (!shiftDown || value % 10 == 0) setValue(r, value);
    }
    return Capture::keep;
}

DialModel::Capture DialModel::buttonDown(int32_t ring, int32_t y, bool ctrlDown) noexcept
{
    DialRing& self = rings[ring];
    DialRing& other = rings[1 - ring];
    if (ctrlDown) {
        self.value = kResetValue;
        // Ctrl with the left button only resets; with the right one the
        // drag starts from the reset value.
        if (ring == 0) return Capture::keep;
    }
    // Pressing the second button joins the drag: both rings share one anchor.
    if (other.isDragged()) {
        self.dragAnchor = other.dragAnchor;
        return Capture::keep;
    }
    self.dragAnchor = (y >> dragShift) + self.value;
    return Capture::take;
}

DialModel::Capture DialModel::buttonUp(int32_t ring) noexcept
{
    rings[ring].dragAnchor = -1;
    return rings[1 - ring].isDragged() ? Capture::keep : Capture::release;
}
