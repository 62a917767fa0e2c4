// What the live tests of z5r-jack need: programs started as children with
// their output in files, a JACK server of the test's own (dummy driver,
// synchronous mode, a name no other run uses), and a source and a recorder
// of float samples as two JACK clients of the test process. The source
// plays silence, then a signal from a frame it picks; the recorder keeps
// the frames that stand for the same frames of the signal once moved by a
// latency: source -> effect -> recorder runs in one cycle, so the two line
// up by counting the frames of the cycles they both saw from the one the
// source started in, whatever the period does (a period change may make
// JACK's frame time jump, never one client run a cycle without the other).
#pragma once

#include <jack/jack.h>
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace jacktest {

// Waits until `done` answers true, checking every 10 ms; false after
// `seconds` (generous: the machine may be busy).
bool waitFor(const std::function<bool()>& done, double seconds = 120.0);

std::string readFile(const std::string& path);
int32_t lineCount(const std::string& text);

class Child {
public:
    // Starts `argv` with `environment` added to ours, its standard output
    // and error in files of `folder`.
    Child(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
          const std::string& folder, const std::string& label);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool running();
    // The exit status, or -1 when it did not end in time; 128 + n for signal n.
    int32_t wait(double seconds = 120.0);
    void signal(int number);
    std::string out() const { return readFile(outPath); }
    std::string err() const { return readFile(errPath); }

private:
    pid_t pid = -1;
    int32_t status = -1;
    std::string outPath, errPath;
};

class JackServer {
public:
    // jackd -n NAME -S -d dummy -r 48000 -p PERIOD, started and waited for.
    JackServer(const std::string& folder, int32_t period = 64);
    ~JackServer();
    bool ok() const { return started; }
    const std::string& name() const { return serverName; }
    // JACK_DEFAULT_SERVER for children.
    std::string environment() const { return "JACK_DEFAULT_SERVER=" + serverName; }
    // Stops the server as its user would (SIGTERM); its exit status.
    int32_t stop();
    // A client of the test on this server, for looking at ports.
    jack_client_t* open(const char* clientName);

private:
    std::string serverName;
    Child* process = nullptr;
    bool started = false;
};

// The effect's client and port names, as its README gives them.
inline const char* const kClient = "Korvane Z5R";
std::string effectPort(const char* port);

// A port's latency range as JACK reports it.
jack_latency_range_t latencyOf(jack_client_t* client, const std::string& port, jack_latency_callback_mode_t mode);

struct Signal {
    std::vector<float> left, right;
};
// A known stereo test signal: a sweep, a chord, a noise burst, a decay.
Signal testSignal(int32_t frames, int32_t rate);

// Source and recorder as two JACK clients of this process.
class Probe {
public:
    Probe(JackServer& server, const Signal& signal, int32_t preroll, bool loop = false);
    ~Probe();
    bool ok() const { return source && recorder; }
    // Wires source -> effect inputs, effect outputs -> recorder.
    bool connectThrough(std::string& error);
    // The source starts its preroll at its next cycle; the recorder keeps
    // frames `latency` later than the signal's.
    void arm(int32_t latency);
    bool finished() const { return recordedUpTo.load() >= static_cast<int64_t>(length); }
    // Frames of the signal played so far (the preroll not counted).
    int64_t played() const { return playedUpTo.load(); }
    const std::vector<float>& recordedLeft() const { return outLeft; }
    const std::vector<float>& recordedRight() const { return outRight; }
    // Cycles whose frame time did not follow the one before (JACK's clock
    // jumps at a period change), for the record.
    int32_t gaps() const { return frameGaps.load(); }
    // The mean square of the left channel the recorder saw over the last
    // tenth of a second (a looping source); 0 before one has passed.
    float lastPower() const { return power.load(); }
    jack_client_t* client() const { return source; }

private:
    static int playCycle(jack_nframes_t frames, void* self);
    static int recordCycle(jack_nframes_t frames, void* self);

    Signal signal;
    size_t length;
    int64_t preroll;
    bool loop;
    jack_client_t* source = nullptr;
    jack_client_t* recorder = nullptr;
    jack_port_t* outPorts[2] = {};
    jack_port_t* inPorts[2] = {};
    std::vector<float> outLeft, outRight;
    std::atomic<bool> armed{false};
    std::atomic<int64_t> startCycle{-1};  // the frame time of the cycle the source started in
    int64_t sourceFrames = 0;             // frames since then, source side
    int64_t recorderFrames = -1;          // the same, recorder side; -1 before that cycle
    std::atomic<int32_t> latency{0};
    std::atomic<int64_t> playedUpTo{0};
    std::atomic<int64_t> recordedUpTo{0};
    std::atomic<int32_t> frameGaps{0};
    std::atomic<float> power{0.0f};
    double powerSum = 0.0;
    int64_t powerFrames = 0;
    int64_t nextFrame = -1;
};

// Float WAV files through libsndfile.
bool writeWav(const std::string& path, const Signal& signal, int32_t rate);
bool readWav(const std::string& path, Signal& signal);

// Folders of the build: z5r-jack, z5r-render and the plug-in sit there.
std::string buildFolder();
// A fresh temporary folder, removed by the caller.
std::string makeFolder();

}  // namespace jacktest
