// The effect's audio engine, for every host format: the seven parameters
// and their hand-over to the audio thread, the triode stage, gain and level
// smoothing, normalisation, the DC blocker, the latency figure and the scope
// feed. It takes blocks of float channels and knows no plug-in format; the
// VST 2.4 and LV2 adapters sit on top of it.
//
// Threads: parameters may be set and read from any thread and never wait;
// the sample rate and the table preparation belong to the host's set-up
// thread while processing is suspended; `process` belongs to the audio
// thread. A change lands at the first block that starts after it, and a
// whole-program change lands in one block.
//
// The audio thread never builds a table set. Resume makes the one set the
// stored settings need; the process's background builder makes the rest of
// the rate (engine/TableBuilder.h). A tube, supply, capacitor or factor
// whose set is not ready yet (only in the first moments at a new rate)
// leaves the stage on the set in force until the first block after the new
// one is published; a new rate with no set ready passes the input through,
// delayed by the latency and at the Level setting, until one is.
#pragma once

#include "dsp/TriodeProcessor.h"
#include "engine/Parameters.h"
#include "engine/ScopeFeed.h"

#include <atomic>
#include <cstdint>

// The DC blocker's coefficients as its single-precision arithmetic uses them.
struct DcCoefficients {
    float b0, b1, b2, a1, a2;
};

// First-order DC-blocking high-pass, direct form II, one lane per channel,
// its zero at DC and its corner near 1.54 Hz. Coefficients in double
// precision, state and arithmetic in single.
struct DcBlocker {
    double b0 = 1.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;
    float w1[2] = {0.0f, 0.0f};
    float w2[2] = {0.0f, 0.0f};

    // The filter for `sampleRate`, Hz, with its state cleared.
    static DcBlocker forRate(double sampleRate) noexcept;
    DcCoefficients coefficients() const noexcept
    {
        return {static_cast<float>(b0), static_cast<float>(b1), static_cast<float>(b2), static_cast<float>(a1),
                static_cast<float>(a2)};
    }
    // [audio thread] One step of one lane.
    float step(int32_t lane, float x, const DcCoefficients& c) noexcept
    {
        const float w = (x - w1[lane] * c.a1) - w2[lane] * c.a2;
        float y = w * c.b0;
        y += w1[lane] * c.b1;
        y += w2[lane] * c.b2;
        w2[lane] = w1[lane];
        w1[lane] = w;
        return y;
    }
};

class TubeEngine {
public:
    static constexpr float kMinSampleRate = 8000.0f;
    static constexpr float kMaxSampleRate = 1000000.0f;
    static constexpr float kDefaultSampleRate = 48000.0f;

    // [UI thread] Factory program 0's values, every change pending, 48 kHz,
    // scope feed off. Allocates all the audio thread will ever use.
    TubeEngine();
    // [UI thread] Gives back its uses of the table cache; the last engine
    // of the process joins the background builder.
    ~TubeEngine();
    TubeEngine(const TubeEngine&) = delete;
    TubeEngine& operator=(const TubeEngine&) = delete;

    // --- Parameters [any thread; never waits] ---
    // Stores a normalized value as given (nothing clamps it); out-of-range
    // indices are ignored.
    void setParameter(int32_t index, float value) noexcept;
    float getParameter(int32_t index) const noexcept;
    // Stores all seven at once: no block ever runs with some of them.
    void setParameters(const float (&values)[kNumParams]) noexcept;
    // Parameters changed since the audio thread last took them, one bit each.
    uint32_t pendingChanges() const noexcept { return pending.load(); }
    // The latency, in samples, that the stored Oversmpl value stands for:
    // it follows a write at once, before any block applies it.
    int32_t latency() const noexcept { return latencyFor(getParameter(kParamOversample)); }
    // The oversampling factor the audio thread runs at (1 or 16).
    int32_t oversamplingInForce() const noexcept { return dsp.getOversampling(); }

