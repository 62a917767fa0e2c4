// The 16x filters against a plain reference (allpass half-band chains and a
// zero-stuffed FIR run sample by sample), and their steady-state gain and
// delay on a sine.
#include "dsp/OversamplingFilter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace {

// A chain of four first-order allpass sections, the textbook way.
struct ReferenceChain {
    double coef[4];
    double xPrev[4] = {};
    double yPrev[4] = {};
    double run(double in)
    {
        for (int32_t k = 0; k < 4; ++k) {
            const double y = coef[k] * (in - yPrev[k]) + xPrev[k];
            xPrev[k] = in;
            yPrev[k] = y;
            in = y;
        }
        return in;
    }
};

ReferenceChain chain(int32_t which)
{
    return {{kHalfbandCoefs[which], kHalfbandCoefs[which + 2], kHalfbandCoefs[which + 4], kHalfbandCoefs[which + 6]}};
}

// Steady-state amplitude and phase (radians) of a sampled sinusoid of
// angular frequency w per sample, fitted over the given range.
void fitSine(const std::vector<double>& y, double w, size_t from, double& amplitude, double& phase)
{
    double c = 0.0, s = 0.0;
    for (size_t n = from; n < y.size(); ++n) {
        c += y[n] * std::cos(w * n);
        s += y[n] * std::sin(w * n);
    }
    const double count = static_cast<double>(y.size() - from);
    amplitude = 2.0 * std::hypot(c, s) / count;
    phase = std::atan2(c, s);  // y ~ A sin(w n + phase)
}

}  // namespace

TEST(OversamplingFilter, TaperIsSymmetricWithBranchesOfAnEighth)
{
    double total = 0.0;
    for (int32_t k = 0; k < kFirTaps; ++k) {
        EXPECT_EQ(kPolyphaseFir[k], kPolyphaseFir[kFirTaps - 1 - k]);
        total += kPolyphaseFir[k];
    }
    EXPECT_NEAR(total, 1.0001, 5e-5);
    for (int32_t p = 0; p < 8; ++p) {
        double branch = 0.0;
        for (int32_t k = p; k < kFirTaps; k += 8) branch += kPolyphaseFir[k];
        EXPECT_NEAR(branch, 0.125, 1e-4);
    }
}

TEST(OversamplingFilter, FirstInterpolationFromRest)
{
    OversamplingFilter f;
    double out[kOversampling];
    f.interpolate(1.0, out);
    const double a = 8.0 * kHalfbandCoefs[0] * kHalfbandCoefs[2] * kHalfbandCoefs[4] * kHalfbandCoefs[6];
    const double b = 8.0 * kHalfbandCoefs[1] * kHalfbandCoefs[3] * kHalfbandCoefs[5] * kHalfbandCoefs[7];
    EXPECT_NEAR(a, 0.021830, 1e-6);
    EXPECT_NEAR(b, 0.198804, 1e-6);
    EXPECT_EQ(f.getPosition(), 126);
    for (int32_t j = 0; j < 8; ++j) {
        EXPECT_DOUBLE_EQ(out[j], kPolyphaseFir[j] * a);
        EXPECT_DOUBLE_EQ(out[j + 8], kPolyphaseFir[j] * b + kPolyphaseFir[j + 8] * a);
    }
}

TEST(OversamplingFilter, InterpolationEqualsZeroStuffedReference)
{
    OversamplingFilter f;
    ReferenceChain chainA = chain(0), chainB = chain(1);
    std::vector<double> stuffed;  // the 2x stream, zero-stuffed by 8
    for (int32_t n = 0; n < 300; ++n) {
        const double x = std::sin(0.37 * n) + 0.3 * std::cos(1.9 * n) + (n == 17 ? 1.0 : 0.0);
        double out[kOversampling];
        f.interpolate(x, out);
        for (double sample : {chainA.run(8.0 * x), chainB.run(8.0 * x)}) {
            stuffed.push_back(sample);
            stuffed.insert(stuffed.end(), 7, 0.0);
        }
        // The last 16 outputs of the reference FIR at 16x.
        for (int32_t j = 0; j < kOversampling; ++j) {
            const int64_t at = static_cast<int64_t>(stuffed.size()) - 16 + j;
            double expected = 0.0;
            for (int32_t i = 0; i < kFirTaps; ++i)
                if (at - i >= 0) expected += kPolyphaseFir[i] * stuffed[at - i];
            ASSERT_NEAR(out[j], expected, 1e-12) << n << " " << j;
        }
    }
}

TEST(OversamplingFilter, DecimationEqualsFirThenHalfbandReference)
{
    OversamplingFilter f;
    ReferenceChain chainA = chain(0), chainB = chain(1);
    std::vector<double> stream;
    for (int32_t n = 0; n < 300; ++n) {
        double u[kOversampling];
        for (int32_t i = 0; i < kOversampling; ++i) {
            const int32_t m = 16 * n + i;
            u[i] = std::sin(0.011 * m) + (m % 29 == 0 ? 0.5 : 0.0);
            stream.push_back(u[i]);
        }
        auto fir = [&](int64_t at) {
            double sum = 0.0;
            for (int32_t k = 0; k < kFirTaps; ++k)
                if (at - k >= 0) sum += kPolyphaseFir[k] * stream[at - k];
            return sum;
        };
        const int64_t newest = static_cast<int64_t>(stream.size()) - 1;
        const double expected = (chainA.run(fir(newest)) + chainB.run(fir(newest - 8))) * 0.5;
        ASSERT_NEAR(f.decimate(u), expected, 1e-12) << n;
        EXPECT_EQ(f.getPosition(), (16 * (n + 1)) % 128);
    }
}

