// The per-instance triode stage: each channel's circuit state advanced by
// table lookups (dsp/TriodeTables.h), at the host rate or at 16x between
// oversampling filters (dsp/OversamplingFilter.h). Both channels run side
// by side in two lanes; a channel alone runs in one.
//
// Units: an input sample is taken as volts at the stage's input; the output
// is the plate voltage less its resting value, in volts. Latency: none at
// 1x, about 8 base-rate samples at 16x.
//
// [audio thread] for everything but construction and `getOversampling`,
// which the parameter display reads from any thread.
#pragma once

#include "dsp/OversamplingFilter.h"
#include "dsp/TriodeStage.h"
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

    // [not an engine's audio thread] Takes the tables for the settings from
    // the process's cache, or builds them here when the cache has none
    // (about a millisecond). For a stage that runs alone.
    void prepare() noexcept;
    // Puts `settings` and their ready `set` in force at once: the factor
    // the stage runs at always matches its tables. Never builds.
    void use(const StageSettings& settings, const TriodeTables& set) noexcept;
    // Lets go of the set in force: the stage reads empty tables (silence)
    // until the next `use` or `prepare`.
    void dropTables() noexcept { active = own.get(); }
    // Moves every channel's cathode to its resting voltage.
    void resetCathodes() noexcept;
    // Full plate-voltage swing of the tables in force, volts.
    double outputSwing() const noexcept { return active->outputSwing(); }
    const TriodeTables& tables() const noexcept { return *active; }
    // Whether the tables in force came from the shared cache.
    bool tablesShared() const noexcept { return active != own.get(); }

    // Runs `frames` frames of both channels: `source(k)` gives frame k's
    // input volts as a Lane2 {left, right}, `sink(k, y)` takes its output,
    // the plate voltage less its resting value, as a Lane2. Frames reach the
    // sink in order; a source may be asked for the next frame before the
    // sink gets this one. Both are taken as values, which the loop can keep
    // in registers; the sink comes back as the last frame left it.
    template <class Source, class Sink>
    Sink processStereo(int32_t frames, Source source, Sink sink) noexcept;
    // The same for the left channel alone (the sink gets a Lane1); the
    // right channel's state stays as it is.
    template <class Source, class Sink>
    Sink processLeft(int32_t frames, Source source, Sink sink) noexcept;
    // One base-rate sample of one channel.
    double processSample(int32_t channel, double x) noexcept;
    // One step of one channel at the running rate; returns the plate voltage.
    double stageStep(ChannelState& s, double vin) const noexcept;

    std::array<ChannelState, kChannels> channels;
    OversamplingFilter interpolator;
    OversamplingFilter decimator;

    // Anti-denormal offset generator, one per instance (so that instances
    // on different threads never share it and each sounds the same alone).
    uint32_t noiseSeed = kFirstNoiseSeed;

private:
    template <class V, bool Guarded, class Source, class Sink>
    void runAtHostRate(int32_t frames, int32_t lane, Source& source, Sink& sink) noexcept;
    template <class V, bool Guarded, class Source, class Sink>
    void runOversampled(int32_t frames, int32_t lane, Source& source, Sink& sink) noexcept;
    template <class V, class Source, class Sink>
    void run(int32_t frames, int32_t lane, Source& source, Sink& sink) noexcept;
    template <class V>
    V inputOf(Lane2 in, int32_t lane, stage::Noise<V>& noise) noexcept;
    template <class V>
    void loadCathodes(V& a, int32_t lane) const noexcept;
    template <class V>
    void storeCathodes(V a, V plate, int32_t lane) noexcept;

    StageSettings stage;
    std::atomic<int32_t> oversampling{1};
    std::unique_ptr<TriodeTables> own;  // built here when the cache has no set
    const TriodeTables* active;
};

template <class V>
Z5R_INLINE V TriodeProcessor::inputOf(Lane2 in, int32_t lane, stage::Noise<V>& noise) noexcept
{
    V x;
    if constexpr (V::kCount == 2)
        x = stage::finiteOrSilence(in);
    else
        x = stage::finiteOrSilence(V(in.lane(lane)));
    return x + noise.next();
}

template <class V>
Z5R_INLINE void TriodeProcessor::loadCathodes(V& a, int32_t lane) const noexcept
{
    const double pair[2] = {channels[0].cathodeVoltage, channels[1].cathodeVoltage};
    a = V::load(pair, lane);
}

template <class V>
Z5R_INLINE void TriodeProcessor::storeCathodes(V a, V plate, int32_t lane) noexcept
{
    double cathodes[2], plates[2];
    a.store(cathodes, lane);
    plate.store(plates, lane);
    for (int32_t c = lane; c < lane + V::kCount; ++c) {
        channels[c].cathodeVoltage = cathodes[c];
        channels[c].plateVoltage = plates[c];
    }
}

template <class V, bool Guarded, class Source, class Sink>
Z5R_INLINE void TriodeProcessor::runAtHostRate(int32_t frames, int32_t lane, Source& source, Sink& sink) noexcept
{
    const stage::StepTables tables(*active);
    stage::Noise<V> noise(noiseSeed);
    V a, vp(0.0);
    loadCathodes(a, lane);  // in registers for the whole run
    // Made opaque again at every step, in its own register.
    const stage::StepTables* step = &tables;
    for (int32_t k = 0; k < frames; ++k) {
        step = opaque(step);
        const stage::StepTables& t = *step;
        const V x = inputOf<V>(source(k), lane, noise);
        vp = stage::stageStepOf<Guarded>(t, a, x);
        sink(k, vp - stage::pairOf<V>(t.quiescentPlate));
    }
    noiseSeed = noise.seed();
    if (frames > 0) storeCathodes(a, vp, lane);
}

