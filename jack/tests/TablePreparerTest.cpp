// A new sample rate's tables are made off the process thread: blocks pass
// the input through until they are ready, then the engine plays at the new
// rate from tables the helper made.
#include "dsp/TriodeTables.h"
#include "engine/TubeEngine.h"
#include "jack/TablePreparer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace jackapp;

namespace {

constexpr uint32_t kFrames = 256;
constexpr int32_t kGenerousMs = 120000;

struct Block {
    std::vector<float> inL = std::vector<float>(kFrames), inR = std::vector<float>(kFrames);
    std::vector<float> outL = std::vector<float>(kFrames), outR = std::vector<float>(kFrames);
    Block()
    {
        for (uint32_t k = 0; k < kFrames; ++k) {
            inL[k] = 0.5f * std::sin(0.05f * static_cast<float>(k));
            inR[k] = 0.25f * std::cos(0.03f * static_cast<float>(k));
        }
    }
    void run(TubeEngine& engine, const TablePreparer& tables)
    {
        processBlock(engine, tables, inL.data(), inR.data(), outL.data(), outR.data(), kFrames);
    }
};

StageSettings stageAt(double rate)
{
    StageSettings stage;
    stage.sampleRate = rate;
    stage.supplyVoltage = kSupplyVoltages[0];
    stage.cathodeCapacitor = kCathodeCaps[0];
    return stage;
}

}  // namespace

TEST(JackTablePreparer, BlocksPassThroughUntilTheTablesAreReady)
{
    TubeEngine engine;
    TablePreparer tables(engine);
    Block block;
    EXPECT_FALSE(tables.ready());
    block.run(engine, tables);
    EXPECT_EQ(block.outL, block.inL);
    EXPECT_EQ(block.outR, block.inR);

    ASSERT_TRUE(tables.prepareNow(48000.0f));
    EXPECT_TRUE(tables.ready());
    block.run(engine, tables);
    EXPECT_NE(block.outL, block.inL);
    // The engine's own output, as a second engine gives it for the same block.
    TubeEngine reference;
    Block expected;
    reference.process(expected.inL.data(), expected.inR.data(), expected.outL.data(), expected.outR.data(), kFrames);
    EXPECT_EQ(block.outL, expected.outL);
    EXPECT_EQ(block.outR, expected.outR);
}

TEST(JackTablePreparer, ANewRateIsPreparedByTheHelperAndTheSameRateChangesNothing)
{
    TubeEngine engine;
    TablePreparer tables(engine);
    ASSERT_TRUE(tables.prepareNow(48000.0f));

    // The rate in force again (JACK repeats it when the callback is set).
    EXPECT_TRUE(tables.rateChanged(48000.0f));
    EXPECT_TRUE(tables.ready());

    // A rate no other test uses, so that its tables are surely new.
    constexpr float kNewRate = 37800.0f;
    ASSERT_EQ(tableCache::find(stageAt(kNewRate)), nullptr);
    ASSERT_TRUE(tables.rateChanged(kNewRate));
    EXPECT_EQ(engine.getSampleRate(), kNewRate);
    ASSERT_TRUE(tables.waitUntilReady(kGenerousMs));
    EXPECT_NE(tableCache::find(stageAt(kNewRate)), nullptr) << "the helper made no tables";
    Block block;
    block.run(engine, tables);
    EXPECT_EQ(engine.processor().settings().sampleRate, kNewRate);

    // A rate the engine refuses leaves the one in force, and ready.
    EXPECT_FALSE(tables.rateChanged(1.0f));
    EXPECT_EQ(engine.getSampleRate(), kNewRate);
    EXPECT_TRUE(tables.ready());
}
