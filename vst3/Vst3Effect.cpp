#include "vst3/Vst3Effect.h"

#include "engine/InstanceState.h"
#include "engine/TableBuilder.h"
#include "engine/ParameterInfo.h"
#include "vst3/Utf16.h"
#include "vst3/Vst3View.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <string_view>

namespace vst3 {

namespace {

constexpr char kBypassName[] = "Bypass";
constexpr char kProgramName[] = "Program";
constexpr char kProgramListName[] = "Programs";
constexpr char kRootUnitName[] = "Root";
constexpr double kBypassFadeSeconds = 0.005;

int32_t stepCountOf(ParamID id) noexcept
{
    if (id < static_cast<ParamID>(kNumParams)) return kParameterInfo[id].stepCount;
    if (id == kBypassId) return 1;
    if (id == kProgramId) return kNumPrograms - 1;
    return 0;
}

// The step a normalized value selects, as hosts' generic lists do: the
// normalized range cut into step + 1 equal parts. It is also the engine's
// own reading of its switches (on from 0.5) and choices (thirds).
int32_t stepOf(double normalized, int32_t steps) noexcept
{
    if (!(normalized > 0.0)) return 0;
    return std::min(steps, static_cast<int32_t>(normalized * (steps + 1)));
}

bool sameText(std::string_view a, std::string_view b) noexcept
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (std::tolower(x) != std::tolower(y)) return false;
    }
    return true;
}

std::string_view trimmed(std::string_view s) noexcept
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

}  // namespace

Vst3Effect::Vst3Effect()
{
    engine.setParameters(kFactoryPrograms[0].values);
    announcedLatency.store(engine.latency());
    mixStep = static_cast<float>(1.0 / (engine.getSampleRate() * kBypassFadeSeconds));
}

Vst3Effect::~Vst3Effect()
{
    if (handler) handler->release();
    if (hostContext) hostContext->release();
}

// --- FUnknown ---

tresult Vst3Effect::queryInterface(const uint8_t* iid, void** obj)
{
    if (!obj) return kInvalidArgument;
    *obj = nullptr;
    if (sameUid(iid, kFUnknownIid) || sameUid(iid, kIPluginBaseIid) || sameUid(iid, kIComponentIid))
        *obj = static_cast<IComponent*>(this);
    else if (sameUid(iid, kIAudioProcessorIid))
        *obj = static_cast<IAudioProcessor*>(this);
    else if (sameUid(iid, kIProcessContextRequirementsIid))
        *obj = static_cast<IProcessContextRequirements*>(this);
    else if (sameUid(iid, kIEditControllerIid))
        *obj = static_cast<IEditController*>(this);
    else if (sameUid(iid, kIUnitInfoIid))
        *obj = static_cast<IUnitInfo*>(this);
    else
        return kNoInterface;
    addRef();
    return kResultOk;
}

uint32_t Vst3Effect::addRef() { return refCount.fetch_add(1) + 1; }

uint32_t Vst3Effect::release()
{
    const uint32_t left = refCount.fetch_sub(1) - 1;
    if (left == 0) delete this;
    return left;
}

// --- IPluginBase ---

tresult Vst3Effect::initialize(FUnknown* context)
{
    // Called once for the component and once more for the controller by
    // hosts that treat the two alike: the second call changes nothing.
    if (context && context != hostContext) {
        context->addRef();
        if (hostContext) hostContext->release();
        hostContext = context;
    }
    return kResultOk;
}

tresult Vst3Effect::terminate()
{
    setComponentHandler(nullptr);
    if (hostContext) hostContext->release();
    hostContext = nullptr;
    return kResultOk;
}

// --- IComponent ---

tresult Vst3Effect::getControllerClassId(uint8_t*)
{
    // The controller is this object (queryInterface IEditController).
    return kNotImplemented;
}

tresult Vst3Effect::setIoMode(int32_t) { return kResultOk; }

int32_t Vst3Effect::getBusCount(MediaType type, BusDirection dir)
{
    return type == kAudio && (dir == kInput || dir == kOutput) ? 1 : 0;
}

