#include "engine/Parameters.h"

int32_t entryIndex(float value, int32_t entries) noexcept
{
    const float scaled = value * static_cast<float>(entries);
    if (!(scaled >= 1.0f)) return 0;
    const int32_t last = entries - 1;
    return scaled >= static_cast<float>(last) ? last : static_cast<int32_t>(scaled);
}

float gainDecibels(float value) noexcept { return value * kDecibelSpan + kGainFloorDecibels; }
float levelDecibels(float value) noexcept { return value * kDecibelSpan + kLevelFloorDecibels; }
