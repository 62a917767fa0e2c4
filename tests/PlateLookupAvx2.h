#pragma once

#include "dsp/TriodeTables.h"

#include <cstdint>

namespace plateLookupAvx2 {

// How many of `count` plate lookups of both lanes (cathode a[k], input
// vin[k]), done in the AVX2 build's way, differ in any bit from `baseline`
// (2 x count values, lane by lane).
int32_t mismatches(const TriodeTables& tables, const double (*a)[2], const double (*vin)[2], int32_t count,
                   const double* baseline, bool guarded) noexcept;

}  // namespace plateLookupAvx2
