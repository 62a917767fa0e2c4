// The triode stage's per-sample step, written once for one channel (Lane1)
// or both side by side (Lane2): the anti-denormal offset, the table
// positions, the Catmull-Rom lookups and the cathode recursion. Inlined into
// the processor's loops. [audio thread]
#pragma once

#include "dsp/Lanes.h"
#include "dsp/TriodeTables.h"

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace stage {

constexpr double kTableLowVolts = -150.0;
constexpr double kCathodeExtent = 15.0;
constexpr double kInvTableSpan = 1.0 / 300.0;
constexpr double kInvCathodeSpan = 1.0 / 30.0;
constexpr double kLastEntry = kTableSize - 1;
// Volts to a position in entries: (1/300) x 512. Scaling by a power of two
// rounds exactly as scaling afterwards would, so one multiplication gives
// the bits of the two that the position is defined by.
constexpr double kEntriesPerVolt = kInvTableSpan * kLastEntry;

// 2^-126, the smallest normal float, and the scale of the anti-denormal
// offset: at most about 5.05e-19 V.
constexpr float kSmallestNormal = 1.1754943508222875e-38f;
constexpr double kOffsetScale = 1e10;
// Both as one factor, exact in double: 1e10 x 2^-126.
constexpr double kOffsetUnit = static_cast<double>(kSmallestNormal) * kOffsetScale;
static_assert(kOffsetUnit / kOffsetScale == static_cast<double>(kSmallestNormal), "1e10 x 2^-126 is exact");

constexpr uint32_t kNoiseMultiplier = 1664525u;
constexpr uint32_t kNoiseIncrement = 1013904223u;

// The anti-denormal offset: a tiny positive value from a linear
// congruential sequence, advanced once per channel and frame, left first.
// It is float(seed) x 2^-126 (exact in float: a power of two, and never
// below the smallest normal), as a double, x 1e10; scaling by the power of
// two after the rounding of x 1e10 gives the same bits, so one
// multiplication by their product does.
Z5R_INLINE double nextOffset(uint32_t& seed) noexcept
{
    seed = seed * kNoiseMultiplier + kNoiseIncrement;
    return static_cast<double>(static_cast<float>(seed)) * kOffsetUnit;
}

// One step of the sequence backward: the multiplier is odd, so it has an
// inverse modulo 2^32 (Newton's iteration, each round doubling the bits
// that are right).
constexpr uint32_t kNoiseInverse = [] {
    uint32_t inverse = kNoiseMultiplier;  // right in its low 3 bits
    for (int32_t round = 0; round < 4; ++round) inverse *= 2u - kNoiseMultiplier * inverse;
    return inverse;
}();
static_assert(kNoiseInverse * kNoiseMultiplier == 1u, "the multiplier's inverse modulo 2^32");
constexpr uint32_t previousSeed(uint32_t seed) { return (seed - kNoiseIncrement) * kNoiseInverse; }

// --- The lane-specific steps: one channel ---

// A sample that is not a finite number counts as silence: an infinity would
// otherwise turn the filter states into NaN for good.
Z5R_INLINE Lane1 finiteOrSilence(Lane1 x) noexcept { return std::isfinite(x.v) ? x : Lane1(0.0); }

// The offsets of a run, frame after frame; `seed()` is where the sequence
// stands after the frames taken.
template <class V>
class Noise;

template <>
class Noise<Lane1> {
public:
    explicit Noise(uint32_t seed) noexcept : state(seed) {}
    Z5R_INLINE Lane1 next() noexcept { return Lane1(nextOffset(state)); }
    uint32_t seed() const noexcept { return state; }

private:
    uint32_t state;
};

// Where a position in [0, 1] falls between two table entries. A position
// below 0 or not a number reads entry 0, one above 1 reads the last entry.
struct At1 {
    int32_t index;
    double fraction;
};

// `p` is the position in entries, 0 to 512.
Z5R_INLINE Lane1 clampedToTable(Lane1 x, const double* = nullptr) noexcept
{
    double p = x.v;
    if (!(p >= 0.0)) p = 0.0;
    if (p > kLastEntry) p = kLastEntry;
    return Lane1(p);
}

// Entry and fraction of a position inside the table.
Z5R_INLINE At1 entryOf(Lane1 inside) noexcept
{
    const int32_t i = static_cast<int32_t>(inside.v);
    return {i, inside.v - i};
}

Z5R_INLINE At1 positionOf(Lane1 x, const double* = nullptr) noexcept { return entryOf(clampedToTable(x)); }

// A step's two positions, each clamped to the table by itself.
Z5R_INLINE void keepInTable(Lane1& cathode, Lane1& plate, const double* = nullptr) noexcept
{
    cathode = clampedToTable(cathode);
    plate = clampedToTable(plate);
}

// `Guarded`: the tables hold a -0.0 or a non-finite coefficient, and an
// entry read exactly must be the entry itself; otherwise the polynomial at
// a fraction of 0 gives the entry's bits anyway.
template <bool Guarded>
Z5R_INLINE Lane1 cubic(const CubicEntry* entries, size_t stride, const At1& at) noexcept
{
    const CubicEntry& e = *reinterpret_cast<const CubicEntry*>(reinterpret_cast<const char*>(entries) +
                                                                stride * static_cast<size_t>(at.index));
    const double f = at.fraction;
    if (!(f > 0.0)) return Lane1(e.y1);
    return Lane1(e.y1 + ((e.c3 * f + e.c2) * f + e.c1) * f);
}

// --- Both channels side by side ---

#ifdef Z5R_LANES_SSE2

Z5R_INLINE Lane2 finiteOrSilence(Lane2 x) noexcept
{
    // x - x is 0 exactly when x is finite.
    const __m128d finite = _mm_cmpeq_pd(_mm_sub_pd(x.v, x.v), _mm_setzero_pd());
    return Lane2(_mm_and_pd(finite, x.v));
}

struct At2 {
    int64_t index[2];
    __m128d fraction;
};

// `last`: kLastEntry in both lanes, from memory (see StepTables). All ones
// in each lane inside [0, last], zero outside or not a number.
Z5R_INLINE __m128d insideTable(__m128d p, const double* last) noexcept
{
    return _mm_and_pd(_mm_cmpge_pd(p, _mm_setzero_pd()), _mm_cmple_pd(p, _mm_load_pd(last)));
}

// A lane outside the table, or not a number, is clamped; the others stay as
// they are. Positions almost always lie inside, where the clamp changes
// nothing: the test runs beside the conversion and the clamp only when a
// lane is outside, off the path of the cathode recursion.
Z5R_INLINE Lane2 clampedToTable(Lane2 x, const double* last) noexcept
{
    __m128d p = x.v;
    if (Z5R_UNLIKELY(_mm_movemask_pd(insideTable(p, last)) != 3)) {
        // max(x, 0) takes 0 for a NaN, as the scalar test does.
        p = _mm_min_pd(_mm_max_pd(p, _mm_setzero_pd()), _mm_load_pd(last));
    }
    return Lane2(p);
}

Z5R_INLINE At2 entryOf(Lane2 inside) noexcept
{
    const __m128d p = inside.v;
    At2 at;
    // The indices go straight to integer registers for the loads; the
    // fractions take their own path alongside.
    at.index[0] = _mm_cvttsd_si64(p);
    at.index[1] = _mm_cvttsd_si64(_mm_unpackhi_pd(p, p));
    at.fraction = _mm_sub_pd(p, _mm_cvtepi32_pd(_mm_cvttpd_epi32(p)));
    return at;
}

Z5R_INLINE At2 positionOf(Lane2 x, const double* last) noexcept { return entryOf(clampedToTable(x, last)); }

// A step's two positions: one test of all four lanes, one branch a step,
// and the clamp of each only when some lane is outside.
Z5R_INLINE void keepInTable(Lane2& cathode, Lane2& plate, const double* last) noexcept
{
#ifdef __AVX2__
    const __m256d both = _mm256_insertf128_pd(_mm256_castpd128_pd256(cathode.v), plate.v, 1);
    const __m256d inside =
        _mm256_and_pd(_mm256_cmp_pd(both, _mm256_setzero_pd(), _CMP_GE_OS),
                      _mm256_cmp_pd(both, _mm256_broadcast_pd(reinterpret_cast<const __m128d*>(last)), _CMP_LE_OS));
    const bool allInside = _mm256_movemask_pd(inside) == 15;
#else
    const bool allInside = _mm_movemask_pd(_mm_and_pd(insideTable(cathode.v, last), insideTable(plate.v, last))) == 3;
#endif
    if (Z5R_UNLIKELY(!allInside)) {
        cathode = clampedToTable(cathode, last);
        plate = clampedToTable(plate, last);
    }
}

template <bool Guarded>
Z5R_INLINE Lane2 cubic(const CubicEntry* entries, size_t stride, const At2& at) noexcept
{
    const char* base = reinterpret_cast<const char*>(entries);
    const double* left = reinterpret_cast<const double*>(base + stride * static_cast<size_t>(at.index[0]));
    const double* right = reinterpret_cast<const double*>(base + stride * static_cast<size_t>(at.index[1]));
    const __m128d l01 = _mm_loadu_pd(left), l23 = _mm_loadu_pd(left + 2);
    const __m128d r01 = _mm_loadu_pd(right), r23 = _mm_loadu_pd(right + 2);
    const __m128d y1 = _mm_unpacklo_pd(l01, r01), c1 = _mm_unpackhi_pd(l01, r01);
    const __m128d c2 = _mm_unpacklo_pd(l23, r23), c3 = _mm_unpackhi_pd(l23, r23);
    const __m128d f = at.fraction;
    const __m128d poly =
        _mm_add_pd(y1, _mm_mul_pd(_mm_add_pd(_mm_mul_pd(_mm_add_pd(_mm_mul_pd(c3, f), c2), f), c1), f));
    if constexpr (!Guarded) return Lane2(poly);
    // On an entry itself (no fraction) the entry, untouched.
    const __m128d between = _mm_cmpgt_pd(f, _mm_setzero_pd());
    return Lane2(_mm_or_pd(_mm_and_pd(between, poly), _mm_andnot_pd(between, y1)));
}

#ifdef __AVX2__
// Where a plate position inside the table falls: each lane's entry as a
// byte offset, scaled in the vector register that the fraction's
// conversion fills anyway (the plate is off the cathode's path, so this
// costs no time there), and the fraction, as `entryOf` has it.
struct PlateAt {
    uint32_t offset[2];
    __m128d fraction;
};

Z5R_INLINE PlateAt plateEntryOf(Lane2 inside) noexcept
{
    static_assert(sizeof(PlateEntry) == 64, "a plate entry is 2^6 bytes");
    const __m128i whole = _mm_cvttpd_epi32(inside.v);
    const __m128i bytes = _mm_slli_epi32(whole, 6);
    return {{static_cast<uint32_t>(_mm_cvtsi128_si32(bytes)), static_cast<uint32_t>(_mm_extract_epi32(bytes, 1))},
            _mm_sub_pd(inside.v, _mm_cvtepi32_pd(whole))};
}

// Both plate tables at one position, both lanes, in one 256-bit register:
// {low left, low right | high left, high right}. Per lane the operations of
// `cubic` in its order, so the same bits, with half the arithmetic and
// fewer loads and shuffles: each entry pair's low and high halves lie 32
// bytes apart in one PlateEntry.
template <bool Guarded>
Z5R_INLINE __m256d plateCubics(const CubicEntry* low, const PlateAt& at) noexcept
{
    constexpr size_t kHigh = offsetof(PlateEntry, high) / sizeof(double);
    const char* base = reinterpret_cast<const char*>(low);
    const double* left = reinterpret_cast<const double*>(base + at.offset[0]);
    const double* right = reinterpret_cast<const double*>(base + at.offset[1]);
    auto lowAndHigh = [](const double* entry) Z5R_INLINE_LAMBDA {
        return _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(entry)), _mm_loadu_pd(entry + kHigh), 1);
    };
    const __m256d l01 = lowAndHigh(left), l23 = lowAndHigh(left + 2);
    const __m256d r01 = lowAndHigh(right), r23 = lowAndHigh(right + 2);
    const __m256d y1 = _mm256_unpacklo_pd(l01, r01), c1 = _mm256_unpackhi_pd(l01, r01);
    const __m256d c2 = _mm256_unpacklo_pd(l23, r23), c3 = _mm256_unpackhi_pd(l23, r23);
    const __m256d f = _mm256_insertf128_pd(_mm256_castpd128_pd256(at.fraction), at.fraction, 1);
    const __m256d poly = _mm256_add_pd(
        y1, _mm256_mul_pd(_mm256_add_pd(_mm256_mul_pd(_mm256_add_pd(_mm256_mul_pd(c3, f), c2), f), c1), f));
    if constexpr (!Guarded) return poly;
    const __m256d between = _mm256_cmp_pd(f, _mm256_setzero_pd(), _CMP_GT_OS);
    return _mm256_or_pd(_mm256_and_pd(between, poly), _mm256_andnot_pd(between, y1));
}
#endif

