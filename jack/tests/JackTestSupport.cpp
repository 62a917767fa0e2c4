#include "JackTestSupport.h"

#include <fcntl.h>
#include <signal.h>
#include <sndfile.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <numbers>
#include <thread>

extern char** environ;

namespace jacktest {

namespace {

void quiet(const char*) {}

// libjack's complaints while a server starts or after it stops are noise
// here, unless Z5R_TEST_JACK_VERBOSE is set.
struct QuietJack {
    QuietJack()
    {
        if (std::getenv("Z5R_TEST_JACK_VERBOSE")) return;
        jack_set_error_function(quiet);
        jack_set_info_function(quiet);
    }
};

void quietJack() { static QuietJack once; }

}  // namespace

bool waitFor(const std::function<bool()>& done, double seconds)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

int32_t lineCount(const std::string& text)
{
    return static_cast<int32_t>(std::count(text.begin(), text.end(), '\n'));
}

Child::Child(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
             const std::string& folder, const std::string& label)
    : outPath(folder + "/" + label + ".out"), errPath(folder + "/" + label + ".err")
{
    // Our environment, with the given variables in place of ours.
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string key = entry.substr(0, entry.find('='));
        const bool replaced = std::any_of(environment.begin(), environment.end(), [&key](const std::string& mine) {
            return mine.substr(0, mine.find('=')) == key;
        });
        if (!replaced) env.push_back(entry);
    }
    env.insert(env.end(), environment.begin(), environment.end());
    std::vector<char*> envp, args;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> argCopy = argv;
    for (std::string& a : argCopy) args.push_back(a.data());
    args.push_back(nullptr);

    // Opened here: between fork and exec only system calls happen.
    const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const pid_t parent = getpid();
    pid = fork();
    if (pid == 0) {
        // A test that dies takes its servers and programs with it.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(127);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        execvpe(args[0], args.data(), envp.data());
        _exit(127);
    }
    close(in);
    close(out);
    close(err);
}

Child::~Child()
{
    if (!running()) return;
    signal(SIGTERM);
    if (wait(30.0) < 0) {
        signal(SIGKILL);
        wait(30.0);
    }
}

bool Child::running()
{
    if (pid < 0) return false;
    int raw = 0;
    const pid_t r = waitpid(pid, &raw, WNOHANG);
    if (r == 0) return true;
    if (r == pid) status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    pid = -1;
    return false;
}

int32_t Child::wait(double seconds)
{
    if (!waitFor([this] { return !running(); }, seconds)) return -1;
    return status;
}

void Child::signal(int number)
{
    if (pid > 0) kill(pid, number);
}

JackServer::JackServer(const std::string& folder, int32_t period)
{
    quietJack();
    static int32_t count = 0;
    serverName = "z5r-test-" + std::to_string(getpid()) + "-" + std::to_string(++count);
    // Synchronous (-S): a busy machine makes the server wait for us, never
    // lose a period. The client time-out (-t, ms) given: left out, jackd
    // 1.9.21 in this mode derives it from the period, and then gives an
    // activation only 20 periods to land before refusing it, too little on
    // a busy machine. A cycle a client never signals (it happens around an
    // activation) then costs ten time-outs, 5 s.
    process = new Child({"jackd", "-n", serverName, "-S", "-t", "500", "-d", "dummy", "-r", "48000", "-p",
                         std::to_string(period)},
                        {}, folder, "jackd-" + std::to_string(count));
    started = waitFor([this] {
        if (!process->running()) return true;
        jack_client_t* c = open("z5r-test-wait");
        if (!c) return false;
        jack_client_close(c);
        return true;
    }) && process->running();
}

JackServer::~JackServer()
{
    stop();
    delete process;
}

int32_t JackServer::stop()
{
    if (!process->running()) return process->wait(0.0);
    process->signal(SIGTERM);
    return process->wait();
}

jack_client_t* JackServer::open(const char* clientName)
{
    jack_status_t status{};
    return jack_client_open(clientName, static_cast<jack_options_t>(JackNoStartServer | JackServerName), &status,
                            serverName.c_str());
}

std::string effectPort(const char* port) { return std::string(kClient) + ":" + port; }