TEST(OversamplingFilter, ConstantInputSettlesAtTheTapSum)
{
    OversamplingFilter up, down;
    double out[kOversampling];
    double ones[kOversampling];
    std::fill(ones, ones + kOversampling, 1.0);
    double decimated = 0.0;
    for (int32_t n = 0; n < 400; ++n) {
        up.interpolate(1.0, out);
        decimated = down.decimate(ones);
    }
    for (double v : out) EXPECT_NEAR(v, 1.0001, 1e-4);
    EXPECT_NEAR(decimated, 1.0001, 5e-5);
}

TEST(OversamplingFilter, RoundTripPassesASineWithEightSamplesOfDelay)
{
    OversamplingFilter up, down;
    const double w = 2.0 * std::numbers::pi * 1000.0 / 48000.0;
    std::vector<double> y, upsampled;
    for (int32_t n = 0; n < 4800; ++n) {
        double u[kOversampling];
        up.interpolate(std::sin(w * n), u);
        upsampled.insert(upsampled.end(), u, u + kOversampling);
        y.push_back(down.decimate(u));
    }
    double gain, phase;
    fitSine(y, w, 2400, gain, phase);
    EXPECT_NEAR(gain, 1.0002, 2e-4);
    EXPECT_NEAR(-phase / w, 8.02, 0.02);

    // The 16x stream is one smooth sine: no jump where one call's samples
    // meet the next call's.
    double upGain, upPhase;
    fitSine(upsampled, w / 16.0, upsampled.size() / 2, upGain, upPhase);
    double worst = 0.0;
    for (size_t m = upsampled.size() / 2; m < upsampled.size(); ++m)
        worst = std::max(worst, std::fabs(upsampled[m] - upGain * std::sin(w / 16.0 * m + upPhase)));
    EXPECT_LT(worst, 1e-3);
}

// The stage spreads the filters' work between its steps: samples out of the
// interpolator in any order, the decimator's FIR sums of one block formed
// while the next block is already going in. Every bit as the whole calls,
// both channels side by side and one alone.
TEST(OversamplingFilter, WorkInPiecesGivesTheBitsOfTheWholeCalls)
{
    OversamplingFilter wholeUp, wholeDown, piecesUp, piecesDown;
    constexpr int32_t kBlocks = 40;
    std::vector<Lane2> stream;  // the 16x samples the stage would make
    for (int32_t n = 0; n < kBlocks * kOversampling; ++n)
        stream.push_back(Lane2(std::sin(0.01 * n) + 1e-3 * n, -0.5 * std::cos(0.027 * n)));
    Lane2 parts[2][4];
    for (int32_t n = 0; n <= kBlocks; ++n) {
        if (n < kBlocks) {
            const Lane2 x(std::sin(0.3 * n), std::cos(0.7 * n) - 0.25);
            Lane2 expected[kOversampling];
            wholeUp.interpolate(x, expected, 0);
            piecesUp.interpolateIn(x, 0);
            for (int32_t j = kOversampling - 1; j >= 0; --j) {
                const Lane2 got = piecesUp.interpolated<Lane2>(j, 0);
                for (int32_t lane = 0; lane < 2; ++lane)
                    ASSERT_EQ(got.lane(lane), expected[j].lane(lane)) << n << " " << j;
            }
            // This block goes in before the sums of the one before are made.
            for (int32_t i = 0; i < kOversampling; ++i) piecesDown.put(i, stream[n * kOversampling + i], 0);
        }
        if (n > 0) {
            Lane2 u[kOversampling];
            for (int32_t i = 0; i < kOversampling; ++i) u[i] = stream[(n - 1) * kOversampling + i];
            const Lane2 expected = wholeDown.decimate(u, 0);
            for (int32_t l = 3; l >= 0; --l) {
                parts[1][l] = piecesDown.firPart<Lane2>(l, false, 0);
                parts[0][l] = piecesDown.firPart<Lane2>(l, true, 0);
            }
            const Lane2 a = piecesDown.halfband(0, parts[0], 0), b = piecesDown.halfband(1, parts[1], 0);
            const Lane2 got = OversamplingFilter::joined(a, b);
            for (int32_t lane = 0; lane < 2; ++lane) ASSERT_EQ(got.lane(lane), expected.lane(lane)) << n;
        }
        if (n < kBlocks) piecesDown.endBlock<Lane2>(0);
    }

    // The left channel alone, on plain doubles.
    OversamplingFilter left;
    for (int32_t n = 0; n < 8; ++n) {
        double expected[kOversampling];
        left.interpolate(0.1 * n, expected);
        for (int32_t j = 0; j < kOversampling; ++j) EXPECT_EQ(left.interpolated<Lane1>(j, 0).v, expected[j]);
    }
}
