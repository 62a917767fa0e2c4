// Port values in the units users read, against the normalized floats the
// VST 2.4 build gets for the same settings, and what wild values become.
#include "lv2/PortMap.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// The float nearest to (dB + offset) / 48, dB being the decimal k / 100
// exactly: what a VST 2.4 host hands the plug-in for that setting.
float vstValueForCentiDecibels(int32_t centi, int32_t offset)
{
    const long double exact = (static_cast<long double>(centi) / 100.0L + offset) / 48.0L;
    return static_cast<float>(exact);
}

TEST(PortMap, TypedDecibelsGiveTheVstFloatExactly)
{
    EXPECT_EQ(normalizedFromPhysical(kParamGain, 24.0f), 0.75f);
    EXPECT_EQ(normalizedFromPhysical(kParamGain, 26.4f), 0.8f);   // Moderate's gain
    EXPECT_EQ(normalizedFromPhysical(kParamLevel, 2.4f), 0.55f);  // Smooth's level
    EXPECT_EQ(normalizedFromPhysical(kParamLevel, -2.4f), 0.45f); // Moderate's level
    EXPECT_EQ(normalizedFromPhysical(kParamGain, -12.0f), 0.0f);
    EXPECT_EQ(normalizedFromPhysical(kParamGain, 36.0f), 1.0f);
    EXPECT_EQ(normalizedFromPhysical(kParamLevel, 0.0f), 0.5f);

    // Every setting to a hundredth of a dB over both ranges. A plain
    // (float + offset) / 48 misses about one in five of these by a step.
    int32_t misses = 0;
    for (int32_t centi = -1200; centi <= 3600; ++centi)
        misses += normalizedFromPhysical(kParamGain, static_cast<float>(centi / 100.0)) !=
                  vstValueForCentiDecibels(centi, 12);
    for (int32_t centi = -2400; centi <= 2400; ++centi)
        misses += normalizedFromPhysical(kParamLevel, static_cast<float>(centi / 100.0)) !=
                  vstValueForCentiDecibels(centi, 24);
    EXPECT_EQ(misses, 0);
}

TEST(PortMap, ValuesBeyondTheRangesAreClampedAndNaNTakesTheDefault)
{
    EXPECT_EQ(normalizedFromPhysical(kParamGain, 100.0f), 1.0f);
    EXPECT_EQ(normalizedFromPhysical(kParamGain, -1e30f), 0.0f);
    EXPECT_EQ(normalizedFromPhysical(kParamGain, kInf), 1.0f);
    EXPECT_EQ(normalizedFromPhysical(kParamLevel, -kInf), 0.0f);
    EXPECT_EQ(normalizedFromPhysical(kParamGain, kNaN), 0.5f);   // 12 dB
    EXPECT_EQ(normalizedFromPhysical(kParamLevel, kNaN), 0.5f);  // 0 dB
    // Tiny values near 0 dB take the plain formula's path.
    EXPECT_EQ(normalizedFromPhysical(kParamLevel, 1e-20f), 0.5f);
    EXPECT_EQ(normalizedFromPhysical(kParamGain, -1e-20f), 0.25f);
    for (const float wild : {kNaN, kInf, -kInf, 1e38f, -1e38f, 5.0f, -5.0f, 0.3f}) {
        for (int32_t i = 0; i < kNumParams; ++i) {
            const float n = normalizedFromPhysical(i, wild);
            EXPECT_TRUE(n >= 0.0f && n <= 1.0f) << kParameterInfo[i].symbol << " " << wild;
        }
    }
}