tresult Vst3Effect::getBusInfo(MediaType type, BusDirection dir, int32_t index, BusInfo& bus)
{
    if (type != kAudio || index != 0 || (dir != kInput && dir != kOutput)) return kInvalidArgument;
    bus = BusInfo{};
    bus.mediaType = kAudio;
    bus.direction = dir;
    bus.channelCount = dir == kInput ? inputChannels() : outputChannels();
    toUtf16(dir == kInput ? "Input" : "Output", bus.name, 128);
    bus.busType = kMain;
    bus.flags = kDefaultActive;
    return kResultOk;
}

tresult Vst3Effect::getRoutingInfo(RoutingInfo&, RoutingInfo&) { return kNotImplemented; }

tresult Vst3Effect::activateBus(MediaType type, BusDirection dir, int32_t index, TBool)
{
    return type == kAudio && index == 0 && (dir == kInput || dir == kOutput) ? kResultOk : kInvalidArgument;
}

tresult Vst3Effect::setActive(TBool state)
{
    if (state) {
        engine.prepareTables();
        // An offline render has no deadline to keep: every setting it
        // automates should sound from its first block, so every set of the
        // rate is made before it starts.
        if (offline) tableBuilder::waitUntilIdle();
        // A fresh start: the bypass switch as it stands, no fade under way.
        mix = bypass.load() ? 1.0f : 0.0f;
        std::memset(history, 0, sizeof(history));
    }
    return kResultOk;
}

bool Vst3Effect::readState(IBStream* stream) noexcept
{
    if (!stream) return false;
    // One byte more than a blob holds tells an oversized one. Hosts hand
    // the bytes over in pieces of any size.
    uint8_t data[kInstanceStateSize + 1];
    int32_t total = 0;
    while (total < static_cast<int32_t>(sizeof(data))) {
        int32_t got = 0;
        const int32_t want = static_cast<int32_t>(sizeof(data)) - total;
        if (stream->read(data + total, want, &got) != kResultOk || got <= 0) break;
        if (got > want) return false;
        total += got;
    }
    InstanceState state;
    if (!readInstanceState(data, static_cast<size_t>(total), state)) return false;
    restoreInstanceState(state, bank, engine);
    return true;
}

tresult Vst3Effect::setState(IBStream* stream)
{
    if (!readState(stream)) return kResultFalse;
    announceLatencyIfChanged();
    return kResultOk;
}

tresult Vst3Effect::getState(IBStream* stream)
{
    if (!stream) return kInvalidArgument;
    uint8_t data[kInstanceStateSize];
    writeInstanceState(captureInstanceState(bank, engine), data);
    int32_t done = 0;
    while (done < static_cast<int32_t>(kInstanceStateSize)) {
        int32_t wrote = 0;
        const int32_t want = static_cast<int32_t>(kInstanceStateSize) - done;
        if (stream->write(data + done, want, &wrote) != kResultOk || wrote <= 0 || wrote > want)
            return kResultFalse;
        done += wrote;
    }
    return kResultOk;
}

// --- IAudioProcessor ---

tresult Vst3Effect::setBusArrangements(SpeakerArrangement* inputs, int32_t numIns, SpeakerArrangement* outputs,
                                       int32_t numOuts)
{
    if (numIns != 1 || numOuts != 1 || !inputs || !outputs) return kResultFalse;
    const SpeakerArrangement in = inputs[0], out = outputs[0];
    const bool stereo = in == kArrStereo && out == kArrStereo;
    const bool mono = in == kArrMono && out == kArrMono;
    const bool monoToStereo = in == kArrMono && out == kArrStereo;
    if (!stereo && !mono && !monoToStereo) return kResultFalse;
    inChannels.store(in == kArrStereo ? 2 : 1, std::memory_order_relaxed);
    outChannels.store(out == kArrStereo ? 2 : 1, std::memory_order_relaxed);
    return kResultTrue;
}

tresult Vst3Effect::getBusArrangement(BusDirection dir, int32_t index, SpeakerArrangement& arr)
{
    if (index != 0 || (dir != kInput && dir != kOutput)) return kInvalidArgument;
    const int32_t channels = dir == kInput ? inputChannels() : outputChannels();
    arr = channels == 2 ? kArrStereo : kArrMono;
    return kResultTrue;
}

