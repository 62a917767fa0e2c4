#include "engine/ScopeFeed.h"

#include <algorithm>

namespace {

// 512 points spread over the editor's 20 ms refresh period.
constexpr float kScopeRefreshMs = 20.0f;
constexpr float kScopePerRingAndMs = 1.953125e-6f;  // 1 / (512 * 1000)

uint32_t spacingFor(float sampleRate) noexcept
{
    return static_cast<uint32_t>(sampleRate * kScopeRefreshMs * kScopePerRingAndMs);
}

}  // namespace

void ScopeFeed::restart(uint32_t newSpacing) noexcept
{
    counter.store(0, std::memory_order_relaxed);
    writeIndex.store(0, std::memory_order_relaxed);
    spacing.store(newSpacing, std::memory_order_relaxed);
}

void ScopeFeed::start(float sampleRate) noexcept { restart(spacingFor(sampleRate)); }

void ScopeFeed::stop() noexcept { restart(kScopeFeedOff); }

void ScopeFeed::rateChanged(float sampleRate) noexcept
{
    if (isOn()) start(sampleRate);
}

void ScopeFeed::write(const ScopePoint& point) noexcept
{
    if (!lock.tryEnter()) return;  // busy: the point is dropped
    // Whatever the interleaving with a restart, the slot stays in the ring.
    const uint32_t index = writeIndex.load(std::memory_order_relaxed) % kScopeRingSize;
    ring[index] = point;
    writeIndex.store((index + 1) % kScopeRingSize, std::memory_order_relaxed);
    written.fetch_add(1, std::memory_order_relaxed);
    lock.leave();
}

void ScopeFeed::copy(ScopePoint (&out)[kScopeRingSize]) noexcept
{
    LockGuard hold(lock);
    std::copy(ring, ring + kScopeRingSize, out);
}

int32_t ScopeFeed::takeNew(uint64_t& seen, ScopePoint (&out)[kScopeRingSize]) noexcept
{
    if (!lock.tryEnter()) return 0;
    const uint64_t total = written.load(std::memory_order_relaxed);
    const uint64_t fresh = std::min<uint64_t>(total - std::min(seen, total), kScopeRingSize);
    const uint32_t end = writeIndex.load(std::memory_order_relaxed);
    for (uint64_t i = 0; i < fresh; ++i)
        out[i] = ring[(end + kScopeRingSize - fresh + i) % kScopeRingSize];
    lock.leave();
    seen = total;
    return static_cast<int32_t>(fresh);
}
