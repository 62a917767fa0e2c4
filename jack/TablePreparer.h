// Keeps the triode tables of the JACK server's sample rate ready without
// ever building one on the process thread: a new rate is handed to a
// helper thread of its own, and until its tables are ready the process
// callback passes the input through unchanged instead of calling the
// engine.
//
//     TablePreparer tables(engine);
//     tables.prepareNow(rate);     // [main thread] at start, before activation
//     tables.rateChanged(rate);    // [JACK's notification thread] returns at once
//     if (tables.ready()) ...      // [process thread] never waits
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

class TubeEngine;

namespace jackapp {

class TablePreparer {
public:
    explicit TablePreparer(TubeEngine& engine);
    ~TablePreparer();
    TablePreparer(const TablePreparer&) = delete;
    TablePreparer& operator=(const TablePreparer&) = delete;

    // [main thread] Sets the rate and makes its tables here and now.
    // False for a rate the engine refuses.
    bool prepareNow(float rate);
    // [any thread but the process thread] A new rate: processing passes
    // through from now on, and the helper thread makes the tables. The rate
    // in force changes nothing. False for a rate the engine refuses.
    bool rateChanged(float rate);
    // [process thread; never waits] Whether the engine may process.
    bool ready() const noexcept { return isReady.load(std::memory_order_acquire); }
    // [any thread] Waits until ready, at most about `milliseconds`; for tests.
    bool waitUntilReady(int32_t milliseconds) const;

private:
    void work();

    TubeEngine& engine;
    std::atomic<bool> isReady{false};
    mutable std::mutex mutex;
    mutable std::condition_variable wake;
    uint64_t requested = 0;  // rate changes asked for, under `mutex`
    uint64_t done = 0;       // of those, the last one prepared
    bool stopping = false;
    std::thread helper;
};

// [process thread; never waits] One block: the engine's when its tables are
// ready, the input unchanged while a new rate's are being made.
void processBlock(TubeEngine& engine, const TablePreparer& tables, const float* inLeft, const float* inRight,
                  float* outLeft, float* outRight, uint32_t frames) noexcept;

}  // namespace jackapp