tresult Vst3Effect::canProcessSampleSize(int32_t size) { return size == kSample32 ? kResultTrue : kResultFalse; }

uint32_t Vst3Effect::getLatencySamples() { return static_cast<uint32_t>(engine.latency()); }

tresult Vst3Effect::setupProcessing(ProcessSetup& setup)
{
    if (setup.symbolicSampleSize != kSample32) return kResultFalse;
    const double rate = setup.sampleRate;
    if (!(rate >= TubeEngine::kMinSampleRate && rate <= TubeEngine::kMaxSampleRate)) return kResultFalse;
    engine.setSampleRate(static_cast<float>(rate));
    engine.prepareTables();
    offline = setup.processMode == kOffline;
    mixStep = static_cast<float>(1.0 / (rate * kBypassFadeSeconds));
    return kResultOk;
}

tresult Vst3Effect::setProcessing(TBool) { return kResultOk; }

uint32_t Vst3Effect::getTailSamples() { return 0; }

void Vst3Effect::applyPoint(ParamID id, double value) noexcept
{
    if (!(value >= 0.0)) value = 0.0;  // NaN too
    if (value > 1.0) value = 1.0;
    if (id < static_cast<ParamID>(kNumParams))
        engine.setParameter(static_cast<int32_t>(id), static_cast<float>(value));
    else if (id == kBypassId)
        bypass.store(value >= 0.5, std::memory_order_relaxed);
    // A program switch takes the bank's lock: hosts send it to the
    // controller too (setParamNormalized), which switches there.
}

tresult Vst3Effect::process(ProcessData& data)
{
    // The block's points, in time order; a point at or past the block's
    // end lands before its last frame.
    const int32_t n = std::max(data.numSamples, 0);
    int32_t count = 0;
    bool late[kParameterCount] = {};
    double lateValue[kParameterCount] = {};
    if (IParameterChanges* changes = data.inputParameterChanges) {
        const int32_t queues = changes->getParameterCount();
        for (int32_t q = 0; q < queues; ++q) {
            IParamValueQueue* queue = changes->getParameterData(q);
            if (!queue) continue;
            const ParamID id = queue->getParameterId();
            if (id >= static_cast<ParamID>(kParameterCount)) continue;
            const int32_t pointCount = queue->getPointCount();
            for (int32_t p = 0; p < pointCount; ++p) {
                int32_t offset = 0;
                double value = 0.0;
                if (queue->getPoint(p, offset, value) != kResultOk) continue;
                offset = std::clamp(offset, 0, std::max(n - 1, 0));
                if (count < kMaxPoints) {
                    // Insertion keeps equal offsets in the host's order.
                    int32_t at = count++;
                    while (at > 0 && points[at - 1].offset > offset) {
                        points[at] = points[at - 1];
                        --at;
                    }
                    points[at] = {offset, id, value};
                } else {
                    // Beyond the room for points: the queue's last value
                    // still lands, after the block.
                    late[id] = true;
                    lateValue[id] = value;
                }
            }
        }
    }

    int32_t next = 0;
    const AudioBusBuffers* in = data.numInputs > 0 ? data.inputs : nullptr;
    AudioBusBuffers* out = data.numOutputs > 0 ? data.outputs : nullptr;
    const bool audio = data.symbolicSampleSize == kSample32 && in && out && in->channelBuffers32 &&
                       out->channelBuffers32 && in->numChannels > 0 && out->numChannels > 0 &&
                       in->channelBuffers32[0] && out->channelBuffers32[0];
    if (audio && n > 0) {
        const float* inL = in->channelBuffers32[0];
        const float* inR = in->numChannels > 1 ? in->channelBuffers32[1] : nullptr;
        float* outL = out->channelBuffers32[0];
        float* outR = out->numChannels > 1 ? out->channelBuffers32[1] : nullptr;
        int32_t pos = 0;
        while (pos < n) {
            while (next < count && points[next].offset <= pos) {
                applyPoint(points[next].id, points[next].value);
                ++next;
            }
            const int32_t end = next < count ? points[next].offset : n;
            render(inL + pos, inR ? inR + pos : nullptr, outL + pos, outR ? outR + pos : nullptr, end - pos);
            pos = end;
        }
        out->silenceFlags = 0;
    } else if (n > 0 && out && out->channelBuffers32 && data.symbolicSampleSize == kSample32) {
        // Outputs without inputs carry silence, never stale memory.
        for (int32_t c = 0; c < out->numChannels; ++c)
            if (float* channel = out->channelBuffers32[c]) std::memset(channel, 0, sizeof(float) * static_cast<size_t>(n));
        out->silenceFlags = out->numChannels >= 64 ? ~0ull : (1ull << out->numChannels) - 1;
    }
    for (; next < count; ++next) applyPoint(points[next].id, points[next].value);
    for (ParamID id = 0; id < static_cast<ParamID>(kParameterCount); ++id)
        if (late[id]) applyPoint(id, lateValue[id]);
    return kResultOk;
}

