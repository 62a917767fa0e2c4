// The per-instance triode stage: each channel's circuit state advanced by
// table lookups (dsp/TriodeTables.h), at the host rate or at 16x between
// oversampling filters (dsp/OversamplingFilter.h).
//
// Units: an input sample is taken as volts at the stage's input;
// `processSample` returns the plate voltage less its resting value, in
// volts. Latency: none at 1x, about 8 base-rate samples at 16x.
//
// [audio thread] for everything but construction and `getOversampling`,
// which the parameter display reads from any thread.
#pragma once

#include "dsp/OversamplingFilter.h"
#include "dsp/TriodeTables.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

constexpr int32_t kChannels = 2;

class TriodeProcessor {
public:
    static constexpr uint32_t kFirstNoiseSeed = 80449;

    // [UI thread] Allocates everything the audio thread will need.
    TriodeProcessor();

    // --- settings, changed by the block hand-over; `prepare` applies them ---
    void setSupplyVoltage(double volts) noexcept { stage.supplyVoltage = volts; }
    void setCathodeCapacitor(double farads) noexcept { stage.cathodeCapacitor = farads; }
    void setTriodeIndex(int32_t index) noexcept;    // stored only when it is 0..2
    void setOversampling(int32_t factor) noexcept;  // stored only when it is 1 or 16
    void setSampleRate(double rate) noexcept { stage.sampleRate = rate; }
    const StageSettings& settings() const noexcept { return stage; }
    int32_t getTriodeIndex() const noexcept { return stage.triode; }
    double getSampleRate() const noexcept { return stage.sampleRate; }
    // [any thread] The factor in force.
    int32_t getOversampling() const noexcept { return oversampling.load(std::memory_order_relaxed); }

    // Takes the tables for the settings from the process's cache, or builds
    // them here when the cache has none (about a millisecond, as it was
    // before the cache existed).
    void prepare() noexcept;
    // Moves every channel's cathode to its resting voltage.
    void resetCathodes() noexcept;
    // Full plate-voltage swing of the tables in force, volts.
    double outputSwing() const noexcept { return active->outputSwing(); }
    const TriodeTables& tables() const noexcept { return *active; }
    // Whether the tables in force came from the shared cache.
    bool tablesShared() const noexcept { return active != own.get(); }

    // One base-rate sample of one channel: input volts in, plate volts less
    // the resting plate voltage out.
    double processSample(int32_t channel, double x) noexcept;
    // One step of one channel at the running rate; returns the plate voltage.
    double stageStep(ChannelState& s, double vin) const noexcept;

    std::array<ChannelState, kChannels> channels;
    std::array<OversamplingFilter, kChannels> interpolators;
    std::array<OversamplingFilter, kChannels> decimators;

    // Anti-denormal offset generator, one per instance (so that instances
    // on different threads never share it and each sounds the same alone).
    uint32_t noiseSeed = kFirstNoiseSeed;

private:
    StageSettings stage;
    std::atomic<int32_t> oversampling{1};
    std::unique_ptr<TriodeTables> own;  // built here when the cache has no set
    const TriodeTables* active;
};
