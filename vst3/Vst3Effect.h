// The VST3 face of the effect: one object per instance over the
// format-neutral engine, answering as the audio component (IComponent,
// IAudioProcessor, IProcessContextRequirements) and as its own edit
// controller (IEditController, IUnitInfo).
//
// Why one object: the effect's controller has nothing of its own to keep
// (its values are the engine's, its programs the instance's bank), so a
// controller apart would only mirror the processor through messages and
// could drift from it. Hosts find the controller by asking the component
// for IEditController before they look for a controller class.
//
// Parameters: IDs 0 to 6 are the seven engine parameters (the VST 2.4
// indices, the same normalized values and texts), then the host's bypass
// switch and the program selector of the one program list.
//
// Threads: the controller calls come from the host's UI thread, process()
// from its audio thread, set-up calls while processing is off. Parameter
// writes from any thread never wait.
#pragma once

#include "engine/ProgramBank.h"
#include "engine/TubeEngine.h"
#include "vst3/vst3abi.h"

#include <atomic>
#include <cstdint>

namespace vst3 {

constexpr ParamID kBypassId = kNumParams;      // 7
constexpr ParamID kProgramId = kNumParams + 1;  // 8
constexpr int32_t kParameterCount = kNumParams + 2;
constexpr ProgramListID kProgramListId = 1;

class Vst3Effect final : public IComponent,
                         public IAudioProcessor,
                         public IProcessContextRequirements,
                         public IEditController,
                         public IUnitInfo {
public:
    Vst3Effect();

    // --- FUnknown [any thread] ---
    tresult VST3_CALL queryInterface(const uint8_t* iid, void** obj) override;
    uint32_t VST3_CALL addRef() override;
    uint32_t VST3_CALL release() override;

    // --- IPluginBase [UI thread]; the component and the controller share it ---
    tresult VST3_CALL initialize(FUnknown* context) override;
    tresult VST3_CALL terminate() override;

    // --- IComponent [UI thread] ---
    tresult VST3_CALL getControllerClassId(uint8_t* classId) override;
    tresult VST3_CALL setIoMode(int32_t mode) override;
    int32_t VST3_CALL getBusCount(MediaType type, BusDirection dir) override;
    tresult VST3_CALL getBusInfo(MediaType type, BusDirection dir, int32_t index, BusInfo& bus) override;
    tresult VST3_CALL getRoutingInfo(RoutingInfo& inInfo, RoutingInfo& outInfo) override;
    tresult VST3_CALL activateBus(MediaType type, BusDirection dir, int32_t index, TBool state) override;
    // Processing switches on: the tables of the rate get ready.
    tresult VST3_CALL setActive(TBool state) override;
    // The instance's blob (engine/InstanceState.h), read in whatever pieces
    // the stream gives; anything but a whole sound blob is refused and
    // changes nothing. The controller's getState/setState are these same
    // two (one object): a host that saves and restores both gets the same
    // blob twice, which restores the same instance.
    tresult VST3_CALL setState(IBStream* state) override;
    tresult VST3_CALL getState(IBStream* state) override;

    // --- IAudioProcessor ---
    // [UI thread, inactive] Stereo to stereo, mono to mono, mono to stereo.
    tresult VST3_CALL setBusArrangements(SpeakerArrangement* inputs, int32_t numIns, SpeakerArrangement* outputs,
                                         int32_t numOuts) override;
    tresult VST3_CALL getBusArrangement(BusDirection dir, int32_t index, SpeakerArrangement& arr) override;
    tresult VST3_CALL canProcessSampleSize(int32_t symbolicSampleSize) override;
    // [any thread] 0, or 8 with oversampling.
    uint32_t VST3_CALL getLatencySamples() override;
    tresult VST3_CALL setupProcessing(ProcessSetup& setup) override;
    tresult VST3_CALL setProcessing(TBool state) override;
    // [audio thread] Never waits, never allocates.
    tresult VST3_CALL process(ProcessData& data) override;
    uint32_t VST3_CALL getTailSamples() override;

    // --- IProcessContextRequirements: the effect needs no transport ---
    uint32_t VST3_CALL getProcessContextRequirements() override { return 0; }

    // --- IEditController [UI thread] ---
    tresult VST3_CALL setComponentState(IBStream* state) override;
    int32_t VST3_CALL getParameterCount() override;
    tresult VST3_CALL getParameterInfo(int32_t paramIndex, ParameterInfo& info) override;
    tresult VST3_CALL getParamStringByValue(ParamID id, ParamValue valueNormalized, String128 string) override;
    tresult VST3_CALL getParamValueByString(ParamID id, char16* string, ParamValue& valueNormalized) override;
    ParamValue VST3_CALL normalizedParamToPlain(ParamID id, ParamValue valueNormalized) override;
    ParamValue VST3_CALL plainParamToNormalized(ParamID id, ParamValue plainValue) override;
    ParamValue VST3_CALL getParamNormalized(ParamID id) override;
    // [any thread; never waits but for a program switch]
    tresult VST3_CALL setParamNormalized(ParamID id, ParamValue value) override;
    tresult VST3_CALL setComponentHandler(IComponentHandler* handler) override;
    IPlugView* VST3_CALL createView(FIDString name) override;

    // --- IUnitInfo [UI thread]: the root unit and its eight programs ---
    int32_t VST3_CALL getUnitCount() override { return 1; }
    tresult VST3_CALL getUnitInfo(int32_t unitIndex, UnitInfo& info) override;
    int32_t VST3_CALL getProgramListCount() override { return 1; }
    tresult VST3_CALL getProgramListInfo(int32_t listIndex, ProgramListInfo& info) override;
    tresult VST3_CALL getProgramName(ProgramListID listId, int32_t programIndex, String128 name) override;
    tresult VST3_CALL getProgramInfo(ProgramListID, int32_t, const char*, String128) override
    {
        return kResultFalse;
    }
    tresult VST3_CALL hasProgramPitchNames(ProgramListID, int32_t) override { return kResultFalse; }
    tresult VST3_CALL getProgramPitchName(ProgramListID, int32_t, int16_t, String128) override
    {
        return kResultFalse;
    }
    UnitID VST3_CALL getSelectedUnit() override { return kRootUnitId; }
    tresult VST3_CALL selectUnit(UnitID id) override { return id == kRootUnitId ? kResultOk : kResultFalse; }
    tresult VST3_CALL getUnitByBus(MediaType, BusDirection, int32_t, int32_t, UnitID& unitId) override
    {
        unitId = kRootUnitId;
        return kResultOk;
    }
    tresult VST3_CALL setUnitProgramData(int32_t, int32_t, IBStream*) override { return kNotImplemented; }

    // --- For the editor [UI thread] ---
    TubeEngine& getEngine() noexcept { return engine; }
    // A user's change from the editor: stored, announced to the host as an
    // edit of the gesture the editor began.
    void editFromUser(ParamID id, float value) noexcept;
    void beginUserEdit(ParamID id) noexcept;
    void endUserEdit(ParamID id) noexcept;
    // [UI thread] Tells the host the latency if it differs from what the
    // host was last told (a value written by the host's automation reaches
    // here at the next call from the UI thread).
    void announceLatencyIfChanged() noexcept;

    // For tests.
    int32_t inputChannels() const noexcept { return inChannels.load(std::memory_order_relaxed); }
    int32_t outputChannels() const noexcept { return outChannels.load(std::memory_order_relaxed); }

private:
    ~Vst3Effect();

    // [audio thread] Processes frames [0, n) of the buses, applying the
    // bypass fade.
    void render(const float* inL, const float* inR, float* outL, float* outR, int32_t n) noexcept;
    void renderPlain(const float* inL, const float* inR, float* outL, float* outR, int32_t n) noexcept;
    void applyPoint(ParamID id, double value) noexcept;
    bool readState(IBStream* stream) noexcept;

    std::atomic<uint32_t> refCount{1};
    TubeEngine engine;
    ProgramBank bank;
    IComponentHandler* handler = nullptr;  // held with a reference
    FUnknown* hostContext = nullptr;       // held with a reference from initialize to terminate

    std::atomic<int32_t> inChannels{2};
    std::atomic<int32_t> outChannels{2};
    std::atomic<bool> bypass{false};
    std::atomic<int32_t> announcedLatency{0};

    // Audio thread only: the bypass fade, its input history for the latency
    // the dry path repeats, and room for the dry input of one chunk.
    static constexpr int32_t kChunk = 256;
    static constexpr int32_t kHistory = kOversampledLatency;
    float mix = 0.0f;      // 0 the effect, 1 the input
    float mixStep = 0.0f;  // per frame, from the rate
    bool offline = false;  // the host's processing mode, from setupProcessing
    float history[2][kHistory] = {};
    float dry[2][kChunk] = {};

    // Audio thread only: the block's parameter points in time order.
    struct Point {
        int32_t offset;
        ParamID id;
        double value;
    };
    static constexpr int32_t kMaxPoints = 1024;
    Point points[kMaxPoints];
};

}  // namespace vst3
