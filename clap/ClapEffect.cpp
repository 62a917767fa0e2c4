#include "clap/ClapEffect.h"

#include "clap/ClapEditor.h"
#include "engine/InstanceState.h"
#include "engine/ParameterInfo.h"
#include "engine/Product.h"
#include "engine/TableBuilder.h"

#include "clap/ext/audio-ports.h"
#include "clap/plugin-features.h"

#include <algorithm>
#include <cassert>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <string_view>
#include <system_error>

namespace {

const char* kFeatures[] = {CLAP_PLUGIN_FEATURE_AUDIO_EFFECT, CLAP_PLUGIN_FEATURE_DISTORTION,
                           CLAP_PLUGIN_FEATURE_STEREO, CLAP_PLUGIN_FEATURE_MONO, nullptr};

// Debug builds check the host's threading where the host can tell.
#ifdef NDEBUG
#define Z5R_ASSERT_THREAD(check) ((void)0)
#else
#define Z5R_ASSERT_THREAD(check) assert(check)
#endif

ClapEffect* self(const clap_plugin_t* plugin) noexcept { return ClapEffect::from(plugin); }

// A parameter ID is its index: 0 to 6.
bool isParamId(clap_id id) noexcept { return id < static_cast<clap_id>(kNumParams); }

// --- audio-ports: one stereo main input and output, processed in place ---
uint32_t CLAP_ABI portCount(const clap_plugin_t*, bool) { return 1; }

bool CLAP_ABI portGet(const clap_plugin_t*, uint32_t index, bool isInput, clap_audio_port_info_t* info)
{
    if (index != 0 || !info) return false;
    *info = {};
    info->id = 0;
    std::snprintf(info->name, sizeof(info->name), "%s", isInput ? "Input" : "Output");
    info->flags = CLAP_AUDIO_PORT_IS_MAIN;
    info->channel_count = 2;
    info->port_type = CLAP_PORT_STEREO;
    info->in_place_pair = 0;
    return true;
}

const clap_plugin_audio_ports_t kAudioPorts = {portCount, portGet};

// --- params: the seven, their index their ID ---
uint32_t CLAP_ABI paramCount(const clap_plugin_t*) { return kNumParams; }

bool CLAP_ABI paramInfo(const clap_plugin_t*, uint32_t index, clap_param_info_t* info)
{
    if (index >= static_cast<uint32_t>(kNumParams) || !info) return false;
    const ParameterInfo& p = kParameterInfo[index];
    *info = {};
    info->id = index;
    info->flags = CLAP_PARAM_IS_AUTOMATABLE;
    if (p.kind != ParamKind::Continuous) info->flags |= CLAP_PARAM_IS_STEPPED;
    info->cookie = nullptr;
    std::snprintf(info->name, sizeof(info->name), "%s", p.name);
    info->module[0] = '\0';
    info->min_value = clapValueFromNormalized(static_cast<int32_t>(index), 0.0f);
    info->max_value = clapValueFromNormalized(static_cast<int32_t>(index), 1.0f);
    info->default_value = clapValueFromNormalized(static_cast<int32_t>(index), p.defaultValue);
    return true;
}

bool CLAP_ABI paramValue(const clap_plugin_t* plugin, clap_id id, double* value)
{
    if (!isParamId(id) || !value) return false;
    *value = clapValueFromNormalized(static_cast<int32_t>(id), self(plugin)->getEngine().getParameter(id));
    return true;
}

bool CLAP_ABI paramToText(const clap_plugin_t*, clap_id id, double value, char* text, uint32_t size)
{
    float normalized;
    if (!isParamId(id) || !text || size == 0) return false;
    if (!normalizedFromClapValue(static_cast<int32_t>(id), value, normalized)) return false;
    formatParameterValue(static_cast<int32_t>(id), normalized, text, size);
    return true;
}

bool CLAP_ABI paramFromText(const clap_plugin_t*, clap_id id, const char* text, double* value)
{
    float normalized;
    if (!isParamId(id) || !text || !value) return false;
    if (!parseParameterText(static_cast<int32_t>(id), text, normalized)) return false;
    *value = clapValueFromNormalized(static_cast<int32_t>(id), normalized);
    return true;
}

void CLAP_ABI paramFlush(const clap_plugin_t* plugin, const clap_input_events_t* in, const clap_output_events_t* out)
{
    self(plugin)->flush(in, out);
}

const clap_plugin_params_t kParams = {paramCount, paramInfo, paramValue, paramToText, paramFromText, paramFlush};

// --- state, latency, presets ---
bool CLAP_ABI stateSave(const clap_plugin_t* plugin, const clap_ostream_t* stream)
{
    return self(plugin)->save(stream);
}
bool CLAP_ABI stateLoad(const clap_plugin_t* plugin, const clap_istream_t* stream)
{
    return self(plugin)->load(stream);
}
const clap_plugin_state_t kState = {stateSave, stateLoad};

uint32_t CLAP_ABI latencyGet(const clap_plugin_t* plugin) { return self(plugin)->latency(); }
const clap_plugin_latency_t kLatency = {latencyGet};

bool CLAP_ABI presetFromLocation(const clap_plugin_t* plugin, uint32_t kind, const char* location, const char* key)
{
    return self(plugin)->loadPreset(kind, location, key);
}
const ClapPluginPresetLoad kPresetLoad = {presetFromLocation};

bool CLAP_ABI renderHardRealtime(const clap_plugin_t*) { return false; }
bool CLAP_ABI renderSet(const clap_plugin_t* plugin, int32_t mode) { return self(plugin)->setRenderMode(mode); }
const ClapPluginRender kRender = {renderHardRealtime, renderSet};

// --- the plug-in record ---
bool CLAP_ABI pluginInit(const clap_plugin_t* plugin) { return self(plugin)->init(); }
void CLAP_ABI pluginDestroy(const clap_plugin_t* plugin) { delete self(plugin); }
bool CLAP_ABI pluginActivate(const clap_plugin_t* plugin, double rate, uint32_t, uint32_t)
{
    return self(plugin)->activate(rate);
}
void CLAP_ABI pluginDeactivate(const clap_plugin_t* plugin) { self(plugin)->deactivate(); }
bool CLAP_ABI pluginStart(const clap_plugin_t* plugin) { return self(plugin)->startProcessing(); }
void CLAP_ABI pluginStop(const clap_plugin_t* plugin) { self(plugin)->stopProcessing(); }
// The engine keeps no state that a reset could clear without a click: the
// smoothing settles on its own.
void CLAP_ABI pluginReset(const clap_plugin_t*) {}
clap_process_status CLAP_ABI pluginProcess(const clap_plugin_t* plugin, const clap_process_t* process)
{
    return self(plugin)->process(process);
}
const void* CLAP_ABI pluginExtension(const clap_plugin_t* plugin, const char* id)
{
    return self(plugin)->extension(id);
}
void CLAP_ABI pluginOnMainThread(const clap_plugin_t*) {}

template <typename T>
const T* hostExtension(const clap_host_t* host, const char* id) noexcept
{
    return host && host->get_extension ? static_cast<const T*>(host->get_extension(host, id)) : nullptr;
}

}  // namespace

