#include "dsp/TriodeTables.h"

#include "dsp/FloatMode.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

// Resting cathode voltage, volts, by supply (rows 150, 250, 350 V) and tube
// (12AX7, 12AT7, 12AU7): where the stage settles with no input.
const double kBiasCathodeVoltages[3][kTriodeCount] = {
    {0.89873106, 1.58417516, 2.46879023},
    {1.54237693, 2.66457249, 4.14004432},
    {2.20234211, 3.75964222, 5.83322275},
};

namespace tableCache {
namespace {
// Sets built by this thread.
thread_local uint64_t buildsHere = 0;
}  // namespace
}  // namespace tableCache

namespace {

// The tables span input voltages -150 to +150 V, for a cathode between -15
// and +15 V.
constexpr double kTableLowVolts = -150.0;
constexpr double kTableSpanVolts = 300.0;
constexpr double kCathodeExtent = 15.0;
constexpr double kInvTableSpan = 1.0 / 300.0;
constexpr double kInvCathodeSpan = 1.0 / 30.0;
// The knee is where the plate falls below this share of the supply.
constexpr double kKneeShare = 0.95;
// chargeShift probes the cathode step 7.5 V below full positive drive.
constexpr double kChargeProbeStep = 7.5;

double gridVolts(int32_t w) noexcept { return kTableLowVolts + w * kTableSpanVolts / (kTableSize - 1); }

// The solver's working vector at the start of a sweep: the stage at rest,
// with the cathode and grid placed.
ChannelState sweepStart(const TriodeCircuit& circuit, double cathode, double grid) noexcept
{
    ChannelState x = circuit.restState();
    x.cathodeVoltage = cathode;
    x.gridVoltage = grid;
    return x;
}

// Scans the input upward from full negative drive until the plate falls
// below the threshold, and interpolates the crossing linearly.
double kneeVoltage(const TriodeCircuit& circuit, double cathode) noexcept
{
    const double threshold = kKneeShare * circuit.supplyVoltage;
    ChannelState x = sweepStart(circuit, cathode, kTableLowVolts);
    double previousV = 0.0, previousVp = 0.0;
    double crossingV = 0.0, crossingVp = 0.0;
    for (int32_t w = 0; w < kTableSize; ++w) {
        const double v = gridVolts(w);
        const double vp = circuit.solveStep({v, cathode}, x);
        if (vp >= threshold) {
            previousV = v;
            previousVp = vp;
        } else {
            crossingV = v;
            crossingVp = vp;
            break;
        }
    }
    return previousV + (threshold - previousVp) * (crossingV - previousV) / (crossingVp - previousVp);
}

// One sweep over the grid of inputs, each solve starting from the previous
// solution; stores plate or cathode voltages.
void fillTable(const TriodeCircuit& circuit, Table& table, double cathode, double inputShift,
               bool storeCathode) noexcept
{
    ChannelState x = sweepStart(circuit, cathode, kTableLowVolts);
    for (int32_t w = 0; w < kTableSize; ++w) {
        const double vp = circuit.solveStep({gridVolts(w) + inputShift, cathode}, x);
        table[w] = storeCathode ? x.cathodeVoltage : vp;
    }
}

double cathodeAfterStep(const TriodeCircuit& circuit, double cathode, double grid, double input) noexcept
{
    ChannelState x = sweepStart(circuit, cathode, grid);
    circuit.solveStep({input, cathode}, x);
    return x.cathodeVoltage;
}

}  // namespace

double biasCathodeVoltage(double supplyVoltage, int32_t triode) noexcept
{
    const int32_t row = std::clamp(static_cast<int32_t>((supplyVoltage - 150.0 + 50.0) * 0.01), 0, 2);
    return kBiasCathodeVoltages[row][std::clamp(triode, 0, kTriodeCount - 1)];
}

TablePosition tablePosition(double x) noexcept
{
    if (!(x >= 0.0)) x = 0.0;
    if (x > 1.0) x = 1.0;
    const double p = x * (kTableSize - 1);
    const int32_t i = static_cast<int32_t>(p);
    return {i, p - i};
}

