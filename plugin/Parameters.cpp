#include "plugin/Parameters.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

const char* parameterName(int32_t index) noexcept
{
    return isParameterIndex(index) ? kParameterInfo[index].shortName : "Unknown";
}

const char* parameterLabel(int32_t index) noexcept
{
    return isParameterIndex(index) ? kParameterInfo[index].unit : nullptr;
}

void formatParameterDisplay(int32_t index, float value, int32_t oversampling, char* text) noexcept
{
    // Oversmpl shows the factor in force, which lags a write until the next
    // block takes it; every other text follows the value.
    if (index == kParamOversample) {
        std::snprintf(text, kDisplayBufferSize, "%d", oversampling);
        return;
    }
    if (isParameterIndex(index)) formatParameterValue(index, value, text, kDisplayBufferSize);
}

void copyText(char* text, const char* source, size_t limit) noexcept
{
    std::strncpy(text, source, limit);
    text[limit] = '\0';
}