const clap_plugin_descriptor_t kClapDescriptor = {
    CLAP_VERSION_INIT,
    product::kClapId,
    product::kName,
    product::kVendor,
    product::kVendorHomepage,
    "",
    "",
    product::kVersionString,
    "Stereo vacuum-triode overdrive",
    kFeatures,
};

double clapValueFromNormalized(int32_t index, float normalized) noexcept
{
    if (!isParameterIndex(index)) return 0.0;
    // The factory programs store 2.0 for "the last entry", and a stored
    // state may hold any finite value: the host gets a value within the
    // parameter's range, the same entry or the same end of it.
    normalized = normalized >= 0.0f ? std::min(normalized, 1.0f) : 0.0f;
    switch (kParameterInfo[index].kind) {
    case ParamKind::Switch:
        return switchIsOn(normalized) ? 1.0 : 0.0;
    case ParamKind::Choice:
        return static_cast<double>(choiceEntry(index, normalized));
    case ParamKind::Continuous:
        break;
    }
    // The decibels as the decimal they were chosen as: 26.4, not the
    // 26.3999996 a float holds. Reads back as the same float.
    const float physical = physicalFromNormalized(index, normalized);
    char text[32];
    const auto written = std::to_chars(text, text + sizeof(text), physical);
    double decimal = 0.0;
    if (written.ec != std::errc() || std::from_chars(text, written.ptr, decimal).ec != std::errc())
        return static_cast<double>(physical);
    return decimal;
}

