#include "demo.h"
#include "levels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

using namespace z5r;

namespace {

// Fundamental of a periodic signal: the autocorrelation peak near the expected
// period, refined by a parabola through its neighbours.
double measuredFrequency(const std::vector<float>& x, std::size_t from, std::size_t count, double rate,
                         double expected) {
    auto corr = [&](std::size_t lag) {
        double s = 0.0;
        for (std::size_t i = from; i < from + count; ++i) s += double(x[i]) * x[i + lag];
        return s;
    };
    const double period = rate / expected;
    std::size_t best = 0;
    double bestValue = -1e300;
    for (auto lag = std::size_t(period * 0.8); lag <= std::size_t(period * 1.2); ++lag)
        if (const double c = corr(lag); c > bestValue) bestValue = c, best = lag;
    const double a = corr(best - 1), b = bestValue, c = corr(best + 1);
    return rate / (double(best) + 0.5 * (a - c) / (a - 2.0 * b + c));
}

double rms(const std::vector<float>& x, std::size_t from, std::size_t count) {
    Level l;
    l.add(x.data() + from, count);
    return l.rmsDbfs();
}

}  // namespace

TEST(RenderDemo, PlucksAreInTuneEvenWhenThePeriodIsNotWholeSamples) {
    for (const double rate : {44100.0, 48000.0})
        for (const double freq : {82.41, 220.0, 659.26, 1318.51}) {
            SCOPED_TRACE(std::to_string(freq) + " Hz at " + std::to_string(rate));
            std::vector<float> out(static_cast<std::size_t>(rate));
            addPluck(out, 0, rate, {.freq = freq, .ringSeconds = 2.0});
            const double f = measuredFrequency(out, std::size_t(0.1 * rate), std::size_t(0.2 * rate), rate, freq);
            // Within 2 cents; a period rounded to whole samples is off by up to 25 cents at 1.3 kHz.
            EXPECT_NEAR(1200.0 * std::log2(f / freq), 0.0, 2.0);
        }
}

TEST(RenderDemo, APluckRingsDecaysAndIsDampedWithoutDc) {
    const double rate = 48000.0;
    std::vector<float> out(static_cast<std::size_t>(rate * 2));
    addPluck(out, 1000, rate, {.freq = 196.0, .ringSeconds = 1.0, .decaySeconds = 2.0});
    for (std::size_t i = 0; i < 1000; ++i) ASSERT_EQ(out[i], 0.0f);  // starts where asked

    const double early = rms(out, 1000, 4800);
    const double late = rms(out, 1000 + 43200, 4800);
    // 0.9 s later: the fundamental is 27 dB down at 60 dB per 2 s, the overtones more.
    EXPECT_GT(early - late, 20.0);
    EXPECT_LT(early - late, 45.0);
    EXPECT_LT(rms(out, 1000 + 62400, 4800), early - 80.0);  // 0.3 s after the damping

    double sum = 0.0;
    for (float v : out) sum += v;
    EXPECT_NEAR(sum / double(out.size()), 0.0, 1e-4);

    // A note that starts near or past the end is cut off, not written out of bounds.
    std::vector<float> tiny(100);
    addPluck(tiny, 90, rate, {});
    addPluck(tiny, 100, rate, {});
    addPluck(tiny, 5000, rate, {});
}

TEST(RenderDemo, TheRiffIsAFewSecondsOfStereoPeakingAtMinus6) {
    const StereoSignal s = makeDemoSignal(48000);
    ASSERT_EQ(s.rate, 48000);
    ASSERT_EQ(s.left.size(), s.right.size());
    const double seconds = double(s.left.size()) / s.rate;
    EXPECT_GT(seconds, 4.0);
    EXPECT_LT(seconds, 10.0);

    Level l, r;
    l.add(s.left.data(), s.left.size());
    r.add(s.right.data(), s.right.size());
    EXPECT_EQ(l.nonFinite + r.nonFinite, 0u);
    EXPECT_NEAR(std::max(l.peakDbfs(), r.peakDbfs()), kDemoPeakDbfs, 0.01);
    EXPECT_GT(std::min(l.peakDbfs(), r.peakDbfs()), kDemoPeakDbfs - 3.0);

    // The channels differ a little: strongly correlated, not identical.
    double lr = 0.0, ll = 0.0, rr = 0.0, diff = 0.0;
    for (std::size_t i = 0; i < s.left.size(); ++i) {
        lr += double(s.left[i]) * s.right[i];
        ll += double(s.left[i]) * s.left[i];
        rr += double(s.right[i]) * s.right[i];
        diff = std::max(diff, double(std::abs(s.left[i] - s.right[i])));
    }
    const double correlation = lr / std::sqrt(ll * rr);
    EXPECT_GT(correlation, 0.7);
    EXPECT_LT(correlation, 0.999);
    EXPECT_GT(diff, 0.01);

    // Sound from the first few milliseconds; the last note has died away at the end.
    EXPECT_GT(rms(s.left, 0, 480), -40.0);
    EXPECT_LT(rms(s.left, s.left.size() - 480, 480), -80.0);
}

TEST(RenderDemo, TheRiffIsTheSameMusicAtEveryRateAndEveryRun) {
    const StereoSignal a = makeDemoSignal(48000), b = makeDemoSignal(48000), c = makeDemoSignal(96000);
    EXPECT_EQ(a.left, b.left);
    EXPECT_EQ(a.right, b.right);
    EXPECT_NEAR(double(c.left.size()) / 96000.0, double(a.left.size()) / 48000.0, 1e-4);
}

TEST(RenderLevels, MeasuresPeakAndRmsInDbfsAndSetsAsideBadSamples) {
    std::vector<float> sine(48000);
    for (std::size_t i = 0; i < sine.size(); ++i) sine[i] = float(std::sin(2.0 * std::numbers::pi * 1000.0 * i / 48000.0));
    Level l;
    l.add(sine.data(), sine.size());
    EXPECT_NEAR(l.peakDbfs(), 0.0, 0.01);
    EXPECT_NEAR(l.rmsDbfs(), -3.01, 0.01);

    Level silent;
    EXPECT_TRUE(std::isinf(silent.rmsDbfs()));  // nothing measured yet
    const std::vector<float> zeros(64, 0.0f);
    silent.add(zeros.data(), zeros.size());
    EXPECT_TRUE(std::isinf(silent.peakDbfs()) && silent.peakDbfs() < 0);
    EXPECT_TRUE(std::isinf(silent.rmsDbfs()) && silent.rmsDbfs() < 0);

    const std::vector<float> broken = {0.5f, NAN, INFINITY, -0.25f};
    Level b;
    b.add(broken.data(), broken.size());
    EXPECT_EQ(b.nonFinite, 2u);
    EXPECT_FLOAT_EQ(b.peak, 0.5f);
}
