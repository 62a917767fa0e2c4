// The skinned controls' logic without windows: button transitions, the
// dial's segment test, lit counts and drags, the scope's plotting and fade.
#include "gui/controls/ButtonModel.h"
#include "gui/controls/DialModel.h"
#include "gui/controls/ScopeModel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace {

// Counts, for a ring, the segments that have at least one lit pixel when
// painted with distinct base and lit colours.
struct DialPicture {
    DialModel dial;
    std::vector<uint32_t> base, lit0, lit1, out;

    DialPicture()
        : base(144 * 144, 0xFF000000u), lit0(144 * 144, 0xFF0000FFu), lit1(144 * 144, 0xFFFFFFFFu),
          out(144 * 144)
    {
        dial.configure();
        dial.buildSlopeTables();
    }
    void paint()
    {
        const uint32_t* lit[2] = {lit0.data(), lit1.data()};
        dial.paint(base.data(), lit, out.data(), 144, 144);
    }
    // Segments of ring r (by the angle of their pixels' centres) that show lit pixels.
    int32_t litSegments(int32_t r)
    {
        bool seen[29] = {};
        const uint32_t colour = r == 0 ? 0xFF0000FFu : 0xFFFFFFFFu;
        for (int32_t i = 0; i < 144; ++i)
            for (int32_t j = 0; j < 144; ++j) {
                const float dx = j - 72.0f, dy = i - 72.0f;
                if (dial.ringAt(dx * dx + dy * dy) != r || out[i * 144 + j] != colour) continue;
                double degrees = std::atan2(dy, dx) * 180.0 / 3.14159265358979;
                if (degrees > 55.0) degrees -= 360.0;
                // Pixels right on a boundary belong to neither side: the art
                // has dark gaps there.
                const double position = (degrees + 235.0) / 10.0;
                if (std::fabs(position - std::round(position)) < 0.05) continue;
                const int32_t segment = static_cast<int32_t>(std::floor(position));
                if (segment >= 0 && segment < 29) seen[segment] = true;
            }
        int32_t count = 0;
        for (bool s : seen) count += s;
        return count;
    }
};

}  // namespace

TEST(LedButtonModel, PressFlipsTheValueAndReleaseEndsTheHeldLook)
{
    EXPECT_EQ(button::kDownNext[button::kOff], button::kOnHeld);
    EXPECT_EQ(button::kUpNext[button::kOnHeld], button::kOn);
    EXPECT_EQ(button::kDownNext[button::kOn], button::kOffHeld);
    EXPECT_EQ(button::kUpNext[button::kOffHeld], button::kOff);
    // A second press while held (capture lost) keeps the state.
    EXPECT_EQ(button::kDownNext[button::kOnHeld], button::kOnHeld);
    EXPECT_EQ(button::kDownNext[button::kOffHeld], button::kOffHeld);
    // SetValue keeps the held look.
    EXPECT_EQ(button::withValue(button::kOffHeld, 1), button::kOnHeld);
    EXPECT_EQ(button::kUpNext[button::withValue(button::kOffHeld, 1)], button::kOn);
    EXPECT_EQ(button::withValue(button::kOn, 0), button::kOff);
    EXPECT_TRUE(button::isOn(button::kOn));
    EXPECT_FALSE(button::isOn(button::kOnHeld));
    EXPECT_TRUE(button::valueOf(button::kOnHeld));
}

TEST(LedDialModel, SlopeTablesAreBuiltOnceAndShared)
{
    DialModel dial;
    dial.configure();
    dial.buildSlopeTables();
    ASSERT_NE(dial.rings[0].slopeTable, nullptr);
    EXPECT_TRUE(dial.sharedSlopes);
    EXPECT_EQ(dial.rings[1].slopeTable, dial.rings[0].slopeTable);
    const float* t = dial.rings[0].slopeTable;
    EXPECT_NEAR(t[0], -1.428148f, 1e-5f);
    EXPECT_NEAR(t[14], 11.430049f, 1e-4f);
    for (int32_t j = 15; j <= 29; ++j) EXPECT_EQ(t[j], std::numeric_limits<float>::max());
    dial.freeSlopeTables();
    EXPECT_EQ(dial.rings[1].slopeTable, nullptr);
    EXPECT_FALSE(dial.sharedSlopes);
}

TEST(LedDialModel, LitSegmentsForTheValuesOfTheRange)
{
    const std::pair<int32_t, int32_t> expected[] = {{0, 0},   {4, 1},   {10, 2},  {20, 5},  {30, 8},
                                                    {50, 15}, {97, 29}, {100, 29}, {-5, 0}};
    for (auto [value, segments] : expected) EXPECT_EQ(DialModel::litBoundary(value, 29), segments) << value;

    DialPicture picture;
    for (auto [value, segments] : expected) {
        if (value < 0) continue;
        picture.dial.setValue(0, value);
        picture.dial.setValue(1, 100 - value);
        picture.paint();
        EXPECT_EQ(picture.litSegments(0), segments) << value;
        EXPECT_EQ(picture.litSegments(1), DialModel::litBoundary(100 - value, 29)) << value;
    }
}