bool normalizedFromClapValue(int32_t index, double value, float& normalized) noexcept
{
    if (!isParameterIndex(index) || std::isnan(value)) return false;
    switch (kParameterInfo[index].kind) {
    case ParamKind::Switch:
        normalized = value >= 0.5 ? 1.0f : 0.0f;
        return true;
    case ParamKind::Choice: {
        // The entry's index, rounded and clamped to the table.
        const int32_t entries = entryCount(index);
        const double last = static_cast<double>(entries - 1);
        const double entry = value < 0.0 ? 0.0 : (value > last ? last : std::round(value));
        normalized = entryValue(static_cast<int32_t>(entry), entries);
        return true;
    }
    case ParamKind::Continuous:
        break;
    }
    const double clamped = value < -1e6 ? -1e6 : (value > 1e6 ? 1e6 : value);
    normalized = normalizedFromPhysical(index, static_cast<float>(clamped));
    return true;
}

ClapEffect::ClapEffect(const clap_host_t* host) : host(host)
{
    record = {&kClapDescriptor, this,          pluginInit,    pluginDestroy,   pluginActivate,    pluginDeactivate,
              pluginStart,      pluginStop,    pluginReset,   pluginProcess,   pluginExtension,   pluginOnMainThread};
    engine.setParameters(kFactoryPrograms[0].values);
    reportedLatency = engine.latency();
}

ClapEffect::~ClapEffect()
{
    // The editor goes first, while the effect it talks to still stands.
    gui.reset();
}

ClapEffect* ClapEffect::from(const clap_plugin_t* plugin) noexcept
{
    return static_cast<ClapEffect*>(plugin->plugin_data);
}

bool ClapEffect::init() noexcept
{
    hostParams = hostExtension<clap_host_params_t>(host, CLAP_EXT_PARAMS);
    hostLatency = hostExtension<clap_host_latency_t>(host, CLAP_EXT_LATENCY);
    hostState = hostExtension<clap_host_state_t>(host, CLAP_EXT_STATE);
    threadCheck = hostExtension<clap_host_thread_check_t>(host, CLAP_EXT_THREAD_CHECK);
    timerSupport = hostExtension<clap_host_timer_support_t>(host, CLAP_EXT_TIMER_SUPPORT);
    fdSupport = hostExtension<ClapHostPosixFdSupport>(host, kClapExtPosixFdSupport);
    hostPresetLoad = hostExtension<ClapHostPresetLoad>(host, kClapExtPresetLoad);
    if (!hostPresetLoad) hostPresetLoad = hostExtension<ClapHostPresetLoad>(host, kClapExtPresetLoadCompat);
    // Incomplete tables are as good as none.
    if (hostParams && (!hostParams->rescan || !hostParams->request_flush)) hostParams = nullptr;
    if (hostLatency && !hostLatency->changed) hostLatency = nullptr;
    if (threadCheck && (!threadCheck->is_main_thread || !threadCheck->is_audio_thread)) threadCheck = nullptr;
    if (timerSupport && (!timerSupport->register_timer || !timerSupport->unregister_timer)) timerSupport = nullptr;
    if (fdSupport && (!fdSupport->register_fd || !fdSupport->unregister_fd)) fdSupport = nullptr;
    if (hostPresetLoad && (!hostPresetLoad->loaded || !hostPresetLoad->on_error)) hostPresetLoad = nullptr;
    return true;
}