void Vst3Effect::renderPlain(const float* inL, const float* inR, float* outL, float* outR, int32_t n) noexcept
{
    // The input's last frames, kept for a bypass that may start at the next
    // block (the buffers may be the same as the output's).
    const int32_t keep = std::min(n, kHistory);
    float tail[2][kHistory];
    for (int32_t k = 0; k < keep; ++k) {
        tail[0][k] = inL[n - keep + k];
        tail[1][k] = (inR ? inR : inL)[n - keep + k];
    }
    if (inR) {
        engine.process(inL, inR, outL, outR, n);
    } else {
        // Mono in: both outputs carry the one processed channel.
        engine.process(inL, nullptr, outL, nullptr, n);
        if (outR && outR != outL) std::memcpy(outR, outL, sizeof(float) * static_cast<size_t>(n));
    }
    for (int32_t c = 0; c < 2; ++c) {
        std::memmove(history[c], history[c] + keep, sizeof(float) * static_cast<size_t>(kHistory - keep));
        std::memcpy(history[c] + kHistory - keep, tail[c], sizeof(float) * static_cast<size_t>(keep));
    }
}

void Vst3Effect::render(const float* inL, const float* inR, float* outL, float* outR, int32_t n) noexcept
{
    const bool bypassed = bypass.load(std::memory_order_relaxed);
    if (mix == 0.0f && !bypassed) {
        renderPlain(inL, inR, outL, outR, n);
        return;
    }
    // Bypassed or fading: the effect runs on (so that it comes back warm),
    // and the input, delayed by the latency in force, is faded over it.
    for (int32_t pos = 0; pos < n; pos += kChunk) {
        const int32_t m = std::min(kChunk, n - pos);
        std::memcpy(dry[0], inL + pos, sizeof(float) * static_cast<size_t>(m));
        std::memcpy(dry[1], (inR ? inR : inL) + pos, sizeof(float) * static_cast<size_t>(m));
        float before[2][kHistory];
        std::memcpy(before, history, sizeof(before));
        renderPlain(inL + pos, inR ? inR + pos : nullptr, outL + pos, outR ? outR + pos : nullptr, m);
        const int32_t latency = engine.oversamplingInForce() > 1 ? kOversampledLatency : 0;
        float* outs[2] = {outL + pos, outR ? outR + pos : nullptr};
        for (int32_t k = 0; k < m; ++k) {
            if (bypassed)
                mix = std::min(1.0f, mix + mixStep);
            else
                mix = std::max(0.0f, mix - mixStep);
            for (int32_t c = 0; c < 2; ++c) {
                if (!outs[c]) continue;
                const int32_t from = k - latency;
                float delayed = from >= 0 ? dry[c][from] : before[c][kHistory + from];
                if (!std::isfinite(delayed)) delayed = 0.0f;
                const float wet = outs[c][k];
                outs[c][k] = mix >= 1.0f ? delayed : mix <= 0.0f ? wet : wet * (1.0f - mix) + delayed * mix;
            }
        }
    }
}

// --- IEditController ---

tresult Vst3Effect::setComponentState(IBStream* stream)
{
    // The component's own state, which this object has already taken when
    // the host restored the component; taken again, it changes nothing.
    return setState(stream);
}

int32_t Vst3Effect::getParameterCount() { return kParameterCount; }

