// A small VST3 host for the tests: loads the built bundle's library by its
// exported entry points, makes instances through the factory, and gives
// them what hosts give: streams that hand bytes over in pieces, parameter
// queues, a component handler that records what it is told (and on which
// thread), and block processing with parameter points.
#pragma once

#include "vst3/HostObject.h"
#include "vst3/vst3abi.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace testhost {

using namespace vst3;

using GetFactoryProc = IPluginFactory*(VST3_CALL*)();
using ModuleProc = bool (*)();

// The library, loaded once per process, entered as hosts enter it.
class Module {
public:
    explicit Module(const std::string& path)
    {
#if defined(_WIN32)
        HMODULE handle = LoadLibraryA(path.c_str());
        if (!handle) return;
        auto find = [&](const char* name) { return reinterpret_cast<void*>(GetProcAddress(handle, name)); };
        auto init = reinterpret_cast<ModuleProc>(find("InitDll"));
        entered = init && init();
#else
        void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) return;
        auto find = [&](const char* name) { return dlsym(handle, name); };
        auto entry = reinterpret_cast<bool (*)(void*)>(find("ModuleEntry"));
        entered = entry && entry(handle);
#endif
        auto get = reinterpret_cast<GetFactoryProc>(find("GetPluginFactory"));
        factory = get ? get() : nullptr;
    }
    bool entered = false;
    IPluginFactory* factory = nullptr;
};

// The bundle's library as built (Z5R_VST3_FILE), loaded once.
inline Module& module()
{
    static Module m(Z5R_VST3_FILE);
    return m;
}

// Bytes in memory, read and written at most `piece` bytes per call, as
// hosts that stream from files do.
class MemoryStream final : public IBStream {
public:
    Z5R_VST3_HOST_OBJECT(IBStream, kIBStreamIid)

    explicit MemoryStream(std::vector<uint8_t> bytes = {}, int32_t piece = 1 << 30)
        : data(std::move(bytes)), piece(piece)
    {
    }
    tresult VST3_CALL read(void* buffer, int32_t numBytes, int32_t* numBytesRead) override
    {
        const int32_t left = static_cast<int32_t>(data.size()) - position;
        const int32_t n = std::max(0, std::min({numBytes, left, piece}));
        if (n > 0) std::memcpy(buffer, data.data() + position, static_cast<size_t>(n));
        position += n;
        if (numBytesRead) *numBytesRead = n;
        ++calls;
        return kResultOk;
    }
    tresult VST3_CALL write(void* buffer, int32_t numBytes, int32_t* numBytesWritten) override
    {
        const int32_t n = std::max(0, std::min(numBytes, piece));
        const auto* p = static_cast<const uint8_t*>(buffer);
        data.resize(std::max(data.size(), static_cast<size_t>(position + n)));
        std::memcpy(data.data() + position, p, static_cast<size_t>(n));
        position += n;
        if (numBytesWritten) *numBytesWritten = n;
        ++calls;
        return kResultOk;
    }
    tresult VST3_CALL seek(int64_t pos, int32_t mode, int64_t* result) override
    {
        const int64_t base = mode == kIBSeekSet ? 0 : mode == kIBSeekCur ? position : static_cast<int64_t>(data.size());
        position = static_cast<int32_t>(std::clamp<int64_t>(base + pos, 0, static_cast<int64_t>(data.size())));
        if (result) *result = position;
        return kResultOk;
    }
    tresult VST3_CALL tell(int64_t* pos) override
    {
        if (pos) *pos = position;
        return kResultOk;
    }
    void rewind() { position = 0; }

    std::vector<uint8_t> data;
    int32_t position = 0;
    int32_t piece;
    int32_t calls = 0;
};

class Queue final : public IParamValueQueue {
public:
    Z5R_VST3_HOST_OBJECT(IParamValueQueue, kIParamValueQueueIid)
    Queue() = default;
    // A copy is a new object: its own count.
    Queue(const Queue& o) : id(o.id), points(o.points) {}

    ParamID VST3_CALL getParameterId() override { return id; }
    int32_t VST3_CALL getPointCount() override { return static_cast<int32_t>(points.size()); }
    tresult VST3_CALL getPoint(int32_t index, int32_t& offset, ParamValue& value) override
    {
        if (index < 0 || index >= getPointCount()) return kInvalidArgument;
        offset = points[static_cast<size_t>(index)].first;
        value = points[static_cast<size_t>(index)].second;
        return kResultOk;
    }
    tresult VST3_CALL addPoint(int32_t offset, ParamValue value, int32_t& index) override
    {
        index = getPointCount();
        points.emplace_back(offset, value);
        return kResultOk;
    }
    ParamID id = 0;
    std::vector<std::pair<int32_t, double>> points;
};

class Changes final : public IParameterChanges {
public:
    Z5R_VST3_HOST_OBJECT(IParameterChanges, kIParameterChangesIid)

    int32_t VST3_CALL getParameterCount() override { return static_cast<int32_t>(queues.size()); }
    IParamValueQueue* VST3_CALL getParameterData(int32_t index) override
    {
        return index >= 0 && index < getParameterCount() ? &queues[static_cast<size_t>(index)] : nullptr;
    }
    IParamValueQueue* VST3_CALL addParameterData(const ParamID& id, int32_t& index) override
    {
        for (size_t i = 0; i < queues.size(); ++i)
            if (queues[i].id == id) {
                index = static_cast<int32_t>(i);
                return &queues[i];
            }
        index = static_cast<int32_t>(queues.size());
        queues.emplace_back();
        queues.back().id = id;
        return &queues.back();
    }
    // A point for parameter `id` at `offset`.
    void add(ParamID id, int32_t offset, double value)
    {
        queues.reserve(16);
        int32_t index = 0, at = 0;
        addParameterData(id, index)->addPoint(offset, value, at);
    }
    std::vector<Queue> queues;
};