bool ClapEffect::onMainThread() const noexcept { return !threadCheck || threadCheck->is_main_thread(host); }
bool ClapEffect::onAudioThread() const noexcept { return !threadCheck || threadCheck->is_audio_thread(host); }

bool ClapEffect::activate(double sampleRate) noexcept
{
    Z5R_ASSERT_THREAD(onMainThread());
    if (!(sampleRate >= TubeEngine::kMinSampleRate && sampleRate <= TubeEngine::kMaxSampleRate)) return false;
    engine.setSampleRate(static_cast<float>(sampleRate));
    engine.prepareTables();
    // An offline render has no deadline to keep: every setting it automates
    // should sound from its first block, so every set of the rate is made
    // before it starts.
    if (offline) tableBuilder::waitUntilIdle();
    // The latency of this activation, told to the host while it activates
    // us when a change waited for this restart.
    const int32_t latencyNow = engine.latency();
    activeLatency.store(latencyNow);
    restartRequested.store(false);
    active.store(true);
    if (latencyNow != reportedLatency) {
        reportedLatency = latencyNow;
        if (hostLatency) hostLatency->changed(host);
    }
    return true;
}

bool ClapEffect::setRenderMode(int32_t mode) noexcept
{
    Z5R_ASSERT_THREAD(onMainThread());
    if (mode != kClapRenderRealtime && mode != kClapRenderOffline) return false;
    offline = mode == kClapRenderOffline;
    // Told while active: the sets the rate still lacks are made now, before
    // the render's first block.
    if (offline && active.load()) tableBuilder::waitUntilIdle();
    return true;
}

void ClapEffect::deactivate() noexcept
{
    Z5R_ASSERT_THREAD(onMainThread());
    active.store(false);
}

bool ClapEffect::startProcessing() noexcept
{
    Z5R_ASSERT_THREAD(onAudioThread());
    processing.store(true);
    return true;
}

void ClapEffect::stopProcessing() noexcept
{
    Z5R_ASSERT_THREAD(onAudioThread());
    processing.store(false);
}

uint32_t ClapEffect::latency() const noexcept
{
    return static_cast<uint32_t>(active.load() ? activeLatency.load() : engine.latency());
}

void ClapEffect::latencyMayHaveChanged() noexcept
{
    if (active.load()) {
        // Hosts take a new latency only at activation: ask for one, once.
        if (engine.latency() != activeLatency.load() && !restartRequested.exchange(true) && host->request_restart)
            host->request_restart(host);
        return;
    }
    // [main thread] Deactivated: the host may learn it at once.
    const int32_t latencyNow = engine.latency();
    if (latencyNow != reportedLatency) {
        reportedLatency = latencyNow;
        if (hostLatency) hostLatency->changed(host);
    }
}

void ClapEffect::handle(const clap_event_header_t* event) noexcept
{
    if (!event || event->space_id != CLAP_CORE_EVENT_SPACE_ID || event->type != CLAP_EVENT_PARAM_VALUE ||
        event->size < sizeof(clap_event_param_value_t))
        return;
    const auto* change = reinterpret_cast<const clap_event_param_value_t*>(event);
    const auto index = static_cast<int32_t>(change->param_id);
    float normalized;
    if (!isParamId(change->param_id) || !normalizedFromClapValue(index, change->value, normalized)) return;
    engine.setParameter(index, normalized);
}

void ClapEffect::applyEvents(const clap_input_events_t* in, uint32_t from, uint32_t to) noexcept
{
    for (uint32_t i = from; i < to; ++i) handle(in->get(in, i));
}

void ClapEffect::flush(const clap_input_events_t* in, const clap_output_events_t* out) noexcept
{
    if (in && in->size && in->get) applyEvents(in, 0, in->size(in));
    latencyMayHaveChanged();
    if (out && out->try_push) sendQueued(out);
}

