// The product's one description as the formats read it: typed text to
// values for every parameter, display texts that read back, the table's
// own consistency, the saved-state blob against damage, and the program
// bank under two switching threads.
#include "engine/InstanceState.h"
#include "engine/ParameterInfo.h"
#include "engine/Product.h"
#include "engine/ProgramBank.h"
#include "engine/TubeEngine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Typed {
    int32_t index;
    const char* text;
    float normalized;
};

std::string shown(int32_t index, float normalized)
{
    char text[32];
    formatParameterValue(index, normalized, text, sizeof(text));
    return text;
}

}  // namespace

TEST(TypedValues, EveryParameterTakesItsNumbersUnitsAndNames)
{
    const Typed cases[] = {
        {kParamGain, "24", 0.75f},           {kParamGain, "24 dB", 0.75f},     {kParamGain, "+24.0dB", 0.75f},
        {kParamGain, " 26.4 DB ", 0.8f},     {kParamGain, "-12", 0.0f},        {kParamGain, "100", 1.0f},
        {kParamGain, "-99 dB", 0.0f},        {kParamLevel, "0", 0.5f},         {kParamLevel, "-24dB", 0.0f},
        {kParamLevel, "2.4", 0.55f},         {kParamTriode, "12AX7", 0.0f},    {kParamTriode, "12at7", 0.5f},
        {kParamTriode, "12AU7", 1.0f},       {kParamTriode, "2", 1.0f},        {kParamVoltage, "350 V", 1.0f},
        {kParamVoltage, "250", 0.5f},        {kParamVoltage, "150V", 0.0f},    {kParamVoltage, "280 V", 0.5f},
        {kParamCap, "1uF", 0.5f},            {kParamCap, "1 \xC2\xB5" "F", 0.5f}, {kParamCap, "0.47", 0.0f},
        {kParamCap, "22 uF", 1.0f},          {kParamCap, "1.00", 0.5f},        {kParamOversample, "16", 1.0f},
        {kParamOversample, "16x", 1.0f},     {kParamOversample, "1", 0.0f},    {kParamOversample, "1x", 0.0f},
        {kParamOversample, "0", 0.0f},       {kParamNormalize, "Yes", 1.0f},   {kParamNormalize, "off", 0.0f},
        {kParamNormalize, "On", 1.0f},       {kParamNormalize, "0", 0.0f},     {kParamNormalize, "1", 1.0f},
    };
    for (const Typed& c : cases) {
        float value = -1.0f;
        ASSERT_TRUE(parseParameterText(c.index, c.text, value)) << c.index << " '" << c.text << "'";
        EXPECT_EQ(value, c.normalized) << c.index << " '" << c.text << "'";
    }
}

TEST(TypedValues, JunkIsRefusedAndChangesNothing)
{
    const char* junk[] = {"",     "   ",   "dB",   "abc",  "24 kV", "1e3", "nan", "inf",  "--3",
                          "3..5", "12AX8", "0x10", "+",    "24dBx", ".",   "yes please"};
    for (int32_t index = 0; index < kNumParams; ++index) {
        for (const char* text : junk) {
            float value = 0.125f;
            EXPECT_FALSE(parseParameterText(index, text, value)) << index << " '" << text << "'";
            EXPECT_EQ(value, 0.125f);
        }
    }
    float value = 0.125f;
    EXPECT_FALSE(parseParameterText(-1, "24", value));
    EXPECT_FALSE(parseParameterText(kNumParams, "24", value));
    EXPECT_FALSE(parseParameterText(kParamVoltage, "12AT7", value));  // another parameter's word
    EXPECT_FALSE(parseParameterText(kParamGain, "24 V", value));       // another parameter's unit
    EXPECT_EQ(value, 0.125f);
}

