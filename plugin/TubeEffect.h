// The one object per plug-in instance: the host-interface layer, the seven
// parameters and the programs, the triode processor, the output smoothing
// and DC blocker, and the state shared between the host's user-interface
// thread, its audio thread and the editor.
#pragma once

#include "dsp/TriodeProcessor.h"
#include "plugin/EditorBase.h"
#include "plugin/EffectBase.h"
#include "plugin/Lock.h"
#include "plugin/Parameters.h"

#include <atomic>
#include <cstdint>

constexpr int32_t kUniqueId = 0x30333468;
constexpr int32_t kVendorVersion = 1060;
constexpr const char* kEffectName = "Korvane Z5R";
constexpr const char* kVendorName = "QMV";
constexpr const char* kProductName = "QMV Korvane Z5R";

// The scope feed spacing that means "off".
constexpr uint32_t kScopeFeedOff = 0xFFFFFFFFu;

// First-order DC-blocking high-pass, direct form II, one lane per channel.
// Coefficients in double precision, state and arithmetic in single.
struct DcBlocker {
    double b0 = 1.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;
    float w1[2] = {0.0f, 0.0f};
    float w2[2] = {0.0f, 0.0f};

    // [audio thread] One step of one lane.
    float step(int32_t lane, float x) noexcept;
};

class EditorBase;

// Builds the platform's editor for an effect, or returns null where the
// platform has none. The editor attaches itself to the effect.
EditorBase* createEditor(class TubeEffect* effect);

class TubeEffect : public EffectBaseX {
public:
    // [UI thread] Builds an instance; throws std::bad_alloc when memory runs out.
    explicit TubeEffect(audioMasterCallback hostCallback);
    ~TubeEffect() override;

    // [UI thread] Accepts 8000 to 1000000 Hz; anything else is ignored.
    void setSampleRate(float rate) override;
    // [audio thread]
    void processReplacing(float** inputs, float** outputs, int32_t sampleFrames) override;

    // [any thread] Parameters and programs.
    void setParameter(int32_t index, float value) override;
    float getParameter(int32_t index) override;
    void setProgram(int32_t program) override;
    void setProgramName(char* name) override;
    void getProgramName(char* name) override;
    void getParameterLabel(int32_t index, char* label) override;
    void getParameterDisplay(int32_t index, char* text) override;
    void getParameterName(int32_t index, char* text) override;

    bool setSpeakerArrangement(VstSpeakerArrangement* input, VstSpeakerArrangement* output) override;
    bool getEffectName(char* name) override;
    bool getVendorString(char* text) override;
    bool getProductString(char* text) override;
    int32_t getVendorVersion() override { return kVendorVersion; }

    // [UI thread] Scope feed control, used by the editor on open and close.
    void startScopeFeed() noexcept;
    void stopScopeFeed() noexcept;

    // Read access for the editor and for tests.
    int32_t getChannelCount() const noexcept { return channelCount.load(std::memory_order_relaxed); }
    int32_t getChangeMask();
    uint32_t getScopeDecimation() const noexcept { return scopeDecimation.load(std::memory_order_relaxed); }
    uint32_t getScopeCounter() const noexcept { return scopeCounter.load(std::memory_order_relaxed); }
    uint32_t getScopeWriteIndex() const noexcept { return scopeWriteIndex.load(std::memory_order_relaxed); }
    const TriodeProcessor& getProcessor() const noexcept { return dsp; }
    double getGainSmoothed() const noexcept { return gainSmoothed; }
    double getLevelSmoothed() const noexcept { return levelSmoothed; }
    double getGainTarget() const noexcept { return gainTarget; }
    double getLevelTarget() const noexcept { return levelTarget; }
    const DcBlocker& getDcBlocker() const noexcept { return dcBlocker; }
    Lock& getParamLock() noexcept { return paramLock; }

private:
    TriodeProcessor dsp;
    std::atomic<int32_t> channelCount{2};
    Lock paramLock;
    float paramValues[kNumParams] = {};
    int32_t changeMask = 0;
    double gainSmoothed = 0.0;
    double levelSmoothed = 0.0;
    double gainTarget = 0.0;
    double levelTarget = 0.0;
    DcBlocker dcBlocker;
    std::atomic<uint32_t> scopeDecimation{kScopeFeedOff};
    std::atomic<uint32_t> scopeCounter{0};
    std::atomic<uint32_t> scopeWriteIndex{0};

    // Block processing, in the order a block runs them.
    void applyParameterChanges() noexcept;
    void writeScopePoint(const ScopePoint& point) noexcept;
    void restartScopeFeed(uint32_t decimation) noexcept;
};
