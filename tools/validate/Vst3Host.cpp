#include "Vst3Host.h"

#include "Harness.h"
#include "Host.h"
#include "vst3/Utf16.h"

#include <algorithm>
#include <cstring>

#if !defined(_WIN32)
#include <poll.h>
#endif

namespace validate {
namespace v3 {

namespace {
// The instance whose process call this thread is in.
thread_local const Vst3Instance* processingNow = nullptr;
}  // namespace

std::string utf8(const char16_t* text, size_t units)
{
    char buffer[512];
    toUtf8(text, units, buffer, sizeof(buffer));
    return buffer;
}

// --- Stream ---

tresult VST3_CALL Stream::read(void* buffer, int32_t numBytes, int32_t* numBytesRead)
{
    const int64_t left = static_cast<int64_t>(data.size()) - position;
    const int32_t n = static_cast<int32_t>(std::max<int64_t>(0, std::min<int64_t>({numBytes, left, piece})));
    if (n > 0) std::memcpy(buffer, data.data() + position, static_cast<size_t>(n));
    position += n;
    if (numBytesRead) *numBytesRead = n;
    return kResultOk;
}

tresult VST3_CALL Stream::write(void* buffer, int32_t numBytes, int32_t* numBytesWritten)
{
    const int32_t n = std::max(0, std::min(numBytes, piece));
    if (static_cast<size_t>(position + n) > data.size()) data.resize(static_cast<size_t>(position + n));
    if (n > 0) std::memcpy(data.data() + position, buffer, static_cast<size_t>(n));
    position += n;
    if (numBytesWritten) *numBytesWritten = n;
    return kResultOk;
}

tresult VST3_CALL Stream::seek(int64_t pos, int32_t mode, int64_t* result)
{
    const int64_t base = mode == kIBSeekSet ? 0 : mode == kIBSeekCur ? position : static_cast<int64_t>(data.size());
    const int64_t to = base + pos;
    if (to < 0) return kInvalidArgument;
    position = to;
    if (result) *result = position;
    return kResultOk;
}

tresult VST3_CALL Stream::tell(int64_t* pos)
{
    if (pos) *pos = position;
    return kResultOk;
}

// --- Queue and Changes ---

tresult VST3_CALL Queue::getPoint(int32_t index, int32_t& offset, ParamValue& value)
{
    if (index < 0 || index >= getPointCount()) return kInvalidArgument;
    offset = points[static_cast<size_t>(index)].first;
    value = points[static_cast<size_t>(index)].second;
    return kResultOk;
}

tresult VST3_CALL Queue::addPoint(int32_t offset, ParamValue value, int32_t& index)
{
    if (points.size() == points.capacity()) return kResultFalse;  // no room made: never allocate in process
    index = getPointCount();
    points.emplace_back(offset, value);
    return kResultOk;
}

IParamValueQueue* VST3_CALL Changes::getParameterData(int32_t index)
{
    return index >= 0 && index < used ? &queues[static_cast<size_t>(index)] : nullptr;
}

IParamValueQueue* VST3_CALL Changes::addParameterData(const ParamID& id, int32_t& index)
{
    for (int32_t i = 0; i < used; ++i)
        if (queues[static_cast<size_t>(i)].id == id) {
            index = i;
            return &queues[static_cast<size_t>(i)];
        }
    if (static_cast<size_t>(used) >= queues.size()) return nullptr;  // no room made: never allocate in process
    index = used;
    Queue& q = queues[static_cast<size_t>(used++)];
    q.id = id;
    q.points.clear();
    return &q;
}

void Changes::add(ParamID id, int32_t offset, double value)
{
    if (static_cast<size_t>(used) >= queues.size()) room(queues.size() * 2 + 16);
    int32_t index = 0, at = 0;
    if (IParamValueQueue* q = addParameterData(id, index)) q->addPoint(offset, value, at);
}

// --- Handler ---

tresult VST3_CALL Handler::beginEdit(ParamID)
{
    owner.noteThread("beginEdit", false);
    return kResultOk;
}

tresult VST3_CALL Handler::performEdit(ParamID, ParamValue)
{
    ++edits;
    owner.noteThread("performEdit", false);
    return kResultOk;
}

tresult VST3_CALL Handler::endEdit(ParamID)
{
    owner.noteThread("endEdit", false);
    return kResultOk;
}

tresult VST3_CALL Handler::restartComponent(int32_t)
{
    ++restarts;
    owner.noteThread("restartComponent", true);
    return kResultOk;
}

bool Vst3Instance::inProcess() const { return processingNow == this; }

void Vst3Instance::noteThread(const char* call, bool setUp)
{
    // The component handler is the controller's: its thread, never the audio one.
    if (inProcess()) {
        if (setUp) ++threads.setUpFromProcess;
        else ++threads.wrongThread;
        if (threads.first.empty()) threads.first = format("%s from process", call);
    } else if (std::this_thread::get_id() != mainThread) {
        ++threads.wrongThread;
        if (threads.first.empty()) threads.first = format("%s from a thread other than the controller's", call);
    }
}

// --- Frame ---

tresult VST3_CALL Frame::queryInterface(const uint8_t* iid, void** obj)
{
    if (sameUid(iid, kFUnknownIid) || sameUid(iid, kIPlugFrameIid)) {
        *obj = static_cast<IPlugFrame*>(this);
        ++refs;
        return kResultOk;
    }
    if (offerRunLoop && sameUid(iid, kIRunLoopIid)) {
        *obj = static_cast<IRunLoop*>(this);
        ++refs;
        return kResultOk;
    }
    *obj = nullptr;
    return kNoInterface;
}

tresult VST3_CALL Frame::resizeView(IPlugView* view, ViewRect* newSize)
{
    if (view && newSize) view->onSize(newSize);
    return kResultOk;
}

tresult VST3_CALL Frame::registerEventHandler(IEventHandler* handler, int fd)
{
    fds.push_back({handler, fd});
    return kResultOk;
}

tresult VST3_CALL Frame::unregisterEventHandler(IEventHandler* handler)
{
    fds.erase(std::remove_if(fds.begin(), fds.end(), [&](const Fd& f) { return f.handler == handler; }), fds.end());
    return kResultOk;
}

tresult VST3_CALL Frame::registerTimer(ITimerHandler* handler, uint64_t)
{
    timers.push_back(handler);
    return kResultOk;
}

tresult VST3_CALL Frame::unregisterTimer(ITimerHandler* handler)
{
    timers.erase(std::remove(timers.begin(), timers.end(), handler), timers.end());
    return kResultOk;
}

void Frame::run()
{
#if !defined(_WIN32)
    // Copies: a handler may unregister itself.
    const std::vector<Fd> watched = fds;
    for (const Fd& f : watched) {
        pollfd p{f.fd, POLLIN, 0};
        if (poll(&p, 1, 0) > 0) f.handler->onFDIsSet(f.fd);
    }
#endif
    const std::vector<ITimerHandler*> due = timers;
    for (ITimerHandler* t : due) t->onTimer();
}

// --- Vst3Instance ---

bool firstAudioClass(IPluginFactory* factory, Uid& cid, std::string& name)
{
    const int32_t n = factory->countClasses();
    for (int32_t i = 0; i < n; ++i) {
        PClassInfo info{};
        if (factory->getClassInfo(i, &info) != kResultOk) continue;
        if (std::strncmp(info.category, kVstAudioEffectClass, sizeof(info.category)) != 0) continue;
        std::memcpy(cid.bytes, info.cid, 16);
        name.assign(info.name, strnlen(info.name, sizeof(info.name)));
        return true;
    }
    return false;
}

Vst3Instance::Vst3Instance(IPluginFactory* factory, const Uid& cid, Instance& owner, const Vst3Options& options,
                           std::string& error)
    : owner(owner), options(options)
{
    frame.offerRunLoop = options.runLoop;
    void* obj = nullptr;
    if (factory->createInstance(reinterpret_cast<const char*>(cid.bytes),
                                reinterpret_cast<const char*>(kIComponentIid.bytes), &obj) != kResultOk ||
        !obj) {
        error = "the factory made no component";
        return;
    }
    component = static_cast<IComponent*>(obj);
    if (component->initialize(nullptr) != kResultOk) {
        error = "the component refused initialize";
        return;
    }
    obj = nullptr;
    if (component->queryInterface(kIAudioProcessorIid.bytes, &obj) != kResultOk || !obj) {
        error = "the component has no IAudioProcessor";
        return;
    }
    processor = static_cast<IAudioProcessor*>(obj);
    obj = nullptr;
    if (component->queryInterface(kIEditControllerIid.bytes, &obj) == kResultOk && obj) {
        controller = static_cast<IEditController*>(obj);
    } else {
        // A controller of its own class, made and fed the component's state as hosts do.
        Uid controllerId{};
        if (component->getControllerClassId(controllerId.bytes) == kResultOk &&
            factory->createInstance(reinterpret_cast<const char*>(controllerId.bytes),
                                    reinterpret_cast<const char*>(kIEditControllerIid.bytes), &obj) == kResultOk &&
            obj) {
            controller = static_cast<IEditController*>(obj);
            separateController = true;
            controller->initialize(nullptr);
            Stream state;
            component->getState(&state);
            state.position = 0;
            controller->setComponentState(&state);
        } else {
            error = "no edit controller (neither the component nor its controller class)";
            return;
        }
    }
    if (options.handler) controller->setComponentHandler(&handler);

    inBuses = component->getBusCount(kAudio, kInput);
    outBuses = component->getBusCount(kAudio, kOutput);
    for (int32_t b = 0; b < inBuses; ++b) {
        BusInfo info{};
        component->getBusInfo(kAudio, kInput, b, info);
        inInfo.push_back(info);
    }
    for (int32_t b = 0; b < outBuses; ++b) {
        BusInfo info{};
        component->getBusInfo(kAudio, kOutput, b, info);
        outInfo.push_back(info);
    }
    inChannels = inBuses > 0 ? std::max(0, inInfo[0].channelCount) : 0;
    outChannels = outBuses > 0 ? std::max(0, outInfo[0].channelCount) : 0;
    // The main buses on, as hosts have them.
    if (inBuses > 0) component->activateBus(kAudio, kInput, 0, 1);
    if (outBuses > 0) component->activateBus(kAudio, kOutput, 0, 1);

    const int32_t count = controller->getParameterCount();
    for (int32_t i = 0; i < count && i < 100000; ++i) {
        ParameterInfo info{};
        controller->getParameterInfo(i, info);
        infos.push_back(info);
        // The bypass switch is the host's, as VST 2.4's effSetBypass is, and
        // hosts keep it apart from the state: the VST3 group checks it.
        if (!(info.flags & (ParameterInfo::kIsReadOnly | ParameterInfo::kIsProgramChange | ParameterInfo::kIsBypass)))
            writable.push_back(i);
    }
    lastSet.assign(writable.size(), 0.0);
    for (size_t k = 0; k < writable.size(); ++k) lastSet[k] = controller->getParamNormalized(infos[static_cast<size_t>(writable[k])].id);
    pending.reserve(writable.size() * 4 + 64);
    inChanges.room(infos.size() + 16);
    outChanges.room(infos.size() + 16);
    for (int32_t b = 0; b < inBuses; ++b) inPtrs.emplace_back(static_cast<size_t>(std::max(1, inInfo[static_cast<size_t>(b)].channelCount)));
    for (int32_t b = 0; b < outBuses; ++b) outPtrs.emplace_back(static_cast<size_t>(std::max(1, outInfo[static_cast<size_t>(b)].channelCount)));
    inBus.resize(static_cast<size_t>(inBuses));
    outBus.resize(static_cast<size_t>(outBuses));
}

Vst3Instance::~Vst3Instance()
{
    if (view) editorClose();
    if (isActive) deactivate();
    if (controller) {
        if (options.handler) controller->setComponentHandler(nullptr);
        if (separateController) controller->terminate();
        controller->release();
    }
    if (processor) processor->release();
    if (component) {
        component->terminate();
        component->release();
    }
}

void Vst3Instance::activate(double rate, int32_t maxBlock)
{
    if (isActive) deactivate();
    ProcessSetup setup{options.processMode, kSample32, std::max(maxBlock, 1), rate};
    processor->setupProcessing(setup);
    maxFrames = std::max(maxBlock, 1);
    makeRoom(std::max(maxBlock, 1));
    component->setActive(1);
    processor->setProcessing(1);
    isActive = true;
}

void Vst3Instance::deactivate()
{
    if (!isActive) return;
    processor->setProcessing(0);
    component->setActive(0);
    isActive = false;
}

void Vst3Instance::makeRoom(int32_t frames)
{
    if (frames <= room) return;
    room = frames;
    int32_t channels = 0;
    for (const BusInfo& b : inInfo) channels += std::max(1, b.channelCount);
    for (const BusInfo& b : outInfo) channels += std::max(1, b.channelCount);
    spare.assign(static_cast<size_t>(channels), std::vector<float>(static_cast<size_t>(room)));
}

void Vst3Instance::prepare(int32_t frames)
{
    makeRoom(std::max(frames, 1));
    inChanges.clear();
    outChanges.clear();
    std::lock_guard<std::mutex> hold(pendingLock);
    for (const auto& [id, value] : pending) inChanges.add(id, 0, value);
    pending.clear();
}

tresult Vst3Instance::processRaw(float** inputs, float** outputs, int32_t frames, bool noBuffers)
{
    size_t next = 0;
    auto fill = [&](std::vector<AudioBusBuffers>& buses, std::vector<std::vector<float*>>& ptrs,
                    const std::vector<BusInfo>& info, float** main, bool output) {
        for (size_t b = 0; b < buses.size(); ++b) {
            const int32_t channels = std::max(0, info[b].channelCount);
            for (int32_t c = 0; c < std::max(1, channels); ++c) {
                float* spareChannel = spare[next++].data();
                if (!output && b > 0) std::fill(spareChannel, spareChannel + std::max(frames, 0), 0.0f);
                ptrs[b][static_cast<size_t>(c)] = b == 0 && main ? main[c] : spareChannel;
            }
            buses[b].numChannels = channels;
            buses[b].silenceFlags = !output && b == 0 ? inputSilence : 0;
            buses[b].channelBuffers32 = ptrs[b].data();
        }
    };
    fill(inBus, inPtrs, inInfo, inputs, false);
    fill(outBus, outPtrs, outInfo, outputs, true);
    ProcessData data{};
    data.processMode = options.processMode;
    data.symbolicSampleSize = kSample32;
    data.numSamples = frames;
    data.numInputs = noBuffers ? 0 : inBuses;
    data.numOutputs = noBuffers ? 0 : outBuses;
    data.inputs = noBuffers || inBus.empty() ? nullptr : inBus.data();
    data.outputs = noBuffers || outBus.empty() ? nullptr : outBus.data();
    data.inputParameterChanges = &inChanges;
    data.outputParameterChanges = &outChanges;
    processingNow = this;
    const tresult result = processor->process(data);
    processingNow = nullptr;
    return result;
}

tresult Vst3Instance::processWithSilence(float** inputs, float** outputs, int32_t frames, uint64_t inFlags,
                                         uint64_t& outFlags)
{
    inputSilence = inChannels >= 64 ? ~0ull : inFlags & ((1ull << inChannels) - 1);
    const tresult r = processRaw(inputs, outputs, frames);
    inputSilence = 0;
    outFlags = outBus.empty() ? 0 : outBus[0].silenceFlags;
    return r;
}

void Vst3Instance::process(float** inputs, float** outputs, int32_t frames)
{
    // Hosts never process an inactive component, nor give it a block past
    // the largest announced: longer ones are split.
    if (!isActive) return;
    if (frames <= maxFrames) {
        lastResult = processRaw(inputs, outputs, frames);
        return;
    }
    float* in[64];
    float* out[64];
    for (int32_t done = 0; done < frames;) {
        const int32_t n = std::min(frames - done, maxFrames);
        for (int32_t c = 0; c < inChannels && c < 64; ++c) in[c] = inputs[c] + done;
        for (int32_t c = 0; c < outChannels && c < 64; ++c) out[c] = outputs[c] + done;
        lastResult = processRaw(in, out, n);
        inChanges.clear();  // delivered with the first piece
        done += n;
    }
}

void Vst3Instance::finish()
{
    inChanges.clear();
}

void Vst3Instance::setParameter(int32_t index, float value)
{
    if (index < 0 || index >= params()) return;
    const ParamID id = infos[static_cast<size_t>(writable[static_cast<size_t>(index)])].id;
    {
        std::lock_guard<std::mutex> hold(pendingLock);
        pending.emplace_back(id, static_cast<double>(value));
    }
    lastSet[static_cast<size_t>(index)] = value;
    // The controller hears of it on its own thread, as hosts tell it.
    if (std::this_thread::get_id() == mainThread) controller->setParamNormalized(id, value);
}

float Vst3Instance::getParameter(int32_t index)
{
    if (index < 0 || index >= params()) return 0.0f;
    if (std::this_thread::get_id() != mainThread) return static_cast<float>(lastSet[static_cast<size_t>(index)]);
    return static_cast<float>(controller->getParamNormalized(infos[static_cast<size_t>(writable[static_cast<size_t>(index)])].id));
}

std::string Vst3Instance::paramName(int32_t index)
{
    if (index < 0 || index >= params()) return {};
    return utf8(infos[static_cast<size_t>(writable[static_cast<size_t>(index)])].title, 128);
}

std::string Vst3Instance::paramUnit(int32_t index)
{
    if (index < 0 || index >= params()) return {};
    return utf8(infos[static_cast<size_t>(writable[static_cast<size_t>(index)])].units, 128);
}

std::string Vst3Instance::paramDisplay(int32_t index)
{
    if (index < 0 || index >= params()) return {};
    const ParamID id = infos[static_cast<size_t>(writable[static_cast<size_t>(index)])].id;
    String128 text{};
    if (controller->getParamStringByValue(id, controller->getParamNormalized(id), text) != kResultOk) return {};
    return utf8(text, 128);
}

bool Vst3Instance::automatable(int32_t index)
{
    return index >= 0 && index < params() &&
           (infos[static_cast<size_t>(writable[static_cast<size_t>(index)])].flags & ParameterInfo::kCanAutomate);
}

bool Vst3Instance::saveState(std::vector<uint8_t>& bytes)
{
    // The component's state, then the controller's, as hosts keep both.
    Stream own, edit;
    if (component->getState(&own) != kResultOk) return false;
    controller->getState(&edit);
    const uint32_t size = static_cast<uint32_t>(own.data.size());
    bytes.assign(reinterpret_cast<const uint8_t*>(&size), reinterpret_cast<const uint8_t*>(&size) + 4);
    bytes.insert(bytes.end(), own.data.begin(), own.data.end());
    bytes.insert(bytes.end(), edit.data.begin(), edit.data.end());
    return true;
}

bool Vst3Instance::loadState(const std::vector<uint8_t>& bytes)
{
    if (bytes.size() < 4) return false;
    uint32_t size = 0;
    std::memcpy(&size, bytes.data(), 4);
    if (size > bytes.size() - 4) return false;
    Stream own(std::vector<uint8_t>(bytes.begin() + 4, bytes.begin() + 4 + size));
    Stream edit(std::vector<uint8_t>(bytes.begin() + 4 + size, bytes.end()));
    const bool ok = component->setState(&own) == kResultOk;
    own.position = 0;
    controller->setComponentState(&own);
    if (!edit.data.empty()) controller->setState(&edit);
    for (size_t k = 0; k < writable.size(); ++k)
        lastSet[k] = controller->getParamNormalized(infos[static_cast<size_t>(writable[k])].id);
    return ok;
}

namespace {
#if defined(_WIN32)
constexpr const char* kPlatform = kPlatformTypeHWND;
#else
constexpr const char* kPlatform = kPlatformTypeX11EmbedWindowID;
#endif
}  // namespace

bool Vst3Instance::hasEditor()
{
    IPlugView* probe = controller->createView("editor");
    if (!probe) return false;
    const bool supported = probe->isPlatformTypeSupported(kPlatform) == kResultTrue;
    probe->release();
    return supported;
}

bool Vst3Instance::editorOpen(void* parent)
{
    if (view) {
        // A host asked to open an open editor leaves it as it is.
        return true;
    }
    view = controller->createView("editor");
    if (!view) return false;
    view->setFrame(&frame);
    const bool ok = view->attached(parent, kPlatform) == kResultOk;
    if (!ok) {
        view->setFrame(nullptr);
        view->release();
        view = nullptr;
    }
    return ok;
}

bool Vst3Instance::editorSize(int32_t& width, int32_t& height)
{
    ViewRect rect{};
    if (!view || view->getSize(&rect) != kResultOk) return false;
    width = rect.right - rect.left;
    height = rect.bottom - rect.top;
    return true;
}

void Vst3Instance::editorClose()
{
    if (!view) return;
    view->removed();
    view->setFrame(nullptr);
    view->release();
    view = nullptr;
}

}  // namespace v3

FormatInstance* makeVst3Instance(const Module& module, Instance& owner, std::string& error)
{
    auto* factory = static_cast<vst3::IPluginFactory*>(module.vst3Factory);
    vst3::Uid cid{};
    std::string name;
    if (!v3::firstAudioClass(factory, cid, name)) {
        error = "the factory lists no audio effect class";
        return nullptr;
    }
    auto* made = new v3::Vst3Instance(factory, cid, owner, v3::Vst3Options{}, error);
    if (!made->ok()) {
        delete made;
        if (error.empty()) error = "the VST3 instance could not be made";
        return nullptr;
    }
    return made;
}

}  // namespace validate
