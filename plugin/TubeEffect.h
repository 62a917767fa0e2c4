// The VST 2.4 face of the effect: one object per plug-in instance over the
// format-neutral engine. It holds the host-interface layer (dispatcher and
// AEffect record), the parameter texts within the interface's limits, the
// programs, the speaker arrangement and the latency the host reads; the
// engine does the rest.
#pragma once

#include "engine/Lock.h"
#include "engine/Product.h"
#include "engine/TubeEngine.h"
#include "plugin/EditorBase.h"
#include "plugin/EffectBase.h"
#include "plugin/Parameters.h"

#include <atomic>
#include <cstdint>

constexpr int32_t kUniqueId = product::kVst2UniqueId;
constexpr int32_t kVendorVersion = product::kVendorVersion;
constexpr const char* kEffectName = product::kName;
constexpr const char* kVendorName = product::kVendor;
constexpr const char* kProductName = product::kProductString;
// effVendorSpecific code ('Z5Rw'): waits until every table set of the rates
// in use is ready and returns 1, for offline hosts and tests that want each
// setting to land at its first block from the start.
constexpr int32_t kVendorWaitForTables = 0x5A355277;
// effVendorSpecific code ('Z5Rr'): 1 when every table set of the rates in
// use is ready, 0 while the background builder still works; never waits.
constexpr int32_t kVendorTablesReady = 0x5A355272;

class EditorBase;

// Builds the platform's editor for an effect, or returns null where the
// platform has none. The editor attaches itself to the effect.
EditorBase* createEditor(class TubeEffect* effect);

class TubeEffect : public EffectBaseX {
public:
    // [UI thread] Builds an instance; throws std::bad_alloc when memory runs out.
    explicit TubeEffect(audioMasterCallback hostCallback);
    ~TubeEffect() override;

    // [UI thread, processing suspended] Accepts 8000 to 1000000 Hz; anything
    // else is ignored.
    void setSampleRate(float rate) override;
    // [UI thread] Processing switches on: the tables of the rate get ready.
    void resume() override;
    // [audio thread]
    void processReplacing(float** inputs, float** outputs, int32_t sampleFrames) override;

    // [any thread; never waits] Parameters and programs.
    void setParameter(int32_t index, float value) override;
    float getParameter(int32_t index) override;
    // [UI thread]
    void setProgram(int32_t program) override;
    int32_t getProgram() override;
    void setProgramName(char* name) override;
    void getProgramName(char* name) override;
    void getParameterLabel(int32_t index, char* label) override;
    void getParameterDisplay(int32_t index, char* text) override;
    void getParameterName(int32_t index, char* text) override;

    // [UI thread, processing suspended] Mono or stereo input into stereo
    // output, or mono into mono; anything else is refused and changes nothing.
    bool setSpeakerArrangement(VstSpeakerArrangement* input, VstSpeakerArrangement* output) override;
    bool getEffectName(char* name) override;
    bool getVendorString(char* text) override;
    bool getProductString(char* text) override;
    int32_t getVendorVersion() override { return kVendorVersion; }
    // [UI thread] kVendorWaitForTables and kVendorTablesReady; anything else answers 0.
    intptr_t vendorSpecific(int32_t index, intptr_t value, void* ptr, float opt) override;

    // [UI thread] Scope feed control, used by the editor on open and close.
    void startScopeFeed() noexcept { engine.startScopeFeed(); }
    void stopScopeFeed() noexcept { engine.stopScopeFeed(); }

    TubeEngine& getEngine() noexcept { return engine; }
    const TubeEngine& getEngine() const noexcept { return engine; }

    // Read access for the editor and for tests.
    int32_t getChannelCount() const noexcept { return channelCount.load(std::memory_order_relaxed); }
    int32_t getChangeMask() const noexcept { return static_cast<int32_t>(engine.pendingChanges()); }
    uint32_t getScopeDecimation() noexcept { return engine.scope().getSpacing(); }
    uint32_t getScopeCounter() noexcept { return engine.scope().getCounter(); }
    uint32_t getScopeWriteIndex() noexcept { return engine.scope().getWriteIndex(); }
    const TriodeProcessor& getProcessor() const noexcept { return engine.processor(); }
    // A copy of one row of this instance's program bank.
    ProgramRecord getProgramRecord(int32_t row);

private:
    // [any thread] Tells the host when the stored Oversmpl value has changed
    // the latency, from the thread that changed it.
    void latencyMayHaveChanged() noexcept;

    TubeEngine engine;
    std::atomic<int32_t> channelCount{2};
    // This instance's programs, filled from the factory programs; saved on
    // switch and renamed by the host, lost with the instance. Only program
    // calls take its lock; parameters and processing never do.
    ProgramBank bank;
};
