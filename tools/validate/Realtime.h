// Counting what the audio thread asks of the system while it is inside
// processReplacing: memory allocation and release, and calls that can wait
// (a blocking mutex lock, condition waits, semaphores, sleeps, joins).
//
// On Linux builds without a sanitizer the validator itself defines malloc,
// free, operator new and delete and those waiting calls, counts them when
// the calling thread is marked as doing audio work, and forwards them to the
// C library; the plug-in's calls reach these definitions first. Elsewhere
// the counters are absent and available() is false.
#pragma once

#include <cstdint>
#include <string>

namespace validate::rt {

struct Counts {
    int64_t allocations = 0;  // malloc, calloc, realloc, aligned allocations, operator new
    int64_t releases = 0;     // free, operator delete
    int64_t locks = 0;        // pthread_mutex_lock, read-write locks
    int64_t waits = 0;        // condition waits, semaphores, sleeps, joins
    int64_t total() const { return allocations + releases + locks + waits; }
    std::string describe() const;
};

bool available();
// Why the counters are absent, when they are.
const char* unavailableReason();

// Marks the calling thread as doing audio work until leaveAudio.
void enterAudio();
void leaveAudio();
bool onAudioThread();

// What audio work has done since the last reset, on every thread.
Counts counts();
void reset();

}  // namespace validate::rt
