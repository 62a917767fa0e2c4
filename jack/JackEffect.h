// The effect as a JACK client: the client "Korvane Z5R" with its ports
// in_L, in_R, out_L and out_R, the process callback on the engine, and the
// server's notifications (sample rate, buffer size, latency, shutdown).
//
// Threads: open, activate, connect, announceLatency and close belong to the
// main thread; the process callback runs on JACK's process thread and never
// waits, allocates or calls the system beyond libjack's buffer look-ups;
// the other callbacks run on JACK's notification thread and only store
// values, hand a new rate to the table helper, or write one byte to the
// main loop's pipe.
#pragma once

#include "jack/Options.h"
#include "jack/TablePreparer.h"

#include <jack/jack.h>

#include <atomic>
#include <cstdint>
#include <string>

class TubeEngine;

namespace jackapp {

class JackEffect {
public:
    // `wakeFd`: the write end of the main loop's pipe; the server's going
    // away writes kServerGone there.
    static constexpr char kServerGone = 'J';

    JackEffect(TubeEngine& engine, int wakeFd);
    ~JackEffect();
    JackEffect(const JackEffect&) = delete;
    JackEffect& operator=(const JackEffect&) = delete;

    enum class Opened { Yes, NoServer, Failed };
    // Opens the client without starting a server, registers the ports,
    // prepares the tables of the server's rate and sets the callbacks.
    Opened open(std::string& error);
    // Activates the client. jackd refuses an activation it timed out
    // waiting for (a busy machine, a small period); the client is then
    // opened afresh and activated again, three times at most.
    bool activate(std::string& error);
    // The connections the options ask for; false with the first failure.
    bool connect(const Options& options, std::string& error);
    // [main thread] Tells the server when the latency the engine stands for
    // has changed since it was last reported (the Oversmpl switch).
    void announceLatency();
    // Deactivates (when the server is still there) and closes the client.
    void deactivate();
    void close();

    bool serverGone() const noexcept { return gone.load(); }
    // Why the server said it went, when it said so.
    std::string goneReason() const;
    int32_t reportedLatency() const noexcept { return reported.load(); }
    uint32_t bufferSize() const noexcept { return blockSize.load(); }

    uint32_t sampleRate() const noexcept;

private:
    Opened openClient(std::string& error);
    static int process(jack_nframes_t frames, void* self) noexcept;
    static int sampleRateChanged(jack_nframes_t rate, void* self) noexcept;
    static int bufferSizeChanged(jack_nframes_t frames, void* self) noexcept;
    static void latency(jack_latency_callback_mode_t mode, void* self) noexcept;
    static void shutdown(jack_status_t code, const char* reason, void* self) noexcept;

    TubeEngine& engine;
    TablePreparer tables;
    int wakeFd;
    jack_client_t* client = nullptr;
    jack_port_t* ports[4] = {};  // in_L, in_R, out_L, out_R
    bool active = false;
    std::atomic<bool> gone{false};
    std::atomic<int32_t> reported{0};
    std::atomic<uint32_t> blockSize{0};
    char reason[256] = {};
};

}  // namespace jackapp
