// Two host threads at once on one instance, as a host's UI thread and its
// automation thread do: program switches never leave the engine with parts
// of two programs nor write one program's values into another's row, and
// the latency the host reads always ends up agreeing with the stored
// Oversmpl value. Each round starts both threads together, so that their
// calls overlap as often as the machine allows.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

namespace {

std::atomic<int32_t> ioChangedCalls{0};

intptr_t VST_CALL countingHost(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float)
{
    if (opcode == audioMasterVersion) return 2400;
    if (opcode == audioMasterIOChanged) ioChangedCalls.fetch_add(1);
    return 1;
}

// Runs `first` on a second thread and `second` on this one, `rounds` times,
// both released together each round; `check` runs after each round, with
// both quiet.
void raceRounds(int32_t rounds, const std::function<void(int32_t)>& first,
                const std::function<void(int32_t)>& second, const std::function<void(int32_t)>& check)
{
    std::atomic<int32_t> go{-1};
    std::atomic<int32_t> done{-1};
    std::thread other([&] {
        for (int32_t round = 0; round < rounds; ++round) {
            while (go.load() != round) std::this_thread::yield();
            first(round);
            done.store(round);
        }
    });
    for (int32_t round = 0; round < rounds; ++round) {
        go.store(round);
        second(round);
        while (done.load() != round) std::this_thread::yield();
        check(round);
    }
    other.join();
}

// A short busy wait, so that over many rounds one thread's call starts at
// every offset against the other's.
void spin(int32_t steps)
{
    volatile int32_t sink = 0;
    for (int32_t k = 0; k < steps; ++k) sink = sink + 1;
}

bool sameValues(const float (&a)[kNumParams], const float (&b)[kNumParams])
{
    for (int32_t i = 0; i < kNumParams; ++i)
        if (a[i] != b[i]) return false;
    return true;
}

}  // namespace

TEST(EffectThreads, TwoThreadsSwitchingProgramsLeaveOneWholeProgram)
{
    TubeEffect effect(countingHost);
    // Programs 1 and 3 differ from 0 and 2 in Gain, Level, Voltage and Cap;
    // each thread walks its own pair, so a mix shows in the engine's values.
    int32_t mixed = 0, overwritten = 0;
    std::string firstFault;
    raceRounds(
        60,
        [&](int32_t) {
            for (int32_t k = 0; k < 5000; ++k) effect.setProgram(k % 2 ? 3 : 1);
        },
        [&](int32_t) {
            for (int32_t k = 0; k < 5000; ++k) effect.setProgram(k % 2 ? 0 : 2);
        },
        [&](int32_t round) {
            const int32_t current = effect.getProgram();
            float running[kNumParams];
            for (int32_t i = 0; i < kNumParams; ++i) running[i] = effect.getParameter(i);
            if (!sameValues(running, effect.getProgramRecord(current).values)) {
                ++mixed;
                if (firstFault.empty())
                    firstFault = "round " + std::to_string(round) + ": program " + std::to_string(current) +
                                 " is current, the engine runs other values";
            }
            // Nothing was edited: every switch saves a row as it was.
            for (int32_t row = 0; row < kNumPrograms; ++row) {
                float factory[kNumParams];
                std::memcpy(factory, factoryRecord(row).values, sizeof(factory));
                if (!sameValues(effect.getProgramRecord(row).values, factory)) {
                    ++overwritten;
                    if (firstFault.empty())
                        firstFault = "round " + std::to_string(round) + ": row " + std::to_string(row) +
                                     " holds another program's values";
                    break;
                }
            }
        });
    EXPECT_EQ(mixed, 0) << firstFault;
    EXPECT_EQ(overwritten, 0) << firstFault;
}

TEST(EffectThreads, TwoThreadsWritingOversmplLeaveTheLatencyTheValueStandsFor)
{
    TubeEffect effect(countingHost);
    int32_t disagreeing = 0;
    int32_t lastDelay = effect.getAeffect()->initialDelay;
    int32_t silentChanges = 0;
    raceRounds(
        40000,
        [&](int32_t round) {
            spin(round % 32);
            effect.setParameter(kParamOversample, round % 2 ? 1.0f : 0.0f);
        },
        [&](int32_t round) {
            spin(round / 32 % 32);
            effect.setParameter(kParamOversample, round % 2 ? 0.0f : 1.0f);
        },
        [&](int32_t) {
            const int32_t delay = std::atomic_ref<int32_t>(effect.getAeffect()->initialDelay).load();
            if (delay != effect.getEngine().latency()) ++disagreeing;
            // A latency the host has not heard of: it changed, yet nobody called.
            const int32_t calls = ioChangedCalls.exchange(0);
            if (delay != lastDelay && calls == 0) ++silentChanges;
            lastDelay = delay;
        });
    EXPECT_EQ(disagreeing, 0) << "rounds that left initialDelay disagreeing with the stored Oversmpl value";
    EXPECT_EQ(silentChanges, 0);
}
