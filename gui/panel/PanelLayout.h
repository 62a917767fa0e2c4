// Where everything sits on the editor's 665 x 178 panel, for every
// platform: the skin pictures by id, the dial, the scope, the thirteen LED
// buttons in control-id order, and the logo's hot spot. Positions are
// top-left corners in panel pixels; each control's size comes from its
// picture (an LED button's height is a quarter of its strip's).
#pragma once

#include <cstdint>

namespace panel {

constexpr int32_t kWidth = 665;
constexpr int32_t kHeight = 178;

// The skin pictures, by the ids they carry among the Windows library's
// resources (the Linux library embeds the same files under the same ids).
constexpr int kDialUnlitSkin = 124;
constexpr int kDialInnerLitSkin = 125;
constexpr int kDialOuterLitSkin = 126;
constexpr int kRadioSkin = 134;
constexpr int kScopeFaceSkin = 137;
constexpr int kSwitchSkin = 138;
constexpr int kLeftTraceSkin = 140;
constexpr int kRightTraceSkin = 141;
constexpr int kPanelSkin = 144;
constexpr int kAboutSkin = 146;
constexpr int32_t kSkinCount = 10;
constexpr int kSkinIds[kSkinCount] = {kDialUnlitSkin, kDialInnerLitSkin, kDialOuterLitSkin, kRadioSkin,
                                      kScopeFaceSkin, kSwitchSkin,       kLeftTraceSkin,    kRightTraceSkin,
                                      kPanelSkin,     kAboutSkin};

struct Point {
    int32_t x, y;
};

// The two-ring dial (144 x 144): inner ring gain, outer ring level.
constexpr Point kDialAt = {15, 15};
// The XY scope (142 x 142) and the square its points are plotted into.
constexpr Point kScopeAt = {507, 18};
constexpr int32_t kScopePlotSize = 126;

// LED buttons. A button's control id is its index here plus one: the
// triode, voltage and cap radio groups left to right (ids 1 to 9), the
// oversample and normalize switches (10, 11), the left and right trace
// buttons (12, 13).
struct ButtonPlace {
    int32_t left, top;
    int skin;  // a strip of four frames: off, off held, on, on held
};
constexpr int32_t kButtonCount = 13;
constexpr int32_t kRadioTop = 122;
constexpr int32_t kSwitchTop = 4;
constexpr int32_t kTraceTop = 162;
constexpr ButtonPlace kButtons[kButtonCount] = {
    {177, kRadioTop, kRadioSkin},      {207, kRadioTop, kRadioSkin},       {237, kRadioTop, kRadioSkin},
    {287, kRadioTop, kRadioSkin},      {317, kRadioTop, kRadioSkin},       {347, kRadioTop, kRadioSkin},
    {397, kRadioTop, kRadioSkin},      {427, kRadioTop, kRadioSkin},       {457, kRadioTop, kRadioSkin},
    {200, kSwitchTop, kSwitchSkin},    {318, kSwitchTop, kSwitchSkin},
    {536, kTraceTop, kLeftTraceSkin},  {583, kTraceTop, kRightTraceSkin},
};
constexpr int32_t kGroupSize = 3;
constexpr int32_t kFirstRadioId = 1;
constexpr int32_t kOversampleId = 10;
constexpr int32_t kNormalizeId = 11;
constexpr int32_t kLeftTraceId = 12;
constexpr int32_t kRightTraceId = 13;

constexpr int32_t buttonIndex(int32_t controlId) noexcept { return controlId - 1; }
constexpr int32_t controlIdOf(int32_t button) noexcept { return button + 1; }
constexpr int32_t kOversampleButton = buttonIndex(kOversampleId);
constexpr int32_t kNormalizeButton = buttonIndex(kNormalizeId);
constexpr int32_t kLeftTraceButton = buttonIndex(kLeftTraceId);
constexpr int32_t kRightTraceButton = buttonIndex(kRightTraceId);
// The button at `index` (0..2) of radio group `group` (0..2).
constexpr int32_t radioButton(int32_t group, int32_t index) noexcept
{
    return buttonIndex(kFirstRadioId) + group * kGroupSize + index;
}

// The area whose click opens the about image (right and bottom edges excluded).
constexpr int32_t kAboutLeft = 256, kAboutTop = 46, kAboutRight = 401, kAboutBottom = 76;

}  // namespace panel
