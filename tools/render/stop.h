// Stop signals: SIGINT, SIGTERM, SIGHUP and SIGPIPE end a render the same way.
// The handler only records the signal; the render notices it between blocks
// (or a blocked open or write returns early), unwinds so the temporary output
// is removed, and the process then ends by that same signal, so the caller
// sees the usual status (130 for SIGINT in a shell, 141 for SIGPIPE, ...).
#pragma once

#include <stdexcept>

namespace z5r {

// Records each stop signal from now on. A signal the caller set to be ignored
// stays ignored (under nohup a hang-up must not stop the render). The handler
// is installed without SA_RESTART, so a blocked open() of a FIFO or write() to a
// pipe returns EINTR and the caller can give up.
void catchStopSignals();

// The first stop signal received since catchStopSignals(), or 0.
int stopSignal();

// "SIGINT", "SIGTERM", "SIGHUP" or "SIGPIPE" ("another signal" otherwise).
const char* signalName(int sig);

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
// signal does not end it, which it always does for the four stop signals.
void endBySignal(int sig);

}  // namespace z5r
