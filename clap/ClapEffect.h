// The CLAP face of the effect: one object per plug-in instance over the
// format-neutral engine. It translates the host's calls and events into the
// engine's parameters and blocks, keeps the instance's program bank, saves
// and restores the instance's state blob, announces the latency, and hands
// the editor's changes to the host as parameter events.
//
// Threads, as the CLAP host contract names them: [main thread] set-up,
// extensions, state, presets and the editor; [audio thread] process, and
// flush while active. Parameters cross between them through the engine's
// atomics; the editor's changes reach the host through a fixed-size queue
// that only the thread inside process or flush empties.
#pragma once

#include "clap/ClapExtensions.h"
#include "engine/ProgramBank.h"
#include "engine/TubeEngine.h"

#include "clap/events.h"
#include "clap/ext/latency.h"
#include "clap/ext/params.h"
#include "clap/ext/state.h"
#include "clap/ext/thread-check.h"
#include "clap/ext/timer-support.h"
#include "clap/host.h"
#include "clap/plugin.h"
#include "clap/process.h"

#include <atomic>
#include <cstdint>
#include <memory>

class ClapEditor;

extern const clap_plugin_descriptor_t kClapDescriptor;

// A parameter's value as CLAP hosts see it: decibels for Gain and Level,
// the entry index 0 to 2 for a choice, 0 or 1 for a switch.
double clapValueFromNormalized(int32_t index, float normalized) noexcept;
// The engine's normalized value for a host's value; NaN gives false.
bool normalizedFromClapValue(int32_t index, double value, float& normalized) noexcept;

class ClapEffect {
public:
    // [main thread] Throws std::bad_alloc when memory runs out.
    explicit ClapEffect(const clap_host_t* host);
    ~ClapEffect();
    ClapEffect(const ClapEffect&) = delete;
    ClapEffect& operator=(const ClapEffect&) = delete;

    const clap_plugin_t* plugin() const noexcept { return &record; }
    static ClapEffect* from(const clap_plugin_t* plugin) noexcept;

    // [main thread] Lifecycle.
    bool init() noexcept;
    bool activate(double sampleRate) noexcept;
    void deactivate() noexcept;
    // Offline: activation makes every set of the rate before it returns.
    bool setRenderMode(int32_t mode) noexcept;
    // [audio thread]
    bool startProcessing() noexcept;
    void stopProcessing() noexcept;
    clap_process_status process(const clap_process_t* process) noexcept;
    const void* extension(const char* id) noexcept;

    // [active ? audio thread : main thread]
    void flush(const clap_input_events_t* in, const clap_output_events_t* out) noexcept;
    // [main thread]
    uint32_t latency() const noexcept;
    bool save(const clap_ostream_t* stream) noexcept;
    bool load(const clap_istream_t* stream) noexcept;
    bool loadPreset(uint32_t kind, const char* location, const char* key) noexcept;

    // [UI thread = main thread] The editor's changes: stored at once, told to
    // the host at its next process or flush.
    void setFromUser(int32_t index, float normalized) noexcept;
    void gesture(int32_t index, bool begin) noexcept;

    TubeEngine& getEngine() noexcept { return engine; }
    const clap_host_t* getHost() const noexcept { return host; }
    const clap_host_timer_support_t* hostTimer() const noexcept { return timerSupport; }
    const ClapHostPosixFdSupport* hostFd() const noexcept { return fdSupport; }
    ClapEditor* editor() noexcept { return gui.get(); }
    std::unique_ptr<ClapEditor>& editorSlot() noexcept { return gui; }

private:
    struct Outgoing {
        uint16_t type;
        int32_t index;
        double value;
    };
    static constexpr uint32_t kQueueSize = 256;

    void handle(const clap_event_header_t* event) noexcept;
    void applyEvents(const clap_input_events_t* in, uint32_t from, uint32_t to) noexcept;
    void sendQueued(const clap_output_events_t* out) noexcept;
    void enqueue(const Outgoing& event) noexcept;
    void latencyMayHaveChanged() noexcept;
    void valuesChangedByPlugin() noexcept;
    bool onMainThread() const noexcept;
    bool onAudioThread() const noexcept;

    clap_plugin_t record;
    const clap_host_t* host;
    const clap_host_params_t* hostParams = nullptr;
    const clap_host_latency_t* hostLatency = nullptr;
    const clap_host_state_t* hostState = nullptr;
    const clap_host_thread_check_t* threadCheck = nullptr;
    const clap_host_timer_support_t* timerSupport = nullptr;
    const ClapHostPosixFdSupport* fdSupport = nullptr;
    const ClapHostPresetLoad* hostPresetLoad = nullptr;

    TubeEngine engine;
    ProgramBank bank;

    std::atomic<bool> active{false};
    bool offline = false;  // [main thread]
    std::atomic<bool> processing{false};
    // The latency fixed at activation, and the one the host last learned.
    std::atomic<int32_t> activeLatency{0};
    int32_t reportedLatency = 0;
    std::atomic<bool> restartRequested{false};

    // Editor -> host events: the main thread writes, whoever runs process or
    // flush reads (never two at once: the host keeps those apart).
    Outgoing queue[kQueueSize];
    std::atomic<uint32_t> queueWrite{0};
    std::atomic<uint32_t> queueRead{0};

    std::unique_ptr<ClapEditor> gui;
};
