#include "jack/JackEffect.h"

#include "engine/Product.h"
#include "engine/TubeEngine.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace jackapp {
namespace {

enum : int32_t { kInLeft, kInRight, kOutLeft, kOutRight };

// libjack's own messages would add lines of their own to ours (a missing
// server alone prints three); every failure is reported here instead.
void quiet(const char*) {}

std::string fullName(jack_port_t* port) { return jack_port_name(port); }

}  // namespace

JackEffect::JackEffect(TubeEngine& engine, int wakeFd) : engine(engine), tables(engine), wakeFd(wakeFd) {}

JackEffect::~JackEffect() { close(); }

JackEffect::Opened JackEffect::open(std::string& error)
{
    jack_set_error_function(quiet);
    jack_set_info_function(quiet);
    return openClient(error);
}

uint32_t JackEffect::sampleRate() const noexcept { return client ? jack_get_sample_rate(client) : 0; }

JackEffect::Opened JackEffect::openClient(std::string& error)
{
    // A server too busy to answer in time refuses with JackServerError:
    // asked again, it usually takes the client.
    constexpr int32_t kAttempts = 3;
    jack_status_t status{};
    for (int32_t attempt = 1; attempt <= kAttempts && !client; ++attempt) {
        client = jack_client_open(product::kName, JackNoStartServer, &status);
        if (!client && ((status & JackServerFailed) || !(status & JackServerError))) break;
    }
    if (!client) {
        if (status & JackServerFailed) return Opened::NoServer;
        char code[16];
        std::snprintf(code, sizeof(code), "0x%x", static_cast<unsigned>(status));
        error = std::string("the JACK server refused the client (status ") + code + ")";
        return Opened::Failed;
    }
    for (int32_t i = 0; i < 4; ++i) {
        const unsigned long flags = i < kOutLeft ? JackPortIsInput : JackPortIsOutput;
        ports[i] = jack_port_register(client, kPortNames[i], JACK_DEFAULT_AUDIO_TYPE, flags, 0);
        if (!ports[i]) {
            error = std::string("cannot register the port ") + kPortNames[i];
            return Opened::Failed;
        }
    }
    if (!tables.prepareNow(static_cast<float>(jack_get_sample_rate(client)))) {
        error = "the server runs at " + std::to_string(jack_get_sample_rate(client)) +
                " Hz; the effect runs at 8000 to 1000000 Hz";
        return Opened::Failed;
    }
    reported.store(engine.latency());
    blockSize.store(jack_get_buffer_size(client));
    if (jack_set_process_callback(client, process, this) != 0 ||
        jack_set_sample_rate_callback(client, sampleRateChanged, this) != 0 ||
        jack_set_buffer_size_callback(client, bufferSizeChanged, this) != 0 ||
        jack_set_latency_callback(client, latency, this) != 0) {
        error = "the JACK server refused the callbacks";
        return Opened::Failed;
    }
    jack_on_info_shutdown(client, shutdown, this);
    return Opened::Yes;
}

bool JackEffect::activate(std::string& error)
{
    constexpr int32_t kAttempts = 3;
    for (int32_t attempt = 1; attempt <= kAttempts; ++attempt) {
        if (jack_activate(client) == 0) {
            active = true;
            return true;
        }
        if (attempt == kAttempts) break;
        // The refused client is left half active: start again from nothing.
        jack_client_close(client);
        client = nullptr;
        if (openClient(error) != Opened::Yes) return false;
    }
    error = "the JACK server would not activate the client";
    return false;
}