TEST(TypedValues, EveryDisplayTextReadsBackToTheSameText)
{
    for (int32_t index = 0; index < kNumParams; ++index) {
        for (int32_t step = 0; step <= 100; ++step) {
            const float normalized = static_cast<float>(step) / 100.0f;
            const std::string text = shown(index, normalized);
            float back = -1.0f;
            ASSERT_TRUE(parseParameterText(index, text, back)) << index << " '" << text << "'";
            EXPECT_EQ(shown(index, back), text) << index;
            if (kParameterInfo[index].kind == ParamKind::Choice) {
                EXPECT_EQ(choiceEntry(index, back), choiceEntry(index, normalized)) << index << " " << normalized;
            } else if (kParameterInfo[index].kind == ParamKind::Switch) {
                EXPECT_EQ(switchIsOn(back), switchIsOn(normalized)) << index << " " << normalized;
            }
        }
    }
}

TEST(Description, TheTableHoldsTogether)
{
    for (int32_t i = 0; i < kNumParams; ++i) {
        const ParameterInfo& p = kParameterInfo[i];
        SCOPED_TRACE(p.symbol);
        EXPECT_LE(std::strlen(p.shortName), 8u);
        EXPECT_LE(std::strlen(p.unit), 8u);
        EXPECT_EQ(p.defaultValue, kFactoryPrograms[0].values[i]);
        EXPECT_EQ(normalizedFromPhysical(i, p.defaultPhysical), p.defaultValue);
        EXPECT_EQ(p.stepCount, p.kind == ParamKind::Continuous ? 0 : entryCount(i) - 1);
        for (int32_t other = 0; other < i; ++other) EXPECT_STRNE(p.symbol, kParameterInfo[other].symbol);
        EXPECT_EQ(findParameter(p.symbol), i);
        EXPECT_EQ(findParameter(p.shortName), i);
        EXPECT_EQ(findParameter(p.name), i);
        if (p.kind == ParamKind::Choice)
            for (int32_t e = 0; e <= p.stepCount; ++e) {
                EXPECT_EQ(normalizedFromPhysical(i, p.entries[e]), entryValue(e, p.stepCount + 1));
                if (e > 0) {
                    EXPECT_LT(p.entries[e - 1], p.entries[e]);
                }
            }
    }
    EXPECT_EQ(findParameter("GAIN"), kParamGain);
    EXPECT_EQ(findParameter("Cathode capacitor"), kParamCap);
    EXPECT_EQ(findParameter("drive"), -1);
    EXPECT_EQ(findParameter(""), -1);
    EXPECT_EQ(product::kVendorVersion, 1060);
    EXPECT_STREQ(product::kVersionString, "1.0.6");
}

namespace {

InstanceState sampleState()
{
    InstanceState state{};
    for (int32_t i = 0; i < kNumParams; ++i) state.values[i] = 0.1f * static_cast<float>(i + 1);
    state.bank.current = 5;
    for (int32_t row = 0; row < kNumPrograms; ++row) {
        state.bank.rows[row] = factoryRecord(row);
        state.bank.rows[row].values[kParamGain] = 0.01f * static_cast<float>(row);
    }
    std::memcpy(state.bank.rows[2].name, "twenty-four characters!!", kProgramNameLength);  // no terminator
    return state;
}

bool sameState(const InstanceState& a, const InstanceState& b) { return std::memcmp(&a, &b, sizeof(a)) == 0; }

}  // namespace

TEST(SavedState, RoundTripsWholeAndLittleEndian)
{
    const InstanceState state = sampleState();
    std::vector<uint8_t> blob(kInstanceStateSize);
    writeInstanceState(state, blob.data());
    EXPECT_EQ(std::string(blob.begin(), blob.begin() + 4), "Z5RS");
    EXPECT_EQ(blob[4], 1);  // version 1, least significant byte first
    EXPECT_EQ(blob[5] | blob[6] | blob[7], 0);
    InstanceState read{};
    ASSERT_TRUE(readInstanceState(blob.data(), blob.size(), read));
    EXPECT_TRUE(sameState(read, state));
}

