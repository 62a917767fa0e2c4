#include "plugin/Parameters.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

struct ParameterText {
    const char* name;
    const char* label;
};

constexpr ParameterText kParameterTexts[kNumParams] = {
    {"Oversmpl", "x"}, {"Gain", "dB"},  {"Level", "dB"},   {"Triode", ""},
    {"Voltage", "V"},  {"Cap", "uF"},   {"Normaliz", ""},
};

}  // namespace

ProgramRecord factoryRecord(int32_t row) noexcept
{
    ProgramRecord record{};
    const char* name = kFactoryPrograms[row].name;
    std::memcpy(record.name, name, std::min(std::strlen(name), kProgramNameLength));
    std::copy(kFactoryPrograms[row].values, kFactoryPrograms[row].values + kNumParams, record.values);
    return record;
}

const char* parameterName(int32_t index) noexcept
{
    return isParameterIndex(index) ? kParameterTexts[index].name : "Unknown";
}

const char* parameterLabel(int32_t index) noexcept
{
    return isParameterIndex(index) ? kParameterTexts[index].label : nullptr;
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