#else

Z5R_INLINE Lane2 finiteOrSilence(Lane2 x) noexcept
{
    return Lane2(finiteOrSilence(Lane1(x.v[0])).v, finiteOrSilence(Lane1(x.v[1])).v);
}

struct At2 {
    At1 lane[2];
};

Z5R_INLINE Lane2 clampedToTable(Lane2 x, const double*) noexcept
{
    return Lane2(clampedToTable(Lane1(x.v[0])).v, clampedToTable(Lane1(x.v[1])).v);
}

Z5R_INLINE At2 entryOf(Lane2 inside) noexcept
{
    return {{entryOf(Lane1(inside.v[0])), entryOf(Lane1(inside.v[1]))}};
}

Z5R_INLINE At2 positionOf(Lane2 x, const double* last) noexcept { return entryOf(clampedToTable(x, last)); }

Z5R_INLINE void keepInTable(Lane2& cathode, Lane2& plate, const double* last) noexcept
{
    cathode = clampedToTable(cathode, last);
    plate = clampedToTable(plate, last);
}

template <bool Guarded>
Z5R_INLINE Lane2 cubic(const CubicEntry* entries, size_t stride, const At2& at) noexcept
{
    return Lane2(cubic<Guarded>(entries, stride, at.lane[0]).v, cubic<Guarded>(entries, stride, at.lane[1]).v);
}