TEST(PortMap, EnumerationsTakeTheNearestEntry)
{
    struct Case {
        int32_t param;
        float port;
        float normalized;
    };
    const Case cases[] = {
        {kParamTriode, 0.0f, 0.0f},      {kParamTriode, 1.0f, 0.5f},     {kParamTriode, 2.0f, 1.0f},
        {kParamTriode, 0.49f, 0.0f},     {kParamTriode, 0.5f, 0.5f},     {kParamTriode, 1.7f, 1.0f},
        {kParamTriode, 9.0f, 1.0f},      {kParamTriode, -3.0f, 0.0f},    {kParamTriode, kNaN, 0.0f},
        {kParamVoltage, 150.0f, 0.0f},   {kParamVoltage, 250.0f, 0.5f},  {kParamVoltage, 350.0f, 1.0f},
        {kParamVoltage, 199.0f, 0.0f},   {kParamVoltage, 200.0f, 0.5f},  {kParamVoltage, 301.0f, 1.0f},
        {kParamVoltage, 0.0f, 0.0f},     {kParamVoltage, 1e9f, 1.0f},    {kParamVoltage, kNaN, 0.0f},
        {kParamCap, 0.47f, 0.0f},        {kParamCap, 1.0f, 0.5f},        {kParamCap, 22.0f, 1.0f},
        {kParamCap, 0.7f, 0.0f},         {kParamCap, 0.8f, 0.5f},        {kParamCap, 11.0f, 0.5f},
        {kParamCap, 12.0f, 1.0f},        {kParamCap, -1.0f, 0.0f},       {kParamCap, 470.0f, 1.0f},
        {kParamOversample, 0.0f, 0.0f},  {kParamOversample, 1.0f, 1.0f}, {kParamOversample, 1e-6f, 1.0f},
        {kParamOversample, -1.0f, 0.0f}, {kParamOversample, kNaN, 0.0f}, {kParamNormalize, 0.5f, 1.0f},
        {kParamNormalize, 0.0f, 0.0f},   {kParamNormalize, kInf, 1.0f},
    };
    for (const Case& c : cases)
        EXPECT_EQ(normalizedFromPhysical(c.param, c.port), c.normalized) << kParameterInfo[c.param].symbol << " " << c.port;

    // The engine picks the same entry from the normalized value.
    for (const int32_t param : {kParamTriode, kParamVoltage, kParamCap})
        for (float v = -1.0f; v < 400.0f; v += 0.25f)
            EXPECT_EQ(choiceEntry(param, normalizedFromPhysical(param, v)), choiceIndex(param, v));
}

TEST(PortMap, NormalizedValuesComeBackThroughThePort)
{
    // A dial or a preset writes port values; the plug-in must hear the
    // normalized value they came from.
    for (int32_t k = 0; k <= 10000; ++k) {
        const float n = static_cast<float>(k / 10000.0);
        for (const int32_t param : {kParamGain, kParamLevel}) {
            const float port = physicalFromNormalized(param, n);
            ASSERT_GE(port, kParameterInfo[param].minimum);
            ASSERT_LE(port, kParameterInfo[param].maximum);
            ASSERT_EQ(normalizedFromPhysical(param, port), n) << kParameterInfo[param].symbol << " " << n;
        }
    }
    // Switches and table entries, including the bank's 2.0 and wild values.
    const float values[] = {0.0f, 0.2f, 0.34f, 0.5f, 0.7f, 1.0f, 2.0f, -4.0f, kNaN};
    for (const float v : values) {
        EXPECT_EQ(switchIsOn(normalizedFromPhysical(kParamOversample, physicalFromNormalized(kParamOversample, v))),
                  switchIsOn(v));
        for (const int32_t param : {kParamTriode, kParamVoltage, kParamCap})
            EXPECT_EQ(choiceEntry(param, normalizedFromPhysical(param, physicalFromNormalized(param, v))),
                      choiceEntry(param, v));
    }
    EXPECT_EQ(physicalFromNormalized(kParamVoltage, 2.0f), 350.0f);
    EXPECT_EQ(physicalFromNormalized(kParamCap, 1.0f), 22.0f);
    EXPECT_EQ(physicalFromNormalized(kParamGain, kNaN), 12.0f);
    EXPECT_EQ(physicalFromNormalized(kParamLevel, 3.0f), 24.0f);
}

TEST(PortMap, DefaultsAreFactoryProgramZero)
{
    // A new instance's engine starts with program 0; the ports' defaults
    // must stand for the same settings, or a host's first run would differ.
    for (int32_t i = 0; i < kNumParams; ++i)
        EXPECT_EQ(normalizedFromPhysical(i, kParameterInfo[i].defaultPhysical), kFactoryPrograms[0].values[i])
            << kParameterInfo[i].symbol;
}

TEST(PortMap, IndicesOutsideTheTableAreHarmless)
{
    EXPECT_EQ(normalizedFromPhysical(-1, 3.0f), 0.0f);
    EXPECT_EQ(normalizedFromPhysical(kNumParams, 3.0f), 0.0f);
    EXPECT_EQ(physicalFromNormalized(kNumParams, 0.5f), 0.0f);
    EXPECT_EQ(choiceIndex(99, 1.0f), 0);
}

}  // namespace
