// The effect's seven parameters as every host format sees them: normalized
// values 0 to 1, how each maps to a physical setting, and the factory
// programs. Format rules (VST 2.4's 8-character texts, LV2 port ranges)
// live in the format adapters.
#pragma once

#include "dsp/TriodeCircuit.h"

#include <cstdint>

enum ParamIndex : int32_t {
    kParamOversample = 0,
    kParamGain = 1,
    kParamLevel = 2,
    kParamTriode = 3,
    kParamVoltage = 4,
    kParamCap = 5,
    kParamNormalize = 6,
    kNumParams = 7
};

// Whether `index` names one of the seven; any other index, negative ones
// included, is refused by every entry point that takes one.
inline bool isParameterIndex(int32_t index) noexcept
{
    return static_cast<uint32_t>(index) < static_cast<uint32_t>(kNumParams);
}

inline constexpr const char* kTriodeNames[kTriodeCount] = {"12AX7", "12AT7", "12AU7"};

// How many entries a parameter offers: a choice as many as its table has
// (tubes, supplies, capacitors), a switch two, Gain and Level none.
constexpr int32_t entryCount(int32_t param) noexcept
{
    switch (param) {
    case kParamTriode: return kTriodeCount;
    case kParamVoltage: return kSupplyCount;
    case kParamCap: return kCapCount;
    case kParamOversample:
    case kParamNormalize: return 2;
    default: return 0;
    }
}

// Which of `entries` entries a normalized value selects: trunc(v * entries)
// in single precision, capped at the last. Values below 1/entries --
// negative ones and NaN included -- select entry 0, so a wild value can
// never index outside.
int32_t entryIndex(float value, int32_t entries) noexcept;
// The entry of choice `param` (Triode, Voltage, Cap) a value selects.
inline int32_t choiceEntry(int32_t param, float value) noexcept { return entryIndex(value, entryCount(param)); }
// The normalized value that stands for entry `entry` of `entries`, spread
// evenly from 0 to 1: 0, 0.5 and 1 for three.
inline float entryValue(int32_t entry, int32_t entries) noexcept
{
    return static_cast<float>(entry) / static_cast<float>(entries - 1);
}

// Gain and Level span 48 dB over the normalized range, from their floors.
constexpr float kDecibelSpan = 48.0f;
constexpr float kGainFloorDecibels = -12.0f;
constexpr float kLevelFloorDecibels = -24.0f;
// Input gain in dB for a normalized Gain value: -12 to +36 dB over 0 to 1.
float gainDecibels(float value) noexcept;
// Output level in dB for a normalized Level value: -24 to +24 dB over 0 to 1.
float levelDecibels(float value) noexcept;
// Oversampling switch and normalisation switch: on from 0.5.
inline bool switchIsOn(float value) noexcept { return value >= 0.5f; }

constexpr int32_t kOversampledLatency = 8;  // samples, at 16x
// The latency a stored Oversmpl value stands for, in samples.
inline int32_t latencyFor(float oversample) noexcept { return switchIsOn(oversample) ? kOversampledLatency : 0; }

constexpr int32_t kNumPrograms = 8;

struct FactoryProgram {
    const char* name;
    float values[kNumParams];
};

// Default, Smooth, Moderate, Maximum Overdrive, and four more Defaults. The
// 2.0 values select the last table entry.
inline constexpr FactoryProgram kFactoryPrograms[kNumPrograms] = {
    {"Default", {0.0f, 0.5f, 0.5f, 0.0f, 0.0f, 0.0f, 0.0f}},
    {"Smooth", {0.0f, 0.75f, 0.55f, 2.0f, 2.0f, 2.0f, 0.0f}},
    {"Moderate", {1.0f, 0.8f, 0.45f, 0.0f, 2.0f, 1.0f, 0.0f}},
    {"Maximum Overdrive", {1.0f, 1.0f, 0.5f, 0.0f, 0.0f, 0.0f, 0.0f}},
    {"Default", {0.0f, 0.5f, 0.5f, 0.0f, 0.0f, 0.0f, 0.0f}},
    {"Default", {0.0f, 0.5f, 0.5f, 0.0f, 0.0f, 0.0f, 0.0f}},
    {"Default", {0.0f, 0.5f, 0.5f, 0.0f, 0.0f, 0.0f, 0.0f}},
    {"Default", {0.0f, 0.5f, 0.5f, 0.0f, 0.0f, 0.0f, 0.0f}},
};