TEST(LedDialModel, PixelsOffTheRingsAreNeverLit)
{
    DialPicture picture;
    picture.dial.setValue(0, 100);
    picture.dial.setValue(1, 100);
    picture.paint();
    for (int32_t i = 0; i < 144; ++i)
        for (int32_t j = 0; j < 144; ++j) {
            const float dx = j - 72.0f, dy = i - 72.0f;
            const float d2 = dx * dx + dy * dy;
            if (d2 < 2916.0f || d2 > 5184.0f || (dy > 0 && std::fabs(dx) < dy * 0.57f)) {
                ASSERT_EQ(picture.out[i * 144 + j], 0xFF000000u) << j << "," << i;
            }
        }
    // The squared distance 3844 belongs to the inner ring.
    EXPECT_EQ(picture.dial.ringAt(3844.0f), 0);
    EXPECT_EQ(picture.dial.ringAt(3845.0f), 1);
    EXPECT_EQ(picture.dial.ringAt(2915.0f), -1);
    EXPECT_FALSE(picture.dial.isChanged(0));
}

TEST(LedDialModel, CentreColumnCountsAsRightOfCentre)
{
    DialModel dial;
    dial.configure();
    dial.buildSlopeTables();
    const float* t = dial.rings[0].slopeTable;
    // Straight up, on the inner ring: part of segment 14 (-95 to -85 degrees).
    EXPECT_FALSE(DialModel::before(t, 29, 14, 0.0f, -58.0f));
    EXPECT_TRUE(DialModel::before(t, 29, 15, 0.0f, -58.0f));
}

TEST(LedDialModel, DragsMoveTwoPixelsPerStep)
{
    DialModel dial;
    dial.configure();
    dial.setValue(0, 40);
    EXPECT_EQ(dial.buttonDown(0, 100, false), DialModel::Capture::take);
    EXPECT_EQ(dial.rings[0].dragAnchor, 90);
    dial.mouseMove(80, false);
    EXPECT_EQ(dial.getValue(0), 50);
    dial.mouseMove(300, false);
    EXPECT_EQ(dial.getValue(0), 0);
    dial.mouseMove(-400, false);  // above the control: negative coordinates
    EXPECT_EQ(dial.getValue(0), 100);
    EXPECT_EQ(dial.buttonUp(0), DialModel::Capture::release);
    dial.mouseMove(0, false);
    EXPECT_EQ(dial.getValue(0), 100);
}

TEST(LedDialModel, ShiftTakesOnlyMultiplesOfTen)
{
    DialModel dial;
    dial.configure();
    dial.setValue(0, 47);
    dial.buttonDown(0, 0, false);  // anchor 47
    dial.mouseMove(0, true);       // 47: refused
    EXPECT_EQ(dial.getValue(0), 47);
    dial.mouseMove(-6, true);      // 50
    EXPECT_EQ(dial.getValue(0), 50);
    dial.mouseMove(-9, true);      // 52: refused
    EXPECT_EQ(dial.getValue(0), 50);
    dial.mouseMove(114, true);     // -10: a multiple of ten, clamped
    EXPECT_EQ(dial.getValue(0), 0);
    dial.mouseMove(115, true);     // -10 again: two pixels per step
    EXPECT_EQ(dial.getValue(0), 0);
}

TEST(LedDialModel, CtrlResetsToFiftyAndBothButtonsJoinOneDrag)
{
    DialModel dial;
    dial.configure();
    dial.setValue(0, 10);
    EXPECT_EQ(dial.buttonDown(0, 50, true), DialModel::Capture::keep);
    EXPECT_EQ(dial.getValue(0), 50);
    EXPECT_FALSE(dial.rings[0].isDragged());

    dial.setValue(1, 80);
    EXPECT_EQ(dial.buttonDown(1, 40, true), DialModel::Capture::take);
    EXPECT_EQ(dial.getValue(1), 50);
    EXPECT_EQ(dial.rings[1].dragAnchor, 70);

    // The left button joins the right drag: one anchor, values move together.
    EXPECT_EQ(dial.buttonDown(0, 10, false), DialModel::Capture::keep);
    EXPECT_EQ(dial.rings[0].dragAnchor, 70);
    dial.mouseMove(20, false);
    EXPECT_EQ(dial.getValue(0), 60);
    EXPECT_EQ(dial.getValue(1), 60);
    EXPECT_EQ(dial.buttonUp(0), DialModel::Capture::keep);  // the right drag goes on
    dial.mouseMove(30, false);
    EXPECT_EQ(dial.getValue(0), 60);
    EXPECT_EQ(dial.getValue(1), 55);
    EXPECT_EQ(dial.buttonUp(1), DialModel::Capture::release);
}

