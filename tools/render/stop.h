// Signals that end a render. Every signal whose default action ends the
// process and that can be caught is caught, in two kinds:
//
// Stop signals (SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT, SIGALRM, SIGUSR1,
// SIGUSR2, SIGXFSZ, SIGXCPU, SIGVTALRM, SIGPROF, SIGIO, SIGPWR, SIGSTKFLT and
// the real-time signals): the handler only records the signal; the render
// notices it between blocks (or a blocked open or write returns early, or a
// write past the file-size limit fails), unwinds so the temporary output is
// removed, and the process then ends by that same signal, so the caller sees
// the usual status (130 for SIGINT in a shell, 141 for SIGPIPE, ...).
//
// Faults (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP, SIGSYS), which a
// plug-in may raise and after which nothing can be unwound: the handler
// removes the registered temporary file itself and lets the fault end the
// process as it would have.
#pragma once

#include <stdexcept>
#include <string>

namespace z5r {

// Catches both kinds from now on. A signal the caller set to be ignored stays
// ignored (under nohup a hang-up must not stop the render). The handler is
// installed without SA_RESTART, so a blocked open() of a FIFO or write() to a
// pipe returns EINTR and the caller can give up.
void catchStopSignals();

// The first stop signal received since catchStopSignals(), or 0.
int stopSignal();

// "SIGINT", "SIGTERM", ... ("a real-time signal", or "another signal").
const char* signalName(int sig);

// The temporary file a fault must remove, or none (an empty path). A path
// too long to keep is not registered.
void registerTemporaryFile(const std::string& path);

// Holds every stop signal back from now on: a render that has passed its
// last check for one finishes, whatever arrives after. Signals that arrive
// are never delivered; the process ends with its own status.
void holdStopSignals();

// The render was stopped by a signal.
class Stopped : public std::runtime_error {
public:
    explicit Stopped(int sig);
    int signal() const { return signal_; }

private:
    int signal_;
};

// Throws Stopped when a stop signal has arrived.
void throwIfStopped();

// Ends the process by `sig` with its default action; returns only if the
// signal does not end it, which it always does for the stop signals.
void endBySignal(int sig);

}  // namespace z5r
