// The background table builder and the cache's bounds: the audio thread
// never builds a set; a setting whose set is not ready waits on the set in
// force; a new rate passes the input through until its first set is ready;
// rates nobody uses are evicted, never one an instance can still read.
#include "engine/TableBuilder.h"
#include "engine/TubeEngine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

namespace {

std::vector<float> ramp(int32_t frames, float start)
{
    std::vector<float> v(frames);
    for (int32_t i = 0; i < frames; ++i) v[i] = start + 0.01f * static_cast<float>(i);
    return v;
}

void process(TubeEngine& engine, std::vector<float>& left, std::vector<float>& right, int32_t frames)
{
    std::vector<float> inL = ramp(frames, 0.1f), inR = ramp(frames, -0.3f);
    left.resize(frames);
    right.resize(frames);
    engine.process(inL.data(), inR.data(), left.data(), right.data(), frames);
}

// Rates no other test uses, so that no set of them is ready beforehand.
double freshRate()
{
    static std::atomic<int32_t> next{0};
    return 23011.0 + 97.0 * next.fetch_add(1);
}

}  // namespace

TEST(TableBuilder, ANewRatePassesTheInputThroughUntilItsFirstSetIsReady)
{
    const float rate = static_cast<float>(freshRate());
    std::vector<float> outL, outR;
    {
        tableBuilder::Pause hold;
        while (tableBuilder::isRunning()) std::this_thread::yield();  // the set in hand finished
        TubeEngine engine;
        ASSERT_TRUE(engine.setSampleRate(rate));
        engine.setParameter(kParamOversample, 1.0f);  // latency 8
        engine.setParameter(kParamLevel, 0.75f);      // +12 dB
        const uint64_t builds = tableCache::buildsOnThisThread();
        const int32_t frames = 40;
        std::vector<float> inL = ramp(frames, 0.1f), inR = ramp(frames, -0.3f);
        // In place, as many hosts run: the delay line reads each frame first.
        outL = inL;
        outR = inR;
        engine.process(outL.data(), outR.data(), outL.data(), outR.data(), frames);
        EXPECT_EQ(tableCache::buildsOnThisThread(), builds);
        EXPECT_FALSE(engine.tablesCurrent());
        const float level = static_cast<float>(std::pow(10.0, 12.0 / 20.0));
        for (int32_t k = 0; k < frames; ++k) {
            ASSERT_EQ(outL[k], k < 8 ? 0.0f : inL[k - 8] * level) << k;
            ASSERT_EQ(outR[k], k < 8 ? 0.0f : inR[k - 8] * level) << k;
        }
        // Not a number counts as silence, and nothing leaves louder than
        // 60 dB over full scale, whatever the level adds on the way.
        float bad[3] = {std::nanf(""), 1e30f, -900.0f};
        float badOut[3];
        engine.setParameter(kParamOversample, 0.0f);
        engine.process(bad, bad, badOut, badOut, 3);
        EXPECT_EQ(badOut[0], 0.0f);
        EXPECT_EQ(badOut[1], 1000.0f);
        EXPECT_EQ(badOut[2], -1000.0f);

        // Resume makes the one set the settings need, here; the rest waits.
        engine.prepareTables();
        EXPECT_EQ(tableCache::buildsOnThisThread(), builds + 1);
        EXPECT_EQ(tableCache::readyCount(rate), 1);
        process(engine, outL, outR, 16);
        EXPECT_TRUE(engine.tablesCurrent());
        EXPECT_EQ(engine.processor().settings().sampleRate, static_cast<double>(rate));
    }
    tableBuilder::waitUntilIdle();
}

