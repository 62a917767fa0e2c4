#include "engine/ScopeFeed.h"

#include <algorithm>
#include <cstring>

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

void ScopeFeed::store(uint32_t index, const ScopePoint& point) noexcept
{
    uint32_t words[4];
    std::memcpy(words, &point, sizeof(words));
    for (int32_t i = 0; i < 4; ++i) ring[index].words[i].store(words[i], std::memory_order_relaxed);
}

ScopePoint ScopeFeed::load(uint32_t index) const noexcept
{
    uint32_t words[4];
    for (int32_t i = 0; i < 4; ++i) words[i] = ring[index].words[i].load(std::memory_order_relaxed);
    ScopePoint point;
    std::memcpy(&point, words, sizeof(point));
    return point;
}

void ScopeFeed::write(const ScopePoint& point) noexcept
{
    // Whatever the interleaving with a restart, the slot stays in the ring.
    const uint32_t index = writeIndex.load(std::memory_order_relaxed) % kScopeRingSize;
    store(index, point);
    writeIndex.store((index + 1) % kScopeRingSize, std::memory_order_relaxed);
    // Only the audio thread writes: a plain increment, published.
    written.store(written.load(std::memory_order_relaxed) + 1, std::memory_order_release);
}

void ScopeFeed::copy(ScopePoint (&out)[kScopeRingSize]) const noexcept
{
    for (uint32_t i = 0; i < kScopeRingSize; ++i) out[i] = load(i);
}

int32_t ScopeFeed::takeNew(uint64_t& seen, ScopePoint (&out)[kScopeRingSize]) noexcept
{
    // The writer's own thread: nothing moves while this reads.
    const uint64_t total = written.load(std::memory_order_relaxed);
    const uint64_t fresh = std::min<uint64_t>(total - std::min(seen, total), kScopeRingSize);
    const uint32_t end = writeIndex.load(std::memory_order_relaxed);
    for (uint64_t i = 0; i < fresh; ++i)
        out[i] = load(static_cast<uint32_t>((end + kScopeRingSize - fresh + i) % kScopeRingSize));
    seen = total;
    return static_cast<int32_t>(fresh);
}
