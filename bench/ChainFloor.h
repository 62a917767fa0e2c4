// The floor under the stage's speed: its loop-carried chain alone, timed on
// the machine the benchmark runs on.
//
// Every step of the triode stage waits for the cathode voltage of the step
// before, through one chain of dependent operations:
//   a x chargeShift, + input, - the table's low end, x entries per volt;
//   the index of each lane (truncate to an integer, scale by the entry
//   size, add the table's address) and the entry's load, its fraction
//   beside it; the loaded entries unpacked into {left, right} pairs;
//   Horner's three multiplications and three additions; + a x decay, + a.
// Everything else the stage does (plate lookups, filters, level, DC
// blocker, scope) can run in that chain's shadow, so no build can take
// less than this chain's latency per step: at 1x one step per frame, at
// 16x sixteen, both channels side by side in two lanes.
#pragma once

#include "dsp/TriodeTables.h"

#include <cstdint>

namespace chainFloor {

// Runs `steps` steps of both channels' cathode chains from `cathode`
// ({left, right}), the input of step i at inputs[i]; writes the last
// cathode back. Nothing but the chain: no clamp of the table position, so
// the inputs must keep it inside the table (`matchesStage` tells).
void run(const TriodeTables& tables, const double (*inputs)[2], int32_t steps, double (&cathode)[2]) noexcept;

// Whether `run` gives the stage's own cathode voltages, bit for bit, for
// these inputs: then it ran the stage's chain, inside the table.
bool matchesStage(const TriodeTables& tables, const double (*inputs)[2], int32_t steps, const double (&cathode)[2]) noexcept;

}  // namespace chainFloor
