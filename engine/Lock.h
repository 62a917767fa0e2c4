// A mutual-exclusion lock with a non-blocking try: the scope ring's lock and
// the program bank's. On Windows it is a critical section; on other systems
// a plain mutex. The audio thread only ever calls tryEnter.
#pragma once

#include <cstddef>

class Lock {
public:
    Lock() noexcept;
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

    void enter() noexcept;     // [any thread but audio] waits for the lock
    bool tryEnter() noexcept;  // [any thread] never waits; true when taken
    void leave() noexcept;

private:
    // Room for the platform's lock object (a CRITICAL_SECTION is 40 bytes on
    // x64, a pthread mutex 40 on Linux x86-64), kept opaque so that no system
    // header leaks into the core.
    alignas(std::max_align_t) unsigned char storage[64];
};

// Holds a Lock for one scope, waiting for it.
class LockGuard {
public:
    explicit LockGuard(Lock& lock) noexcept : lock(lock) { lock.enter(); }
    ~LockGuard() { lock.leave(); }
    LockGuard(const LockGuard&) = delete;
    LockGuard& operator=(const LockGuard&) = delete;

private:
    Lock& lock;
};
