#include "engine/ParameterInfo.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <system_error>

namespace {

// The engine's capacitors in the unit users read.
constexpr float microfarads(int32_t entry) { return static_cast<float>(kCathodeCaps[entry] * 1e6); }
static_assert(microfarads(0) == 0.47f && microfarads(1) == 1.0f && microfarads(2) == 22.0f);
constexpr float volts(int32_t entry) { return static_cast<float>(kSupplyVoltages[entry]); }

#define Z5R_MICRO "\xC2\xB5"

}  // namespace

const ParameterInfo kParameterInfo[kNumParams] = {
    {"oversample", "Oversampling", "Oversmpl", "x", ParamKind::Switch, entryCount(kParamOversample) - 1, kFactoryPrograms[0].values[kParamOversample],
     0.0f, 1.0f, 0.0f, 0.0f, {0.0f, 1.0f, 1.0f}, {"1x", "16x", nullptr}},
    {"gain", "Gain", "Gain", "dB", ParamKind::Continuous, 0, kFactoryPrograms[0].values[kParamGain],
     kGainFloorDecibels, kGainFloorDecibels + kDecibelSpan, 12.0f, -kGainFloorDecibels, {}, {}},
    {"level", "Level", "Level", "dB", ParamKind::Continuous, 0, kFactoryPrograms[0].values[kParamLevel],
     kLevelFloorDecibels, kLevelFloorDecibels + kDecibelSpan, 0.0f, -kLevelFloorDecibels, {}, {}},
    {"triode", "Triode", "Triode", "", ParamKind::Choice, entryCount(kParamTriode) - 1, kFactoryPrograms[0].values[kParamTriode], 0.0f, 2.0f,
     0.0f, 0.0f, {0.0f, 1.0f, 2.0f}, {kTriodeNames[0], kTriodeNames[1], kTriodeNames[2]}},
    {"voltage", "Voltage", "Voltage", "V", ParamKind::Choice, entryCount(kParamVoltage) - 1, kFactoryPrograms[0].values[kParamVoltage], volts(0),
     volts(2), volts(0), 0.0f, {volts(0), volts(1), volts(2)}, {"150 V", "250 V", "350 V"}},
    {"cap", "Cathode capacitor", "Cap", "uF", ParamKind::Choice, entryCount(kParamCap) - 1, kFactoryPrograms[0].values[kParamCap],
     microfarads(0), microfarads(2), microfarads(0), 0.0f, {microfarads(0), microfarads(1), microfarads(2)},
     {"0.47 " Z5R_MICRO "F", "1 " Z5R_MICRO "F", "22 " Z5R_MICRO "F"}},
    {"normalize", "Normalize", "Normaliz", "", ParamKind::Switch, entryCount(kParamNormalize) - 1, kFactoryPrograms[0].values[kParamNormalize], 0.0f,
     1.0f, 0.0f, 0.0f, {0.0f, 1.0f, 1.0f}, {"Off", "On", nullptr}},
};