TEST(SavedState, DamagedBlobsAreRefusedAndTouchNothing)
{
    const InstanceState state = sampleState();
    std::vector<uint8_t> good(kInstanceStateSize);
    writeInstanceState(state, good.data());
    const InstanceState untouched = sampleState();

    auto refused = [&](const std::vector<uint8_t>& blob, const char* what) {
        InstanceState read = untouched;
        EXPECT_FALSE(readInstanceState(blob.data(), blob.size(), read)) << what;
        EXPECT_TRUE(sameState(read, untouched)) << what;
    };
    for (size_t length = 0; length < good.size(); length += 7)
        refused(std::vector<uint8_t>(good.begin(), good.begin() + static_cast<ptrdiff_t>(length)), "truncated");
    std::vector<uint8_t> longer = good;
    longer.push_back(0);
    refused(longer, "oversized");
    std::vector<uint8_t> bad = good;
    bad[0] = 'X';
    refused(bad, "magic");
    bad = good;
    bad[4] = 2;
    refused(bad, "version");
    bad = good;
    bad[8 + 4 * kNumParams] = kNumPrograms;
    refused(bad, "program");
    bad = good;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::memcpy(&bad[8], &nan, 4);
    refused(bad, "NaN value");
    bad = good;
    const float inf = std::numeric_limits<float>::infinity();
    std::memcpy(&bad[kInstanceStateSize - 4], &inf, 4);
    refused(bad, "infinite program value");

    std::mt19937 random(7);
    for (int32_t trial = 0; trial < 200; ++trial) {
        std::vector<uint8_t> garbage(kInstanceStateSize);
        for (uint8_t& b : garbage) b = static_cast<uint8_t>(random());
        refused(garbage, "garbage");
    }
    InstanceState read = untouched;
    EXPECT_FALSE(readInstanceState(nullptr, kInstanceStateSize, read));
}

TEST(SavedState, RestoringAnInstanceGivesItsValuesProgramsAndNames)
{
    TubeEngine engine;
    ProgramBank bank;
    const InstanceState state = sampleState();
    restoreInstanceState(state, bank, engine);
    EXPECT_EQ(bank.current(), 5);
    for (int32_t i = 0; i < kNumParams; ++i) EXPECT_EQ(engine.getParameter(i), state.values[i]);
    EXPECT_EQ(std::memcmp(bank.row(2).name, "twenty-four characters!!", kProgramNameLength), 0);
    EXPECT_TRUE(sameState(captureInstanceState(bank, engine), state));
}

TEST(ProgramBankThreads, TwoThreadsSwitchingNeverMixProgramsOrRows)
{
    // Programs 1 and 2 differ in every value; each thread switches between
    // its own pair, so that the rows 1 and 2 are saved and loaded by both.
    TubeEngine engine;
    ProgramBank bank;
    const ProgramRecord row1 = factoryRecord(1);
    const ProgramRecord row2 = factoryRecord(2);
    std::atomic<bool> stop{false};
    auto switcher = [&](int32_t a, int32_t b) {
        for (int32_t n = 0; n < 20000 && !stop.load(); ++n) bank.select(n % 2 ? a : b, engine);
    };
    std::thread first(switcher, 1, 2);
    std::thread second(switcher, 2, 0);
    int32_t mixed = 0;
    for (int32_t n = 0; n < 20000; ++n) {
        float values[kNumParams];
        const ProgramBank::Contents contents = bank.capture(engine, values);
        // The engine holds exactly the row in force: nobody edits.
        if (std::memcmp(values, contents.rows[contents.current].values, sizeof(values)) != 0) ++mixed;
    }
    stop.store(true);
    first.join();
    second.join();
    EXPECT_EQ(mixed, 0);
    EXPECT_EQ(std::memcmp(bank.row(1).values, row1.values, sizeof(row1.values)), 0);
    EXPECT_EQ(std::memcmp(bank.row(2).values, row2.values, sizeof(row2.values)), 0);
}
