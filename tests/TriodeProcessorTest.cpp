// The lookup tables and the per-sample stage: the figures of the prepared
// stage, the tables against the exact solver between their entries, the
// resting point, and the sample path's handling of bad input.
#include "dsp/TriodeProcessor.h"
#include "dsp/FloatMode.h"
#if Z5R_PLATE_LOOKUP_AVX2_TEST
#include "PlateLookupAvx2.h"
#endif

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

namespace {

std::unique_ptr<TriodeProcessor> prepared(int32_t triode, double supply, double cap, double rate = 48000.0,
                                          int32_t factor = 1)
{
    auto p = std::make_unique<TriodeProcessor>();
    p->setTriodeIndex(triode);
    p->setSupplyVoltage(supply);
    p->setCathodeCapacitor(cap);
    p->setSampleRate(rate);
    p->setOversampling(factor);
    p->prepare();
    p->resetCathodes();
    return p;
}

TriodeCircuit circuitOf(const TriodeProcessor& p)
{
    return TriodeCircuit(p.settings());
}

}  // namespace

TEST(TriodeTables, FiguresOfThe12AX7At350Volts)
{
    auto p = prepared(0, 350.0, 1e-6);
    const TriodeTables& t = p->tables();
    // At -150 V of input the tube is cut off: the plate sits on the divider.
    EXPECT_NEAR(t.transferLow[0], 350.0 * 4000000.0 / 4100000.0, 1e-9);
    EXPECT_NEAR(t.cathodeShift, 1.075, 0.001);
    EXPECT_NEAR(t.chargeShift, -1.068, 0.001);
    EXPECT_NEAR(p->outputSwing(), 355.3, 0.05);
    // Both decay solves are made with the tube cut off.
    const TriodeCircuit c = circuitOf(*p);
    const double g = c.stepOverCap * c.cathodeConductance;
    EXPECT_NEAR(t.cathodeDecay, -g / (1.0 + g), 1e-12);
    EXPECT_NEAR(t.cathodeDecay, -0.0076570, 1e-7);
}

TEST(TriodeTables, InterpolationAgreesWithTheSolverBetweenEntries)
{
    // cathodeStep holds the cathode after one step from 0 V; a solve at a
    // half-way input must land on what the cubic reads there.
    for (int32_t t = 0; t < kTriodeCount; ++t) {
        auto p = prepared(t, 250.0, 1e-6);
        ChannelState x{125.0, -150.0, 0.0};
        double worst = 0.0;
        for (int32_t w = 0; w < kTableSize - 1; ++w) {
            const double vin = -150.0 + (w + 0.5) * 300.0 / 512.0;
            circuitOf(*p).solveStep({vin, 0.0}, x);
            const double table = tableLookup(p->tables().cathodeStep, (vin + 150.0) / 300.0);
            worst = std::max(worst, std::fabs(table - x.cathodeVoltage));
        }
        EXPECT_LT(worst, 2e-3) << "tube " << t;
    }
}

TEST(TriodeTables, LookupClampsAndReadsEntriesExactly)
{
    std::array<double, kTableSize> table;
    for (int32_t i = 0; i < kTableSize; ++i) table[i] = i * i;
    EXPECT_EQ(tableLookup(table, -3.0), 0.0);
    EXPECT_EQ(tableLookup(table, std::nan("")), 0.0);
    EXPECT_EQ(tableLookup(table, 7.0), 512.0 * 512.0);
    EXPECT_EQ(tableLookup(table, 1.0), 512.0 * 512.0);
    EXPECT_EQ(tableLookup(table, 100.0 / 512.0), 100.0 * 100.0);
    // A cubic through a parabola's interior entries is exact.
    EXPECT_NEAR(tableLookup(table, 100.5 / 512.0), 100.5 * 100.5, 1e-9);
}

TEST(TriodeStage, RestsAtTheBiasPointForEveryTubeAndSupply)
{
    const double supplies[3] = {150.0, 250.0, 350.0};
    for (int32_t row = 0; row < 3; ++row) {
        for (int32_t t = 0; t < kTriodeCount; ++t) {
            auto p = prepared(t, supplies[row], 4.7e-7, 44100.0);
            ChannelState s = p->channels[0];
            double output = 0.0;
            for (int32_t i = 0; i < 2000; ++i) output = p->stageStep(s, 0.0) - p->tables().quiescentPlate;
            EXPECT_NEAR(s.cathodeVoltage, kBiasCathodeVoltages[row][t], 5e-9) << row << " " << t;
            EXPECT_LT(std::fabs(output), 3e-7) << row << " " << t;
        }
    }
}

