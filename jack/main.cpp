// z5r-jack: the effect as a JACK client for live playing, with its panel in
// a window of its own. Exit status: 0 after SIGINT, SIGTERM or closing the
// window; 1 when the JACK server or the display is missing or goes away, or
// the connections asked for cannot be made; 2 for bad options.
#include "engine/InstanceState.h"
#include "engine/Product.h"
#include "engine/ProgramBank.h"
#include "engine/TubeEngine.h"
#include "jack/AppWindow.h"
#include "jack/JackEffect.h"
#include "jack/Options.h"
#include "jack/StateFile.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

using namespace jackapp;

namespace {

constexpr const char* kProgramName = "z5r-jack";
constexpr char kSignalled = 'S';
constexpr int kRefreshMs = 20;

int wakeWrite = -1;

// Only a byte down the pipe: the main loop does the rest.
extern "C" void onSignal(int)
{
    const int saved = errno;
    const char byte = kSignalled;
    [[maybe_unused]] const ssize_t n = write(wakeWrite, &byte, 1);
    errno = saved;
}

void say(const std::string& line) { std::fprintf(stderr, "%s: %s\n", kProgramName, line.c_str()); }

bool save(const std::string& path, const ProgramBank& bank, const TubeEngine& engine)
{
    std::string error;
    if (saveStateFile(path, captureInstanceState(bank, engine), error)) return true;
    say("settings not saved: " + error);
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    const ParseResult parsed = parseOptions({argv + 1, static_cast<size_t>(argc > 0 ? argc - 1 : 0)});
    if (!parsed.ok()) {
        say(parsed.error);
        return 2;
    }
    const Options& options = parsed.options;
    if (options.help) {
        std::fputs(usageText(kProgramName).c_str(), stdout);
        return 0;
    }

    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        say("cannot make a pipe");
        return 1;
    }
    wakeWrite = pipeFds[1];
    struct sigaction action{};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    // The settings of the last run, then what the command line asks.
    const std::string statePath = options.statePath.empty() ? defaultStatePath() : options.statePath;
    auto engine = std::make_unique<TubeEngine>();
    ProgramBank bank;
    const LoadedState loaded = loadStateFile(statePath);
    if (loaded.status == LoadedState::Loaded)
        restoreInstanceState(loaded.state, bank, *engine);
    else if (loaded.status == LoadedState::Damaged)
        say(statePath + " is damaged (" + loaded.problem + ")" +
            (loaded.keptAs.empty() ? "" : "; kept as " + loaded.keptAs) + "; starting from the defaults");
    else if (loaded.status == LoadedState::Unreadable)
        say("cannot read " + statePath + " (" + loaded.problem + "); starting from the defaults");
    if (options.program) bank.select(*options.program, *engine);
    for (const Setting& s : options.settings) engine->setParameter(s.index, s.value);

    JackEffect effect(*engine, pipeFds[1]);
    std::string error;
    switch (effect.open(error)) {
    case JackEffect::Opened::Yes:
        break;
    case JackEffect::Opened::NoServer:
        say("no JACK server is running; start one first, for example: jackd -d alsa -d hw:0 -r 48000 -p 128 &");
        return 1;
    case JackEffect::Opened::Failed:
        say(error);
        return 1;
    }
    std::unique_ptr<AppWindow> window;
    if (options.gui) {
        window = std::make_unique<AppWindow>(*engine);
        if (!window->open(error)) {
            say(error);
            return 1;
        }
    }
    if (!effect.activate(error) || !effect.connect(options, error)) {
        say(error);
        return 1;
    }
    std::printf("%s: playing as \"%s\" at %u Hz; %s\n", kProgramName, product::kName, effect.sampleRate(),
                window ? "close the window or press Ctrl-C to quit" : "press Ctrl-C to quit");
    std::fflush(stdout);

    // The loop: the pipe (signals, the server's going), both X connections,
    // and the 20 ms beat for the panel's refresh and the latency report.
    enum class End { Running, Quit, ServerGone, DisplayGone } end = End::Running;
    auto nextBeat = std::chrono::steady_clock::now();
    while (end == End::Running) {
        pollfd fds[3] = {{pipeFds[0], POLLIN, 0}, {-1, POLLIN, 0}, {-1, POLLIN, 0}};
        if (window) {
            fds[1].fd = window->windowFd();
            fds[2].fd = window->panelFd();
        }
        const auto now = std::chrono::steady_clock::now();
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(nextBeat - now).count();
        poll(fds, 3, wait > 0 ? static_cast<int>(wait) : 0);
        if (fds[0].revents & POLLIN) {
            char bytes[16];
            ssize_t n;
            while ((n = read(pipeFds[0], bytes, sizeof(bytes))) > 0)
                for (ssize_t i = 0; i < n; ++i)
                    if (bytes[i] == kSignalled && end == End::Running) end = End::Quit;
        }
        if (effect.serverGone()) end = End::ServerGone;
        if (window && end == End::Running && !window->idle())
            end = window->closeRequested() ? End::Quit : End::DisplayGone;
        if (std::chrono::steady_clock::now() >= nextBeat) {
            effect.announceLatency();
            nextBeat = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRefreshMs);
        }
    }

    if (window) window->close();
    if (end == End::ServerGone) {
        const std::string why = effect.goneReason();
        say("the JACK server went away" + (why.empty() ? std::string() : " (" + why + ")") +
            "; settings saved, quitting");
        save(statePath, bank, *engine);
        effect.close();
        return 1;
    }
    effect.deactivate();
    const bool saved = save(statePath, bank, *engine);
    effect.close();
    if (end == End::DisplayGone) {
        say("the X display went away; settings saved, quitting");
        return 1;
    }
    return saved ? 0 : 1;
}
