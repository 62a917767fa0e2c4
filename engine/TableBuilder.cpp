#include "engine/TableBuilder.h"

#include "dsp/TriodeTables.h"
#include "engine/ThreadPriority.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <system_error>
#include <thread>

namespace tableBuilder {

namespace {

struct Builder {
    std::mutex lock;
    std::condition_variable idle;
    std::condition_variable published;  // a set was made
    std::thread thread;
    bool running = false;  // under `lock`
    int32_t engines = 0;   // under `lock`
    std::atomic<bool> stop{false};
    std::atomic<int32_t> pauses{0};
    std::atomic<bool> unloading{false};

    ~Builder()
    {
        // The library is being unloaded. Hosts close every instance first,
        // which has joined the builder already.
        if (!thread.joinable()) return;
#ifdef _WIN32
        // Under the loader's lock nothing may wait for a thread; Windows
        // has ended the threads of an exiting process anyway.
        thread.detach();
#else
        unloading.store(true);
        stop.store(true);
        thread.join();
#endif
    }
};

Builder& builder()
{
    // Made at the first engine, after the cache: unloading destroys it first.
    static Builder instance;
    return instance;
}

void run() noexcept
{
    lowerThisThreadsPriority();
    Builder& b = builder();
    for (;;) {
        if (!b.stop.load() && b.pauses.load() == 0 && tableCache::buildNext()) {
            // Under the lock, so that a waiter between its look and its
            // wait cannot miss the news.
            std::lock_guard<std::mutex> hold(b.lock);
            b.published.notify_all();
            continue;
        }
        std::lock_guard<std::mutex> hold(b.lock);
        // A rate that came into use after the last look is seen here: wake()
        // makes its work visible before it takes the lock. An engine that
        // opened after the last one closed takes the builder over.
        const bool stopping =
            b.unloading.load() || (b.stop.load() && b.engines == 0) || b.pauses.load() != 0;
        if (!stopping && tableCache::hasWork()) {
            b.stop.store(false);
            continue;
        }
        b.running = false;
        b.idle.notify_all();
        b.published.notify_all();
        return;
    }
}

// [lock held]
void startLocked(Builder& b) noexcept
{
    if (b.running) return;
    if (b.thread.joinable()) b.thread.join();  // ended by itself: returns at once
    if (b.pauses.load() != 0 || !tableCache::hasWork()) return;
    b.stop.store(false);
    try {
        b.thread = std::thread(run);
        b.running = true;
    } catch (const std::system_error&) {
        // No thread: sets are still made in place at resume.
    }
}

}  // namespace

void wake() noexcept
{
    Builder& b = builder();
    std::lock_guard<std::mutex> hold(b.lock);
    startLocked(b);
}

void waitUntilIdle() noexcept
{
    Builder& b = builder();
    std::unique_lock<std::mutex> hold(b.lock);
    startLocked(b);
    b.idle.wait(hold, [&b] { return !b.running; });
}

void waitFor(const StageSettings& stage) noexcept
{
    if (tableCache::find(stage)) return;
    tableCache::request(stage);
    Builder& b = builder();
    {
        std::unique_lock<std::mutex> hold(b.lock);
        startLocked(b);
        b.published.wait(hold, [&b, &stage] { return tableCache::find(stage) || !b.running; });
    }
    try {
        if (!tableCache::find(stage)) tableCache::make(stage);
    } catch (...) {
        // Out of memory: the stage stays on the set in force.
    }
}

void engineOpened() noexcept
{
    Builder& b = builder();
    std::lock_guard<std::mutex> hold(b.lock);
    ++b.engines;
}

void engineClosed() noexcept
{
    Builder& b = builder();
    std::thread ending;
    {
        std::lock_guard<std::mutex> hold(b.lock);
        if (--b.engines > 0) return;
        b.stop.store(true);
        ending = std::move(b.thread);
    }
    if (ending.joinable()) ending.join();
}

Pause::Pause() noexcept { builder().pauses.fetch_add(1); }

Pause::~Pause()
{
    builder().pauses.fetch_sub(1);
    wake();
}

bool isRunning() noexcept
{
    Builder& b = builder();
    std::lock_guard<std::mutex> hold(b.lock);
    return b.running;
}

}  // namespace tableBuilder
