#include "engine/Parameters.h"

int32_t tableIndex(float value) noexcept
{
    const float scaled = value * 3.0f;
    if (!(scaled >= 1.0f)) return 0;
    return scaled >= 2.0f ? 2 : 1;
}

float gainDecibels(float value) noexcept { return value * kDecibelSpan + kGainFloorDecibels; }
float levelDecibels(float value) noexcept { return value * kDecibelSpan + kLevelFloorDecibels; }
