// Input/output sample pairs for an XY scope: every few frames the audio
// thread writes one point into a ring of 512 that the engine owns; an editor
// (or a format adapter that forwards the points) copies the ring when it
// draws. One writer, no lock: the audio thread stores a point's four words
// and then counts it in a sequence number; a reader copies without stopping
// the writer and at worst sees the one point being written half old, half
// new, which a scope shows as one stray dot for one refresh.
#pragma once

#include <atomic>
#include <cstdint>

// One pair of each channel: input left, input right, output left, output right.
struct ScopePoint {
    float inputLeft;
    float inputRight;
    float outputLeft;
    float outputRight;
};
static_assert(sizeof(ScopePoint) == 16);

constexpr int32_t kScopeRingSize = 512;
// The spacing that means "off".
constexpr uint32_t kScopeFeedOff = 0xFFFFFFFFu;

class ScopeFeed {
public:
    // [UI thread] Starts (or restarts) the feed at slot 0 with one point per
    // (spacing + 1) frames, where spacing is the frames of the editor's 20 ms
    // refresh spread over the 512 slots: 1 at 48 kHz, 3 at 96 kHz.
    void start(float sampleRate) noexcept;
    // [UI thread] Stops the feed; frames are still counted.
    void stop() noexcept;
    // [UI thread] A new rate restarts a running feed with its spacing.
    void rateChanged(float sampleRate) noexcept;

    // [audio thread] The frame count of one block, kept in a register: take
    // it at the block's start, count each frame with `due`, and give it back
    // with `endBlock`. A start or stop from the editor during the block takes
    // effect from the next one; at worst a point lands a little early or late.
    struct BlockCount {
        uint32_t count;
        uint32_t spacing;
        // Counts one frame; true when its point is due (the count restarts).
        bool due() noexcept
        {
            if (++count > spacing) {
                count = 0;
                return true;
            }
            return false;
        }
    };
    BlockCount beginBlock() const noexcept
    {
        return {counter.load(std::memory_order_relaxed), spacing.load(std::memory_order_relaxed)};
    }
    void endBlock(const BlockCount& block) noexcept { counter.store(block.count, std::memory_order_relaxed); }
    // [audio thread] Writes one point.
    void write(const ScopePoint& point) noexcept;

    // [any thread] Copies the whole ring; never holds the writer up.
    void copy(ScopePoint (&out)[kScopeRingSize]) const noexcept;
    // Points ever written: the ring's sequence number.
    uint64_t getWritten() const noexcept { return written.load(std::memory_order_acquire); }
    // [audio thread] Copies the points written since `seen` (a count of
    // points ever written, advanced to the present), oldest first, at most
    // the ring's worth; returns how many. For adapters that forward points
    // from the audio thread itself.
    int32_t takeNew(uint64_t& seen, ScopePoint (&out)[kScopeRingSize]) noexcept;

    uint32_t getSpacing() const noexcept { return spacing.load(std::memory_order_relaxed); }
    uint32_t getCounter() const noexcept { return counter.load(std::memory_order_relaxed); }
    uint32_t getWriteIndex() const noexcept { return writeIndex.load(std::memory_order_relaxed); }
    bool isOn() const noexcept { return getSpacing() != kScopeFeedOff; }

private:
    void restart(uint32_t newSpacing) noexcept;

    // One point as the words the writer stores and readers load.
    struct Slot {
        std::atomic<uint32_t> words[4];
    };
    void store(uint32_t index, const ScopePoint& point) noexcept;
    ScopePoint load(uint32_t index) const noexcept;

    std::atomic<uint32_t> spacing{kScopeFeedOff};
    std::atomic<uint32_t> counter{0};
    std::atomic<uint32_t> writeIndex{0};
    std::atomic<uint64_t> written{0};
    Slot ring[kScopeRingSize] = {};
};
