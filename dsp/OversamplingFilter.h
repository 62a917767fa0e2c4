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
    requires(V::kCount > 0)
Z5R_INLINE void OversamplingFilter::interpolate(V x, V (&out)[kOversampling], int32_t lane) noexcept
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

    // Eight independent sums per half, each accumulated in tap order, all
    // held in registers.
    const double(*newest)[2] = &history[at];
    V sumA[8], sumB[8];
    Z5R_UNROLL
    for (int32_t j = 0; j < 8; ++j) sumA[j] = sumB[j] = V(0.0);
    Z5R_UNROLL
    for (int32_t k = 0; k < kFirTaps / 8; ++k) {
        const V older = V::load(newest[1 + k], lane);
        const V newer = V::load(newest[k], lane);
        Z5R_UNROLL
        for (int32_t j = 0; j < 8; ++j) {
            const V tap(kPolyphaseFir[j + 8 * k]);
            sumA[j] += tap * older;
            sumB[j] += tap * newer;
        }
    }
    Z5R_UNROLL
    for (int32_t j = 0; j < 8; ++j) {
        out[j] = sumA[j];
        out[j + 8] = sumB[j];
    }
}

template <class V>
    requires(V::kCount > 0)
Z5R_INLINE V OversamplingFilter::decimate(const V (&u)[kOversampling], int32_t lane) noexcept
{
    // The ring runs forward in time: after this block, history[position + 15]
    // is the newest 16x sample and older blocks lie just before position.
    const int32_t at = position[lane];
    Z5R_UNROLL
    for (int32_t i = 0; i < kOversampling; ++i) store(at + i, u[i], lane);

    // A window of the 88 newest samples, oldest first, read without wrapping:
    // s(m), the sample m steps before the newest, is window[87 - m]. Four
    // interleaved partial sums per output, in a fixed order.
    const double(*window)[2] = &history[(at + kOversampling - kSpan) & (kRing - 1)];
    V newer[4], older[4];  // the FIR output at u[15] and at u[7]
    Z5R_UNROLL
    for (int32_t l = 0; l < 4; ++l) newer[l] = older[l] = V(0.0);
    Z5R_UNROLL
    for (int32_t k = 0; k < kFirTaps; k += 4) {
        Z5R_UNROLL
        for (int32_t l = 0; l < 4; ++l) {
            const V tap(kPolyphaseFir[k + l]);
            newer[l] += tap * V::load(window[kSpan - 1 - k - l], lane);
            older[l] += tap * V::load(window[kSpan - 9 - k - l], lane);
        }
    }
    advance<V>(lane, kOversampling);

    const V a = runChain(0, (newer[0] + newer[1]) + (newer[2] + newer[3]), lane);
    const V b = runChain(1, (older[0] + older[1]) + (older[2] + older[3]), lane);
    return (a + b) * V(0.5);
}