double interpolateTable(const Table& table, TablePosition at) noexcept
{
    const int32_t i = at.index;
    const double f = at.fraction;
    const double y1 = table[i];
    if (!(f > 0.0)) return y1;
    const double y0 = table[std::max(i - 1, 0)];
    const double y2 = table[std::min(i + 1, kTableSize - 1)];
    const double y3 = table[std::min(i + 2, kTableSize - 1)];
    return y1 + ((((y3 - y0) * 0.5 + (y1 - y2) * 1.5) * f + (y0 - 2.5 * y1 + 2.0 * y2 - 0.5 * y3)) * f +
                 (y2 - y0) * 0.5) *
                    f;
}

void TriodeTables::build(const StageSettings& stage) noexcept
{
    ++tableCache::buildsHere;
    settings = stage;
    const TriodeCircuit circuit(stage);

    const double kneeLow = kneeVoltage(circuit, -kCathodeExtent);
    const double kneeHigh = kneeVoltage(circuit, kCathodeExtent);
    cathodeShift = (kneeHigh - kneeLow) * kInvCathodeSpan;

    fillTable(circuit, transferLow, -kCathodeExtent, -kCathodeExtent * cathodeShift, false);
    fillTable(circuit, transferHigh, kCathodeExtent, kCathodeExtent * cathodeShift, false);
    fillTable(circuit, cathodeStep, 0.0, 0.0, true);

    // With the tube cut off, the cathode only discharges through its resistor.
    const double d1 = cathodeAfterStep(circuit, -kCathodeExtent, kTableLowVolts, kTableLowVolts) + kCathodeExtent;
    const double d2 = cathodeAfterStep(circuit, kCathodeExtent, kTableLowVolts, kTableLowVolts) - kCathodeExtent;
    cathodeDecay = (d2 - d1) * kInvCathodeSpan;

    // With full positive drive, how the cathode step depends on the cathode.
    const double top = -kTableLowVolts;
    auto charge = [&](double cathode, double input) {
        return (cathodeAfterStep(circuit, cathode, top, input) - cathode) - cathode * cathodeDecay;
    };
    const double g1 = charge(-kCathodeExtent, top);
    const double g2 = charge(kCathodeExtent, top);
    const double g3 = charge(kCathodeExtent, top - kChargeProbeStep);
    chargeShift = ((g2 - g1) / ((g2 - g3) / kChargeProbeStep)) * kInvCathodeSpan;

    restingCathode = biasCathodeVoltage(stage.supplyVoltage, stage.triode);
    quiescentPlate = plateVoltageAt(restingCathode);
    deriveCubics();
}

namespace {

CubicEntry cubicAt(const Table& table, int32_t i) noexcept
{
    const double y0 = table[std::max(i - 1, 0)];
    const double y1 = table[i];
    const double y2 = table[std::min(i + 1, kTableSize - 1)];
    const double y3 = table[std::min(i + 2, kTableSize - 1)];
    return {y1, (y2 - y0) * 0.5, y0 - 2.5 * y1 + 2.0 * y2 - 0.5 * y3, (y3 - y0) * 0.5 + (y1 - y2) * 1.5};
}

}  // namespace

void TriodeTables::deriveCubics() noexcept
{
    entriesNeedGuard = false;
    auto check = [this](const CubicEntry& e) {
        const bool negativeZero = e.y1 == 0.0 && std::signbit(e.y1);
        const bool finite = std::isfinite(e.c1) && std::isfinite(e.c2) && std::isfinite(e.c3);
        if (negativeZero || !finite) entriesNeedGuard = true;
    };
    for (int32_t i = 0; i < kTableSize; ++i) {
        plate[i] = {cubicAt(transferLow, i), cubicAt(transferHigh, i)};
        cathode[i] = cubicAt(cathodeStep, i);
        check(plate[i].low);
        check(plate[i].high);
        check(cathode[i]);
    }
}