jack_latency_range_t latencyOf(jack_client_t* client, const std::string& port, jack_latency_callback_mode_t mode)
{
    jack_latency_range_t range{~0u, ~0u};
    if (jack_port_t* p = jack_port_by_name(client, port.c_str())) jack_port_get_latency_range(p, mode, &range);
    return range;
}

Signal testSignal(int32_t frames, int32_t rate)
{
    Signal s;
    s.left.resize(static_cast<size_t>(frames));
    s.right.resize(static_cast<size_t>(frames));
    const double fs = rate;
    uint32_t noise = 0x12345678u;
    double sweepPhase = 0.0;
    for (int32_t n = 0; n < frames; ++n) {
        const double t = n / fs;
        const double part = static_cast<double>(n) / frames;
        double l = 0.0, r = 0.0;
        if (part < 0.4) {
            // An exponential sweep, 60 Hz to 6 kHz, against a chord.
            const double f = 60.0 * std::pow(100.0, part / 0.4);
            sweepPhase += 2.0 * std::numbers::pi * f / fs;
            l = 0.6 * std::sin(sweepPhase);
            r = 0.2 * (std::sin(2 * std::numbers::pi * 110 * t) + std::sin(2 * std::numbers::pi * 165 * t) +
                       std::sin(2 * std::numbers::pi * 220 * t));
        } else if (part < 0.55) {
            // A noise burst, full scale on the right.
            noise ^= noise << 13, noise ^= noise >> 17, noise ^= noise << 5;
            const double white = static_cast<double>(noise) / 2147483648.0 - 1.0;
            l = 0.4 * white;
            r = white;
        } else {
            // A plucked note dying away, and a quiet one.
            const double since = t - 0.55 * frames / fs;
            l = 0.9 * std::exp(-3.0 * since) * std::sin(2 * std::numbers::pi * 196 * since);
            r = 0.01 * std::sin(2 * std::numbers::pi * 523.25 * since);
        }
        s.left[static_cast<size_t>(n)] = static_cast<float>(l);
        s.right[static_cast<size_t>(n)] = static_cast<float>(r);
    }
    return s;
}

