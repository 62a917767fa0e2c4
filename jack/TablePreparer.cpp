#include "jack/TablePreparer.h"

#include "engine/TubeEngine.h"

#include <chrono>
#include <cstring>

namespace jackapp {

TablePreparer::TablePreparer(TubeEngine& engine) : engine(engine), helper([this] { work(); }) {}

TablePreparer::~TablePreparer()
{
    {
        std::lock_guard<std::mutex> hold(mutex);
        stopping = true;
    }
    wake.notify_all();
    helper.join();
}

bool TablePreparer::prepareNow(float rate)
{
    if (!engine.setSampleRate(rate)) return false;
    engine.prepareTables();
    isReady.store(true, std::memory_order_release);
    return true;
}

bool TablePreparer::rateChanged(float rate)
{
    std::lock_guard<std::mutex> hold(mutex);
    if (rate == engine.getSampleRate() && requested == done && isReady.load()) return true;
    // Pass through before the engine sees the new rate, so that no block
    // ever applies a rate whose tables are not made.
    isReady.store(false, std::memory_order_release);
    if (!engine.setSampleRate(rate)) {
        // Refused: the rate in force stays, and so do its tables.
        isReady.store(requested == done, std::memory_order_release);
        return false;
    }
    ++requested;
    wake.notify_all();
    return true;
}

bool TablePreparer::waitUntilReady(int32_t milliseconds) const
{
    std::unique_lock<std::mutex> hold(mutex);
    wake.wait_for(hold, std::chrono::milliseconds(milliseconds), [this] { return isReady.load(); });
    return isReady.load();
}

void TablePreparer::work()
{
    std::unique_lock<std::mutex> hold(mutex);
    for (;;) {
        wake.wait(hold, [this] { return stopping || requested != done; });
        if (stopping) return;
        const uint64_t asked = requested;
        hold.unlock();
        engine.prepareTables();  // the engine's rate in force: the latest asked for
        hold.lock();
        done = asked;
        // A rate asked for meanwhile is made at the next turn first.
        if (requested == done) isReady.store(true, std::memory_order_release);
        wake.notify_all();
    }
}

void processBlock(TubeEngine& engine, const TablePreparer& tables, const float* inLeft, const float* inRight,
                  float* outLeft, float* outRight, uint32_t frames) noexcept
{
    if (tables.ready()) {
        engine.process(inLeft, inRight, outLeft, outRight, static_cast<int32_t>(frames));
        return;
    }
    std::memmove(outLeft, inLeft, frames * sizeof(float));
    std::memmove(outRight, inRight, frames * sizeof(float));
}

}  // namespace jackapp
