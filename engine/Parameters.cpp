#include "engine/Parameters.h"

const FactoryProgram kFactoryPrograms[kNumPrograms] = {
    {"Default", {0.0f, 0.5f, 0.5f, 0.0f, 0.0f, 0.0f, 0.0f}},
    {"Smooth", {0.0f, 0.75f, 0.55f, 2.0f, 2.0f, 2.0f, 0.0f}},
    {"Moderate", {1.0f, 0.8f, 0.45f, 0.0f, 2.0f, 1.0f, 0.0f}},
    {"Maximum Overdrive", {1.0f, 1.0f, 0.5f, 0.0f, 0.0f, 0.0f, 0.0f}},
    {"Default", {0.0f, 0.5f, 0.5f, 0.0f, 0.0f, 0.0f, 0.0f}},
    {"Default", {0.0f, 0.5f, 0.5f, 0.0f, 0.0f, 0.0f, 0.0f}},
    {"Default", {0.0f, 0.5f, 0.5f, 0.0f, 0.0f, 0.0f, 0.0f}},
    {"Default", {0.0f, 0.5f, 0.5f, 0.0f, 0.0f, 0.0f, 0.0f}},
};

int32_t tableIndex(float value) noexcept
{
    const float scaled = value * 3.0f;
    if (!(scaled >= 1.0f)) return 0;
    return scaled >= 2.0f ? 2 : 1;
}

float gainDecibels(float value) noexcept { return value * kDecibelSpan + kGainFloorDecibels; }
float levelDecibels(float value) noexcept { return value * kDecibelSpan + kLevelFloorDecibels; }
