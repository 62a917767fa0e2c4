// The seven parameters as every format, the editor, the tools and the tests
// see them: identity, names, units, kind and steps, the physical range
// users read (dB, volts, microfarads, tube names), defaults, and the
// conversions value -> text and text -> value. Format adapters translate
// this table; they restate none of it. A parameter's index is its ID in
// every format and never changes.
//
// [any thread; nothing here allocates or waits]
#pragma once

#include "engine/Parameters.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

enum class ParamKind : int32_t {
    Switch,      // off below 0.5, on from 0.5; one step
    Continuous,  // a decibel range spread evenly over 0 to 1
    Choice,      // a table's entries spread evenly over 0 to 1 (0, 0.5, 1 for three)
};

// The most entries any parameter offers: the room in each description.
constexpr int32_t kMaxEntries = kTriodeCount > kSupplyCount ? (kTriodeCount > kCapCount ? kTriodeCount : kCapCount)
                                                            : (kSupplyCount > kCapCount ? kSupplyCount : kCapCount);

struct ParameterInfo {
    const char* symbol;     // stable forever: LV2 symbols, command-line names
    const char* name;       // what a host lists: "Cathode capacitor"
    const char* shortName;  // at most 8 characters: "Cap"
    const char* unit;       // at most 8 characters: "dB", "V", "uF", "x", or ""
    ParamKind kind;
    int32_t stepCount;   // entryCount() - 1: 0 continuous, 1 switch, 2 for a choice of three
    float defaultValue;  // normalized: factory program 0's value
    // Physical values, in the unit users read. Switches read 0 and 1,
    // Triode reads the tube's index 0 to 2.
    float minimum;
    float maximum;
    float defaultPhysical;
    float dbOffset;                         // Continuous: the dB at normalized 0, negated
    float entries[kMaxEntries];            // Choice: the values, ascending; Switch: 0, 1
    const char* entryLabels[kMaxEntries];  // Choice and Switch: what hosts list
};

extern const ParameterInfo kParameterInfo[kNumParams];

// The entry a Choice's physical value selects: nearest, clamped, NaN the
// default; halfway between two goes up.
int32_t choiceIndex(int32_t index, float physical) noexcept;

// The normalized value (0 to 1) a physical value stands for. A physical
// value that stands exactly for a VST 2.4 normalized value maps to that very
// float: 24 dB of gain is 0.75f, 26.4 dB is 0.8f, 250 V is the middle entry.
// Beyond the range clamps, between entries takes the nearest, NaN takes the
// default.
float normalizedFromPhysical(int32_t index, float physical) noexcept;

// The physical value for a normalized value, with the fewest decimals that
// still mean it: normalizedFromPhysical gives the same float back for every
// normalized value on a decimal grid (0.37, 0.8, 0.1234).
float physicalFromNormalized(int32_t index, float normalized) noexcept;

// The display text of a value, as the VST 2.4 build shows it: "24.00",
// "12AT7", "350", "1.00", "Yes", and for Oversmpl the factor the value
// selects, "1" or "16". Cut to fit `size` bytes, always terminated; nothing
// is written when size is 0. Out-of-range indices give "".
void formatParameterValue(int32_t index, float normalized, char* text, size_t size) noexcept;

// The normalized value a typed text stands for, or false (and `normalized`
// untouched) for text that means nothing here. Accepted, with or without
// spaces, a sign and the unit: numbers in the parameter's unit ("24",
// "+24.0dB", "350 V", "1uF", "1 µF", "0.47"), tube names ("12AT7"), entry
// labels ("16x", "On"), the display texts ("Yes", "No", "16"). Numbers
// beyond a range clamp; a choice takes its nearest entry.
bool parseParameterText(int32_t index, std::string_view text, float& normalized) noexcept;

// Finds a parameter by its symbol, its name or its short name, ignoring
// case; -1 when none matches.
int32_t findParameter(std::string_view name) noexcept;
