// The process's one background table builder: a low-priority thread that
// makes every set the rates in use still lack (dsp/TriodeTables.h), sets an
// instance asked for first. It starts when a rate comes into use, stops by
// itself when nothing is left to make, and is joined when the last engine
// of the process goes, on the host's thread, never while the library is
// being unloaded: on Windows the loader's lock is held then, and a thread
// that is ending needs it too. With no engine left, no thread of ours runs
// and no code of the library is on any stack, so unloading is safe.
#pragma once

#include "dsp/TriodeCircuit.h"

namespace tableBuilder {

// [any thread but the audio thread] Starts the builder unless it runs. A
// builder that cannot be started leaves sets to `tableCache::make`.
void wake() noexcept;

// [any thread but the audio thread] Waits until no rate in use lacks a set
// (for tests, benchmarks and offline hosts that want every setting at once).
void waitUntilIdle() noexcept;

// [never a real-time audio thread] Asks for the set of `stage` first and
// waits until it is ready (a millisecond or so); made here when no builder
// runs. The caller holds a use of its rate. For a host that shows its
// settings only after set-up (offline hosts do), at its first block.
void waitFor(const StageSettings& stage) noexcept;

// [UI thread] An engine came or went. When the last goes, a running
// builder finishes the set in hand and is joined.
void engineOpened() noexcept;
void engineClosed() noexcept;

// [any thread] Whether the builder thread is running now.
bool isRunning() noexcept;

// [any thread but the audio thread] While one lives, the builder starts no
// set (the one in hand is finished): how a test or a benchmark sees an
// engine before its sets are ready. Its end wakes the builder.
class Pause {
public:
    Pause() noexcept;
    ~Pause();
    Pause(const Pause&) = delete;
    Pause& operator=(const Pause&) = delete;
};

}  // namespace tableBuilder
