// One channel's 16x oversampling filter, used in one direction only: either
// interpolating one base-rate sample into sixteen, or decimating sixteen into
// one. Two stages: a 2x polyphase IIR half-band (two chains of four
// first-order allpass sections) between the base rate and twice it, and an
// 8x polyphase linear-phase FIR (80 taps) between twice and sixteen times it.
// An interpolator followed by a decimator delays the signal by about 8.02
// base-rate samples, which the effect reports as 8. Double precision.
// [audio thread]
#pragma once

#include <array>
#include <cstdint>

constexpr int32_t kOversampling = 16;
constexpr int32_t kFirTaps = 80;

extern const double kHalfbandCoefs[8];
extern const double kPolyphaseFir[kFirTaps];

class OversamplingFilter {
public:
    OversamplingFilter() noexcept;

    // One base-rate sample in, sixteen samples at 16x out, in time order.
    void interpolate(double x, double out[kOversampling]) noexcept;
    // Sixteen samples at 16x in, in time order; one base-rate sample out.
    double decimate(const double u[kOversampling]) noexcept;

    int32_t getPosition() const noexcept { return position; }

private:
    static constexpr int32_t kRing = 128;

    // A ring of 128 entries stored twice, so that any window of up to 128
    // consecutive entries can be read without a wrap test.
    std::array<double, 2 * kRing> history;
    int32_t position;
    int32_t tapCount;
    const double* halfband;
    const double* fir;
    // Last input and output of each allpass section, chain A and B
    // interleaved: A0, B0, A1, B1, ...
    std::array<double, 8> allpassIn;
    std::array<double, 8> allpassOut;

    void store(int32_t index, double value) noexcept;
    // Runs chain 0 (A) or 1 (B) on one sample.
    double runChain(int32_t chain, double in) noexcept;
};
