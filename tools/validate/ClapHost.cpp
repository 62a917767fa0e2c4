#include "ClapHost.h"

#include "Harness.h"
#include "Host.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if !defined(_WIN32)
#include <poll.h>
#endif

namespace validate {

bool clapEnter(const void* entry, const std::string& path, std::string& error)
{
    const auto* e = static_cast<const clap_plugin_entry_t*>(entry);
    if (!clap_version_is_compatible(e->clap_version)) {
        error = format("clap_entry speaks CLAP %u.%u.%u, which this host cannot", e->clap_version.major,
                       e->clap_version.minor, e->clap_version.revision);
        return false;
    }
    if (!e->init || !e->init(path.c_str())) {
        error = "clap_entry's init refused";
        return false;
    }
    return true;
}

void clapLeave(const void* entry)
{
    const auto* e = static_cast<const clap_plugin_entry_t*>(entry);
    if (e && e->deinit) e->deinit();
}

namespace clapv {

namespace {
thread_local const ClapInstance* processingNow = nullptr;

ClapInstance& of(const clap_host_t* host) { return *static_cast<ClapInstance*>(host->host_data); }
}  // namespace

clap_event_param_value_t valueEvent(clap_id id, double value, uint32_t time)
{
    clap_event_param_value_t e{};
    e.header = {sizeof(clap_event_param_value_t), time, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
    e.param_id = id;
    e.cookie = nullptr;
    e.note_id = -1;
    e.port_index = -1;
    e.channel = -1;
    e.key = -1;
    e.value = value;
    return e;
}

// --- streams ---

// --- the host's side ---

bool ClapInstance::onAudioThread() const { return processingNow == this; }

void ClapInstance::hostCall(const char* name, bool mainOnly, bool notFromAudio)
{
    const bool wrong = (mainOnly && std::this_thread::get_id() != mainThread) || (notFromAudio && onAudioThread());
    if (!wrong) return;
    if (onAudioThread() && mainOnly) ++threads.setUpFromProcess;
    else ++threads.wrongThread;
    if (threads.first.empty())
        threads.first = format("%s from %s", name, onAudioThread() ? "process" : "a thread other than the main one");
}

const void* CLAP_ABI ClapInstance::getExtension(const clap_host_t* h, const char* id)
{
    ClapInstance& self = of(h);
    if (!self.options.extensions || !id) return nullptr;
    static const clap_host_params_t params = {
        [](const clap_host_t* h, clap_param_rescan_flags) {
            of(h).hostCall("params.rescan", true);
            ++of(h).rescans;
        },
        [](const clap_host_t* h, clap_id, clap_param_clear_flags) { of(h).hostCall("params.clear", true); },
        [](const clap_host_t* h) {
            of(h).hostCall("params.request_flush", false, true);
            ++of(h).flushRequests;
        }};
    static const clap_host_latency_t latency = {[](const clap_host_t* h) {
        of(h).hostCall("latency.changed", true);
        ++of(h).latencyChanges;
    }};
    static const clap_host_state_t state = {[](const clap_host_t* h) {
        of(h).hostCall("state.mark_dirty", true);
        ++of(h).dirtyMarks;
    }};
    static const clap_host_thread_check_t threads = {
        [](const clap_host_t* h) { return std::this_thread::get_id() == of(h).mainThread; },
        [](const clap_host_t* h) { return of(h).onAudioThread(); }};
    static const clap_host_timer_support_t timers = {
        [](const clap_host_t* h, uint32_t period, clap_id* id) {
            of(h).hostCall("timer_support.register_timer", true);
            *id = of(h).nextTimer++;
            of(h).timers.push_back({*id, period});
            return true;
        },
        [](const clap_host_t* h, clap_id id) {
            of(h).hostCall("timer_support.unregister_timer", true);
            auto& list = of(h).timers;
            const auto before = list.size();
            list.erase(std::remove_if(list.begin(), list.end(), [&](const Timer& t) { return t.id == id; }), list.end());
            return list.size() != before;
        }};
    static const ClapHostPosixFdSupport fds = {
        [](const clap_host_t* h, int fd, uint32_t) {
            of(h).hostCall("posix_fd_support.register_fd", true);
            of(h).fds.push_back(fd);
            return true;
        },
        [](const clap_host_t* h, int, uint32_t) {
            of(h).hostCall("posix_fd_support.modify_fd", true);
            return true;
        },
        [](const clap_host_t* h, int fd) {
            of(h).hostCall("posix_fd_support.unregister_fd", true);
            auto& list = of(h).fds;
            const auto found = std::find(list.begin(), list.end(), fd);
            if (found == list.end()) return false;
            list.erase(found);
            return true;
        }};
    static const clap_host_audio_ports_t ports = {
        [](const clap_host_t* h, uint32_t) {
            of(h).hostCall("audio_ports.is_rescan_flag_supported", true);
            return false;
        },
        [](const clap_host_t* h, uint32_t) { of(h).hostCall("audio_ports.rescan", true); }};
    static const clap_host_gui_t gui = {
        [](const clap_host_t* h) { of(h).hostCall("gui.resize_hints_changed", false); },
        [](const clap_host_t*, uint32_t, uint32_t) { return true; },
        [](const clap_host_t*) { return true; },
        [](const clap_host_t*) { return true; },
        [](const clap_host_t* h, bool) { of(h).hostCall("gui.closed", true); }};
    const std::string name = id;
    if (name == CLAP_EXT_PARAMS) return &params;
    if (name == CLAP_EXT_LATENCY) return &latency;
    if (name == CLAP_EXT_STATE) return &state;
    if (name == CLAP_EXT_THREAD_CHECK) return &threads;
    if (name == CLAP_EXT_TIMER_SUPPORT) return &timers;
    if (name == kClapExtPosixFdSupport) return &fds;
    if (name == CLAP_EXT_AUDIO_PORTS) return &ports;
    if (name == CLAP_EXT_GUI) return &gui;
    return nullptr;
}

uint32_t CLAP_ABI ClapInstance::eventCount(const clap_input_events_t* list)
{
    return static_cast<uint32_t>(static_cast<const ClapInstance*>(list->ctx)->block.size());
}

const clap_event_header_t* CLAP_ABI ClapInstance::eventGet(const clap_input_events_t* list, uint32_t index)
{
    const auto* self = static_cast<const ClapInstance*>(list->ctx);
    return index < self->block.size() ? &self->block[index].header : nullptr;
}

bool CLAP_ABI ClapInstance::eventPush(const clap_output_events_t*, const clap_event_header_t*) { return true; }

// --- the instance ---

ClapInstance::ClapInstance(const clap_plugin_factory_t* factory, const char* id, const ClapOptions& options,
                           std::string& error)
    : options(options)
{
    host = {CLAP_VERSION_INIT, this, "z5r-validate", "Korvane", "", "1",
            getExtension,
            [](const clap_host_t* h) { ++of(h).restartRequests; },
            [](const clap_host_t*) {},
            [](const clap_host_t*) {}};
    plugin = factory->create_plugin(factory, &host, id);
    if (!plugin) {
        error = format("the factory made no plug-in for '%s'", id);
        return;
    }
    if (!plugin->init(plugin)) {
        plugin->destroy(plugin);
        plugin = nullptr;
        error = "the plug-in refused init";
        return;
    }
    auto ext = [&](const char* name) { return plugin->get_extension(plugin, name); };
    paramsExt = static_cast<const clap_plugin_params_t*>(ext(CLAP_EXT_PARAMS));
    state = static_cast<const clap_plugin_state_t*>(ext(CLAP_EXT_STATE));
    latencyExt = static_cast<const clap_plugin_latency_t*>(ext(CLAP_EXT_LATENCY));
    ports = static_cast<const clap_plugin_audio_ports_t*>(ext(CLAP_EXT_AUDIO_PORTS));
    gui = static_cast<const clap_plugin_gui_t*>(ext(CLAP_EXT_GUI));
    timer = static_cast<const clap_plugin_timer_support_t*>(ext(CLAP_EXT_TIMER_SUPPORT));
    fd = static_cast<const ClapPluginPosixFdSupport*>(ext(kClapExtPosixFdSupport));

    if (ports) {
        for (bool input : {true, false}) {
            const uint32_t n = ports->count(plugin, input);
            for (uint32_t i = 0; i < n && i < 64; ++i) {
                clap_audio_port_info_t info{};
                if (!ports->get(plugin, i, input, &info)) continue;
                (input ? inPorts : outPorts).push_back(info);
            }
        }
    }
    inChannels = inPorts.empty() ? 0 : static_cast<int32_t>(inPorts[0].channel_count);
    outChannels = outPorts.empty() ? 0 : static_cast<int32_t>(outPorts[0].channel_count);
    if (paramsExt) {
        const uint32_t n = paramsExt->count(plugin);
        for (uint32_t i = 0; i < n && i < 100000; ++i) {
            clap_param_info_t info{};
            if (!paramsExt->get_info(plugin, i, &info)) continue;
            infos.push_back(info);
            // The bypass switch is the host's, kept apart from the state, as VST 2.4's effSetBypass.
            if (!(info.flags & (CLAP_PARAM_IS_READONLY | CLAP_PARAM_IS_BYPASS)))
                writable.push_back(static_cast<int32_t>(infos.size() - 1));
        }
    }
    lastSet.assign(writable.size(), 0.0);
    for (size_t k = 0; k < writable.size(); ++k) lastSet[k] = getParameter(static_cast<int32_t>(k));
    pending.reserve(writable.size() * 4 + 64);
    block.reserve(writable.size() * 4 + 64);
    for (const auto& p : inPorts) inPtrs.emplace_back(std::max<size_t>(1, p.channel_count));
    for (const auto& p : outPorts) outPtrs.emplace_back(std::max<size_t>(1, p.channel_count));
    inBufs.resize(inPorts.size());
    outBufs.resize(outPorts.size());
}

ClapInstance::~ClapInstance()
{
    if (!plugin) return;
    if (guiCreated) editorClose();
    if (isActive) deactivate();
    plugin->destroy(plugin);
}

double ClapInstance::plainOf(int32_t index, double normalized) const
{
    const clap_param_info_t& info = infos[static_cast<size_t>(writable[static_cast<size_t>(index)])];
    double plain = info.min_value + normalized * (info.max_value - info.min_value);
    if (info.flags & CLAP_PARAM_IS_STEPPED) plain = std::round(plain);
    return plain;
}

double ClapInstance::normalizedOf(int32_t index, double plain) const
{
    const clap_param_info_t& info = infos[static_cast<size_t>(writable[static_cast<size_t>(index)])];
    const double span = info.max_value - info.min_value;
    return span > 0.0 ? (plain - info.min_value) / span : 0.0;
}

void ClapInstance::activate(double rate, int32_t maxBlock)
{
    if (isActive) deactivate();
    maxFrames = std::max(maxBlock, 1);
    makeRoom(maxFrames);
    isActive = plugin->activate(plugin, rate, 1, static_cast<uint32_t>(maxFrames));
    activateRefused = !isActive;
}

void ClapInstance::deactivate()
{
    if (!isActive) return;
    if (processing) {
        // On this thread as the audio thread, which processing ends on.
        processingNow = this;
        plugin->stop_processing(plugin);
        processingNow = nullptr;
        processing = false;
    }
    plugin->deactivate(plugin);
    isActive = false;
}

void ClapInstance::makeRoom(int32_t frames)
{
    size_t channels = 0;
    for (const auto& p : inPorts) channels += std::max<size_t>(1, p.channel_count);
    for (const auto& p : outPorts) channels += std::max<size_t>(1, p.channel_count);
    if (!spare.empty() && spare[0].size() >= static_cast<size_t>(frames) && spare.size() == channels) return;
    spare.assign(channels, std::vector<float>(static_cast<size_t>(std::max(frames, 1))));
}

void ClapInstance::prepare(int32_t)
{
    std::lock_guard<std::mutex> hold(pendingLock);
    block.assign(pending.begin(), pending.end());
    pending.clear();
}

void ClapInstance::resetNow()
{
    processingNow = this;
    plugin->reset(plugin);
    processingNow = nullptr;
}

void ClapInstance::flushNow()
{
    if (!paramsExt) return;
    {
        std::lock_guard<std::mutex> hold(pendingLock);
        block.assign(pending.begin(), pending.end());
        pending.clear();
    }
    paramsExt->flush(plugin, &inEvents, &outEvents);
    block.clear();
}

clap_process_status ClapInstance::processRaw(float** inputs, float** outputs, uint32_t frames, bool inPlace)
{
    size_t next = 0;
    auto fill = [&](std::vector<clap_audio_buffer_t>& bufs, std::vector<std::vector<float*>>& ptrs,
                    const std::vector<clap_audio_port_info_t>& info, float** main, bool output) {
        for (size_t b = 0; b < bufs.size(); ++b) {
            for (size_t c = 0; c < ptrs[b].size(); ++c) {
                float* s = spare[next++].data();
                if (!output && b > 0) std::fill(s, s + frames, 0.0f);
                ptrs[b][c] = b == 0 && main ? main[c] : s;
            }
            bufs[b] = {ptrs[b].data(), nullptr, info[b].channel_count, 0, 0};
        }
    };
    (void)inPlace;
    fill(inBufs, inPtrs, inPorts, inputs, false);
    fill(outBufs, outPtrs, outPorts, outputs, true);
    processingNow = this;
    if (!processing) processing = plugin->start_processing(plugin);
    const clap_process_t p{-1, frames, nullptr, inBufs.empty() ? nullptr : inBufs.data(),
                           outBufs.empty() ? nullptr : outBufs.data(), static_cast<uint32_t>(inBufs.size()),
                           static_cast<uint32_t>(outBufs.size()), &inEvents, &outEvents};
    const clap_process_status status = processing ? plugin->process(plugin, &p) : CLAP_PROCESS_ERROR;
    processingNow = nullptr;
    return status;
}

void ClapInstance::process(float** inputs, float** outputs, int32_t frames)
{
    // Hosts never process an inactive plug-in, nor give it an empty block
    // or one past the largest it was activated for: blocks are split.
    if (!isActive || frames <= 0) return;
    int32_t done = 0;
    float* in[64];
    float* out[64];
    while (done < frames) {
        const int32_t n = std::min(frames - done, maxFrames);
        for (int32_t c = 0; c < inChannels && c < 64; ++c) in[c] = inputs[c] + done;
        for (int32_t c = 0; c < outChannels && c < 64; ++c) out[c] = outputs[c] + done;
        processRaw(in, out, static_cast<uint32_t>(n));
        block.clear();  // delivered with the first piece
        done += n;
    }
}

void ClapInstance::finish()
{
    // Events not delivered (no block ran) wait for the next one.
    if (block.empty()) return;
    std::lock_guard<std::mutex> hold(pendingLock);
    pending.insert(pending.begin(), block.begin(), block.end());
    block.clear();
}

void ClapInstance::setParameter(int32_t index, float value)
{
    if (index < 0 || index >= params()) return;
    const clap_id id = infos[static_cast<size_t>(writable[static_cast<size_t>(index)])].id;
    {
        std::lock_guard<std::mutex> hold(pendingLock);
        pending.push_back(valueEvent(id, plainOf(index, value)));
    }
    lastSet[static_cast<size_t>(index)] = value;
    // Inactive, the main thread flushes it straight away, as hosts do.
    if (!isActive && std::this_thread::get_id() == mainThread) flushNow();
}

float ClapInstance::getParameter(int32_t index)
{
    if (index < 0 || index >= params()) return 0.0f;
    if (std::this_thread::get_id() != mainThread) return static_cast<float>(lastSet[static_cast<size_t>(index)]);
    double plain = 0.0;
    if (!paramsExt->get_value(plugin, infos[static_cast<size_t>(writable[static_cast<size_t>(index)])].id, &plain))
        return static_cast<float>(lastSet[static_cast<size_t>(index)]);
    return static_cast<float>(normalizedOf(index, plain));
}

std::string ClapInstance::paramName(int32_t index)
{
    if (index < 0 || index >= params()) return {};
    const clap_param_info_t& info = infos[static_cast<size_t>(writable[static_cast<size_t>(index)])];
    return std::string(info.name, strnlen(info.name, sizeof(info.name)));
}

std::string ClapInstance::paramDisplay(int32_t index)
{
    if (index < 0 || index >= params()) return {};
    const clap_id id = infos[static_cast<size_t>(writable[static_cast<size_t>(index)])].id;
    double plain = 0.0;
    if (!paramsExt->get_value(plugin, id, &plain)) return {};
    char text[256] = {};
    if (!paramsExt->value_to_text(plugin, id, plain, text, sizeof(text))) return {};
    text[sizeof(text) - 1] = '\0';
    return text;
}

bool ClapInstance::automatable(int32_t index)
{
    return index >= 0 && index < params() &&
           (infos[static_cast<size_t>(writable[static_cast<size_t>(index)])].flags & CLAP_PARAM_IS_AUTOMATABLE);
}

int32_t ClapInstance::latency()
{
    if (!latencyExt || std::this_thread::get_id() != mainThread) return 0;
    return static_cast<int32_t>(latencyExt->get(plugin));
}

bool ClapInstance::saveState(std::vector<uint8_t>& bytes)
{
    if (!state) return false;
    Bytes stream;
    if (!state->save(plugin, &stream.out)) return false;
    bytes = stream.data;
    return true;
}

bool ClapInstance::loadState(const std::vector<uint8_t>& bytes)
{
    if (!state) return false;
    Bytes stream;
    stream.data = bytes;
    const bool ok = state->load(plugin, &stream.in);
    for (size_t k = 0; k < writable.size(); ++k) lastSet[k] = getParameter(static_cast<int32_t>(k));
    return ok;
}

namespace {
#if defined(_WIN32)
constexpr const char* kApi = CLAP_WINDOW_API_WIN32;
#else
constexpr const char* kApi = CLAP_WINDOW_API_X11;
#endif
}  // namespace

bool ClapInstance::hasEditor() { return gui && gui->is_api_supported(plugin, kApi, false); }

bool ClapInstance::editorOpen(void* parent)
{
    if (guiCreated) return true;
    if (!gui || !gui->create(plugin, kApi, false)) return false;
    guiCreated = true;
    clap_window_t window{};
    window.api = kApi;
#if defined(_WIN32)
    window.win32 = parent;
#else
    window.x11 = static_cast<clap_xwnd>(reinterpret_cast<uintptr_t>(parent));
#endif
    if (!gui->set_parent(plugin, &window)) return false;
    return gui->show(plugin);
}

bool ClapInstance::editorSize(int32_t& width, int32_t& height)
{
    uint32_t w = 0, h = 0;
    if (!guiCreated || !gui->get_size(plugin, &w, &h)) return false;
    width = static_cast<int32_t>(w);
    height = static_cast<int32_t>(h);
    return true;
}

void ClapInstance::editorIdle()
{
#if !defined(_WIN32)
    if (fd)
        for (int watched : std::vector<int>(fds)) {
            pollfd p{watched, POLLIN, 0};
            if (poll(&p, 1, 0) > 0) fd->on_fd(plugin, watched, kClapPosixFdRead);
        }
#endif
    if (timer)
        for (const Timer& t : std::vector<Timer>(timers)) timer->on_timer(plugin, t.id);
}

void ClapInstance::editorClose()
{
    if (!guiCreated) return;
    gui->hide(plugin);
    gui->destroy(plugin);
    guiCreated = false;
}

}  // namespace clapv

FormatInstance* makeClapInstance(const Module& module, Instance&, std::string& error)
{
    const auto* entry = static_cast<const clap_plugin_entry_t*>(module.clapEntry);
    const auto* factory = static_cast<const clap_plugin_factory_t*>(entry->get_factory(CLAP_PLUGIN_FACTORY_ID));
    if (!factory || factory->get_plugin_count(factory) == 0) {
        error = "no plug-in factory, or it lists no plug-in";
        return nullptr;
    }
    const clap_plugin_descriptor_t* descriptor = factory->get_plugin_descriptor(factory, 0);
    if (!descriptor || !descriptor->id) {
        error = "the factory's first descriptor has no id";
        return nullptr;
    }
    auto* made = new clapv::ClapInstance(factory, descriptor->id, clapv::ClapOptions{}, error);
    if (!made->ok()) {
        delete made;
        return nullptr;
    }
    return made;
}

}  // namespace validate