// At 16x the cathode recursion runs sixteen steps per frame, one after the
// other, each waiting for the last. Nothing else waits for it: the filters'
// work is cut into pieces that go between the steps, one piece each, where
// the processor runs them while the steps wait. During frame k the steps
// write frame k into the decimator, the first eight steps carry the FIR
// sums of frame k - 1, the last eight the interpolation of frame k + 1, and
// the half-band chains and the sink's output of frame k - 1 ride along.
template <class V, bool Guarded, class Source, class Sink>
Z5R_INLINE void TriodeProcessor::runOversampled(int32_t frames, int32_t lane, Source& source, Sink& sink) noexcept
{
    if (frames <= 0) return;
    const stage::StepTables tables(*active);
    stage::Noise<V> noise(noiseSeed);
    V a, vp(0.0);
    loadCathodes(a, lane);
    const stage::StepTables* step = &tables;  // made opaque at every step
    V in[2][kOversampling];  // this frame's input at 16x, and the next frame's
    interpolator.interpolate(inputOf<V>(source(0), lane, noise), in[0], lane);
    constexpr int32_t kHalf = kOversampling / 2;
    for (int32_t k = 0; k < frames; ++k) {
        const V(&now)[kOversampling] = in[k & 1];
        V(&next)[kOversampling] = in[(k + 1) & 1];
        V parts[4], halves[2];
        Z5R_UNROLL
        for (int32_t i = 0; i < kOversampling; ++i) {
            step = opaque(step);
            const stage::StepTables& t = *step;
            vp = stage::stageStepOf<Guarded>(t, a, now[i]);
            settle(a);
            decimator.put(i, vp - stage::pairOf<V>(t.quiescentPlate), lane);
            // In the shadow of step i: the FIR sums of frame k - 1 (those
            // at its last sample, then at its eighth) and each through its
            // half-band chain as soon as it is whole; frame k + 1 in and
            // its samples out; frame k - 1 out. The sums and the samples
            // only read the rings, so that the first and the last frame
            // may form them for nothing.
#ifdef __AVX2__
            if constexpr (V::kCount == 2) {
                // Two sums to a 256-bit register, each lane in its Lane2
                // order: the decimator's in every other one of the first
                // eight steps, the interpolator's samples i - 8 and i in
                // each of the last eight.
                if (i < kHalf) {
                    if (i % 2 == 0) {
                        __m256d both = decimator.firPartPair(i % 4, i < 4);
                        settleWide(both);
                        parts[i % 4] = V(_mm256_extractf128_pd(both, 1));
                        parts[i % 4 + 1] = V(_mm256_castpd256_pd128(both));
                    }
                    if (i % 4 == 3 && k > 0) halves[i / 4] = decimator.halfband(i / 4, parts, lane);
                } else {
                    __m256d both = interpolator.interpolatedPair(i - kHalf);
                    settleWide(both);
                    next[i - kHalf] = V(_mm256_extractf128_pd(both, 1));
                    next[i] = V(_mm256_castpd256_pd128(both));
                }
            } else
#endif
            if (i < kHalf) {
                parts[i % 4] = decimator.firPart<V>(i % 4, i < 4, lane);
                settle(parts[i % 4]);
                if (i % 4 == 3 && k > 0) halves[i / 4] = decimator.halfband(i / 4, parts, lane);
            } else {
                V older = interpolator.interpolated<V>(i - kHalf, lane);
                settle(older);
                V newer = interpolator.interpolated<V>(i, lane);
                settle(newer);
                next[i - kHalf] = older;
                next[i] = newer;
            }
            if (i == 5 && k + 1 < frames) interpolator.interpolateIn(inputOf<V>(source(k + 1), lane, noise), lane);
            if (i == 10 && k > 0) sink(k - 1, OversamplingFilter::joined(halves[0], halves[1]));
        }
        decimator.endBlock<V>(lane);
    }
    V atLast[4], atEighth[4];
    Z5R_UNROLL
    for (int32_t l = 0; l < 4; ++l) {
        atLast[l] = decimator.firPart<V>(l, true, lane);
        atEighth[l] = decimator.firPart<V>(l, false, lane);
    }
    sink(frames - 1, decimator.decimateOut(atLast, atEighth, lane));
    noiseSeed = noise.seed();
    storeCathodes(a, vp, lane);
}

template <class V, class Source, class Sink>
Z5R_INLINE void TriodeProcessor::run(int32_t frames, int32_t lane, Source& source, Sink& sink) noexcept
{
    const bool guarded = active->entriesNeedGuard;
    if (getOversampling() == 1) {
        if (guarded)
            runAtHostRate<V, true>(frames, lane, source, sink);
        else
            runAtHostRate<V, false>(frames, lane, source, sink);
    } else {
        if (guarded)
            runOversampled<V, true>(frames, lane, source, sink);
        else
            runOversampled<V, false>(frames, lane, source, sink);
    }
}

template <class Source, class Sink>
Sink TriodeProcessor::processStereo(int32_t frames, Source source, Sink sink) noexcept
{
    // After the left ran alone, the right's filters catch up with its position.
    interpolator.alignLanes();
    decimator.alignLanes();
    run<Lane2>(frames, 0, source, sink);
    return sink;
}

template <class Source, class Sink>
Sink TriodeProcessor::processLeft(int32_t frames, Source source, Sink sink) noexcept
{
    run<Lane1>(frames, 0, source, sink);
    return sink;
}