clap_process_status ClapEffect::process(const clap_process_t* p) noexcept
{
    if (!p || p->audio_inputs_count < 1 || p->audio_outputs_count < 1 || !p->audio_inputs || !p->audio_outputs)
        return CLAP_PROCESS_ERROR;
    const clap_audio_buffer_t& input = p->audio_inputs[0];
    clap_audio_buffer_t& output = p->audio_outputs[0];
    if (!input.data32 || !output.data32 || input.channel_count < 1 || output.channel_count < 1 || !input.data32[0] ||
        !output.data32[0])
        return CLAP_PROCESS_ERROR;
    const uint32_t frames = p->frames_count;
    float* inL = input.data32[0];
    float* inR = input.channel_count > 1 ? input.data32[1] : nullptr;
    float* outL = output.data32[0];
    float* outR = output.channel_count > 1 ? output.data32[1] : nullptr;
    const bool mono = !inR;

    // Each change lands at its own frame: the block is cut at every event
    // time inside it, and the engine runs the pieces in turn. Events out of
    // order land where they are met; events at or past the end land after
    // the last piece.
    const clap_input_events_t* in = p->in_events;
    const uint32_t count = in && in->size && in->get ? in->size(in) : 0;
    uint32_t done = 0;
    uint32_t next = 0;
    for (;;) {
        for (; next < count; ++next) {
            const clap_event_header_t* event = in->get(in, next);
            if (event && event->time > done && done < frames) break;
            handle(event);
        }
        if (done >= frames) break;
        uint32_t until = frames;
        if (next < count) {
            const uint32_t time = in->get(in, next)->time;
            if (time < frames) until = time;
        }
        const auto n = static_cast<int32_t>(until - done);
        engine.process(inL + done, mono ? nullptr : inR + done, outL + done, mono || !outR ? nullptr : outR + done, n);
        // One channel in: both outputs carry it.
        if (mono && outR && outR != outL) std::memcpy(outR + done, outL + done, sizeof(float) * static_cast<size_t>(n));
        done = until;
    }
    for (uint32_t c = 2; c < output.channel_count; ++c)
        if (output.data32[c]) std::memset(output.data32[c], 0, sizeof(float) * frames);
    output.constant_mask = 0;

    latencyMayHaveChanged();
    if (p->out_events && p->out_events->try_push) sendQueued(p->out_events);
    return CLAP_PROCESS_CONTINUE;
}

void ClapEffect::enqueue(const Outgoing& event) noexcept
{
    const uint32_t write = queueWrite.load(std::memory_order_relaxed);
    if (write - queueRead.load(std::memory_order_acquire) >= kQueueSize) return;  // full: the engine has the value
    queue[write % kQueueSize] = event;
    queueWrite.store(write + 1, std::memory_order_release);
}

