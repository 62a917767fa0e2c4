// The triode stage made cheap enough for every sample: the circuit solved by
// Newton iteration over a grid of input voltages into three 513-entry
// tables and four scalars, once per setting. The audio path reads only
// these (dsp/TriodeProcessor.h).
//
// A set of tables depends only on its StageSettings, so sets are built off
// the audio thread into one cache shared by every instance of the process:
// a host that resumes at a rate finds every tube setting of that rate ready,
// and twenty instances cost one set each. Sets in the cache are immutable
// and live until the library is unloaded.
#pragma once

#include "dsp/TriodeCircuit.h"

#include <array>
#include <cstddef>
#include <cstdint>

constexpr int32_t kTableSize = 513;

// Resting cathode voltage by supply (rows 150, 250, 350 V) and tube.
extern const double kBiasCathodeVoltages[3][kTriodeCount];

// Where the stage settles with no input, volts, for a supply and a tube.
double biasCathodeVoltage(double supplyVoltage, int32_t triode) noexcept;

using Table = std::array<double, kTableSize>;

// Where a position in [0, 1] falls between two table entries. A position
// below 0 or not a number reads entry 0, one above 1 reads the last entry.
struct TablePosition {
    int32_t index;
    double fraction;
};
TablePosition tablePosition(double x) noexcept;

// Catmull-Rom cubic through the entries around a position.
double interpolateTable(const Table& table, TablePosition at) noexcept;
inline double tableLookup(const Table& table, double x) noexcept { return interpolateTable(table, tablePosition(x)); }

// One entry of a table in the form the audio path reads: the entry itself
// and the three Catmull-Rom coefficients of the interval that starts there,
// formed once with the same operations the cubic would form at every lookup.
struct CubicEntry {
    double y1;  // the entry
    double c1;  // (y2 - y0) / 2
    double c2;  // y0 - 2.5 y1 + 2 y2 - 0.5 y3
    double c3;  // (y3 - y0) / 2 + 1.5 (y1 - y2)
};

// Both plate tables at one position, read together: one cache line.
struct alignas(64) PlateEntry {
    CubicEntry low;
    CubicEntry high;
};

struct TriodeTables {
    StageSettings settings;

    // Indexed by x in [0, 1], standing for an input voltage of 300 x - 150.
    Table transferLow;   // plate volts after a step from a cathode at -15 V
    Table transferHigh;  // plate volts after a step from +15 V
    Table cathodeStep;   // cathode volts after a step from 0 V

    double cathodeDecay = 0.0;    // cathode change per step, per cathode volt, tube cut off
    double chargeShift = 0.0;     // input shift per cathode volt, for cathodeStep
    double cathodeShift = 0.0;    // input shift per cathode volt, for the plate tables
    double quiescentPlate = 0.0;  // plate volts at rest
    double restingCathode = 0.0;  // cathode volts at rest

    // The same three tables in the audio path's form.
    std::array<PlateEntry, kTableSize> plate;
    std::array<CubicEntry, kTableSize> cathode;
    // True when an entry holds -0.0 or a coefficient is not finite: then
    // the polynomial at a fraction of 0 would not give the entry's bits, and
    // the audio path must test for it. No circuit here has ever made one.
    bool entriesNeedGuard = false;

    // Solves the circuit for `stage`: several thousand Newton solves, about
    // a millisecond. Call it with flush-to-zero on, as the audio thread runs
    // (see FloatModeGuard), so that every set is the same wherever it is made.
    void build(const StageSettings& stage) noexcept;

    // Derives the audio path's form from the three tables (microseconds).
    void deriveCubics() noexcept;

    // Full plate-voltage swing, volts.
    double outputSwing() const noexcept { return transferLow[0] - transferLow[kTableSize - 1]; }
    // stageStep's plate formula at input 0 and cathode `cathode`.
    double plateVoltageAt(double cathode) const noexcept;
};

// The process-wide cache of ready sets.
namespace tableCache {

// [any thread; never waits, never allocates] The ready set for `stage`, or
// null when none has been made.
const TriodeTables* find(const StageSettings& stage) noexcept;

// [any thread but the audio thread] Makes every set of `sampleRate` ready:
// the three tubes, supplies and capacitors, at 1x and 16x. Sets already
// there are kept. Returns how many it made. When the cache holds as many
// rates as it can, it makes none, and the audio thread builds its own.
int32_t fill(double sampleRate);

// Memory held by the ready sets, bytes.
size_t bytes() noexcept;

}  // namespace tableCache
