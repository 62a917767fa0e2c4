#include "plugin/Parameters.h"

#include "plugin/Lock.h"

#include <cstdio>
#include <cstring>

const char* const kTriodeNames[3] = {"12AX7", "12AT7", "12AU7"};

namespace {

struct ParameterText {
    const char* name;
    const char* label;
};

constexpr ParameterText kParameterTexts[kNumParams] = {
    {"Oversmpl", "x"}, {"Gain", "dB"},  {"Level", "dB"},   {"Triode", ""},
    {"Voltage", "V"},  {"Cap", "uF"},   {"Normaliz", ""},
};

constexpr ProgramRecord kFactoryBank[kNumPrograms] = {
    {"Default", {0.0f, 0.5f, 0.5f, 0.0f, 0.0f, 0.0f, 0.0f}},
    {"Smooth", {0.0f, 0.75f, 0.55f, 2.0f, 2.0f, 2.0f, 0.0f}},
    {"Moderate", {1.0f, 0.8f, 0.45f, 0.0f, 2.0f, 1.0f, 0.0f}},
    {"Maximum Overdrive", {1.0f, 1.0f, 0.5f, 0.0f, 0.0f, 0.0f, 0.0f}},
    {"Default", {0.0f, 0.5f, 0.5f, 0.0f, 0.0f, 0.0f, 0.0f}},
    {"Default", {0.0f, 0.5f, 0.5f, 0.0f, 0.0f, 0.0f, 0.0f}},
    {"Default", {0.0f, 0.5f, 0.5f, 0.0f, 0.0f, 0.0f, 0.0f}},
    {"Default", {0.0f, 0.5f, 0.5f, 0.0f, 0.0f, 0.0f, 0.0f}},
};

bool inRange(int32_t index) noexcept
{
    return static_cast<uint32_t>(index) < static_cast<uint32_t>(kNumParams);
}

Lock& bankLock() noexcept
{
    static Lock lock;
    return lock;
}

}  // namespace

ProgramRecord programBank[kNumPrograms] = {
    kFactoryBank[0], kFactoryBank[1], kFactoryBank[2], kFactoryBank[3],
    kFactoryBank[4], kFactoryBank[5], kFactoryBank[6], kFactoryBank[7],
};

int32_t tableIndex(float value) noexcept
{
    const float scaled = value * 3.0f;
    if (!(scaled >= 1.0f)) return 0;
    return scaled >= 2.0f ? 2 : 1;
}

float gainDecibels(float value) noexcept { return value * 48.0f - 12.0f; }
float levelDecibels(float value) noexcept { return value * 48.0f - 24.0f; }

const char* parameterName(int32_t index) noexcept
{
    return inRange(index) ? kParameterTexts[index].name : "Unknown";
}

const char* parameterLabel(int32_t index) noexcept
{
    return inRange(index) ? kParameterTexts[index].label : nullptr;
}

void formatParameterDisplay(int32_t index, float value, int32_t oversampling, char* text) noexcept
{
    // snprintf cuts a text that would not fit (a far out-of-range Gain, say)
    // at seven characters; the buffer is never overrun.
    switch (index) {
    case kParamOversample:
        std::snprintf(text, kDisplayBufferSize, "%d", oversampling);
        break;
    case kParamGain:
        std::snprintf(text, kDisplayBufferSize, "%.2f", static_cast<double>(gainDecibels(value)));
        break;
    case kParamLevel:
        std::snprintf(text, kDisplayBufferSize, "%.2f", static_cast<double>(levelDecibels(value)));
        break;
    case kParamTriode:
        std::snprintf(text, kDisplayBufferSize, "%s", kTriodeNames[tableIndex(value)]);
        break;
    case kParamVoltage:
        std::snprintf(text, kDisplayBufferSize, "%d", static_cast<int>(kSupplyVoltages[tableIndex(value)]));
        break;
    case kParamCap:
        std::snprintf(text, kDisplayBufferSize, "%.2f", kCathodeCaps[tableIndex(value)] * 1000000.0);
        break;
    case kParamNormalize:
        std::snprintf(text, kDisplayBufferSize, "%s", switchIsOn(value) ? "Yes" : "No");
        break;
    default:
        break;
    }
}

void copyText(char* text, const char* source, size_t limit) noexcept
{
    std::strncpy(text, source, limit);
    text[limit] = '\0';
}

void lockProgramBank() noexcept { bankLock().enter(); }
void unlockProgramBank() noexcept { bankLock().leave(); }

void resetProgramBank() noexcept
{
    lockProgramBank();
    std::memcpy(programBank, kFactoryBank, sizeof(programBank));
    unlockProgramBank();
}