double TriodeTables::plateVoltageAt(double cathode) const noexcept
{
    const double x = (-kTableLowVolts - cathode * cathodeShift) * kInvTableSpan;
    return tableLookup(transferHigh, x) * ((cathode + kCathodeExtent) * kInvCathodeSpan) +
           tableLookup(transferLow, x) * ((kCathodeExtent - cathode) * kInvCathodeSpan);
}

namespace tableCache {

namespace {

// A slot's rate while it is being evicted: no rate has these bits.
constexpr uint64_t kEvicting = ~uint64_t{0};

struct RateSlot {
    std::atomic<uint64_t> rateBits{0};  // 0: free
    // Uses held by instances (and by the builder while it makes a set).
    std::atomic<int32_t> users{0};
    // Sets asked for, one bit each, and sets that could not be made.
    std::atomic<uint64_t> asked{0};
    std::atomic<uint64_t> failed{0};
    // When the slot was last taken into use, for eviction in age order.
    std::atomic<uint64_t> lastTaken{0};
    std::atomic<const TriodeTables*> sets[kSetsPerRate] = {};
};
static_assert(kSetsPerRate <= 64);

struct Cache {
    RateSlot slots[kRateSlots];
    std::atomic<size_t> bytes{0};
    uint64_t stamp = 0;  // under claimLock()

