// The validator's VST3 host: an instance as hosts hold one (component,
// processor, controller, separate or one object), streams that can be told
// to hand bytes over in short pieces, parameter queues, a component
// handler that notes which thread tells it what, and a plug frame with the
// Linux run loop for the editor. Built on our own declarations of the ABI
// (vst3/vst3abi.h).
#pragma once

#include "Formats.h"
#include "vst3/HostObject.h"
#include "vst3/vst3abi.h"

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace validate {

class Instance;

namespace v3 {

using namespace vst3;

// Bytes in memory. `piece` limits what one read or write moves (short
// reads and writes, as hosts that stream from files give); `failAfter`
// makes every call past that many bytes fail.
class Stream final : public IBStream {
public:
    Z5R_VST3_HOST_OBJECT(IBStream, kIBStreamIid)
    explicit Stream(std::vector<uint8_t> bytes = {}, int32_t piece = 1 << 30) : data(std::move(bytes)), piece(piece) {}
    tresult VST3_CALL read(void* buffer, int32_t numBytes, int32_t* numBytesRead) override;
    tresult VST3_CALL write(void* buffer, int32_t numBytes, int32_t* numBytesWritten) override;
    tresult VST3_CALL seek(int64_t pos, int32_t mode, int64_t* result) override;
    tresult VST3_CALL tell(int64_t* pos) override;
    std::vector<uint8_t> data;
    int64_t position = 0;
    int32_t piece;
};

class Queue final : public IParamValueQueue {
public:
    Z5R_VST3_HOST_OBJECT(IParamValueQueue, kIParamValueQueueIid)
    Queue() { points.reserve(kRoom); }
    Queue(const Queue& o) : id(o.id), points(o.points) { points.reserve(kRoom); }
    static constexpr size_t kRoom = 64;  // points a block may hold
    ParamID VST3_CALL getParameterId() override { return id; }
    int32_t VST3_CALL getPointCount() override { return static_cast<int32_t>(points.size()); }
    tresult VST3_CALL getPoint(int32_t index, int32_t& offset, ParamValue& value) override;
    tresult VST3_CALL addPoint(int32_t offset, ParamValue value, int32_t& index) override;
    ParamID id = 0;
    std::vector<std::pair<int32_t, double>> points;
};

// Parameter changes of one block, in queues made before any block and
// used again, so that neither the plug-in's output changes nor ours
// allocate in process.
class Changes final : public IParameterChanges {
public:
    Z5R_VST3_HOST_OBJECT(IParameterChanges, kIParameterChangesIid)
    Changes() { room(256); }
    int32_t VST3_CALL getParameterCount() override { return used; }
    IParamValueQueue* VST3_CALL getParameterData(int32_t index) override;
    IParamValueQueue* VST3_CALL addParameterData(const ParamID& id, int32_t& index) override;
    void add(ParamID id, int32_t offset, double value);
    void clear() { used = 0; }
    // At least `count` queues (outside process: it allocates).
    void room(size_t count)
    {
        if (queues.size() < count) queues.resize(count);
    }
    std::vector<Queue> queues;
    int32_t used = 0;
};

class Vst3Instance;

class Handler final : public IComponentHandler {
public:
    Z5R_VST3_HOST_OBJECT(IComponentHandler, kIComponentHandlerIid)
    explicit Handler(Vst3Instance& owner) : owner(owner) {}
    tresult VST3_CALL beginEdit(ParamID id) override;
    tresult VST3_CALL performEdit(ParamID id, ParamValue value) override;
    tresult VST3_CALL endEdit(ParamID id) override;
    tresult VST3_CALL restartComponent(int32_t flags) override;
    std::atomic<int32_t> restarts{0};
    std::atomic<int32_t> edits{0};

private:
    Vst3Instance& owner;
};

// The plug frame, which on Linux also answers for the host's run loop.
class Frame final : public IPlugFrame, public IRunLoop {
public:
    tresult VST3_CALL queryInterface(const uint8_t* iid, void** obj) override;
    uint32_t VST3_CALL addRef() override { return ++refs; }
    uint32_t VST3_CALL release() override { return --refs; }
    tresult VST3_CALL resizeView(IPlugView* view, ViewRect* newSize) override;
    tresult VST3_CALL registerEventHandler(IEventHandler* handler, int fd) override;
    tresult VST3_CALL unregisterEventHandler(IEventHandler* handler) override;
    tresult VST3_CALL registerTimer(ITimerHandler* handler, uint64_t milliseconds) override;
    tresult VST3_CALL unregisterTimer(ITimerHandler* handler) override;
    // One pass of the run loop: ready descriptors, then the timers.
    void run();
    bool offerRunLoop = true;
    std::atomic<int32_t> refs{1};
    struct Fd {
        IEventHandler* handler;
        int fd;
    };
    std::vector<Fd> fds;
    std::vector<ITimerHandler*> timers;
};

// How a host may hold the instance; the defaults are what most hosts do.
struct Vst3Options {
    bool handler = true;      // a component handler (none: a host offering nothing optional)
    bool runLoop = true;      // the plug frame answers for IRunLoop
    int32_t processMode = kRealtime;
};

class Vst3Instance final : public FormatInstance {
public:
    Vst3Instance(IPluginFactory* factory, const Uid& cid, Instance& owner, const Vst3Options& options, std::string& error);
    ~Vst3Instance() override;
    bool ok() const { return component && processor && controller; }

    int32_t inputs() const override { return inChannels; }
    int32_t outputs() const override { return outChannels; }
    int32_t params() const override { return static_cast<int32_t>(writable.size()); }
    void activate(double rate, int32_t maxBlock) override;
    void deactivate() override;
    bool active() const override { return isActive; }
    void prepare(int32_t frames) override;
    void process(float** inputs, float** outputs, int32_t frames) override;
    void finish() override;
    void setParameter(int32_t index, float value) override;
    float getParameter(int32_t index) override;
    std::string paramName(int32_t index) override;
    std::string paramDisplay(int32_t index) override;
    std::string paramUnit(int32_t index) override;
    bool automatable(int32_t index) override;
    int32_t latency() override { return static_cast<int32_t>(processor->getLatencySamples()); }
    bool saveState(std::vector<uint8_t>& bytes) override;
    bool loadState(const std::vector<uint8_t>& bytes) override;
    bool hasEditor() override;
    bool editorOpen(void* parent) override;
    bool editorSize(int32_t& width, int32_t& height) override;
    void editorIdle() override { frame.run(); }
    void editorClose() override;

    // The raw interfaces, for the VST3 group.
    IComponent* component = nullptr;
    IAudioProcessor* processor = nullptr;
    IEditController* controller = nullptr;
    bool separateController = false;
    std::vector<ParameterInfo> infos;  // every parameter, as the controller gives them
    std::vector<int32_t> writable;     // indices into infos of the parameters the groups set (not read-only, not bypass)
    Handler handler{*this};
    Frame frame;
    Changes inChanges, outChanges;
    // One block with the main buses' channels as given and every other bus
    // fed silence (or no buffers at all, as hosts flush parameters).
    tresult processRaw(float** inputs, float** outputs, int32_t frames, bool noBuffers = false);
    // A block with the main input's silence flags as given; the main output's come back.
    tresult processWithSilence(float** inputs, float** outputs, int32_t frames, uint64_t inFlags, uint64_t& outFlags);
    uint64_t inputSilence = 0;
    tresult lastResult = kResultOk;

    std::thread::id mainThread = std::this_thread::get_id();
    bool inProcess() const;
    void noteThread(const char* call, bool setUp);

private:
    Instance& owner;
    Vst3Options options;
    bool isActive = false;
    int32_t maxFrames = 1;
    int32_t inChannels = 0, outChannels = 0;
    int32_t inBuses = 0, outBuses = 0;
    std::vector<BusInfo> inInfo, outInfo;
    int32_t room = 0;  // frames the silent buses' buffers hold
    std::vector<std::vector<float>> spare;
    std::vector<AudioBusBuffers> inBus, outBus;
    std::vector<std::vector<float*>> inPtrs, outPtrs;
    std::mutex pendingLock;
    std::vector<std::pair<ParamID, double>> pending;
    std::vector<double> lastSet;
    IPlugView* view = nullptr;
    void makeRoom(int32_t frames);
};

// The first audio effect class of a factory.
bool firstAudioClass(IPluginFactory* factory, Uid& cid, std::string& name);
std::string utf8(const char16_t* text, size_t units);

}  // namespace v3
}  // namespace validate