void ClapEffect::sendQueued(const clap_output_events_t* out) noexcept
{
    uint32_t read = queueRead.load(std::memory_order_relaxed);
    const uint32_t write = queueWrite.load(std::memory_order_acquire);
    for (; read != write; ++read) {
        const Outgoing& event = queue[read % kQueueSize];
        if (event.type == CLAP_EVENT_PARAM_VALUE) {
            clap_event_param_value_t value{};
            value.header = {sizeof(value), 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
            value.param_id = static_cast<clap_id>(event.index);
            value.cookie = nullptr;
            value.note_id = -1;
            value.port_index = -1;
            value.channel = -1;
            value.key = -1;
            value.value = event.value;
            if (!out->try_push(out, &value.header)) break;
        } else {
            clap_event_param_gesture_t gesture{};
            gesture.header = {sizeof(gesture), 0, CLAP_CORE_EVENT_SPACE_ID, event.type, 0};
            gesture.param_id = static_cast<clap_id>(event.index);
            if (!out->try_push(out, &gesture.header)) break;
        }
    }
    queueRead.store(read, std::memory_order_release);
}

void ClapEffect::setFromUser(int32_t index, float normalized) noexcept
{
    if (!isParameterIndex(index)) return;
    engine.setParameter(index, normalized);
    enqueue({CLAP_EVENT_PARAM_VALUE, index, clapValueFromNormalized(index, normalized)});
    latencyMayHaveChanged();
    if (hostParams && !processing.load()) hostParams->request_flush(host);
}

void ClapEffect::gesture(int32_t index, bool begin) noexcept
{
    if (!isParameterIndex(index)) return;
    enqueue({static_cast<uint16_t>(begin ? CLAP_EVENT_PARAM_GESTURE_BEGIN : CLAP_EVENT_PARAM_GESTURE_END), index, 0.0});
    if (hostParams && !processing.load()) hostParams->request_flush(host);
}

void ClapEffect::valuesChangedByPlugin() noexcept
{
    latencyMayHaveChanged();
    if (hostParams) hostParams->rescan(host, CLAP_PARAM_RESCAN_VALUES);
    if (hostState && hostState->mark_dirty) hostState->mark_dirty(host);
}

bool ClapEffect::save(const clap_ostream_t* stream) noexcept
{
    Z5R_ASSERT_THREAD(onMainThread());
    if (!stream || !stream->write) return false;
    uint8_t blob[kInstanceStateSize];
    writeInstanceState(captureInstanceState(bank, engine), blob);
    // Streams may take less than offered: go on from where they stopped.
    size_t written = 0;
    while (written < sizeof(blob)) {
        const int64_t n = stream->write(stream, blob + written, sizeof(blob) - written);
        if (n <= 0 || static_cast<uint64_t>(n) > sizeof(blob) - written) return false;
        written += static_cast<size_t>(n);
    }
    return true;
}

bool ClapEffect::load(const clap_istream_t* stream) noexcept
{
    Z5R_ASSERT_THREAD(onMainThread());
    if (!stream || !stream->read) return false;
    // One byte more than a blob holds, so that a longer stream is refused
    // rather than cut.
    uint8_t blob[kInstanceStateSize + 1];
    size_t got = 0;
    while (got < sizeof(blob)) {
        const int64_t n = stream->read(stream, blob + got, sizeof(blob) - got);
        if (n < 0 || static_cast<uint64_t>(n) > sizeof(blob) - got) return false;
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    InstanceState state;
    if (!readInstanceState(blob, got, state)) return false;
    restoreInstanceState(state, bank, engine);
    latencyMayHaveChanged();
    if (hostParams) hostParams->rescan(host, CLAP_PARAM_RESCAN_VALUES);
    return true;
}

bool ClapEffect::loadPreset(uint32_t kind, const char* location, const char* key) noexcept
{
    Z5R_ASSERT_THREAD(onMainThread());
    int32_t program = -1;
    if (kind == kClapPresetLocationPlugin && key && key[0] >= '0' && key[0] < '0' + kNumPrograms && key[1] == '\0')
        program = key[0] - '0';
    if (program < 0) {
        if (hostPresetLoad) hostPresetLoad->on_error(host, kind, location, key, 0, "No such program");
        return false;
    }
    // The program in force comes back as stored, without the edits since.
    if (!bank.select(program, engine)) engine.setParameters(bank.currentRow().values);
    valuesChangedByPlugin();
    if (hostPresetLoad) hostPresetLoad->loaded(host, kind, location, key);
    return true;
}

const void* ClapEffect::extension(const char* id) noexcept
{
    if (!id) return nullptr;
    const std::string_view name = id;
    if (name == CLAP_EXT_AUDIO_PORTS) return &kAudioPorts;
    if (name == CLAP_EXT_PARAMS) return &kParams;
    if (name == CLAP_EXT_STATE) return &kState;
    if (name == CLAP_EXT_LATENCY) return &kLatency;
    if (name == kClapExtPresetLoad || name == kClapExtPresetLoadCompat) return &kPresetLoad;
    if (name == kClapExtRender) return &kRender;
    return clapEditorExtension(*this, name);
}
