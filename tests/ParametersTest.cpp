// Parameters and programs as the host sees them: display texts at their
// boundaries, names and labels with their limits, and program switching,
// saving and renaming in the bank that all instances share.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <memory>
#include <string>

namespace {

intptr_t VST_CALL quietHost(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float)
{
    return opcode == audioMasterVersion ? 2400 : 0;
}

class Parameters : public ::testing::Test {
protected:
    void SetUp() override
    {
        effect = std::make_unique<TubeEffect>(quietHost);
    }

    std::string display(int32_t index, float value)
    {
        effect->setParameter(index, value);
        char text[16];
        std::memset(text, '#', sizeof(text));
        effect->getParameterDisplay(index, text);
        EXPECT_EQ(text[8], '#') << "display text overran its 8 bytes";
        return text;
    }

    std::unique_ptr<TubeEffect> effect;
};

}  // namespace

TEST_F(Parameters, DisplayTextsAtTheirBoundaries)
{
    EXPECT_EQ(display(kParamGain, 0.5f), "12.00");
    EXPECT_EQ(display(kParamGain, 0.0f), "-12.00");
    EXPECT_EQ(display(kParamGain, 1.0f), "36.00");
    EXPECT_EQ(display(kParamLevel, 0.0f), "-24.00");
    EXPECT_EQ(display(kParamLevel, 1.0f), "24.00");
    EXPECT_EQ(display(kParamTriode, 0.33f), "12AX7");
    EXPECT_EQ(display(kParamTriode, 0.34f), "12AT7");
    EXPECT_EQ(display(kParamTriode, 0.667f), "12AU7");
    EXPECT_EQ(display(kParamTriode, 2.0f), "12AU7");
    EXPECT_EQ(display(kParamVoltage, 0.0f), "150");
    EXPECT_EQ(display(kParamVoltage, 0.5f), "250");
    EXPECT_EQ(display(kParamVoltage, 1.0f), "350");
    EXPECT_EQ(display(kParamCap, 0.0f), "0.47");
    EXPECT_EQ(display(kParamCap, 0.5f), "1.00");
    EXPECT_EQ(display(kParamCap, 1.0f), "22.00");
    EXPECT_EQ(display(kParamNormalize, 0.49f), "No");
    EXPECT_EQ(display(kParamNormalize, 0.5f), "Yes");
}

TEST_F(Parameters, WildValuesAreStoredAsGivenAndShownSafely)
{
    // Nothing clamps a stored value; the tables fall back to their first
    // entry below 1/3, so negative values and NaN can never index outside.
    EXPECT_EQ(display(kParamTriode, -0.4f), "12AX7");
    EXPECT_EQ(display(kParamVoltage, -5.0f), "150");
    EXPECT_EQ(display(kParamCap, std::nanf("")), "0.47");
    EXPECT_EQ(display(kParamCap, std::numeric_limits<float>::infinity()), "22.00");
    EXPECT_EQ(effect->getParameter(kParamVoltage), -5.0f);
    // A text that would need 8 characters or more is cut at 7.
    EXPECT_EQ(display(kParamGain, 1e30f).size(), 7u);
    EXPECT_EQ(display(kParamLevel, -1e6f), "-480000");
    display(kParamGain, std::nanf(""));
}

TEST_F(Parameters, OversamplingShowsTheFactorInForce)
{
    EXPECT_EQ(display(kParamOversample, 1.0f), "1");
    float silence = 0.0f;
    float* buffers[2] = {&silence, &silence};
    tableBuilder::waitUntilIdle();  // the 16x set ready, as a few milliseconds after a new rate
    effect->processReplacing(buffers, buffers, 1);
    EXPECT_EQ(display(kParamOversample, 0.0f), "16");
}

TEST_F(Parameters, NamesAndLabelsWithinTheirLimits)
{
    const char* names[] = {"Oversmpl", "Gain", "Level", "Triode", "Voltage", "Cap", "Normaliz"};
    const char* labels[] = {"x", "dB", "dB", "", "V", "uF", ""};
    for (int32_t i = 0; i < kNumParams; ++i) {
        char text[12];
        std::memset(text, '#', sizeof(text));
        effect->getParameterName(i, text);
        EXPECT_STREQ(text, names[i]);
        EXPECT_EQ(text[9], '#');
        std::memset(text, '#', sizeof(text));
        effect->getParameterLabel(i, text);
        EXPECT_STREQ(text, labels[i]);
        EXPECT_EQ(text[7], '\0');  // zero-filled to 8 bytes
        EXPECT_EQ(text[9], '#');
    }
    char text[12] = "untouched";
    effect->getParameterName(9, text);
    EXPECT_STREQ(text, "Unknown");
    std::strcpy(text, "untouched");
    effect->getParameterLabel(9, text);
    effect->getParameterDisplay(-1, text);
    effect->getParameterLabel(7, text);
    EXPECT_STREQ(text, "untouched");
    effect->getParameterName(0, nullptr);
    effect->getParameterDisplay(0, nullptr);
}

TEST_F(Parameters, OutOfRangeIndicesSetNothing)
{
    float silence = 0.0f;
    float* buffers[2] = {&silence, &silence};
    effect->processReplacing(buffers, buffers, 0);
    ASSERT_EQ(effect->getChangeMask(), 0);
    effect->setParameter(7, 0.3f);
    effect->setParameter(-1, 0.3f);
    effect->setParameter(std::numeric_limits<int32_t>::min(), 0.3f);
    EXPECT_EQ(effect->getChangeMask(), 0);
    EXPECT_EQ(effect->getParameter(7), 0.0f);
    EXPECT_EQ(effect->getParameter(-1), 0.0f);
    effect->setParameter(kParamLevel, 0.3f);
    EXPECT_EQ(effect->getChangeMask(), 1 << kParamLevel);
}