TEST(TriodeStage, SettlesNearTheBiasPointAtOtherRatesAndFactors)
{
    for (int32_t factor : {1, 16}) {
        for (double cap : {4.7e-7, 2.2e-5}) {
            auto p = prepared(2, 350.0, cap, 96000.0, factor);
            ChannelState s = p->channels[0];
            for (int32_t i = 0; i < 400000; ++i) p->stageStep(s, 0.0);
            EXPECT_NEAR(s.cathodeVoltage, kBiasCathodeVoltages[2][2], kBiasCathodeVoltages[2][2] * 3e-4);
        }
    }
}

TEST(TriodeStage, SixteenTimesOversamplingStepsSixteenTimesSmaller)
{
    auto once = prepared(0, 250.0, 1e-6, 48000.0, 1);
    auto sixteen = prepared(0, 250.0, 1e-6, 48000.0, 16);
    EXPECT_DOUBLE_EQ(circuitOf(*once).stepOverCap, 16.0 * circuitOf(*sixteen).stepOverCap);
    EXPECT_EQ(sixteen->getOversampling(), 16);
    // Setting a factor other than 1 or 16 is refused.
    sixteen->setOversampling(4);
    EXPECT_EQ(sixteen->getOversampling(), 16);
}

TEST(TriodeStage, NonFiniteInputSoundsLikeSilence)
{
    const double bad[] = {std::nan(""), std::numeric_limits<double>::infinity(),
                          -std::numeric_limits<double>::infinity()};
    for (int32_t factor : {1, 16}) {
        auto reference = prepared(0, 350.0, 1e-6, 48000.0, factor);
        auto fed = prepared(0, 350.0, 1e-6, 48000.0, factor);
        for (int32_t i = 0; i < 300; ++i) {
            const double x = std::sin(i * 0.05);
            EXPECT_EQ(reference->processSample(0, i % 3 ? x : 0.0), fed->processSample(0, i % 3 ? x : bad[i % 9 / 3]));
        }
        // And the filters stay clean afterwards.
        for (int32_t i = 0; i < 100; ++i) EXPECT_TRUE(std::isfinite(fed->processSample(0, 0.5)));
    }
}

TEST(TriodeStage, AntiDenormalOffsetAdvancesOnEveryCall)
{
    auto p = prepared(0, 350.0, 1e-6);
    EXPECT_EQ(p->noiseSeed, TriodeProcessor::kFirstNoiseSeed);
    p->processSample(0, 0.0);
    EXPECT_EQ(p->noiseSeed, 80449u * 1664525u + 1013904223u);
    p->processSample(1, std::nan(""));
    EXPECT_EQ(p->noiseSeed, (80449u * 1664525u + 1013904223u) * 1664525u + 1013904223u);
}

// The offsets are far below what the output's bits show, so nothing but
// this checks that both lanes follow the sequence, left first, and that a
// run leaves the seed where the next one must start.
TEST(TriodeStage, BothLanesTakeTheOffsetSequenceLeftFirst)
{
    auto bits = [](double v) {
        uint64_t b;
        std::memcpy(&b, &v, sizeof b);
        return b;
    };
    for (uint32_t start : {TriodeProcessor::kFirstNoiseSeed, 0u, 1u, 0x7FFFFFFFu, 0xFFFFFFFFu, 0x9E3779B9u}) {
        stage::Noise<Lane2> noise(start);
        EXPECT_EQ(noise.seed(), start);
        uint32_t seed = start;
        for (int32_t frame = 0; frame < 3000; ++frame) {
            const Lane2 both = noise.next();
            const double left = stage::nextOffset(seed), right = stage::nextOffset(seed);
            ASSERT_EQ(bits(both.lane(0)), bits(left)) << start << " frame " << frame;
            ASSERT_EQ(bits(both.lane(1)), bits(right)) << start << " frame " << frame;
        }
        EXPECT_EQ(noise.seed(), seed);
    }

    for (int32_t factor : {1, 16}) {
        auto p = prepared(0, 350.0, 1e-6, 48000.0, factor);
        uint32_t seed = p->noiseSeed;
        for (int32_t frames : {37, 1, 0, 64}) {
            p->processStereo(frames, [](int32_t) { return Lane2(0.0); }, [](int32_t, Lane2) {});
            for (int32_t step = 0; step < 2 * frames; ++step) stage::nextOffset(seed);
            EXPECT_EQ(p->noiseSeed, seed) << factor << "x after " << frames << " frames";
        }
    }
}

