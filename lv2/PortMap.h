// The LV2 face of the seven parameters: port indices and symbols, the
// ranges in the units users read (dB, volts, microfarads, tube names), and
// the mapping between a port value and the engine's normalized value. The
// plug-in, its editor, the Turtle writer and the tests all read this one
// table, so that the bundle's description and the code never disagree.
//
// A port value that stands exactly for a VST 2.4 normalized value maps to
// that very float: 24 dB of gain is 0.75f, 26.4 dB is 0.8f, 250 V is the
// middle entry. Values beyond a range are clamped, values between
// enumeration entries take the nearest entry, and a value that is not a
// number takes the port's default.
#pragma once

#include "engine/Parameters.h"

#include <cstdint>

// Ports in the order of the bundle's description. The seven control inputs
// come first, in the order of the VST 2.4 parameters.
enum Lv2Port : uint32_t {
    kPortOversample = 0,
    kPortGain = 1,
    kPortLevel = 2,
    kPortTriode = 3,
    kPortVoltage = 4,
    kPortCap = 5,
    kPortNormalize = 6,
    kPortInputLeft = 7,
    kPortInputRight = 8,
    kPortOutputLeft = 9,
    kPortOutputRight = 10,
    kPortLatency = 11,
    kPortScope = 12,
    kPortScopeWatch = 13,
    kPortCount = 14
};
static_assert(kPortNormalize + 1 == kNumParams, "control port i is parameter i");

enum class ControlKind {
    Toggle,    // 0 or 1; on from 0.5, as the engine reads it
    Decibels,  // a continuous range; normalized = (dB + offset) / 48
    Choice,    // three entries; normalized = index * 0.5
};

constexpr int32_t kChoiceCount = 3;

struct ControlPort {
    const char* symbol;  // stable forever: saved sessions and presets use it
    const char* name;
    ControlKind kind;
    float minimum;
    float maximum;
    float defaultValue;
    float dbOffset;                            // Decibels: the dB at normalized 0, negated
    float entries[kChoiceCount];               // Choice: the values, ascending
    const char* entryLabels[kChoiceCount];     // Choice and Toggle: what hosts show
};

extern const ControlPort kControlPorts[kNumParams];

// The normalized engine value (0 to 1) that a port value stands for.
// [any thread; never allocates] The plug-in calls it from run().
float normalizedFromPort(int32_t param, float portValue) noexcept;

// The port value for a normalized engine value: what a preset stores and
// what the editor writes. For every normalized value on a decimal grid
// (0.37, 0.8, 0.1234) normalizedFromPort gives the same float back.
float portFromNormalized(int32_t param, float normalized) noexcept;

// The entry a Choice port value selects: nearest, clamped, NaN the default.
int32_t choiceIndex(int32_t param, float portValue) noexcept;