TEST_F(Parameters, SwitchingProgramsSavesTheRowBeingLeft)
{
    effect->setParameter(kParamGain, 0.9f);
    effect->setProgram(1);
    EXPECT_EQ(effect->getProgram(), 1);
    EXPECT_EQ(effect->getParameter(kParamTriode), 2.0f);
    char text[16];
    effect->getParameterDisplay(kParamTriode, text);
    EXPECT_STREQ(text, "12AU7");
    effect->setProgram(0);
    EXPECT_EQ(effect->getParameter(kParamGain), 0.9f);
    EXPECT_EQ(effect->getProgramRecord(0).values[kParamGain], 0.9f);

    // Every instance has a bank of its own: a renamed and edited program of
    // one never reaches another, nor an instance opened later.
    char name[] = "Edge";
    effect->setProgramName(name);
    TubeEffect other(quietHost);
    EXPECT_EQ(other.getParameter(kParamGain), 0.5f);
    other.setProgram(1);
    other.setProgram(0);
    EXPECT_EQ(other.getParameter(kParamGain), 0.5f);
    char otherName[32];
    other.getProgramName(otherName);
    EXPECT_STREQ(otherName, "Default");
}

TEST_F(Parameters, SelectingTheCurrentOrAnInvalidProgramDoesNothing)
{
    float silence = 0.0f;
    float* buffers[2] = {&silence, &silence};
    effect->processReplacing(buffers, buffers, 0);
    effect->setParameter(kParamGain, 0.9f);
    effect->setProgram(0);
    EXPECT_EQ(effect->getChangeMask(), 1 << kParamGain);
    EXPECT_EQ(effect->getProgramRecord(0).values[kParamGain], 0.5f);
    for (intptr_t bad : {intptr_t(8), intptr_t(-1), intptr_t(-4294967293LL), intptr_t(4294967299LL)}) {
        EXPECT_EQ(effect->dispatcher(effSetProgram, 0, bad, nullptr, 0.0f), 0);
        EXPECT_EQ(effect->dispatcher(effGetProgram, 0, 0, nullptr, 0.0f), 0);
    }
    effect->setProgram(-3);
    EXPECT_EQ(effect->getProgram(), 0);
}

TEST_F(Parameters, ProgramNamesAreCutAt24Characters)
{
    char name[32];
    std::memset(name, '#', sizeof(name));
    effect->getProgramName(name);
    EXPECT_STREQ(name, "Default");
    EXPECT_EQ(name[23], '\0');
    EXPECT_EQ(name[25], '#');

    char longName[] = "A very long name of thirty chr";
    effect->setProgramName(longName);
    std::memset(name, '#', sizeof(name));
    effect->getProgramName(name);
    EXPECT_EQ(std::string(name), std::string(longName, 24));
    EXPECT_EQ(name[25], '#');
    EXPECT_EQ(effect->getProgramRecord(0).values[0], 0.0f);  // the row's values are untouched

    char shortName[] = "Crunch";
    effect->setProgramName(shortName);
    EXPECT_EQ(std::memcmp(effect->getProgramRecord(0).name, "Crunch\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 24), 0);
    effect->setProgramName(nullptr);
    effect->getProgramName(nullptr);

    effect->setProgram(3);
    effect->getProgramName(name);
    EXPECT_STREQ(name, "Maximum Overdrive");
}

TEST(ParameterMapping, EntryIndexRule)
{
    // Three entries: the rule every saved project's choices were made with.
    EXPECT_EQ(entryIndex(0.0f, 3), 0);
    EXPECT_EQ(entryIndex(0.3333f, 3), 0);
    EXPECT_EQ(entryIndex(1.0f / 3.0f, 3), 1);
    EXPECT_EQ(entryIndex(0.6666f, 3), 1);
    EXPECT_EQ(entryIndex(2.0f / 3.0f, 3), 2);
    EXPECT_EQ(entryIndex(1.0f, 3), 2);
    EXPECT_EQ(entryIndex(1e30f, 3), 2);
    EXPECT_EQ(entryIndex(-1.0f, 3), 0);
    EXPECT_EQ(entryIndex(std::nanf(""), 3), 0);
    EXPECT_EQ(entryIndex(-std::numeric_limits<float>::infinity(), 3), 0);
    EXPECT_EQ(entryIndex(std::numeric_limits<float>::infinity(), 3), 2);
    // Another count spreads the same way, and each entry's value selects it.
    for (int32_t entries : {2, 3, 4, 5})
        for (int32_t e = 0; e < entries; ++e) EXPECT_EQ(entryIndex(entryValue(e, entries), entries), e) << entries;
    EXPECT_EQ(entryIndex(0.74f, 4), 2);
    EXPECT_EQ(entryIndex(0.75f, 4), 3);
    EXPECT_EQ(entryValue(1, 3), 0.5f);
    for (int32_t param : {kParamTriode, kParamVoltage, kParamCap})
        EXPECT_EQ(kParameterInfo[param].stepCount + 1, entryCount(param)) << param;
}