tresult Vst3Effect::getParameterInfo(int32_t index, ParameterInfo& info)
{
    if (index < 0 || index >= kParameterCount) return kInvalidArgument;
    info = ParameterInfo{};
    info.id = static_cast<ParamID>(index);
    info.unitId = kRootUnitId;
    if (index < kNumParams) {
        const ::ParameterInfo& p = kParameterInfo[index];
        toUtf16(p.name, info.title, 128);
        toUtf16(p.shortName, info.shortTitle, 128);
        toUtf16(p.unit, info.units, 128);
        info.stepCount = p.stepCount;
        info.defaultNormalizedValue = p.defaultValue;
        info.flags = ParameterInfo::kCanAutomate | (p.kind == ParamKind::Choice ? ParameterInfo::kIsList : 0);
    } else if (info.id == kBypassId) {
        toUtf16(kBypassName, info.title, 128);
        toUtf16(kBypassName, info.shortTitle, 128);
        info.stepCount = 1;
        info.defaultNormalizedValue = 0.0;
        info.flags = ParameterInfo::kCanAutomate | ParameterInfo::kIsBypass;
    } else {
        toUtf16(kProgramName, info.title, 128);
        toUtf16(kProgramName, info.shortTitle, 128);
        info.stepCount = kNumPrograms - 1;
        info.defaultNormalizedValue = 0.0;
        info.flags = ParameterInfo::kIsProgramChange | ParameterInfo::kIsList;
    }
    return kResultOk;
}

tresult Vst3Effect::getParamStringByValue(ParamID id, ParamValue value, String128 string)
{
    if (!string) return kInvalidArgument;
    char text[64];
    if (id < static_cast<ParamID>(kNumParams)) {
        formatParameterValue(static_cast<int32_t>(id), static_cast<float>(value), text, sizeof(text));
    } else if (id == kBypassId) {
        std::strcpy(text, value >= 0.5 ? "On" : "Off");
    } else if (id == kProgramId) {
        const ProgramRecord row = bank.row(stepOf(value, kNumPrograms - 1));
        std::memcpy(text, row.name, kProgramNameLength);
        text[kProgramNameLength] = 0;
    } else {
        return kInvalidArgument;
    }
    toUtf16(text, string, 128);
    return kResultOk;
}

tresult Vst3Effect::getParamValueByString(ParamID id, char16* string, ParamValue& value)
{
    char text[256];
    if (!string || !toUtf8(string, 128, text, sizeof(text))) return kResultFalse;
    if (id < static_cast<ParamID>(kNumParams)) {
        float normalized = 0.0f;
        if (!parseParameterText(static_cast<int32_t>(id), text, normalized)) return kResultFalse;
        value = normalized;
        return kResultOk;
    }
    const std::string_view typed = trimmed(text);
    if (id == kBypassId) {
        if (sameText(typed, "On") || typed == "1") value = 1.0;
        else if (sameText(typed, "Off") || typed == "0") value = 0.0;
        else return kResultFalse;
        return kResultOk;
    }
    if (id == kProgramId) {
        for (int32_t p = 0; p < kNumPrograms; ++p) {
            const ProgramRecord row = bank.row(p);
            if (sameText(typed, std::string_view(row.name, strnlen(row.name, kProgramNameLength)))) {
                value = static_cast<double>(p) / (kNumPrograms - 1);
                return kResultOk;
            }
        }
        return kResultFalse;
    }
    return kInvalidArgument;
}

ParamValue Vst3Effect::normalizedParamToPlain(ParamID id, ParamValue value)
{
    const int32_t steps = stepCountOf(id);
    if (steps > 0) return stepOf(value, steps);
    if (id < static_cast<ParamID>(kNumParams))
        return physicalFromNormalized(static_cast<int32_t>(id), static_cast<float>(value));
    return value;
}

ParamValue Vst3Effect::plainParamToNormalized(ParamID id, ParamValue plain)
{
    const int32_t steps = stepCountOf(id);
    if (steps > 0) {
        if (!(plain > 0.0)) return 0.0;
        return std::min(1.0, std::floor(plain + 0.5) / steps);
    }
    if (id < static_cast<ParamID>(kNumParams))
        return normalizedFromPhysical(static_cast<int32_t>(id), static_cast<float>(plain));
    return plain;
}

