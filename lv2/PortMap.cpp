#include "lv2/PortMap.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <system_error>

namespace {

// The engine's capacitors in the unit users read.
constexpr float microfarads(int32_t entry) { return static_cast<float>(kCathodeCaps[entry] * 1e6); }
static_assert(microfarads(0) == 0.47f && microfarads(1) == 1.0f && microfarads(2) == 22.0f);

constexpr float kVolts[kSupplyCount] = {static_cast<float>(kSupplyVoltages[0]), static_cast<float>(kSupplyVoltages[1]),
                                        static_cast<float>(kSupplyVoltages[2])};

}  // namespace

const ControlPort kControlPorts[kNumParams] = {
    {"oversample", "Oversampling", ControlKind::Toggle, 0.0f, 1.0f, 0.0f, 0.0f, {0.0f, 1.0f, 1.0f},
     {"1x", "16x", nullptr}},
    {"gain", "Gain", ControlKind::Decibels, kGainFloorDecibels, kGainFloorDecibels + kDecibelSpan, 12.0f,
     -kGainFloorDecibels, {}, {}},
    {"level", "Level", ControlKind::Decibels, kLevelFloorDecibels, kLevelFloorDecibels + kDecibelSpan, 0.0f,
     -kLevelFloorDecibels, {}, {}},
    {"triode", "Triode", ControlKind::Choice, 0.0f, 2.0f, 0.0f, 0.0f, {0.0f, 1.0f, 2.0f},
     {kTriodeNames[0], kTriodeNames[1], kTriodeNames[2]}},
    {"voltage", "Voltage", ControlKind::Choice, kVolts[0], kVolts[2], kVolts[0], 0.0f, {kVolts[0], kVolts[1], kVolts[2]},
     {"150 V", "250 V", "350 V"}},
    {"cap", "Cathode capacitor", ControlKind::Choice, microfarads(0), microfarads(2), microfarads(0), 0.0f,
     {microfarads(0), microfarads(1), microfarads(2)},
     {"0.47 \xC2\xB5" "F", "1 \xC2\xB5" "F", "22 \xC2\xB5" "F"}},
    {"normalize", "Normalize", ControlKind::Toggle, 0.0f, 1.0f, 0.0f, 0.0f, {0.0f, 1.0f, 1.0f}, {"Off", "On", nullptr}},
};

namespace {

float clampToPort(const ControlPort& port, float value) noexcept
{
    if (std::isnan(value)) return port.defaultValue;
    return value < port.minimum ? port.minimum : (value > port.maximum ? port.maximum : value);
}

// (dB + offset) / 48, taking dB as the shortest decimal that reads back as
// the given float: the number the user typed. "26.4" is stored as the float
// 26.39999962, and (26.39999962 + 12) / 48 rounds to a float one step below
// the 0.8f that the VST 2.4 build receives for the same setting; computed
// from 264e-1 it is 0.8f exactly. The decimal is turned into a ratio of two
// integers that a double holds exactly, so that only the final division
// rounds. Never allocates.
float decibelsToNormalized(float decibels, int64_t offset) noexcept
{
    const double approximate = (static_cast<double>(decibels) + static_cast<double>(offset)) / kDecibelSpan;
    char text[32];
    const auto [end, error] = std::to_chars(text, text + sizeof(text), decibels, std::chars_format::scientific);
    if (error != std::errc()) return static_cast<float>(approximate);

    // "-d.ddddddddde+XX": at most nine digits for a float.
    const char* p = text;
    const bool negative = *p == '-';
    if (negative) ++p;
    int64_t mantissa = 0;
    int32_t digits = 0;
    for (; p < end && *p != 'e'; ++p) {
        if (*p == '.') continue;
        mantissa = mantissa * 10 + (*p - '0');
        ++digits;
    }
    if (p == end) return static_cast<float>(approximate);
    ++p;
    const bool negativeExponent = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    int32_t exponent = 0;
    for (; p < end; ++p) exponent = exponent * 10 + (*p - '0');
    if (negativeExponent) exponent = -exponent;
    if (negative) mantissa = -mantissa;

    // value = mantissa * 10^scale
    int32_t scale = exponent - (digits - 1);
    // |dB| <= 36 here, so a positive scale is at most 1; a scale below -14
    // means |dB| < 1e-5, where the plain formula is exact to the float.
    if (scale > 1 || scale < -14) return static_cast<float>(approximate);
    int64_t power = 1;
    for (int32_t i = 0; i < (scale < 0 ? -scale : scale); ++i) power *= 10;
    double numerator;
    double denominator;
    if (scale >= 0) {
        numerator = static_cast<double>(mantissa * power + offset);
        denominator = kDecibelSpan;
    } else {
        numerator = static_cast<double>(mantissa + offset * power);  // below 2^53: exact
        denominator = static_cast<double>(static_cast<int64_t>(kDecibelSpan) * power);
    }
    return static_cast<float>(numerator / denominator);
}

}  // namespace