TEST(TableBuilder, ASettingWhoseSetIsNotReadyWaitsOnTheSetInForce)
{
    const float rate = static_cast<float>(freshRate());
    TubeEngine engine;
    std::vector<float> outL, outR;
    {
        tableBuilder::Pause hold;
        while (tableBuilder::isRunning()) std::this_thread::yield();  // the set in hand finished
        ASSERT_TRUE(engine.setSampleRate(rate));
        engine.prepareTables();
        process(engine, outL, outR, 32);
        ASSERT_TRUE(engine.tablesCurrent());
        const TriodeTables* inForce = &engine.processor().tables();
        const double cathode = engine.processor().channels[0].cathodeVoltage;

        engine.setParameter(kParamTriode, 1.0f);
        engine.setParameter(kParamOversample, 1.0f);
        const uint64_t builds = tableCache::buildsOnThisThread();
        process(engine, outL, outR, 32);
        EXPECT_EQ(tableCache::buildsOnThisThread(), builds);
        EXPECT_FALSE(engine.tablesCurrent());
        // The stage runs on, at the factor of the set in force.
        EXPECT_EQ(&engine.processor().tables(), inForce);
        EXPECT_EQ(engine.oversamplingInForce(), 1);
        EXPECT_NE(engine.processor().channels[0].cathodeVoltage, cathode);
        for (float v : outL) ASSERT_TRUE(std::isfinite(v));
    }
    // The builder makes the asked-for set first; the first block after it is
    // published takes it, with the new tube's resting point.
    tableBuilder::waitUntilIdle();
    EXPECT_EQ(tableCache::readyCount(rate), tableCache::kSetsPerRate);
    float silence[1] = {0.0f}, out[1];
    engine.process(silence, silence, out, out, 0);
    EXPECT_TRUE(engine.tablesCurrent());
    EXPECT_EQ(engine.processor().getTriodeIndex(), 2);
    EXPECT_EQ(engine.oversamplingInForce(), 16);
    EXPECT_EQ(engine.processor().channels[0].cathodeVoltage,
              biasCathodeVoltage(engine.processor().settings().supplyVoltage, 2));
}

TEST(TableBuilder, TheAudioThreadBuildsNoSetWhateverTheHostDoes)
{
    // A host that changes rates without suspend and resume, while the audio
    // thread runs and automation walks through every tube setting.
    auto engine = std::make_unique<TubeEngine>();
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> audioBuilds{~uint64_t{0}};
    std::atomic<int32_t> blocks{0};
    const float rates[2] = {static_cast<float>(freshRate()), static_cast<float>(freshRate())};
    std::thread audio([&] {
        const uint64_t before = tableCache::buildsOnThisThread();
        std::vector<float> outL, outR;
        while (!stop) {
            process(*engine, outL, outR, 32);
            for (float v : outL) ASSERT_TRUE(std::isfinite(v));
            blocks.fetch_add(1);
        }
        audioBuilds = tableCache::buildsOnThisThread() - before;
    });
    for (int32_t i = 0; i < 60; ++i) {
        engine->setSampleRate(rates[i % 2]);
        engine->setParameter(kParamTriode, static_cast<float>(i % 3) * 0.5f);
        engine->setParameter(kParamVoltage, static_cast<float>(i % 5) * 0.25f);
        engine->setParameter(kParamCap, static_cast<float>(i % 7) / 6.0f);
        engine->setParameter(kParamOversample, i % 4 < 2 ? 1.0f : 0.0f);
        const int32_t seen = blocks.load();
        while (blocks.load() < seen + 2) std::this_thread::yield();
    }
    tableBuilder::waitUntilIdle();
    const int32_t seen = blocks.load();
    while (blocks.load() < seen + 2) std::this_thread::yield();
    stop = true;
    audio.join();
    EXPECT_EQ(audioBuilds.load(), 0u);
    EXPECT_TRUE(engine->tablesCurrent());
    // The builder fills the rate in use; the one left is only kept.
    EXPECT_EQ(tableCache::readyCount(rates[1]), tableCache::kSetsPerRate);
}