bool JackEffect::connect(const Options& options, std::string& error)
{
    auto link = [this, &error](int32_t ours, const std::string& other) {
        const std::string name = fullName(ports[ours]);
        const bool input = ours < kOutLeft;
        const int result = input ? jack_connect(client, other.c_str(), name.c_str())
                                 : jack_connect(client, name.c_str(), other.c_str());
        if (result == 0 || result == EEXIST) return true;
        error = "cannot connect " + std::string(kPortNames[ours]) + (input ? " from " : " to ") + other;
        return false;
    };
    for (const PortLink& l : options.links)
        for (int32_t i = 0; i < 4; ++i)
            if (l.ours == kPortNames[i] && !link(i, l.other)) return false;
    if (!options.autoConnect) return true;

    // A guitar is one channel: the first capture port feeds both inputs.
    const char** capture = jack_get_ports(client, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsPhysical | JackPortIsOutput);
    const char** playback = jack_get_ports(client, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsPhysical | JackPortIsInput);
    bool ok = true;
    if (!capture || !capture[0]) {
        error = "the server has no physical capture port to connect to";
        ok = false;
    } else if (!playback || !playback[0]) {
        error = "the server has no physical playback port to connect to";
        ok = false;
    } else {
        const char* right = playback[1] ? playback[1] : playback[0];
        ok = link(kInLeft, capture[0]) && link(kInRight, capture[0]) && link(kOutLeft, playback[0]) &&
             link(kOutRight, right);
    }
    jack_free(capture);
    jack_free(playback);
    return ok;
}

void JackEffect::announceLatency()
{
    if (!active || gone.load()) return;
    const int32_t now = engine.latency();
    if (now == reported.load()) return;
    reported.store(now);
    jack_recompute_total_latencies(client);
}

void JackEffect::deactivate()
{
    if (active && !gone.load()) jack_deactivate(client);
    active = false;
}

void JackEffect::close()
{
    if (!client) return;
    deactivate();
    jack_client_close(client);
    client = nullptr;
}

std::string JackEffect::goneReason() const { return gone.load() ? std::string(reason) : std::string(); }

// [process thread]
int JackEffect::process(jack_nframes_t frames, void* self) noexcept
{
    auto& me = *static_cast<JackEffect*>(self);
    const auto* inL = static_cast<const float*>(jack_port_get_buffer(me.ports[kInLeft], frames));
    const auto* inR = static_cast<const float*>(jack_port_get_buffer(me.ports[kInRight], frames));
    auto* outL = static_cast<float*>(jack_port_get_buffer(me.ports[kOutLeft], frames));
    auto* outR = static_cast<float*>(jack_port_get_buffer(me.ports[kOutRight], frames));
    processBlock(me.engine, me.tables, inL, inR, outL, outR, frames);
    return 0;
}

// [notification thread]
int JackEffect::sampleRateChanged(jack_nframes_t rate, void* self) noexcept
{
    // A rate the engine refuses leaves the one in force; JACK gets no error
    // for it, which would only end the client.
    static_cast<JackEffect*>(self)->tables.rateChanged(static_cast<float>(rate));
    return 0;
}

// [notification thread] The engine takes blocks of any length and keeps
// nothing per block: the size is only noted.
int JackEffect::bufferSizeChanged(jack_nframes_t frames, void* self) noexcept
{
    static_cast<JackEffect*>(self)->blockSize.store(frames);
    return 0;
}

// [notification thread] Our outputs are late by the engine's latency behind
// our inputs, both ways through the graph.
void JackEffect::latency(jack_latency_callback_mode_t mode, void* self) noexcept
{
    auto& me = *static_cast<JackEffect*>(self);
    const auto ours = static_cast<jack_nframes_t>(me.engine.latency());
    for (int32_t channel = 0; channel < 2; ++channel) {
        jack_port_t* from = mode == JackCaptureLatency ? me.ports[kInLeft + channel] : me.ports[kOutLeft + channel];
        jack_port_t* to = mode == JackCaptureLatency ? me.ports[kOutLeft + channel] : me.ports[kInLeft + channel];
        jack_latency_range_t range{};
        jack_port_get_latency_range(from, mode, &range);
        range.min += ours;
        range.max += ours;
        jack_port_set_latency_range(to, mode, &range);
    }
}

// [a JACK thread] Only a note and one byte for the main loop.
void JackEffect::shutdown(jack_status_t, const char* why, void* self) noexcept
{
    auto& me = *static_cast<JackEffect*>(self);
    if (!me.gone.load()) {
        if (why) std::strncpy(me.reason, why, sizeof(me.reason) - 1);
        me.gone.store(true);
    }
    const char byte = kServerGone;
    [[maybe_unused]] const ssize_t n = write(me.wakeFd, &byte, 1);
}

}  // namespace jackapp