TEST(ScopeModelTest, PlotsPointsBarsAndClampedEdges)
{
    std::vector<uint32_t> face(142 * 142, 0xFF101010u);
    ScopeModel scope;
    scope.setFace(face.data(), 142, 142, 126);
    scope.setBounds();
    EXPECT_EQ(scope.left, 8);
    EXPECT_EQ(scope.right, 133);
    EXPECT_EQ(scope.top, 8);
    EXPECT_EQ(scope.bottom, 133);
    auto at = [&](int32_t x, int32_t y) { return scope.workPixels[y * 142 + x]; };

    scope.plot(0.0f, 0.0f, 1);
    scope.plot(-1.0f, -1.0f, 2);
    scope.plot(0.99f, 0.0f, 3);
    scope.plot(1.5f, 0.5f, 4);
    scope.plot(-5.0f, -0.5f, 5);
    scope.plot(std::nanf(""), 0.2f, 6);  // skipped
    EXPECT_EQ(at(71, 71), 1u);
    EXPECT_EQ(at(8, 8), 2u);
    EXPECT_EQ(at(133, 71), 3u);
    EXPECT_EQ(at(133, 102), 4u);
    EXPECT_EQ(at(8, 39), 5u);
    int32_t touched = 0;
    for (uint32_t p : scope.workPixels) touched += p != 0xFF101010u;
    EXPECT_EQ(touched, 5);

    scope.plot(0.0f, 1.0f, 7);  // py = 134: the bottom bar, not a point
    for (int32_t x = 8; x <= 133; ++x) {
        EXPECT_EQ(at(x, 133), ScopeModel::kOverloadOuter);
        EXPECT_EQ(at(x, 132), ScopeModel::kOverloadInner);
    }
    scope.plot(0.3f, -std::numeric_limits<float>::infinity(), 8);
    for (int32_t x = 8; x <= 133; ++x) {
        EXPECT_EQ(at(x, 8), ScopeModel::kOverloadOuter);
        EXPECT_EQ(at(x, 9), ScopeModel::kOverloadInner);
    }
    EXPECT_EQ(at(7, 133), 0xFF101010u);

    ScopeModel empty;  // no face: plotting does nothing
    empty.plot(0.0f, 0.0f, 1);
    empty.fade();
}

TEST(ScopeModelTest, FadeMovesASixteenthTowardTheFace)
{
    EXPECT_EQ(fadePixel(0x00FFFFFFu, 0x00000000u) & 0xFFFFFFu, 0xEFEFEFu);  // 255 over 0 gives 239
    EXPECT_EQ(fadePixel(0x00000000u, 0x00FFFFFFu) & 0xFFFFFFu, 0x0F0F0Fu);
    // Below the face it rises only while the gap is 16 or more.
    EXPECT_EQ(fadePixel(0x005A5A5Au, 0x00646464u) & 0xFFFFFFu, 0x005A5A5Au);
    // Against the plain per-byte rule, for random pairs.
    std::mt19937 random(7);
    for (int32_t n = 0; n < 200000; ++n) {
        const uint32_t old = random(), face = random();
        const uint32_t got = fadePixel(old, face);
        for (int32_t shift : {0, 8, 16}) {
            const int32_t o = (old >> shift) & 0xFF, f = (face >> shift) & 0xFF;
            const int32_t expected = o + static_cast<int32_t>(std::floor((f - o) / 16.0));
            ASSERT_EQ(static_cast<int32_t>((got >> shift) & 0xFF), expected) << std::hex << old << " " << face;
        }
    }
    // Above the face a channel always reaches it.
    uint32_t p = 0x00FFFFFFu;
    for (int32_t i = 0; i < 200; ++i) p = fadePixel(p, 0x00202020u);
    EXPECT_EQ(p & 0xFFFFFFu, 0x202020u);
}

TEST(ScopeModelTest, FadeCoversThePlotSquareRasterRange)
{
    std::vector<uint32_t> face(142 * 142, 0u);
    ScopeModel scope;
    scope.setFace(face.data(), 142, 142, 126);
    scope.setBounds();
    EXPECT_EQ(scope.fadeStart(), 1144);
    EXPECT_EQ(scope.fadeEnd(), 19162);
    std::fill(scope.workPixels.begin(), scope.workPixels.end(), 0xFFFFFFu);
    scope.fade();
    EXPECT_EQ(scope.workPixels[1143], 0xFFFFFFu);
    EXPECT_EQ(scope.workPixels[1144] & 0xFFFFFF, 0xEFEFEFu);
    EXPECT_EQ(scope.workPixels[19161] & 0xFFFFFF, 0xEFEFEFu);
    EXPECT_EQ(scope.workPixels[19162], 0xFFFFFFu);

    scope.persistence = ScopeModel::kEraseEachRefresh;
    scope.fade();
    EXPECT_EQ(scope.workPixels, face);
}