TEST(TableCache, RatesNobodyUsesAreEvictedAndARateInUseNeverIs)
{
    tableBuilder::waitUntilIdle();
    // An instance at one rate, its audio thread on one of the rate's sets.
    auto engine = std::make_unique<TubeEngine>();
    const float held = static_cast<float>(freshRate());
    ASSERT_TRUE(engine->setSampleRate(held));
    engine->prepareTables();
    std::vector<float> outL, outR;
    process(*engine, outL, outR, 16);
    ASSERT_TRUE(engine->tablesCurrent());
    const TriodeTables* inForce = &engine->processor().tables();
    Table before = inForce->transferLow;

    // The host moves it to a rate whose sets are not ready: until the audio
    // thread moves too, the old rate can still be read, and stays.
    tableBuilder::Pause hold;
    // The set in hand is finished, and its use of the rate given back.
    while (tableBuilder::isRunning()) std::this_thread::yield();
    ASSERT_TRUE(engine->setSampleRate(static_cast<float>(freshRate())));
    for (int32_t i = 0; i < tableCache::kKeptRates + 2; ++i) {
        const double rate = freshRate();
        const int32_t use = tableCache::acquire(rate);
        ASSERT_GE(use, 0);
        StageSettings one;
        one.sampleRate = rate;
        one.cathodeCapacitor = kCathodeCaps[0];
        EXPECT_NE(tableCache::make(one), nullptr);
        tableCache::release(use);
    }
    EXPECT_GE(tableCache::readyCount(held), 1);
    EXPECT_EQ(std::memcmp(inForce->transferLow.data(), before.data(), sizeof(Table)), 0);
    // Rates nobody uses beyond the few kept are gone, and their memory too.
    EXPECT_LE(tableCache::rateCount(), tableCache::kKeptRates + 2);

    // The audio thread leaves the old rate (it passes through now); the
    // next new rate evicts it.
    process(*engine, outL, outR, 16);
    EXPECT_FALSE(engine->tablesCurrent());
    const size_t bytes = tableCache::bytes();
    for (int32_t i = 0; i < tableCache::kKeptRates; ++i) {
        const int32_t use = tableCache::acquire(freshRate());
        tableCache::release(use);
    }
    EXPECT_EQ(tableCache::readyCount(held), 0);
    EXPECT_LT(tableCache::bytes(), bytes);
}

TEST(ScopeFeed, InPlaceProcessingShowsTheInputNotTheOutput)
{
    TubeEngine engine;
    engine.prepareTables();
    tableBuilder::waitUntilIdle();
    engine.setParameter(kParamGain, 0.9f);
    engine.startScopeFeed();
    const int32_t frames = 600;
    std::vector<float> inL = ramp(frames, -0.5f), inR = ramp(frames, 0.2f);
    std::vector<float> left = inL, right = inR;
    engine.process(left.data(), right.data(), left.data(), right.data(), frames);
    // The same bits as out of place.
    TubeEngine reference;
    reference.prepareTables();
    reference.setParameter(kParamGain, 0.9f);
    std::vector<float> refL(frames), refR(frames);
    reference.process(inL.data(), inR.data(), refL.data(), refR.data(), frames);
    EXPECT_EQ(left, refL);
    EXPECT_EQ(right, refR);

    ScopePoint ring[kScopeRingSize];
    engine.scope().copy(ring);
    // One point per two frames at 48 kHz: point p shows frame 2p + 1.
    for (int32_t p = 0; p < frames / 2; ++p) {
        ASSERT_EQ(ring[p].inputLeft, inL[2 * p + 1]) << p;
        ASSERT_EQ(ring[p].inputRight, inR[2 * p + 1]) << p;
        ASSERT_EQ(ring[p].outputLeft, left[2 * p + 1]) << p;
        ASSERT_NE(ring[p].inputLeft, ring[p].outputLeft) << p;
    }
}

TEST(TableBuilder, StopsWhenIdleAndTheLastEngineJoinsIt)
{
    tableBuilder::waitUntilIdle();
    EXPECT_FALSE(tableBuilder::isRunning());
    const float rate = static_cast<float>(freshRate());
    {
        TubeEngine engine;
        ASSERT_TRUE(engine.setSampleRate(rate));
    }
    // The last engine went: the builder finished the set in hand and was
    // joined, long before the rate's 54 sets were made.
    EXPECT_FALSE(tableBuilder::isRunning());
    EXPECT_LT(tableCache::readyCount(rate), tableCache::kSetsPerRate);
    // A new engine at the rate takes the work up again.
    TubeEngine engine;
    ASSERT_TRUE(engine.setSampleRate(rate));
    tableBuilder::waitUntilIdle();
    EXPECT_EQ(tableCache::readyCount(rate), tableCache::kSetsPerRate);
    EXPECT_FALSE(tableBuilder::isRunning());
}