    // The library is being unloaded: no instance is left to read a set.
    ~Cache()
    {
        for (RateSlot& slot : slots)
            for (auto& set : slot.sets) delete set.load();
    }
};

constinit Cache cache;

// Claims and evictions, never taken by the audio thread. Made at first use:
// not every platform's mutex can be made at compile time.
std::mutex& claimLock()
{
    static std::mutex lock;
    return lock;
}

uint64_t bitsOf(double rate) noexcept
{
    uint64_t bits;
    std::memcpy(&bits, &rate, sizeof(bits));
    return bits;
}

template <size_t N>
int32_t entryOf(const double (&entries)[N], double value) noexcept
{
    for (size_t i = 0; i < N; ++i)
        if (entries[i] == value) return static_cast<int32_t>(i);
    return -1;
}

// The set's place within its rate, or -1 for settings the cache never holds.
int32_t setIndex(const StageSettings& stage) noexcept
{
    const int32_t factor = stage.oversampling == 1 ? 0 : (stage.oversampling == 16 ? 1 : -1);
    const int32_t supply = entryOf(kSupplyVoltages, stage.supplyVoltage);
    const int32_t cap = entryOf(kCathodeCaps, stage.cathodeCapacitor);
    if (factor < 0 || supply < 0 || cap < 0 || stage.triode < 0 || stage.triode >= kTriodeCount) return -1;
    return ((factor * kTriodeCount + stage.triode) * kSupplyCount + supply) * kCapCount + cap;
}

StageSettings settingsOf(double rate, int32_t index) noexcept
{
    StageSettings stage;
    stage.sampleRate = rate;
    stage.cathodeCapacitor = kCathodeCaps[index % kCapCount];
    index /= kCapCount;
    stage.supplyVoltage = kSupplyVoltages[index % kSupplyCount];
    index /= kSupplyCount;
    stage.triode = index % kTriodeCount;
    stage.oversampling = index / kTriodeCount == 0 ? 1 : 16;
    return stage;
}

// The slot holding `bits`, or null. Only a use held on it keeps it so.
RateSlot* slotOf(uint64_t bits) noexcept
{
    if (bits == 0 || bits == kEvicting) return nullptr;
    for (RateSlot& slot : cache.slots)
        if (slot.rateBits.load(std::memory_order_acquire) == bits) return &slot;
    return nullptr;
}

int32_t indexOf(const RateSlot& slot) noexcept { return static_cast<int32_t>(&slot - cache.slots); }

// One more use of a slot found without the claim lock. Sequentially
// consistent on both sides: either the eviction sees this use and gives the
// slot back, or this sees the eviction and takes nothing.
bool retainSlot(RateSlot& slot, uint64_t bits) noexcept
{
    slot.users.fetch_add(1);
    if (slot.rateBits.load() == bits) return true;
    slot.users.fetch_sub(1);
    return false;
}

// [claim lock held] Frees a slot nobody uses; false when someone does.
bool evict(RateSlot& slot) noexcept
{
    uint64_t held = slot.rateBits.load();
    if (held == 0 || slot.users.load() != 0) return false;
    if (!slot.rateBits.compare_exchange_strong(held, kEvicting)) return false;
    if (slot.users.load() != 0) {
        slot.rateBits.store(held);  // a use arrived meanwhile: keep the rate
        return false;
    }
    for (auto& set : slot.sets) {
        if (const TriodeTables* gone = set.exchange(nullptr)) {
            delete gone;
            cache.bytes.fetch_sub(sizeof(TriodeTables), std::memory_order_relaxed);
        }
    }
    slot.asked.store(0);
    slot.failed.store(0);
    slot.rateBits.store(0);
    return true;
}

// [claim lock held] Evicts the rates nobody uses, oldest first, until fewer
// than kKeptRates remain cached (those in use count, and stay). A rate that
// turns out to be in use after all (an audio thread or the builder took it
// up meanwhile) is passed over.
void makeRoom() noexcept
{
    bool passedOver[kRateSlots] = {};
    for (;;) {
        int32_t cached = 0;
        RateSlot* oldest = nullptr;
        for (RateSlot& slot : cache.slots) {
            if (slot.rateBits.load() == 0) continue;
            ++cached;
            if (slot.users.load() == 0 && !passedOver[indexOf(slot)] &&
                (!oldest || slot.lastTaken.load(std::memory_order_relaxed) <
                                oldest->lastTaken.load(std::memory_order_relaxed)))
                oldest = &slot;
        }
        if (cached < kKeptRates || !oldest) return;
        if (!evict(*oldest)) passedOver[indexOf(*oldest)] = true;
    }
}

const TriodeTables* publish(RateSlot& slot, int32_t index, std::unique_ptr<TriodeTables> set) noexcept
{
    const TriodeTables* none = nullptr;
    // Another thread may have made the same set meanwhile: keep theirs.
    if (slot.sets[index].compare_exchange_strong(none, set.get(), std::memory_order_acq_rel)) {
        cache.bytes.fetch_add(sizeof(TriodeTables), std::memory_order_relaxed);
        return set.release();
    }
    return none;
}

// Makes one set of a slot the caller holds a use of.
const TriodeTables* makeIn(RateSlot& slot, double rate, int32_t index) noexcept
{
    if (const TriodeTables* ready = slot.sets[index].load(std::memory_order_acquire)) return ready;
    std::unique_ptr<TriodeTables> set(new (std::nothrow) TriodeTables);
    if (!set) {
        slot.failed.fetch_or(uint64_t{1} << index);
        return nullptr;
    }
    {
        const FloatModeGuard audioThreadMode;
        set->build(settingsOf(rate, index));
    }
    return publish(slot, index, std::move(set));
}

double rateOf(uint64_t bits) noexcept
{
    double rate;
    std::memcpy(&rate, &bits, sizeof(rate));
    return rate;
}

// The first set a slot lacks that nobody has failed to make, asked-for sets
// first; -1 when none.
int32_t nextMissing(const RateSlot& slot) noexcept
{
    const uint64_t failed = slot.failed.load();
    uint64_t asked = slot.asked.load() & ~failed;
    while (asked) {
        const int32_t index = std::countr_zero(asked);
        if (!slot.sets[index].load(std::memory_order_acquire)) return index;
        asked &= asked - 1;
    }
    for (int32_t index = 0; index < kSetsPerRate; ++index)
        if (!(failed & (uint64_t{1} << index)) && !slot.sets[index].load(std::memory_order_acquire)) return index;
    return -1;
}

}  // namespace

int32_t acquire(double rate)
{
    const uint64_t bits = bitsOf(rate);
    if (bits == 0 || bits == kEvicting) return -1;
    std::lock_guard<std::mutex> hold(claimLock());
    RateSlot* slot = slotOf(bits);
    if (!slot) {
        makeRoom();
        for (RateSlot& free : cache.slots) {
            if (free.rateBits.load() == 0) {
                free.rateBits.store(bits);
                slot = &free;
                break;
            }
        }
        if (!slot) return -1;
    }
    slot->users.fetch_add(1);
    slot->lastTaken.store(++cache.stamp, std::memory_order_relaxed);
    return indexOf(*slot);
}

int32_t retain(double rate) noexcept
{
    const uint64_t bits = bitsOf(rate);
    RateSlot* slot = slotOf(bits);
    return slot && retainSlot(*slot, bits) ? indexOf(*slot) : -1;
}

void release(int32_t slot) noexcept
{
    if (slot >= 0 && slot < kRateSlots) cache.slots[slot].users.fetch_sub(1);
}

const TriodeTables* find(const StageSettings& stage) noexcept
{
    const int32_t index = setIndex(stage);
    if (index < 0) return nullptr;
    RateSlot* slot = slotOf(bitsOf(stage.sampleRate));
    return slot ? slot->sets[index].load(std::memory_order_acquire) : nullptr;
}

void request(const StageSettings& stage) noexcept
{
    const int32_t index = setIndex(stage);
    if (index < 0) return;
    if (RateSlot* slot = slotOf(bitsOf(stage.sampleRate))) {
        const uint64_t bit = uint64_t{1} << index;
        if (!(slot->asked.load(std::memory_order_relaxed) & bit)) slot->asked.fetch_or(bit);
    }
}

const TriodeTables* make(const StageSettings& stage)
{
    const int32_t index = setIndex(stage);
    RateSlot* slot = index < 0 ? nullptr : slotOf(bitsOf(stage.sampleRate));
    return slot ? makeIn(*slot, stage.sampleRate, index) : nullptr;
}

bool buildNext()
{
    for (RateSlot& slot : cache.slots) {
        const uint64_t bits = slot.rateBits.load();
        if (bits == 0 || bits == kEvicting || slot.users.load() == 0) continue;
        if (nextMissing(slot) < 0 || !retainSlot(slot, bits)) continue;
        // Asked-for sets of any rate go before the rest of this one.
        const int32_t index = nextMissing(slot);
        if (index >= 0) makeIn(slot, rateOf(bits), index);
        slot.users.fetch_sub(1);
        return true;
    }
    return false;
}

bool hasWork() noexcept
{
    for (const RateSlot& slot : cache.slots) {
        const uint64_t bits = slot.rateBits.load();
        if (bits != 0 && bits != kEvicting && slot.users.load() != 0 && nextMissing(slot) >= 0) return true;
    }
    return false;
}

int32_t fill(double sampleRate)
{
    const int32_t use = acquire(sampleRate);
    if (use < 0) return 0;
    RateSlot& slot = cache.slots[use];
    int32_t made = 0;
    for (int32_t index = 0; index < kSetsPerRate; ++index) {
        if (slot.sets[index].load(std::memory_order_acquire)) continue;
        const uint64_t before = buildsHere;
        makeIn(slot, sampleRate, index);
        made += buildsHere != before && slot.sets[index].load(std::memory_order_acquire) ? 1 : 0;
    }
    release(use);
    return made;
}

int32_t readyCount(double sampleRate) noexcept
{
    const uint64_t bits = bitsOf(sampleRate);
    RateSlot* slot = slotOf(bits);
    if (!slot || !retainSlot(*slot, bits)) return 0;
    int32_t ready = 0;
    for (const auto& set : slot->sets) ready += set.load(std::memory_order_acquire) ? 1 : 0;
    slot->users.fetch_sub(1);
    return ready;
}

int32_t rateCount() noexcept
{
    int32_t cached = 0;
    for (const RateSlot& slot : cache.slots) cached += slot.rateBits.load() != 0 ? 1 : 0;
    return cached;
}

size_t bytes() noexcept { return cache.bytes.load(std::memory_order_relaxed); }

uint64_t buildsOnThisThread() noexcept { return buildsHere; }

}  // namespace tableCache