Probe::Probe(JackServer& server, const Signal& played, int32_t prerollFrames, bool looping)
    : signal(played), length(played.left.size()), preroll(prerollFrames), loop(looping),
      outLeft(played.left.size()), outRight(played.left.size())
{
    source = server.open("z5r-test-source");
    recorder = server.open("z5r-test-recorder");
    if (!source || !recorder) return;
    outPorts[0] = jack_port_register(source, "out_L", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
    outPorts[1] = jack_port_register(source, "out_R", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
    inPorts[0] = jack_port_register(recorder, "in_L", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    inPorts[1] = jack_port_register(recorder, "in_R", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    jack_set_process_callback(source, playCycle, this);
    jack_set_process_callback(recorder, recordCycle, this);
    if (jack_activate(source) != 0 || jack_activate(recorder) != 0) {
        jack_client_close(source);
        jack_client_close(recorder);
        source = recorder = nullptr;
    }
}

Probe::~Probe()
{
    if (recorder) jack_client_close(recorder);
    if (source) jack_client_close(source);
}

bool Probe::connectThrough(std::string& error)
{
    const char* pairs[4][2] = {{"z5r-test-source:out_L", "in_L"},
                               {"z5r-test-source:out_R", "in_R"},
                               {"out_L", "z5r-test-recorder:in_L"},
                               {"out_R", "z5r-test-recorder:in_R"}};
    for (int32_t i = 0; i < 4; ++i) {
        const std::string from = i < 2 ? std::string(pairs[i][0]) : effectPort(pairs[i][0]);
        const std::string to = i < 2 ? effectPort(pairs[i][1]) : std::string(pairs[i][1]);
        const int r = jack_connect(source, from.c_str(), to.c_str());
        if (r != 0 && r != EEXIST) {
            error = "cannot connect " + from + " to " + to;
            return false;
        }
    }
    return true;
}

void Probe::arm(int32_t frames)
{
    latency.store(frames);
    armed.store(true);
}

int Probe::playCycle(jack_nframes_t frames, void* self)
{
    auto& me = *static_cast<Probe*>(self);
    auto* left = static_cast<float*>(jack_port_get_buffer(me.outPorts[0], frames));
    auto* right = static_cast<float*>(jack_port_get_buffer(me.outPorts[1], frames));
    const int64_t now = jack_last_frame_time(me.source);
    if (me.nextFrame >= 0 && now != me.nextFrame) me.frameGaps.fetch_add(1);
    me.nextFrame = now + frames;
    if (me.armed.load() && me.startCycle.load() < 0) me.startCycle.store(now);
    const bool started = me.startCycle.load() >= 0;
    const auto length = static_cast<int64_t>(me.length);
    for (jack_nframes_t k = 0; k < frames; ++k) {
        int64_t at = started ? me.sourceFrames + k - me.preroll : -1;
        if (me.loop && at >= 0) at %= length;
        const bool playing = at >= 0 && at < length;
        left[k] = playing ? me.signal.left[static_cast<size_t>(at)] : 0.0f;
        right[k] = playing ? me.signal.right[static_cast<size_t>(at)] : 0.0f;
    }
    if (started) {
        me.sourceFrames += frames;
        me.playedUpTo.store(std::clamp<int64_t>(me.sourceFrames - me.preroll, 0, me.loop ? INT64_MAX : length));
    }
    return 0;
}

int Probe::recordCycle(jack_nframes_t frames, void* self)
{
    auto& me = *static_cast<Probe*>(self);
    const auto* left = static_cast<const float*>(jack_port_get_buffer(me.inPorts[0], frames));
    const auto* right = static_cast<const float*>(jack_port_get_buffer(me.inPorts[1], frames));
    for (jack_nframes_t k = 0; k < frames; ++k) me.powerSum += static_cast<double>(left[k]) * left[k];
    me.powerFrames += frames;
    if (me.powerFrames >= 4800) {
        me.power.store(static_cast<float>(me.powerSum / static_cast<double>(me.powerFrames)));
        me.powerSum = 0.0;
        me.powerFrames = 0;
    }
    const int64_t startCycle = me.startCycle.load();
    if (startCycle < 0 || me.loop) return 0;
    // The source's first cycle is ours too: it runs before us in it.
    if (me.recorderFrames < 0 && static_cast<int64_t>(jack_last_frame_time(me.recorder)) == startCycle)
        me.recorderFrames = 0;
    if (me.recorderFrames < 0) return 0;
    const int64_t first = me.recorderFrames - me.preroll - me.latency.load();
    me.recorderFrames += frames;
    const auto length = static_cast<int64_t>(me.length);
    for (jack_nframes_t k = 0; k < frames; ++k) {
        const int64_t at = first + k;
        if (at < 0 || at >= length) continue;
        me.outLeft[static_cast<size_t>(at)] = left[k];
        me.outRight[static_cast<size_t>(at)] = right[k];
    }
    me.recordedUpTo.store(first + frames);
    return 0;
}

bool writeWav(const std::string& path, const Signal& signal, int32_t rate)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) return false;
    std::vector<float> frames;
    for (size_t i = 0; i < signal.left.size(); ++i) {
        frames.push_back(signal.left[i]);
        frames.push_back(signal.right[i]);
    }
    const sf_count_t written = sf_writef_float(file, frames.data(), static_cast<sf_count_t>(signal.left.size()));
    sf_close(file);
    return written == static_cast<sf_count_t>(signal.left.size());
}

bool readWav(const std::string& path, Signal& signal)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) return false;
    if (info.channels != 2) {
        sf_close(file);
        return false;
    }
    std::vector<float> frames(static_cast<size_t>(info.frames) * 2);
    const sf_count_t read = sf_readf_float(file, frames.data(), info.frames);
    sf_close(file);
    signal.left.clear();
    signal.right.clear();
    for (sf_count_t i = 0; i < read; ++i) {
        signal.left.push_back(frames[static_cast<size_t>(2 * i)]);
        signal.right.push_back(frames[static_cast<size_t>(2 * i + 1)]);
    }
    return read == info.frames;
}

std::string buildFolder() { return Z5R_BUILD_DIR; }

std::string makeFolder()
{
    char pattern[] = "/tmp/z5r-jack-test.XXXXXX";
    return mkdtemp(pattern) ? pattern : "/tmp";
}

}  // namespace jacktest
