// A small CLAP host for the tests: loads the built .clap file by name as a
// host does, answers the host extensions the plug-in asks for and records
// what the plug-in tells it (rescans, flush and restart requests, latency
// changes, timers and descriptors, loaded presets), and runs blocks with
// parameter events in and out.
#pragma once

#include "clap/ClapExtensions.h"
#include "clap/ClapMemoryStream.h"

#include "clap/entry.h"
#include "clap/ext/audio-ports.h"
#include "clap/ext/gui.h"
#include "clap/ext/latency.h"
#include "clap/ext/params.h"
#include "clap/ext/state.h"
#include "clap/ext/thread-check.h"
#include "clap/ext/timer-support.h"
#include "clap/plugin-factory.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

// The .clap file, loaded once per process; null entry when it cannot be.
const clap_plugin_entry_t* clapEntry();
template <typename T>
const T* clapFactory(const char* id)
{
    const clap_plugin_entry_t* entry = clapEntry();
    return entry ? static_cast<const T*>(entry->get_factory(id)) : nullptr;
}

// Parameter events for one block, kept in time order as the host contract
// asks (tests that want disorder push out of order on purpose).
class EventList {
public:
    void value(uint32_t time, clap_id id, double value);
    void gesture(uint32_t time, clap_id id, bool begin);
    void clear() { events.clear(); }
    size_t size() const { return events.size(); }
    const clap_event_header_t* at(size_t i) const { return &events[i].header; }
    const clap_input_events_t* input() const { return &in; }

private:
    union Event {
        clap_event_header_t header;
        clap_event_param_value_t value;
        clap_event_param_gesture_t gesture;
    };
    static uint32_t CLAP_ABI count(const clap_input_events_t* list);
    static const clap_event_header_t* CLAP_ABI get(const clap_input_events_t* list, uint32_t index);
    std::vector<Event> events;
    clap_input_events_t in{this, count, get};
};

// What the plug-in pushed to the host.
struct OutEvent {
    uint16_t type;
    clap_id id;
    double value;
    uint32_t time;
};

class OutputList {
public:
    std::vector<OutEvent> events;
    bool full = false;  // refuses every push, as a host out of room does
    const clap_output_events_t* output() const { return &out; }

private:
    static bool CLAP_ABI push(const clap_output_events_t* list, const clap_event_header_t* event);
    clap_output_events_t out{this, push};
};

class TestHost {
public:
    // Which host extensions to offer.
    struct Offer {
        bool timer = true;
        bool fd = true;
        bool threadCheck = true;
        bool presetLoad = true;
    };
    explicit TestHost(Offer offer);
    TestHost() : TestHost(Offer{}) {}
    ~TestHost();
    TestHost(const TestHost&) = delete;
    TestHost& operator=(const TestHost&) = delete;

    bool ok() const { return plugin != nullptr; }
    const clap_plugin_t* plugin = nullptr;
    const clap_plugin_params_t* params = nullptr;
    const clap_plugin_state_t* state = nullptr;
    const clap_plugin_latency_t* latency = nullptr;
    const clap_plugin_audio_ports_t* ports = nullptr;
    const clap_plugin_gui_t* gui = nullptr;
    const clap_plugin_timer_support_t* timer = nullptr;
    const ClapPluginPosixFdSupport* fd = nullptr;
    const ClapPluginPresetLoad* presetLoad = nullptr;
    const ClapPluginRender* render = nullptr;

    // Renders offline from now on: activation makes every table set first.
    bool renderOffline();
    bool activate(double rate);
    void deactivate();

    // One block of `frames` frames, stereo unless told, in place when told.
    void process(const float* inL, const float* inR, float* outL, float* outR, uint32_t frames,
                 const EventList* events = nullptr, OutputList* out = nullptr, uint32_t inChannels = 2);
    // flush without audio; the events go in, the plug-in's come out.
    void flush(const EventList* events, OutputList* out);

    double value(clap_id id);
    void set(clap_id id, double value);  // through flush

    // What the plug-in told the host.
    std::atomic<int32_t> rescans{0};
    std::atomic<uint32_t> rescanFlags{0};
    std::atomic<int32_t> flushRequests{0};
    std::atomic<int32_t> restartRequests{0};
    std::atomic<int32_t> latencyChanges{0};
    std::atomic<int32_t> dirtyMarks{0};
    std::atomic<int32_t> threadViolations{0};
    std::vector<std::string> presetsLoaded;
    std::vector<std::string> presetErrors;
    struct Timer {
        clap_id id;
        uint32_t period;
    };
    std::vector<Timer> timers;
    std::vector<int> fds;

    // The threads this host calls main and audio.
    std::thread::id mainThread = std::this_thread::get_id();
    std::atomic<std::thread::id> audioThread{};

private:
    static const void* CLAP_ABI getExtension(const clap_host_t* host, const char* id);
    static TestHost& of(const clap_host_t* host) { return *static_cast<TestHost*>(host->host_data); }

    Offer offer;
    clap_host_t host;
    clap_id nextTimer = 1;
    bool active = false;
    bool processing = false;
};

// Streams over bytes in memory, moved in pieces or failing part way.
using ByteStream = ClapMemoryStream;
