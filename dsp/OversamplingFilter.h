// The 16x oversampling filter of the left and right channel, used in one
// direction only: either interpolating one base-rate sample into sixteen, or
// decimating sixteen into one. Two stages: a 2x polyphase IIR half-band (two
// chains of four first-order allpass sections) between the base rate and
// twice it, and an 8x polyphase linear-phase FIR (80 taps) between twice and
// sixteen times it. An interpolator followed by a decimator delays the signal
// by about 8.02 base-rate samples, which the effect reports as 8. Double
// precision. [audio thread]
//
// Both channels' states sit side by side, so that one call runs both in two
// lanes (Lane2), or one of them alone (Lane1, with its lane's index).
#pragma once

#include "dsp/Lanes.h"

#include <cstdint>

constexpr int32_t kOversampling = 16;
constexpr int32_t kFirTaps = 80;

extern const double kHalfbandCoefs[8];
extern const double kPolyphaseFir[kFirTaps];
// The same taps, each twice, as one operand for both channels.
struct FirTapPairs {
    alignas(16) double tap[kFirTaps][2];
};
extern const FirTapPairs kPolyphaseFirPairs;
// Neighbouring taps, the later one first, each twice: {m + 1, m + 1, m, m}
// in row m, as one 256-bit operand for two partial sums of both channels.
struct FirTapQuads {
    alignas(32) double tap[kFirTaps - 1][4];
};
extern const FirTapQuads kFirTapQuads;

class OversamplingFilter {
public:
    OversamplingFilter() noexcept;

    // One base-rate sample in, sixteen samples at 16x out, in time order.
    template <class V>
        requires(V::kCount > 0)
    void interpolate(V x, V (&out)[kOversampling], int32_t lane = 0) noexcept;
    // Sixteen samples at 16x in, in time order; one base-rate sample out.
    template <class V>
        requires(V::kCount > 0)
    V decimate(const V (&u)[kOversampling], int32_t lane = 0) noexcept;

    // The left channel alone, on plain doubles.
    void interpolate(double x, double out[kOversampling]) noexcept;
    double decimate(const double u[kOversampling]) noexcept;

    // --- The same work in pieces, for a caller that spreads it between the
    // stage's steps (dsp/TriodeProcessor.h); the bits are those of the
    // calls above. ---
    // Interpolator: takes one base-rate sample in (the half-band chains);
    // then `interpolated(j)` is sample j of its sixteen, in any order, until
    // the next sample comes in.
    template <class V>
    void interpolateIn(V x, int32_t lane) noexcept;
    template <class V>
    V interpolated(int32_t j, int32_t lane) const noexcept;
#ifdef __AVX2__
    // --- Both channels, two sums in one 256-bit register: each lane the
    // operations of its Lane2 sum in the same order, so the same bits. ---
    // interpolated<Lane2>(j) and (j + 8), j < 8: {j + 8, j} in the low and
    // high half. Their taps are the same, and their samples neighbours.
    Z5R_INLINE __m256d interpolatedPair(int32_t j) const noexcept
    {
        const double(*from)[2] = &history[position[0]];
        const double(*taps)[2] = opaque(kPolyphaseFirPairs.tap) + j;
        __m256d sum = _mm256_setzero_pd();
        Z5R_UNROLL
        for (int32_t k = 0; k < kFirTaps / 8; ++k)
            sum = _mm256_add_pd(sum, _mm256_mul_pd(_mm256_broadcast_pd(reinterpret_cast<const __m128d*>(taps[8 * k])),
                                                   _mm256_loadu_pd(from[k])));
        return sum;
    }
    // firPart<Lane2>(l + 1, atLast) and (l, atLast), l = 0 or 2: {l + 1, l}
    // in the low and high half. Their samples are neighbours, their taps
    // too, in the other order (kFirTapQuads).
    Z5R_INLINE __m256d firPartPair(int32_t l, bool atLast) const noexcept
    {
        const double(*window)[2] = &history[(position[0] - kSpan) & (kRing - 1)];
        const int32_t newest = atLast ? kSpan - 1 : kSpan - 9;
        const double(*quads)[4] = opaque(kFirTapQuads.tap) + l;
        __m256d sum = _mm256_setzero_pd();
        Z5R_UNROLL
        for (int32_t k = 0; k < kFirTaps; k += 4)
            sum = _mm256_add_pd(sum, _mm256_mul_pd(_mm256_load_pd(quads[k]), _mm256_loadu_pd(window[newest - k - l - 1])));
        return sum;
    }
#endif
    // Decimator: `put(i, u)` stores sample i of the block being filled and
    // `endBlock` moves past it. The block before it (the last one ended)
    // decimates in two steps: the eight partial sums of its FIR, `firPart`
    // (l = 0..3 of the output at its last sample, then of the output at its
    // eighth), each in any order, and `decimateOut` over them.
    template <class V>
    void put(int32_t i, V u, int32_t lane) noexcept
    {
        store(position[lane] + i, u, lane);
    }
    template <class V>
    void endBlock(int32_t lane) noexcept
    {
        advance<V>(lane, kOversampling);
    }
    template <class V>
    V firPart(int32_t l, bool atLast, int32_t lane) const noexcept;
    template <class V>
    V decimateOut(const V (&atLast)[4], const V (&atEighth)[4], int32_t lane) noexcept;
    // decimateOut in its three parts: each FIR output through its half-band
    // chain (0 for the output at the last sample, 1 at the eighth), then
    // both joined.
    template <class V>
    V halfband(int32_t chain, const V (&parts)[4], int32_t lane) noexcept
    {
        return runChain(chain, (parts[0] + parts[1]) + (parts[2] + parts[3]), lane);
    }
    template <class V>
    static V joined(V a, V b) noexcept
    {
        return (a + b) * V(0.5);
    }

