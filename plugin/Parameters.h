// The seven automatable parameters, their names, labels and display texts,
// and the bank of eight programs shared by every instance in the process.
#pragma once

#include <cstddef>
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

constexpr int32_t kNumPrograms = 8;

// Text limits of the host interface, in characters; a terminator follows.
constexpr size_t kParamTextLength = 8;    // names and labels
constexpr size_t kDisplayBufferSize = 8;  // display texts: 7 characters and the terminator
constexpr size_t kProgramNameLength = 24;
constexpr size_t kEffectNameLength = 32;
constexpr size_t kVendorTextLength = 64;

extern const char* const kTriodeNames[3];
constexpr double kSupplyVoltages[3] = {150.0, 250.0, 350.0};  // volts
constexpr double kCathodeCaps[3] = {4.7e-7, 1e-6, 2.2e-5};    // farads

// Which of three table entries a normalized value selects: trunc(v * 3) in
// single precision, capped at 2. Values below 1/3 -- negative ones and NaN
// included -- select entry 0, so a wild value can never index outside.
int32_t tableIndex(float value) noexcept;

// Input gain in dB for a normalized Gain value: -12 to +36 dB over 0 to 1.
float gainDecibels(float value) noexcept;
// Output level in dB for a normalized Level value: -24 to +24 dB over 0 to 1.
float levelDecibels(float value) noexcept;
// Oversampling switch and normalisation switch: on from 0.5.
inline bool switchIsOn(float value) noexcept { return value >= 0.5f; }

const char* parameterName(int32_t index) noexcept;   // "Unknown" when out of range
const char* parameterLabel(int32_t index) noexcept;  // nullptr when out of range

// Formats the host's display text of parameter `index` (0..6) into an
// 8-byte buffer. `oversampling` is the factor in force, shown for index 0.
void formatParameterDisplay(int32_t index, float value, int32_t oversampling, char* text) noexcept;

// Copies at most `limit` characters of `source`, zero-fills the rest of the
// `limit` bytes and writes a terminator at text[limit].
void copyText(char* text, const char* source, size_t limit) noexcept;

struct ProgramRecord {
    char name[kProgramNameLength];  // zero-filled; 24 characters fill it without a terminator
    float values[kNumParams];
};
static_assert(sizeof(ProgramRecord) == 52);

// The factory bank, loaded with the library. Edits made through one instance
// are seen by every other instance in the process; nothing is written to disk.
extern ProgramRecord programBank[kNumPrograms];

// Serialises program switches and renames of instances on different threads.
void lockProgramBank() noexcept;
void unlockProgramBank() noexcept;

// Restores the factory contents (for tests that need a clean bank).
void resetProgramBank() noexcept;