int32_t choiceIndex(int32_t param, float portValue) noexcept
{
    if (!isParameterIndex(param)) return 0;
    const ControlPort& port = kControlPorts[param];
    const float value = clampToPort(port, portValue);
    // Nearest entry; halfway between two goes up, as rounding does.
    int32_t best = 0;
    for (int32_t i = 1; i < kChoiceCount; ++i)
        if (std::fabs(value - port.entries[i]) <= std::fabs(value - port.entries[best])) best = i;
    return best;
}

float normalizedFromPort(int32_t param, float portValue) noexcept
{
    if (!isParameterIndex(param)) return 0.0f;
    const ControlPort& port = kControlPorts[param];
    switch (port.kind) {
    case ControlKind::Toggle:
        // LV2's rule for toggles: above zero is on.
        return clampToPort(port, portValue) > 0.0f ? 1.0f : 0.0f;
    case ControlKind::Decibels:
        return decibelsToNormalized(clampToPort(port, portValue), static_cast<int64_t>(port.dbOffset));
    case ControlKind::Choice:
        return static_cast<float>(choiceIndex(param, portValue)) * 0.5f;
    }
    return 0.0f;
}

float portFromNormalized(int32_t param, float normalized) noexcept
{
    if (!isParameterIndex(param)) return 0.0f;
    const ControlPort& port = kControlPorts[param];
    switch (port.kind) {
    case ControlKind::Toggle:
        return switchIsOn(normalized) ? 1.0f : 0.0f;
    case ControlKind::Choice:
        return port.entries[tableIndex(normalized)];
    case ControlKind::Decibels: {
        if (std::isnan(normalized)) return port.defaultValue;
        const float n = normalized < 0.0f ? 0.0f : (normalized > 1.0f ? 1.0f : normalized);
        const double exact = static_cast<double>(n) * kDecibelSpan - static_cast<double>(port.dbOffset);
        // The fewest decimals that still mean n: 0.55f is 2.4 dB, not 2.4000006.
        double scale = 1.0;
        for (int32_t decimals = 0; decimals <= 6; ++decimals, scale *= 10.0) {
            const float rounded = clampToPort(port, static_cast<float>(std::round(exact * scale) / scale));
            if (normalizedFromPort(param, rounded) == n) return rounded;
        }
        // Otherwise the nearest float in dB, or one of its close neighbours:
        // the nearest need not map back to n.
        const float guess = clampToPort(port, static_cast<float>(exact));
        if (normalizedFromPort(param, guess) == n) return guess;
        float below = guess;
        float above = guess;
        for (int32_t step = 0; step < 4; ++step) {
            below = std::nextafter(below, port.minimum);
            above = std::nextafter(above, port.maximum);
            if (normalizedFromPort(param, below) == n) return below;
            if (normalizedFromPort(param, above) == n) return above;
        }
        return guess;
    }
    }
    return 0.0f;
}
