#include "stop.h"

#include <signal.h>

#include <csignal>
#include <string>

namespace z5r {
namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

volatile std::sig_atomic_t gStopSignal = 0;

extern "C" void onStopSignal(int sig) {
    if (gStopSignal == 0) gStopSignal = sig;
}

}  // namespace

void catchStopSignals() {
    for (const int sig : kStopSignals) {
        struct sigaction old {};
        if (::sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;
        struct sigaction action {};
        action.sa_handler = onStopSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;  // no SA_RESTART: blocking calls return EINTR
        ::sigaction(sig, &action, nullptr);
    }
}

int stopSignal() { return gStopSignal; }

const char* signalName(int sig) {
    switch (sig) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    case SIGPIPE: return "SIGPIPE";
    default: return "another signal";
    }
}

Stopped::Stopped(int sig) : std::runtime_error(std::string("stopped by ") + signalName(sig)), signal_(sig) {}

void throwIfStopped() {
    if (const int sig = stopSignal(); sig != 0) throw Stopped(sig);
}

void endBySignal(int sig) {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(sig, &action, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(sig);
}

}  // namespace z5r