#endif

#ifdef Z5R_LANES_SSE2
// Both lanes' offsets of a frame, left first, as the sequence runs: the
// left lane of each frame is two steps on from the left of the frame
// before, and so is the right, so each lane steps by the square of the
// sequence's map, side by side in one register (a 32-bit seed in each
// 64-bit half). Converted to double exactly (2^52 + seed, less 2^52),
// rounded to float as the sequence's own conversion rounds, and back: no
// trip through the integer registers.
template <>
class Noise<Lane2> {
public:
    // The frame before the first: its right seed is the one given, its left
    // the one that steps twice to the first frame's left.
    explicit Noise(uint32_t seed) noexcept
        : seeds(_mm_set_epi64x(seed, previousSeed(seed))), multiplier(_mm_set1_epi64x(kNoiseMultiplier * kNoiseMultiplier)),
          increment(_mm_set1_epi64x(kNoiseMultiplier * kNoiseIncrement + kNoiseIncrement)),
          low(_mm_set1_epi64x(0xFFFFFFFFu)), magic(_mm_set1_epi64x(0x4330000000000000))
    {
    }
    Z5R_INLINE Lane2 next() noexcept
    {
        seeds = _mm_and_si128(_mm_add_epi32(_mm_mul_epu32(seeds, multiplier), increment), low);
        const __m128d whole = _mm_sub_pd(_mm_castsi128_pd(_mm_or_si128(seeds, magic)), _mm_castsi128_pd(magic));
        return Lane2(_mm_mul_pd(_mm_cvtps_pd(_mm_cvtpd_ps(whole)), _mm_set1_pd(kOffsetUnit)));
    }
    uint32_t seed() const noexcept { return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_unpackhi_epi64(seeds, seeds))); }

