// How the editor's controls follow the parameters and the parameters the
// controls, decided without windows.
#include "gui/controls/ButtonModel.h"
#include "gui/editor/EditorWiring.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace wiring;

TEST(EditorWiring, DialTruncatesAtOpenAndRoundsOnRefresh)
{
    EXPECT_EQ(ringValueAtOpen(0.507f), 50);
    EXPECT_EQ(ringValueRounded(0.507f), 51);
    EXPECT_EQ(ringValueRounded(0.125f), 12);  // 12.5: ties to even
    EXPECT_EQ(ringValueRounded(0.375f), 38);  // 37.5: ties to even
    for (float wild : {-0.3f, std::nanf(""), -std::numeric_limits<float>::infinity()}) {
        EXPECT_EQ(ringValueAtOpen(wild), 0);
        EXPECT_EQ(ringValueRounded(wild), 0);
    }
    EXPECT_EQ(ringValueAtOpen(2.0f), 100);
    EXPECT_EQ(ringValueRounded(std::numeric_limits<float>::infinity()), 100);
}

TEST(EditorWiring, ADraggedRingPushesAndDoesNotCreep)
{
    // The ring moved to 57 since it was painted: push 0.57.
    RingStep step = refreshRing(57, 50, 0.5f);
    EXPECT_TRUE(step.push);
    EXPECT_EQ(step.pushedValue, 57 * 0.01f);
    // After the repaint the pass pulls the value back: still 57, for every value.
    for (int32_t v = 0; v <= 100; ++v) {
        step = refreshRing(v, v, ringParameter(v));
        EXPECT_FALSE(step.push);
        EXPECT_EQ(step.pulledValue, v) << v;
    }
}

TEST(EditorWiring, RadioGroupsAndSwitchesFollowTheParameters)
{
    const std::pair<float, int32_t> radio[] = {{0.0f, 0}, {0.3f, 0}, {0.34f, 1}, {0.5f, 1},
                                               {0.67f, 2}, {1.0f, 2}, {2.0f, 2}, {-1.0f, 0}};
    for (auto [p, index] : radio)
        for (int32_t g = 0; g < kGroups; ++g) EXPECT_EQ(radioIndex(g, p), index) << p;
    EXPECT_EQ(switchValue(0.49f), 0);
    EXPECT_EQ(switchValue(0.5f), 1);
    EXPECT_EQ(switchValue(std::nanf("")), 0);

    EXPECT_EQ(switchUpdate(button::kOff, 0.5f), 1);
    EXPECT_EQ(switchUpdate(button::kOn, 0.5f), std::nullopt);
    EXPECT_EQ(switchUpdate(button::kOn, 0.49f), 0);
    EXPECT_EQ(switchUpdate(button::kOff, 0.0f), std::nullopt);
    // A held button is not "on": following an on value repaints it as on.
    EXPECT_EQ(switchUpdate(button::kOnHeld, 1.0f), 1);
    EXPECT_EQ(switchUpdate(button::kOnHeld, 0.0f), std::nullopt);
}

TEST(EditorWiring, EachButtonDrivesItsParameter)
{
    const ButtonAction middleVoltage = buttonAction(5, button::kOnHeld);
    EXPECT_EQ(middleVoltage.group, kVoltageGroup);
    EXPECT_EQ(middleVoltage.groupIndex, 1);
    EXPECT_EQ(middleVoltage.parameter, kParamVoltage);
    EXPECT_EQ(middleVoltage.value, 0.5f);
    // Pressing the radio button that is on sends its value again.
    const ButtonAction againRight = buttonAction(9, button::kOffHeld);
    EXPECT_EQ(againRight.group, kCapGroup);
    EXPECT_EQ(againRight.value, 1.0f);
    EXPECT_EQ(buttonAction(1, button::kOnHeld).parameter, kParamTriode);
    EXPECT_EQ(buttonAction(1, button::kOnHeld).value, 0.0f);

    EXPECT_EQ(buttonAction(kOversampleId, button::kOffHeld).value, 0.0f);
    EXPECT_EQ(buttonAction(kOversampleId, button::kOnHeld).value, 1.0f);
    EXPECT_EQ(buttonAction(kNormalizeId, button::kOnHeld).parameter, kParamNormalize);
    for (int32_t id : {0, kLeftTraceId, kRightTraceId, 14, -1}) {
        EXPECT_EQ(buttonAction(id, button::kOnHeld).parameter, -1) << id;
        EXPECT_EQ(buttonAction(id, button::kOnHeld).group, -1) << id;
    }
}

TEST(EditorWiring, AboutHotSpotExcludesItsRightAndBottomEdges)
{
    EXPECT_TRUE(inAboutHotSpot(256, 46));
    EXPECT_TRUE(inAboutHotSpot(400, 75));
    EXPECT_FALSE(inAboutHotSpot(401, 46));
    EXPECT_FALSE(inAboutHotSpot(256, 76));
    EXPECT_FALSE(inAboutHotSpot(255, 60));
    EXPECT_FALSE(inAboutHotSpot(300, 45));
}
