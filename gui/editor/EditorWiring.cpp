#include "gui/editor/EditorWiring.h"

#include "gui/controls/ButtonModel.h"

#include <cmath>

namespace wiring {

namespace {

constexpr int32_t kRingMax = 100;

// p x 100 in single precision, or nothing for a value that is not a number.
int32_t clampRing(float scaled) noexcept
{
    if (!(scaled > 0.0f)) return 0;
    if (scaled >= static_cast<float>(kRingMax)) return kRingMax;
    return static_cast<int32_t>(scaled);
}

}  // namespace

bool inAboutHotSpot(int32_t x, int32_t y) noexcept
{
    return x >= panel::kAboutLeft && x < panel::kAboutRight && y >= panel::kAboutTop && y < panel::kAboutBottom;
}

int32_t ringValueAtOpen(float parameter) noexcept { return clampRing(parameter * 100.0f); }

int32_t ringValueRounded(float parameter) noexcept
{
    // nearbyint rounds ties to even in the default rounding mode.
    return clampRing(std::nearbyint(parameter * 100.0f));
}

int32_t radioIndex(int32_t group, float parameter) noexcept
{
    return choiceEntry(kGroupParameter[group], parameter);
}

int32_t switchValue(float parameter) noexcept { return parameter * 2.0f >= 1.0f ? 1 : 0; }

float ringParameter(int32_t ringValue) noexcept { return static_cast<float>(ringValue) * 0.01f; }

float radioParameter(int32_t group, int32_t index) noexcept
{
    return entryValue(index, entryCount(kGroupParameter[group]));
}

RingStep refreshRing(int32_t value, int32_t paintedValue, float parameter) noexcept
{
    if (value == paintedValue) return {false, ringValueRounded(parameter), 0.0f};
    return {true, value, ringParameter(value)};
}

std::optional<int32_t> switchUpdate(int32_t state, float parameter) noexcept
{
    const int32_t v = switchValue(parameter);
    if ((v == 1 && state != button::kOn) || (v == 0 && state == button::kOn)) return v;
    return std::nullopt;
}

ButtonAction buttonAction(int32_t controlId, int32_t newState) noexcept
{
    ButtonAction action;
    if (controlId >= kFirstRadioId && controlId < kFirstRadioId + panel::kGroupSize * kGroups) {
        action.group = (controlId - kFirstRadioId) / panel::kGroupSize;
        action.groupIndex = (controlId - kFirstRadioId) % panel::kGroupSize;
        action.parameter = kGroupParameter[action.group];
        action.value = radioParameter(action.group, action.groupIndex);
    } else if (controlId == kOversampleId || controlId == kNormalizeId) {
        action.parameter = controlId == kOversampleId ? kParamOversample : kParamNormalize;
        action.value = button::valueOf(newState) ? 1.0f : 0.0f;
    }
    return action;
}

}  // namespace wiring
