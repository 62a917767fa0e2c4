// How the editor's controls and the effect's parameters follow each other,
// without windows: the value mappings in both directions, the decisions of
// one refresh pass and the meaning of each LED button.
#pragma once

#include "engine/Parameters.h"
#include "gui/panel/PanelLayout.h"

#include <cstdint>
#include <optional>

namespace wiring {

// Button ids (the layout is in gui/panel/PanelLayout.h): the radio groups
// 1-3, 4-6, 7-9, the switches, the traces.
constexpr int32_t kFirstRadioId = panel::kFirstRadioId;
constexpr int32_t kOversampleId = panel::kOversampleId;
constexpr int32_t kNormalizeId = panel::kNormalizeId;
constexpr int32_t kLeftTraceId = panel::kLeftTraceId;
constexpr int32_t kRightTraceId = panel::kRightTraceId;

// The radio groups in left-to-right order and the parameter each drives.
enum Group : int32_t { kTriodeGroup = 0, kVoltageGroup = 1, kCapGroup = 2, kGroups = 3 };
constexpr int32_t kGroupParameter[kGroups] = {kParamTriode, kParamVoltage, kParamCap};
// The panel has a button for each entry of each group's parameter: a table
// that grows needs a new button in the layout and the skin.
static_assert(panel::kGroupSize == entryCount(kParamTriode) && panel::kGroupSize == entryCount(kParamVoltage) &&
                  panel::kGroupSize == entryCount(kParamCap),
              "a radio group's buttons are its parameter's entries");

// The area of the panel whose click opens the about image (right and
// bottom edges excluded).
bool inAboutHotSpot(int32_t x, int32_t y) noexcept;

// Trace colours, 0x00RRGGBB.
constexpr uint32_t kLeftTraceColour = 0x45A0FF;   // light blue
constexpr uint32_t kRightTraceColour = 0xFFFFFF;  // white

// --- Parameter to control ---
// A ring's value when the editor opens: p x 100 truncated, within 0..100.
int32_t ringValueAtOpen(float parameter) noexcept;
// A ring's value pulled by a refresh: p x 100 rounded to the nearest
// integer, ties to even, within 0..100. Rounding keeps a value the ring
// itself pushed (57 -> 0.57 -> 57) from creeping down.
int32_t ringValueRounded(float parameter) noexcept;
// A radio group's selected index: the entry its parameter's value selects,
// trunc(p x 3) within 0..2 for three.
int32_t radioIndex(int32_t group, float parameter) noexcept;
// A switch's value: on exactly when p >= 0.5.
int32_t switchValue(float parameter) noexcept;

// --- Control to parameter ---
// The normalized value a ring pushes.
float ringParameter(int32_t ringValue) noexcept;
// The value of button i of a radio group: its entry's value, 0.0, 0.5 or
// 1.0 for three.
float radioParameter(int32_t group, int32_t index) noexcept;

// What one refresh pass does with a dial ring: pull the parameter into an
// unchanged ring, or push a ring the user moved since it was last painted.
struct RingStep {
    bool push;
    int32_t pulledValue;   // when pulling
    float pushedValue;     // when pushing
};
RingStep refreshRing(int32_t value, int32_t paintedValue, float parameter) noexcept;

// Whether a switch in `state` must be set to follow the parameter.
std::optional<int32_t> switchUpdate(int32_t state, float parameter) noexcept;

// What an LED button notification changes.
struct ButtonAction {
    int32_t group = -1;       // radio group to select in, or -1
    int32_t groupIndex = 0;
    int32_t parameter = -1;   // parameter to set, or -1 for none
    float value = 0.0f;
};
ButtonAction buttonAction(int32_t controlId, int32_t newState) noexcept;

}  // namespace wiring