// What the effect told the host, in order, with the thread it came from.
class RecordingHandler final : public IComponentHandler {
public:
    Z5R_VST3_HOST_OBJECT(IComponentHandler, kIComponentHandlerIid)

    struct Call {
        char kind;  // 'b'egin, 'p'erform, 'e'nd, 'r'estart
        ParamID id;
        double value;
        int32_t flags;
        std::thread::id thread;
    };
    tresult VST3_CALL beginEdit(ParamID id) override { return note({'b', id, 0.0, 0, std::this_thread::get_id()}); }
    tresult VST3_CALL performEdit(ParamID id, ParamValue value) override
    {
        return note({'p', id, value, 0, std::this_thread::get_id()});
    }
    tresult VST3_CALL endEdit(ParamID id) override { return note({'e', id, 0.0, 0, std::this_thread::get_id()}); }
    tresult VST3_CALL restartComponent(int32_t flags) override
    {
        return note({'r', 0, 0.0, flags, std::this_thread::get_id()});
    }
    std::vector<Call> taken()
    {
        std::lock_guard<std::mutex> hold(lock);
        std::vector<Call> out;
        out.swap(calls);
        return out;
    }
    int32_t restarts(int32_t flag)
    {
        std::lock_guard<std::mutex> hold(lock);
        return static_cast<int32_t>(
            std::count_if(calls.begin(), calls.end(), [&](const Call& c) { return c.kind == 'r' && (c.flags & flag); }));
    }

private:
    tresult note(const Call& call)
    {
        std::lock_guard<std::mutex> hold(lock);
        calls.push_back(call);
        return kResultOk;
    }
    std::mutex lock;
    std::vector<Call> calls;
};

inline Uid classId()
{
    PClassInfo info{};
    module().factory->getClassInfo(0, &info);
    Uid id{};
    std::memcpy(id.bytes, info.cid, 16);
    return id;
}

// One instance as a host holds it: component, processor and controller.
class Instance {
public:
    explicit Instance(double rate = 48000.0, int32_t maxBlock = 1024, bool activate = true)
    {
        IPluginFactory* factory = module().factory;
        if (!factory) return;
        const Uid cid = classId();
        void* obj = nullptr;
        if (factory->createInstance(reinterpret_cast<const char*>(cid.bytes),
                                    reinterpret_cast<const char*>(kIComponentIid.bytes), &obj) != kResultOk)
            return;
        component = static_cast<IComponent*>(obj);
        component->initialize(nullptr);
        component->queryInterface(kIAudioProcessorIid.bytes, &obj);
        processor = static_cast<IAudioProcessor*>(obj);
        component->queryInterface(kIEditControllerIid.bytes, &obj);
        controller = static_cast<IEditController*>(obj);
        controller->setComponentHandler(&handler);
        // As an offline render: every table set is made at activation, so
        // that two instances given the same changes sound the same from the
        // first block, whatever the background builder is doing.
        if (activate) start(rate, maxBlock, kOffline);
    }
    ~Instance()
    {
        if (!component) return;
        stop();
        controller->setComponentHandler(nullptr);
        component->terminate();
        controller->release();
        processor->release();
        component->release();
    }
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    bool ok() const { return component && processor && controller; }

    void start(double rate, int32_t maxBlock = 1024, int32_t mode = kRealtime)
    {
        ProcessSetup setup{mode, kSample32, maxBlock, rate};
        processor->setupProcessing(setup);
        component->setActive(1);
        processor->setProcessing(1);
        active = true;
    }
    void stop()
    {
        if (!active) return;
        processor->setProcessing(0);
        component->setActive(0);
        active = false;
    }

    // One block: `inputs`/`outputs` hold one pointer per channel.
    tresult process(std::vector<float*> inputs, std::vector<float*> outputs, int32_t frames,
                    IParameterChanges* changes = nullptr)
    {
        AudioBusBuffers in{};
        in.numChannels = static_cast<int32_t>(inputs.size());
        in.channelBuffers32 = inputs.data();
        AudioBusBuffers out{};
        out.numChannels = static_cast<int32_t>(outputs.size());
        out.channelBuffers32 = outputs.data();
        ProcessData data{};
        data.processMode = kRealtime;
        data.symbolicSampleSize = kSample32;
        data.numSamples = frames;
        data.numInputs = 1;
        data.numOutputs = 1;
        data.inputs = &in;
        data.outputs = &out;
        data.inputParameterChanges = changes;
        return processor->process(data);
    }

    std::vector<uint8_t> state()
    {
        MemoryStream stream;
        component->getState(&stream);
        return stream.data;
    }

    IComponent* component = nullptr;
    IAudioProcessor* processor = nullptr;
    IEditController* controller = nullptr;
    RecordingHandler handler;
    bool active = false;
};

// Bit patterns of floats, for exact comparisons that NaN does not spoil.
inline uint32_t bitsOf(float value)
{
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof(bits));
    return bits;
}

}  // namespace testhost