    // --- Host set-up [UI thread, while processing is suspended] ---
    // Accepts 8000 to 1000000 Hz and answers true; anything else (NaN
    // included) changes nothing. A rate equal to the one set changes nothing
    // either. Called during processing anyway, it stays harmless: the audio
    // thread takes the new rate at its next block.
    bool setSampleRate(float rate) noexcept;
    float getSampleRate() const noexcept { return sampleRate.load(std::memory_order_relaxed); }
    // Makes the set the stored settings need at the current rate ready, here
    // (about a millisecond the first time, nothing after), and has the
    // background builder make the rest of the rate. Hosts call it on resume.
    void prepareTables();
    // [a host's first block after set-up, never a real-time audio thread]
    // Waits until the set the stored settings need is ready, for hosts that
    // show their settings only after set-up; the next block takes it.
    void waitForTables() noexcept;
    // Whether the tables in force are those of the stored settings at the
    // current rate (false while the engine waits for a set).
    bool tablesCurrent() const noexcept { return current.load(std::memory_order_relaxed); }

    // --- [audio thread; never waits, never allocates] ---
    // Processes `frames` frames. A null inRight processes the left channel
    // alone (the scope's right input reads 0); a null outRight is not
    // written. Null left buffers do nothing at all.
    void process(const float* inLeft, const float* inRight, float* outLeft, float* outRight,
                 int32_t frames) noexcept;
    // [any thread] Whether blocks run the stage's AVX2 build: where the
    // processor has AVX2, unless Z5R_NO_AVX2 was set as the library loaded.
    // Both give the same bits.
    static bool stageUsesAvx2() noexcept;

    // [UI thread] The scope feed: start it when an editor opens, stop it
    // when it closes; read it from the editor.
    void startScopeFeed() noexcept { scopeFeed.start(getSampleRate()); }
    void stopScopeFeed() noexcept { scopeFeed.stop(); }
    ScopeFeed& scope() noexcept { return scopeFeed; }

    // Read access for tests and benchmarks.
    const TriodeProcessor& processor() const noexcept { return dsp; }
    double getGainSmoothed() const noexcept { return gainSmoothed; }
    double getLevelSmoothed() const noexcept { return levelSmoothed; }
    double getGainTarget() const noexcept { return gainTarget; }
    double getLevelTarget() const noexcept { return levelTarget; }
    const DcBlocker& getDcBlocker() const noexcept { return dcBlocker; }

private:
    // The stage settings the stored values ask for at the current rate.
    StageSettings storedSettings() const noexcept;
    bool takeChanges(float (&values)[kNumParams], uint32_t& mask) noexcept;
    void applyChanges() noexcept;
    // [audio thread] Puts the wanted set in force if it is ready; false
    // when it is not (it is then asked for first).
    bool takeWantedTables() noexcept;
    void setLevelTarget() noexcept;
    // [audio thread] The input, delayed by the latency, at the Level setting.
    // The stage's part of `process` (engine/TubeEngineStage.h), in the
    // baseline instruction set or with AVX2.
    template <bool Avx2>
    void runStage(const float* inLeft, const float* inRight, float* outLeft, float* outRight, int32_t frames) noexcept;
    void passThrough(const float* inLeft, const float* inRight, float* outLeft, float* outRight,
                     int32_t frames) noexcept;

    // Hand-over: the stored values and their change bits. A whole-program
    // write counts itself in `wholeWriters` and `wholeGeneration`, so that
    // the audio thread can tell a copy made while one was under way and
    // leave the change for its next block.
    std::atomic<float> values[kNumParams];
    std::atomic<uint32_t> pending{0};
    std::atomic<uint32_t> wholeWriters{0};
    std::atomic<uint32_t> wholeGeneration{0};
    std::atomic<float> sampleRate{kDefaultSampleRate};

    // The cache slot of the rate set here, held for the builder and
    // against eviction; -1 when the cache had no room.
    std::atomic<int32_t> rateUse{-1};
    std::atomic<bool> current{false};

    // Audio thread only.
    TriodeProcessor dsp;
    bool prepared = false;  // a set is in force
    StageSettings wanted;   // what the stored values ask for
    int32_t tablesUse = -1; // the cache slot of the set in force
    float levelValue = 0.0f;
    float normalizeValue = 0.0f;
    // The pass-through's delay line, per channel.
    static constexpr int32_t kDelayFrames = 16;
    float delay[2][kDelayFrames] = {};
    int32_t delayAt = 0;
    double gainSmoothed = 0.0;
    double levelSmoothed = 0.0;
    double gainTarget = 0.0;
    double levelTarget = 0.0;
    DcBlocker dcBlocker;
    float dcBlockerRate = kDefaultSampleRate;

    ScopeFeed scopeFeed;
};