namespace {

float clampToRange(const ParameterInfo& info, float value) noexcept
{
    if (std::isnan(value)) return info.defaultPhysical;
    return value < info.minimum ? info.minimum : (value > info.maximum ? info.maximum : value);
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

// --- Text ---

char lower(char c) noexcept { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Letters compared without case, spaces ignored, and the micro sign (UTF-8
// or Latin-1) read as "u": "1 µF", "1uF" and "1 UF" are one text.
bool sameWords(std::string_view a, std::string_view b) noexcept
{
    auto next = [](std::string_view s, size_t& i) -> int {
        while (i < s.size() && s[i] == ' ') ++i;
        if (i >= s.size()) return -1;
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == 0xC2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) == 0xB5) {
            i += 2;
            return 'u';
        }
        ++i;
        return c == 0xB5 ? 'u' : lower(static_cast<char>(c));
    };
    size_t i = 0;
    size_t j = 0;
    for (;;) {
        const int x = next(a, i);
        const int y = next(b, j);
        if (x != y) return false;
        if (x < 0) return true;
    }
}

std::string_view trimmed(std::string_view text) noexcept
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\n' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

// A finite decimal number at the start of `text`, an optional sign first;
// `rest` is what follows it.
bool leadingNumber(std::string_view text, float& number, std::string_view& rest) noexcept
{
    const char* begin = text.data();
    const char* end = begin + text.size();
    bool negative = false;
    if (begin < end && (*begin == '+' || *begin == '-')) {
        negative = *begin == '-';
        ++begin;
    }
    // Digits and one point only: from_chars would also take "nan", "inf"
    // and hexadecimal.
    const char* p = begin;
    bool digits = false;
    bool point = false;
    while (p < end && ((*p >= '0' && *p <= '9') || (*p == '.' && !point))) {
        if (*p == '.')
            point = true;
        else
            digits = true;
        ++p;
    }
    if (!digits) return false;
    float value = 0.0f;
    const auto [stop, error] = std::from_chars(begin, p, value, std::chars_format::fixed);
    if (error != std::errc() || stop != p || !std::isfinite(value)) return false;
    number = negative ? -value : value;
    rest = std::string_view(p, static_cast<size_t>(end - p));
    return true;
}

bool unitMatches(const ParameterInfo& info, std::string_view unit) noexcept
{
    if (trimmed(unit).empty()) return true;
    if (info.unit[0] != '\0' && sameWords(unit, info.unit)) return true;
    return false;
}

}  // namespace

int32_t choiceIndex(int32_t index, float physical) noexcept
{
    if (!isParameterIndex(index)) return 0;
    const ParameterInfo& info = kParameterInfo[index];
    const float value = clampToRange(info, physical);
    int32_t best = 0;
    for (int32_t i = 1; i <= info.stepCount; ++i)
        if (std::fabs(value - info.entries[i]) <= std::fabs(value - info.entries[best])) best = i;
    return best;
}

float normalizedFromPhysical(int32_t index, float physical) noexcept
{
    if (!isParameterIndex(index)) return 0.0f;
    const ParameterInfo& info = kParameterInfo[index];
    switch (info.kind) {
    case ParamKind::Switch:
        // Above zero is on, as LV2 reads toggles.
        return clampToRange(info, physical) > 0.0f ? 1.0f : 0.0f;
    case ParamKind::Continuous:
        return decibelsToNormalized(clampToRange(info, physical), static_cast<int64_t>(info.dbOffset));
    case ParamKind::Choice:
        return entryValue(choiceIndex(index, physical), info.stepCount + 1);
    }
    return 0.0f;
}

float physicalFromNormalized(int32_t index, float normalized) noexcept
{
    if (!isParameterIndex(index)) return 0.0f;
    const ParameterInfo& info = kParameterInfo[index];
    switch (info.kind) {
    case ParamKind::Switch:
        return switchIsOn(normalized) ? 1.0f : 0.0f;
    case ParamKind::Choice:
        return info.entries[choiceEntry(index, normalized)];
    case ParamKind::Continuous: {
        if (std::isnan(normalized)) return info.defaultPhysical;
        const float n = normalized < 0.0f ? 0.0f : (normalized > 1.0f ? 1.0f : normalized);
        const double exact = static_cast<double>(n) * kDecibelSpan - static_cast<double>(info.dbOffset);
        // The fewest decimals that still mean n: 0.55f is 2.4 dB, not 2.4000006.
        double scale = 1.0;
        for (int32_t decimals = 0; decimals <= 6; ++decimals, scale *= 10.0) {
            const float rounded = clampToRange(info, static_cast<float>(std::round(exact * scale) / scale));
            if (normalizedFromPhysical(index, rounded) == n) return rounded;
        }
        // Otherwise the nearest float in dB, or one of its close neighbours:
        // the nearest need not map back to n.
        const float guess = clampToRange(info, static_cast<float>(exact));
        if (normalizedFromPhysical(index, guess) == n) return guess;
        float below = guess;
        float above = guess;
        for (int32_t step = 0; step < 4; ++step) {
            below = std::nextafter(below, info.minimum);
            above = std::nextafter(above, info.maximum);
            if (normalizedFromPhysical(index, below) == n) return below;
            if (normalizedFromPhysical(index, above) == n) return above;
        }
        return guess;
    }
    }
    return 0.0f;
}

void formatParameterValue(int32_t index, float normalized, char* text, size_t size) noexcept
{
    if (!text || size == 0) return;
    text[0] = '\0';
    // snprintf cuts a text that would not fit (a far out-of-range Gain, say);
    // the buffer is never overrun.
    switch (index) {
    case kParamOversample:
        std::snprintf(text, size, "%d", switchIsOn(normalized) ? 16 : 1);
        break;
    case kParamGain:
        std::snprintf(text, size, "%.2f", static_cast<double>(gainDecibels(normalized)));
        break;
    case kParamLevel:
        std::snprintf(text, size, "%.2f", static_cast<double>(levelDecibels(normalized)));
        break;
    case kParamTriode:
        std::snprintf(text, size, "%s", kTriodeNames[choiceEntry(index, normalized)]);
        break;
    case kParamVoltage:
        std::snprintf(text, size, "%d", static_cast<int>(kSupplyVoltages[choiceEntry(index, normalized)]));
        break;
    case kParamCap:
        std::snprintf(text, size, "%.2f", kCathodeCaps[choiceEntry(index, normalized)] * 1000000.0);
        break;
    case kParamNormalize:
        std::snprintf(text, size, "%s", switchIsOn(normalized) ? "Yes" : "No");
        break;
    default:
        break;
    }
}

bool parseParameterText(int32_t index, std::string_view text, float& normalized) noexcept
{
    if (!isParameterIndex(index)) return false;
    const ParameterInfo& info = kParameterInfo[index];
    text = trimmed(text);
    if (text.empty()) return false;

    // Words first: tube names begin with digits.
    if (info.kind != ParamKind::Continuous) {
        for (int32_t i = 0; i <= info.stepCount; ++i) {
            if (info.entryLabels[i] && sameWords(text, info.entryLabels[i])) {
                normalized = info.kind == ParamKind::Switch ? info.entries[i] : entryValue(i, info.stepCount + 1);
                return true;
            }
        }
        if (info.kind == ParamKind::Switch) {
            for (const char* on : {"yes", "on", "true"})
                if (sameWords(text, on)) return (normalized = 1.0f), true;
            for (const char* off : {"no", "off", "false"})
                if (sameWords(text, off)) return (normalized = 0.0f), true;
        }
    }

    float number = 0.0f;
    std::string_view unit;
    if (!leadingNumber(text, number, unit) || !unitMatches(info, unit)) return false;
    if (index == kParamOversample) {
        // The factor: 1 or 16, the nearer of the two; 0 reads as off too.
        normalized = number >= 8.5f ? 1.0f : 0.0f;
        return true;
    }
    normalized = normalizedFromPhysical(index, number);
    return true;
}

int32_t findParameter(std::string_view name) noexcept
{
    name = trimmed(name);
    if (name.empty()) return -1;
    for (int32_t i = 0; i < kNumParams; ++i) {
        const ParameterInfo& info = kParameterInfo[i];
        if (sameWords(name, info.symbol) || sameWords(name, info.name) || sameWords(name, info.shortName)) return i;
    }
    return -1;
}
