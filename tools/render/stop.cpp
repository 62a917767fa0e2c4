#include "stop.h"

#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>

namespace z5r {
namespace {

struct Named {
    int sig;
    const char* name;
};

constexpr Named kStopSignals[] = {
    {SIGINT, "SIGINT"},     {SIGTERM, "SIGTERM"},     {SIGHUP, "SIGHUP"},   {SIGPIPE, "SIGPIPE"},
    {SIGQUIT, "SIGQUIT"},   {SIGALRM, "SIGALRM"},     {SIGUSR1, "SIGUSR1"}, {SIGUSR2, "SIGUSR2"},
    {SIGXFSZ, "SIGXFSZ"},   {SIGXCPU, "SIGXCPU"},     {SIGVTALRM, "SIGVTALRM"}, {SIGPROF, "SIGPROF"},
#ifdef SIGIO
    {SIGIO, "SIGIO"},
#endif
#ifdef SIGPWR
    {SIGPWR, "SIGPWR"},
#endif
#ifdef SIGSTKFLT
    {SIGSTKFLT, "SIGSTKFLT"},
#endif
};

constexpr Named kFaults[] = {
    {SIGSEGV, "SIGSEGV"}, {SIGBUS, "SIGBUS"},   {SIGILL, "SIGILL"}, {SIGFPE, "SIGFPE"},
    {SIGABRT, "SIGABRT"}, {SIGTRAP, "SIGTRAP"}, {SIGSYS, "SIGSYS"},
};

volatile std::sig_atomic_t gStopSignal = 0;

// The temporary file's path for the fault handler, which may only make
// async-signal-safe calls: a fixed buffer, valid while gHaveTemporary is set.
char gTemporary[PATH_MAX];
volatile std::sig_atomic_t gHaveTemporary = 0;

// Room for the fault handler when a plug-in has overflowed the stack.
alignas(16) char gAltStack[64 * 1024];

extern "C" void onStopSignal(int sig) {
    if (gStopSignal == 0) gStopSignal = sig;
}

extern "C" void onFault(int sig) {
    const int savedErrno = errno;
    if (gHaveTemporary != 0) ::unlink(gTemporary);
    // Back to the default action: the faulting instruction runs again and
    // ends the process, or (raise, abort) the signal is sent again.
    ::signal(sig, SIG_DFL);
    ::raise(sig);
    errno = savedErrno;
}

template <class Each>
void forEachStopSignal(Each each) {
    for (const Named& n : kStopSignals) each(n.sig);
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) each(sig);
}

void install(int sig, void (*handler)(int), int flags) {
    struct sigaction old {};
    if (::sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) return;
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = flags;
    ::sigaction(sig, &action, nullptr);
}

}  // namespace

void catchStopSignals() {
    // No SA_RESTART: blocking calls return EINTR.
    forEachStopSignal([](int sig) { install(sig, onStopSignal, 0); });
    stack_t stack{};
    stack.ss_sp = gAltStack;
    stack.ss_size = sizeof gAltStack;
    const bool haveStack = ::sigaltstack(&stack, nullptr) == 0;
    for (const Named& n : kFaults) install(n.sig, onFault, haveStack ? SA_ONSTACK : 0);
}

int stopSignal() { return gStopSignal; }

const char* signalName(int sig) {
    for (const Named& n : kStopSignals)
        if (n.sig == sig) return n.name;
    for (const Named& n : kFaults)
        if (n.sig == sig) return n.name;
    if (sig >= SIGRTMIN && sig <= SIGRTMAX) return "a real-time signal";
    return "another signal";
}

void registerTemporaryFile(const std::string& path) {
    gHaveTemporary = 0;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    if (path.empty() || path.size() >= sizeof gTemporary) return;
    std::memcpy(gTemporary, path.c_str(), path.size() + 1);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    gHaveTemporary = 1;
}

void holdStopSignals() {
    sigset_t set;
    sigemptyset(&set);
    forEachStopSignal([&set](int sig) { sigaddset(&set, sig); });
    ::sigprocmask(SIG_BLOCK, &set, nullptr);
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
