// The LV2 face of the effect: its ports in the order of the bundle's
// description. Control port i is parameter i; its symbol, range, default,
// kind and labels, and the mapping between a port value (in the unit users
// read) and the engine's normalized value, are the parameter description's
// (engine/ParameterInfo.h), so the bundle and the other formats never
// disagree.
#pragma once

#include "engine/ParameterInfo.h"

#include <cstdint>

// The seven control inputs come first, in the order of the parameters.
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