private:
    __m128i seeds, multiplier, increment, low, magic;
};
#else
template <>
class Noise<Lane2> {
public:
    explicit Noise(uint32_t seed) noexcept : state(seed) {}
    Lane2 next() noexcept
    {
        const double left = nextOffset(state);
        return Lane2(left, nextOffset(state));
    }
    uint32_t seed() const noexcept { return state; }

private:
    uint32_t state;
};
#endif

// Everything one step reads: the tables, and every number as a pair, one
// for each lane. A run keeps one of these in memory and reads the numbers
// from it at each step (through `opaque`), as memory operands: held in
// registers, they would crowd out the cathode voltage and the values
// between its lookups, which the compiler would then spill on the path of
// the cathode recursion.
struct StepTables {
    const CubicEntry* low;
    const CubicEntry* high;
    const CubicEntry* cathode;
    alignas(16) double chargeShift[2];
    alignas(16) double cathodeShift[2];
    alignas(16) double cathodeDecay[2];
    alignas(16) double lowVolts[2];
    alignas(16) double entriesPerVolt[2];
    alignas(16) double lastEntry[2];
    alignas(16) double cathodeExtent[2];
    alignas(16) double invCathodeSpan[2];
    alignas(16) double one[2];
    alignas(16) double quiescentPlate[2];

    explicit StepTables(const TriodeTables& t) noexcept
        : low(&t.plate[0].low), high(&t.plate[0].high), cathode(t.cathode.data()),
          chargeShift{t.chargeShift, t.chargeShift}, cathodeShift{t.cathodeShift, t.cathodeShift},
          cathodeDecay{t.cathodeDecay, t.cathodeDecay}, lowVolts{kTableLowVolts, kTableLowVolts},
          entriesPerVolt{kEntriesPerVolt, kEntriesPerVolt}, lastEntry{kLastEntry, kLastEntry},
          cathodeExtent{kCathodeExtent, kCathodeExtent}, invCathodeSpan{kInvCathodeSpan, kInvCathodeSpan},
          one{1.0, 1.0}, quiescentPlate{t.quiescentPlate, t.quiescentPlate}
    {
    }
};