TEST(TriodeStage, LargeInputSaturatesWithinTheSwing)
{
    for (int32_t factor : {1, 16}) {
        auto p = prepared(1, 150.0, 2.2e-5, 48000.0, factor);
        const double swing = p->outputSwing();
        for (int32_t i = 0; i < 2000; ++i) {
            const double y = p->processSample(0, (i % 2 ? 1e30 : -1e30));
            ASSERT_TRUE(std::isfinite(y));
            // The filters may ring a little past the table limits.
            ASSERT_LT(std::fabs(y), 2.0 * swing);
        }
    }
}

#if Z5R_PLATE_LOOKUP_AVX2_TEST
// The AVX2 build looks up both plate tables of both lanes in one register:
// the same bits as the baseline's two lookups, also on tables whose entries
// need the guard (a -0.0 entry read exactly, a non-finite coefficient), which no
// real setting makes and the golden outputs therefore never meet.
TEST(TriodeStage, PlateLookupInOneRegisterGivesTheBaselineBits)
{
    if (!__builtin_cpu_supports("avx2")) GTEST_SKIP() << "no AVX2 here";
    auto tables = std::make_unique<TriodeTables>();
    StageSettings settings;
    settings.oversampling = 16;
    {
        const FloatModeGuard audioThreadMode;
        tables->build(settings);
    }
    // Read exactly, a -0.0 entry whose slope is positive gives +0.0 from the
    // polynomial, and a non-finite coefficient a NaN: the guard must give
    // the entry itself.
    for (int32_t k = 192; k < 320; k += 8) {
        tables->plate[k].low.y1 = -0.0;
        tables->plate[k].low.c1 = 1.0;
        tables->plate[k].high.c3 = k % 16 ? std::numeric_limits<double>::infinity()
                                           : std::numeric_limits<double>::quiet_NaN();
    }
    const stage::StepTables t(*tables);

    std::vector<double> a, vin;
    int32_t onEntries = 0;
    for (int32_t k = 190; k < 320; ++k) {
        // Around entry k's voltage, a few steps of the last bit either side,
        // with the cathode at rest and away from it.
        const double onEntry = k / stage::kEntriesPerVolt + stage::kTableLowVolts;
        double below = onEntry, above = onEntry;
        for (int32_t step = 0; step < 4; ++step) {
            below = std::nextafter(below, -1e9);
            above = std::nextafter(above, 1e9);
        }
        for (double v = below; v <= above; v = std::nextafter(v, 1e9)) {
            for (double cathode : {0.0, 1.75, -0.5}) {
                a.push_back(cathode);
                vin.push_back(v + cathode * tables->cathodeShift);
            }
        }
    }
    const int32_t pairs = static_cast<int32_t>(a.size() / 2);
    for (bool guarded : {false, true}) {
        std::vector<double> baseline(a.size());
        for (int32_t k = 0; k < pairs; ++k) {
            const Lane2 ak = Lane2::load(&a[2 * k], 0), vk = Lane2::load(&vin[2 * k], 0);
            const Lane2 plate = guarded ? stage::plateOf<true>(t, ak, vk) : stage::plateOf<false>(t, ak, vk);
            plate.store(&baseline[2 * k], 0);
        }
        for (size_t i = 0; guarded && i < a.size(); ++i) {
            const double p = ((vin[i] - a[i] * tables->cathodeShift) - stage::kTableLowVolts) * stage::kEntriesPerVolt;
            if (p == std::floor(p)) ++onEntries;
        }
        EXPECT_EQ(plateLookupAvx2::mismatches(*tables, reinterpret_cast<const double(*)[2]>(a.data()),
                                              reinterpret_cast<const double(*)[2]>(vin.data()), pairs,
                                              baseline.data(), guarded),
                  0)
            << (guarded ? "guarded" : "unguarded");
    }
    EXPECT_GT(onEntries, 10) << "the inputs must read entries exactly, where the guard acts";
}
#endif