ParamValue Vst3Effect::getParamNormalized(ParamID id)
{
    if (id < static_cast<ParamID>(kNumParams)) {
        // The factory programs store 2.0 for "the last entry", and a stored
        // state may hold any finite value: the host sees it within 0..1,
        // where it selects the same entry or the same end of the range.
        const float v = engine.getParameter(static_cast<int32_t>(id));
        return v >= 0.0f ? std::min(v, 1.0f) : 0.0f;
    }
    if (id == kBypassId) return bypass.load(std::memory_order_relaxed) ? 1.0 : 0.0;
    if (id == kProgramId) return static_cast<double>(bank.current()) / (kNumPrograms - 1);
    return 0.0;
}

tresult Vst3Effect::setParamNormalized(ParamID id, ParamValue value)
{
    if (!std::isfinite(value)) return kInvalidArgument;
    value = std::clamp(value, 0.0, 1.0);
    if (id < static_cast<ParamID>(kNumParams)) {
        engine.setParameter(static_cast<int32_t>(id), static_cast<float>(value));
        if (id == kParamOversample) announceLatencyIfChanged();
        return kResultOk;
    }
    if (id == kBypassId) {
        bypass.store(value >= 0.5, std::memory_order_relaxed);
        return kResultOk;
    }
    if (id == kProgramId) {
        if (bank.select(stepOf(value, kNumPrograms - 1), engine)) {
            announceLatencyIfChanged();
            if (handler) handler->restartComponent(kParamValuesChanged);
        }
        return kResultOk;
    }
    return kInvalidArgument;
}

void Vst3Effect::announceLatencyIfChanged() noexcept
{
    const int32_t latency = engine.latency();
    if (announcedLatency.exchange(latency) != latency && handler) handler->restartComponent(kLatencyChanged);
}

tresult Vst3Effect::setComponentHandler(IComponentHandler* newHandler)
{
    if (newHandler == handler) return kResultOk;
    if (newHandler) newHandler->addRef();
    if (handler) handler->release();
    handler = newHandler;
    return kResultOk;
}

IPlugView* Vst3Effect::createView(FIDString name)
{
    if (!name || std::strcmp(name, "editor") != 0) return nullptr;
    try {
        return createEditorView(*this);
    } catch (...) {
        return nullptr;
    }
}

void Vst3Effect::editFromUser(ParamID id, float value) noexcept
{
    if (id >= static_cast<ParamID>(kNumParams)) return;
    engine.setParameter(static_cast<int32_t>(id), value);
    if (handler) handler->performEdit(id, value);
    if (id == kParamOversample) announceLatencyIfChanged();
}

void Vst3Effect::beginUserEdit(ParamID id) noexcept
{
    if (handler) handler->beginEdit(id);
}

void Vst3Effect::endUserEdit(ParamID id) noexcept
{
    if (handler) handler->endEdit(id);
}

// --- IUnitInfo ---

tresult Vst3Effect::getUnitInfo(int32_t unitIndex, UnitInfo& info)
{
    if (unitIndex != 0) return kInvalidArgument;
    info = UnitInfo{};
    info.id = kRootUnitId;
    info.parentUnitId = kNoParentUnitId;
    toUtf16(kRootUnitName, info.name, 128);
    info.programListId = kProgramListId;
    return kResultOk;
}

tresult Vst3Effect::getProgramListInfo(int32_t listIndex, ProgramListInfo& info)
{
    if (listIndex != 0) return kInvalidArgument;
    info = ProgramListInfo{};
    info.id = kProgramListId;
    toUtf16(kProgramListName, info.name, 128);
    info.programCount = kNumPrograms;
    return kResultOk;
}

tresult Vst3Effect::getProgramName(ProgramListID listId, int32_t programIndex, String128 name)
{
    if (listId != kProgramListId || programIndex < 0 || programIndex >= kNumPrograms || !name)
        return kInvalidArgument;
    const ProgramRecord row = bank.row(programIndex);
    char text[kProgramNameLength + 1];
    std::memcpy(text, row.name, kProgramNameLength);
    text[kProgramNameLength] = 0;
    toUtf16(text, name, 128);
    return kResultOk;
}

}  // namespace vst3