template <class V>
Z5R_INLINE V pairOf(const double (&pair)[2]) noexcept
{
    return V::loadAligned(pair, 0);
}

// One step of the stage at the running rate: the plate voltage from both
// plate tables at one position, weighted by the cathode voltage `a`, which
// then advances through the cathode table. Outside +-15 V of cathode the
// weights extrapolate linearly.

// The cathode table's position for a step from `a` with input `vin`.
template <class V>
Z5R_INLINE V cathodePosition(const StepTables& t, V a, V vin) noexcept
{
    return ((a * pairOf<V>(t.chargeShift) + vin) - pairOf<V>(t.lowVolts)) * pairOf<V>(t.entriesPerVolt);
}

// The plate tables' position for a step from `a` with input `vin`.
template <class V>
Z5R_INLINE V platePosition(const StepTables& t, V a, V vin) noexcept
{
    return ((vin - a * pairOf<V>(t.cathodeShift)) - pairOf<V>(t.lowVolts)) * pairOf<V>(t.entriesPerVolt);
}

// The cathode's next value after a step from `a`, at its table position.
template <bool Guarded, class V, class At>
Z5R_INLINE V cathodeFrom(const StepTables& t, V a, const At& next) noexcept
{
    return (cubic<Guarded>(t.cathode, sizeof(CubicEntry), next) + a * pairOf<V>(t.cathodeDecay)) + a;
}

// The plate voltage of a step from cathode `a`, at its tables' position.
template <bool Guarded, class V, class At>
Z5R_INLINE V plateFrom(const StepTables& t, V a, const At& at) noexcept
{
    const V wLow = (pairOf<V>(t.cathodeExtent) - a) * pairOf<V>(t.invCathodeSpan);
#ifdef __AVX2__
    if constexpr (V::kCount == 2) {
        // {cL x wLow | cH x (1 - wLow)}, then the sum in the order below.
        const __m256d both = plateCubics<Guarded>(t.low, at);
        const __m256d weights =
            _mm256_insertf128_pd(_mm256_castpd128_pd256(wLow.v), (pairOf<V>(t.one) - wLow).v, 1);
        const __m256d products = _mm256_mul_pd(both, weights);
        return V(_mm_add_pd(_mm256_extractf128_pd(products, 1), _mm256_castpd256_pd128(products)));
    } else
#endif
    {
        const V cL = cubic<Guarded>(t.low, sizeof(PlateEntry), at);
        const V cH = cubic<Guarded>(t.high, sizeof(PlateEntry), at);
        return cH * (pairOf<V>(t.one) - wLow) + cL * wLow;
    }
}

// Entry and fraction of a plate position inside the table, in the form
// `plateFrom` takes.
template <class V>
Z5R_INLINE auto plateEntry(V inside) noexcept
{
#ifdef __AVX2__
    if constexpr (V::kCount == 2) return plateEntryOf(inside);
    else
#endif
        return entryOf(inside);
}

// The cathode's next value after a step from `a` with input `vin`.
template <bool Guarded, class V>
Z5R_INLINE V cathodeAfter(const StepTables& t, V a, V vin) noexcept
{
    return cathodeFrom<Guarded>(t, a, positionOf(cathodePosition(t, a, vin), t.lastEntry));
}

// The plate voltage of a step from cathode `a` with input `vin`.
template <bool Guarded, class V>
Z5R_INLINE V plateOf(const StepTables& t, V a, V vin) noexcept
{
    return plateFrom<Guarded>(t, a, plateEntry(clampedToTable(platePosition(t, a, vin), t.lastEntry)));
}

// The whole step: returns the plate voltage and advances `a`. The cathode
// is written first: every step waits for it, and the processor gives the
// operations that come first in the program the first turn at its units.
template <bool Guarded, class V>
Z5R_INLINE V stageStepOf(const StepTables& t, V& a, V vin) noexcept
{
    const V now = a;
    V cathodeAt = cathodePosition(t, now, vin);
    V plateAt = platePosition(t, now, vin);
    keepInTable(cathodeAt, plateAt, t.lastEntry);
    a = cathodeFrom<Guarded>(t, now, entryOf(cathodeAt));
    return plateFrom<Guarded>(t, now, plateEntry(plateAt));
}

}  // namespace stage
