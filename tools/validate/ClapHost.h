// The validator's CLAP host: an instance with the host extensions hosts
// offer (or none of the optional ones), each host call checked against the
// thread the format documents for it, parameter events delivered with the
// next block or flushed while inactive, state through streams that can be
// told to move bytes in short pieces, and timers and descriptors run for
// the editor. Built on Debian's CLAP headers (dpf-source) and our own
// declarations of what they lack (clap/ClapExtensions.h).
#pragma once

#include "Formats.h"
#include "clap/ClapExtensions.h"

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
#include <mutex>
#include "clap/ClapMemoryStream.h"

#include <string>
#include <thread>
#include <vector>

namespace validate {
namespace clapv {

// Bytes in memory, moved in pieces or failing part way.
using Bytes = ClapMemoryStream;

struct ClapOptions {
    bool extensions = true;  // false: a host offering none of the optional extensions
};

class ClapInstance final : public FormatInstance {
public:
    ClapInstance(const clap_plugin_factory_t* factory, const char* id, const ClapOptions& options, std::string& error);
    ~ClapInstance() override;
    bool ok() const { return plugin != nullptr; }

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
    std::string paramUnit(int32_t) override { return {}; }
    bool automatable(int32_t index) override;
    int32_t latency() override;
    bool saveState(std::vector<uint8_t>& bytes) override;
    bool loadState(const std::vector<uint8_t>& bytes) override;
    bool hasEditor() override;
    bool editorOpen(void* parent) override;
    bool editorSize(int32_t& width, int32_t& height) override;
    void editorIdle() override;
    void editorClose() override;

    const clap_plugin_t* plugin = nullptr;
    const clap_plugin_params_t* paramsExt = nullptr;
    const clap_plugin_state_t* state = nullptr;
    const clap_plugin_latency_t* latencyExt = nullptr;
    const clap_plugin_audio_ports_t* ports = nullptr;
    const clap_plugin_gui_t* gui = nullptr;
    const clap_plugin_timer_support_t* timer = nullptr;
    const ClapPluginPosixFdSupport* fd = nullptr;
    std::vector<clap_param_info_t> infos;
    std::vector<int32_t> writable;  // indices into infos of the parameters a host may set
    bool activateRefused = false;
    bool guiCreated = false;
    int32_t maxFrames = 0;

    // A block with raw events, on the calling thread as the audio thread.
    clap_process_status processRaw(float** inputs, float** outputs, uint32_t frames, bool inPlace = false);
    // Value events flushed while inactive (or from the audio thread when not processing).
    void flushNow();
    // reset, on this thread as the audio thread (between blocks, while active).
    void resetNow();
    double plainOf(int32_t index, double normalized) const;
    double normalizedOf(int32_t index, double plain) const;

    // The host's side.
    clap_host_t host{};
    std::thread::id mainThread = std::this_thread::get_id();
    bool onAudioThread() const;
    void hostCall(const char* name, bool mainOnly, bool notFromAudio = false);
    std::atomic<int32_t> restartRequests{0}, rescans{0}, flushRequests{0}, latencyChanges{0}, dirtyMarks{0};
    struct Timer {
        clap_id id;
        uint32_t period;
    };
    std::vector<Timer> timers;
    std::vector<int> fds;
    clap_id nextTimer = 1;

private:
    ClapOptions options;
    bool isActive = false;
    bool processing = false;
    int32_t inChannels = 0, outChannels = 0;
    std::vector<clap_audio_port_info_t> inPorts, outPorts;
    std::vector<std::vector<float>> spare;
    std::vector<std::vector<float*>> inPtrs, outPtrs;
    std::vector<clap_audio_buffer_t> inBufs, outBufs;
    std::mutex pendingLock;
    std::vector<clap_event_param_value_t> pending, block;
    std::vector<double> lastSet;
    static uint32_t CLAP_ABI eventCount(const clap_input_events_t* list);
    static const clap_event_header_t* CLAP_ABI eventGet(const clap_input_events_t* list, uint32_t index);
    static bool CLAP_ABI eventPush(const clap_output_events_t* list, const clap_event_header_t* event);
    clap_input_events_t inEvents{this, eventCount, eventGet};
    clap_output_events_t outEvents{this, eventPush};
    void makeRoom(int32_t frames);
    static const void* CLAP_ABI getExtension(const clap_host_t* host, const char* id);
};

// A value event for parameter `id`.
clap_event_param_value_t valueEvent(clap_id id, double value, uint32_t time = 0);

}  // namespace clapv
}  // namespace validate
