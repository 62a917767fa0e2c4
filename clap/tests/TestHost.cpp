#include "TestHost.h"

#include <algorithm>
#include <cstdint>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

const clap_plugin_entry_t* clapEntry()
{
    static const clap_plugin_entry_t* entry = [] {
        const clap_plugin_entry_t* found = nullptr;
#if defined(_WIN32)
        HMODULE module = LoadLibraryA(Z5R_CLAP_FILE);
        if (module)
            found = reinterpret_cast<const clap_plugin_entry_t*>(
                reinterpret_cast<void*>(GetProcAddress(module, "clap_entry")));
#else
        void* module = dlopen("./" Z5R_CLAP_FILE, RTLD_NOW | RTLD_LOCAL);
        if (module) found = static_cast<const clap_plugin_entry_t*>(dlsym(module, "clap_entry"));
#endif
        if (found && !found->init(Z5R_CLAP_FILE)) found = nullptr;
        return found;
    }();
    return entry;
}

// --- events ---
void EventList::value(uint32_t time, clap_id id, double value)
{
    Event e{};
    e.value.header = {sizeof(clap_event_param_value_t), time, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
    e.value.param_id = id;
    e.value.note_id = -1;
    e.value.port_index = -1;
    e.value.channel = -1;
    e.value.key = -1;
    e.value.value = value;
    events.push_back(e);
}

void EventList::gesture(uint32_t time, clap_id id, bool begin)
{
    Event e{};
    e.gesture.header = {sizeof(clap_event_param_gesture_t), time, CLAP_CORE_EVENT_SPACE_ID,
                        static_cast<uint16_t>(begin ? CLAP_EVENT_PARAM_GESTURE_BEGIN : CLAP_EVENT_PARAM_GESTURE_END),
                        0};
    e.gesture.param_id = id;
    events.push_back(e);
}

uint32_t CLAP_ABI EventList::count(const clap_input_events_t* list)
{
    return static_cast<uint32_t>(static_cast<const EventList*>(list->ctx)->events.size());
}

const clap_event_header_t* CLAP_ABI EventList::get(const clap_input_events_t* list, uint32_t index)
{
    const auto* self = static_cast<const EventList*>(list->ctx);
    return index < self->events.size() ? &self->events[index].header : nullptr;
}

bool CLAP_ABI OutputList::push(const clap_output_events_t* list, const clap_event_header_t* event)
{
    auto* self = static_cast<OutputList*>(list->ctx);
    if (self->full) return false;
    OutEvent e{event->type, 0, 0.0, event->time};
    if (event->type == CLAP_EVENT_PARAM_VALUE) {
        const auto* v = reinterpret_cast<const clap_event_param_value_t*>(event);
        e.id = v->param_id;
        e.value = v->value;
    } else if (event->type == CLAP_EVENT_PARAM_GESTURE_BEGIN || event->type == CLAP_EVENT_PARAM_GESTURE_END) {
        e.id = reinterpret_cast<const clap_event_param_gesture_t*>(event)->param_id;
    }
    self->events.push_back(e);
    return true;
}

// --- the host ---
TestHost::TestHost(Offer offer) : offer(offer)
{
    host = {CLAP_VERSION_INIT, this, "z5r test host", "QMV", "", "1",
            getExtension,
            [](const clap_host_t* h) { ++of(h).restartRequests; },
            [](const clap_host_t*) {},
            [](const clap_host_t*) {}};
    const auto* factory = clapFactory<clap_plugin_factory_t>(CLAP_PLUGIN_FACTORY_ID);
    if (!factory || factory->get_plugin_count(factory) != 1) return;
    const clap_plugin_descriptor_t* descriptor = factory->get_plugin_descriptor(factory, 0);
    plugin = factory->create_plugin(factory, &host, descriptor->id);
    if (!plugin) return;
    if (!plugin->init(plugin)) {
        plugin->destroy(plugin);
        plugin = nullptr;
        return;
    }
    auto ext = [&](const char* id) { return plugin->get_extension(plugin, id); };
    params = static_cast<const clap_plugin_params_t*>(ext(CLAP_EXT_PARAMS));
    state = static_cast<const clap_plugin_state_t*>(ext(CLAP_EXT_STATE));
    latency = static_cast<const clap_plugin_latency_t*>(ext(CLAP_EXT_LATENCY));
    ports = static_cast<const clap_plugin_audio_ports_t*>(ext(CLAP_EXT_AUDIO_PORTS));
    gui = static_cast<const clap_plugin_gui_t*>(ext(CLAP_EXT_GUI));
    timer = static_cast<const clap_plugin_timer_support_t*>(ext(CLAP_EXT_TIMER_SUPPORT));
    fd = static_cast<const ClapPluginPosixFdSupport*>(ext(kClapExtPosixFdSupport));
    presetLoad = static_cast<const ClapPluginPresetLoad*>(ext(kClapExtPresetLoad));
    render = static_cast<const ClapPluginRender*>(ext(kClapExtRender));
}

TestHost::~TestHost()
{
    if (!plugin) return;
    if (active) deactivate();
    plugin->destroy(plugin);
}

bool TestHost::renderOffline()
{
    return render && render->set(plugin, kClapRenderOffline);
}

bool TestHost::activate(double rate)
{
    active = plugin->activate(plugin, rate, 1, 4096);
    return active;
}

void TestHost::deactivate()
{
    // Processing stops on an audio thread, as it started.
    if (processing)
        std::thread([&] {
            audioThread.store(std::this_thread::get_id());
            plugin->stop_processing(plugin);
            audioThread.store(std::thread::id{});
        }).join();
    processing = false;
    plugin->deactivate(plugin);
    active = false;
}

void TestHost::process(const float* inL, const float* inR, float* outL, float* outR, uint32_t frames,
                       const EventList* events, OutputList* out, uint32_t inChannels)
{
    audioThread.store(std::this_thread::get_id());
    if (!processing) processing = plugin->start_processing(plugin);
    float* inputs[2] = {const_cast<float*>(inL), const_cast<float*>(inR)};
    float* outputs[2] = {outL, outR};
    clap_audio_buffer_t input{inputs, nullptr, inChannels, 0, 0};
    clap_audio_buffer_t output{outputs, nullptr, 2, 0, 0};
    static const EventList none;
    OutputList discard;
    const clap_process_t p{-1, frames, nullptr, &input, &output, 1, 1,
                           (events ? events : &none)->input(), (out ? out : &discard)->output()};
    plugin->process(plugin, &p);
    audioThread.store(std::thread::id{});
}

void TestHost::flush(const EventList* events, OutputList* out)
{
    static const EventList none;
    OutputList discard;
    params->flush(plugin, (events ? events : &none)->input(), (out ? out : &discard)->output());
}

double TestHost::value(clap_id id)
{
    double v = -999.0;
    params->get_value(plugin, id, &v);
    return v;
}

void TestHost::set(clap_id id, double v)
{
    EventList events;
    events.value(0, id, v);
    flush(&events, nullptr);
}

const void* CLAP_ABI TestHost::getExtension(const clap_host_t* h, const char* id)
{
    TestHost& self = of(h);
    const std::string name = id ? id : "";
    static const clap_host_params_t params = {
        [](const clap_host_t* h, clap_param_rescan_flags flags) {
            ++of(h).rescans;
            of(h).rescanFlags |= flags;
        },
        [](const clap_host_t*, clap_id, clap_param_clear_flags) {},
        [](const clap_host_t* h) { ++of(h).flushRequests; }};
    static const clap_host_latency_t latency = {[](const clap_host_t* h) { ++of(h).latencyChanges; }};
    static const clap_host_state_t state = {[](const clap_host_t* h) { ++of(h).dirtyMarks; }};
    static const clap_host_thread_check_t threads = {
        [](const clap_host_t* h) { return std::this_thread::get_id() == of(h).mainThread; },
        [](const clap_host_t* h) { return std::this_thread::get_id() == of(h).audioThread.load(); }};
    static const clap_host_timer_support_t timers = {
        [](const clap_host_t* h, uint32_t period, clap_id* id) {
            *id = of(h).nextTimer++;
            of(h).timers.push_back({*id, period});
            return true;
        },
        [](const clap_host_t* h, clap_id id) {
            auto& list = of(h).timers;
            const auto before = list.size();
            list.erase(std::remove_if(list.begin(), list.end(), [&](const Timer& t) { return t.id == id; }),
                       list.end());
            return list.size() != before;
        }};
    static const ClapHostPosixFdSupport fds = {
        [](const clap_host_t* h, int fd, uint32_t) {
            of(h).fds.push_back(fd);
            return true;
        },
        [](const clap_host_t*, int, uint32_t) { return true; },
        [](const clap_host_t* h, int fd) {
            auto& list = of(h).fds;
            const auto found = std::find(list.begin(), list.end(), fd);
            if (found == list.end()) return false;
            list.erase(found);
            return true;
        }};
    static const ClapHostPresetLoad presets = {
        [](const clap_host_t* h, uint32_t, const char*, const char* key, int32_t, const char*) {
            of(h).presetErrors.push_back(key ? key : "(null)");
        },
        [](const clap_host_t* h, uint32_t, const char*, const char* key) {
            of(h).presetsLoaded.push_back(key ? key : "(null)");
        }};
    if (name == CLAP_EXT_PARAMS) return &params;
    if (name == CLAP_EXT_LATENCY) return &latency;
    if (name == CLAP_EXT_STATE) return &state;
    if (name == CLAP_EXT_THREAD_CHECK) return self.offer.threadCheck ? &threads : nullptr;
    if (name == CLAP_EXT_TIMER_SUPPORT) return self.offer.timer ? &timers : nullptr;
    if (name == kClapExtPosixFdSupport) return self.offer.fd ? &fds : nullptr;
    if (name == kClapExtPresetLoad) return self.offer.presetLoad ? &presets : nullptr;
    return nullptr;
}