    int32_t getPosition(int32_t lane = 0) const noexcept { return position[lane]; }
    // After one channel ran alone, brings the other's ring to the same
    // position by rotating its contents, so that both can run side by side
    // again. Nothing that either channel computes changes.
    void alignLanes() noexcept;

private:
    static constexpr int32_t kRing = 128;
    static constexpr int32_t kSpan = kFirTaps + 8;  // samples the decimator reads

    template <class V>
    Z5R_INLINE void store(int32_t index, V value, int32_t lane) noexcept
    {
        const int32_t slot = index & (kRing - 1);
        value.store(history[slot], lane);
        value.store(history[slot + kRing], lane);
    }
    template <class V>
    V runChain(int32_t chain, V in, int32_t lane) noexcept;
    template <class V>
    int32_t advance(int32_t lane, int32_t step) noexcept;

    // A ring of 128 entries stored twice, so that any window of up to 128
    // consecutive entries can be read without a wrap test; each entry holds
    // both channels.
    alignas(16) double history[2 * kRing][2];
    int32_t position[2];
    // Last input and output of each allpass section, chain A and B
    // interleaved: A0, B0, A1, B1, ...
    alignas(16) double allpassIn[8][2];
    alignas(16) double allpassOut[8][2];
};

template <class V>
Z5R_INLINE V OversamplingFilter::runChain(int32_t chain, V in, int32_t lane) noexcept
{
    Z5R_UNROLL
    for (int32_t section = 0; section < 4; ++section) {
        const int32_t k = 2 * section + chain;
        const V y = (in - V::load(allpassOut[k], lane)) * V(kHalfbandCoefs[k]) + V::load(allpassIn[k], lane);
        in.store(allpassIn[k], lane);
        y.store(allpassOut[k], lane);
        in = y;
    }
    return in;
}

template <class V>
Z5R_INLINE int32_t OversamplingFilter::advance(int32_t lane, int32_t step) noexcept
{
    const int32_t next = (position[lane] + step) & (kRing - 1);
    for (int32_t l = lane; l < lane + V::kCount; ++l) position[l] = next;
    return next;
}

template <class V>
Z5R_INLINE void OversamplingFilter::interpolateIn(V x, int32_t lane) noexcept
{
    // Each FIR branch has a gain of about 1/8.
    const V s = V(8.0) * x;
    const V a = runChain(0, s, lane);
    const V b = runChain(1, s, lane);

    // The ring runs backward in time from position: history[position + k]
    // is the 2x sample k steps before the newest.
    const int32_t at = advance<V>(lane, -2);
    store(at, b, lane);
    store(at + 1, a, lane);
}

template <class V>
Z5R_INLINE V OversamplingFilter::interpolated(int32_t j, int32_t lane) const noexcept
{
    // Samples 0 to 7 are the eight branches over the older 2x samples,
    // 8 to 15 the same branches over the newer; each sum in tap order.
    const double(*from)[2] = &history[position[lane] + (j < 8 ? 1 : 0)];
    const double(*taps)[2] = opaque(kPolyphaseFirPairs.tap) + (j & 7);
    V sum(0.0);
    Z5R_UNROLL
    for (int32_t k = 0; k < kFirTaps / 8; ++k)
        sum += V::loadAligned(taps[8 * k], lane) * V::loadAligned(from[k], lane);
    return sum;
}

template <class V>
    requires(V::kCount > 0)
Z5R_INLINE void OversamplingFilter::interpolate(V x, V (&out)[kOversampling], int32_t lane) noexcept
{
    interpolateIn(x, lane);
    Z5R_UNROLL
    for (int32_t j = 0; j < kOversampling; ++j) out[j] = interpolated<V>(j, lane);
}

template <class V>
Z5R_INLINE V OversamplingFilter::firPart(int32_t l, bool atLast, int32_t lane) const noexcept
{
    // A window of the block's 88 newest samples, oldest first, read without
    // wrapping: s(m), the sample m steps before the block's newest, is
    // window[87 - m]. Partial sum l takes taps l, l + 4, ...
    const double(*window)[2] = &history[(position[lane] - kSpan) & (kRing - 1)];
    const int32_t newest = atLast ? kSpan - 1 : kSpan - 9;
    const double(*taps)[2] = opaque(kPolyphaseFirPairs.tap) + l;
    V sum(0.0);
    Z5R_UNROLL
    for (int32_t k = 0; k < kFirTaps; k += 4)
        sum += V::loadAligned(taps[k], lane) * V::loadAligned(window[newest - k - l], lane);
    return sum;
}

template <class V>
Z5R_INLINE V OversamplingFilter::decimateOut(const V (&atLast)[4], const V (&atEighth)[4], int32_t lane) noexcept
{
    const V a = halfband(0, atLast, lane);
    const V b = halfband(1, atEighth, lane);
    return joined(a, b);
}

template <class V>
    requires(V::kCount > 0)
Z5R_INLINE V OversamplingFilter::decimate(const V (&u)[kOversampling], int32_t lane) noexcept
{
    // The ring runs forward in time: after this block, history[position - 1]
    // is the newest 16x sample.
    Z5R_UNROLL
    for (int32_t i = 0; i < kOversampling; ++i) put(i, u[i], lane);
    endBlock<V>(lane);
    V atLast[4], atEighth[4];  // the FIR output at u[15] and at u[7]
    Z5R_UNROLL
    for (int32_t l = 0; l < 4; ++l) {
        atLast[l] = firPart<V>(l, true, lane);
        atEighth[l] = firPart<V>(l, false, lane);
    }
    return decimateOut(atLast, atEighth, lane);
}
