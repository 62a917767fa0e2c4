// The triode stage made cheap enough for every sample: the circuit solved by
// Newton iteration over a grid of input voltages into three 513-entry
// tables and four scalars, once per setting. The audio path reads only
// these (dsp/TriodeProcessor.h).
//
// A set of tables depends only on its StageSettings, so sets are built off
// the audio thread into one cache shared by every instance of the process:
// twenty instances cost one set each. Sets in the cache are immutable while
// any instance can read them.
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

// The process-wide cache of ready sets, by rate. An instance holds a use of
// the rate it runs at (and of the rate of the set in force, while the two
// differ); a rate nobody uses stays cached until a new rate needs its place,
// and its memory is freed only then, when no instance can still read it.
// Sets are made in place by `make` (the host's set-up thread, for the one
// set an instance needs now) or by the background builder through
// `buildNext`; the audio thread only ever finds, asks and lets go.
namespace tableCache {

constexpr int32_t kFactors = 2;  // 1x and 16x
constexpr int32_t kSetsPerRate = kFactors * kTriodeCount * kSupplyCount * kCapCount;
// Rates kept while nobody uses them; more may be cached while instances run
// at them at once.
constexpr int32_t kKeptRates = 4;
// Rates cached at once, in use or not. An instance whose rate finds no room
// passes its input through until one is free.
constexpr int32_t kRateSlots = 32;

// [any thread but the audio thread] Takes a use of `rate`, making room for
// it when it is new (a rate nobody uses may be evicted). Returns the slot
// to give back with `release`, or -1 when every slot is in use.
int32_t acquire(double rate);
// [any thread; never waits, never allocates] Takes another use of a rate
// already cached; -1 when it is not (or is just being evicted).
int32_t retain(double rate) noexcept;
// [any thread; never waits] Gives back a use; -1 is ignored.
void release(int32_t slot) noexcept;

// [any thread; never waits, never allocates] The ready set for `stage`, or
// null when none has been made. The caller holds a use of its rate (tests
// may look without one while nothing is evicted).
const TriodeTables* find(const StageSettings& stage) noexcept;
// [any thread; never waits, never allocates] Moves `stage`'s set to the
// front of the builder's queue. The caller holds a use of its rate.
void request(const StageSettings& stage) noexcept;

// [any thread but the audio thread] The set for `stage`, made here when it
// is not ready (about a millisecond); null for settings the cache never
// holds or when memory runs out. The caller holds a use of its rate.
const TriodeTables* make(const StageSettings& stage);
// [the background builder] Makes one set that an instance's rate lacks,
// asked-for sets first; false when no rate in use lacks one.
bool buildNext();
// [any thread; never waits] Whether a rate in use lacks a set.
bool hasWork() noexcept;

// [any thread but the audio thread] Makes every set of `sampleRate` ready,
// here: the three tubes, supplies and capacitors, at 1x and 16x. Sets
// already there are kept. Returns how many it made.
int32_t fill(double sampleRate);

// Sets of `sampleRate` that are ready (0 when the rate is not cached).
int32_t readyCount(double sampleRate) noexcept;
// Rates cached, in use or not.
int32_t rateCount() noexcept;
// Memory held by the ready sets, bytes.
size_t bytes() noexcept;
// Sets the calling thread has built, ever (cache or not): how a test shows
// that the audio thread builds none.
uint64_t buildsOnThisThread() noexcept;

}  // namespace tableCache
