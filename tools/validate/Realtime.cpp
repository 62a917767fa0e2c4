#include "Realtime.h"

#include "Harness.h"

#include <atomic>

namespace validate::rt {

namespace {

// Trivially initialised, so reading it never runs code or allocates.
thread_local bool audioWork = false;

std::atomic<int64_t> allocationCount{0};
std::atomic<int64_t> releaseCount{0};
std::atomic<int64_t> lockCount{0};
std::atomic<int64_t> waitCount{0};

}  // namespace

std::string Counts::describe() const
{
    return format("%lld allocations, %lld releases, %lld blocking locks, %lld waits", static_cast<long long>(allocations),
                  static_cast<long long>(releases), static_cast<long long>(locks), static_cast<long long>(waits));
}

void enterAudio() { audioWork = true; }
void leaveAudio() { audioWork = false; }
bool onAudioThread() { return audioWork; }

Counts counts()
{
    Counts c;
    c.allocations = allocationCount.load();
    c.releases = releaseCount.load();
    c.locks = lockCount.load();
    c.waits = waitCount.load();
    return c;
}

void reset()
{
    allocationCount = 0;
    releaseCount = 0;
    lockCount = 0;
    waitCount = 0;
}

#if defined(VALIDATE_REALTIME_HOOKS)
bool available() { return true; }
const char* unavailableReason() { return ""; }

// Called by the definitions below.
inline void countAllocation()
{
    if (audioWork) allocationCount.fetch_add(1, std::memory_order_relaxed);
}
inline void countRelease()
{
    if (audioWork) releaseCount.fetch_add(1, std::memory_order_relaxed);
}
inline void countLock()
{
    if (audioWork) lockCount.fetch_add(1, std::memory_order_relaxed);
}
inline void countWait()
{
    if (audioWork) waitCount.fetch_add(1, std::memory_order_relaxed);
}
#else
bool available() { return false; }
const char* unavailableReason()
{
#if defined(_WIN32)
    return "the allocation and lock counters exist only in the Linux build";
#else
    return "the allocation and lock counters are left out of sanitizer builds (the sanitizer owns malloc)";
#endif
}
#endif

}  // namespace validate::rt

#if defined(VALIDATE_REALTIME_HOOKS)
// --- The definitions that take the plug-in's calls (glibc) ---

#include <dlfcn.h>
#include <new>
#include <pthread.h>
#include <semaphore.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

using validate::rt::countAllocation;
using validate::rt::countLock;
using validate::rt::countRelease;
using validate::rt::countWait;

extern "C" {
void* __libc_malloc(size_t size);
void __libc_free(void* p);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* p, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
}

namespace {

// The C library's own function of the same name, found once.
template <typename F>
F nextDefinition(std::atomic<F>& slot, const char* name)
{
    F f = slot.load(std::memory_order_acquire);
    if (!f) {
        f = reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
        slot.store(f, std::memory_order_release);
    }
    return f;
}

using MutexLock = int (*)(pthread_mutex_t*);
using RwLock = int (*)(pthread_rwlock_t*);
using CondWait = int (*)(pthread_cond_t*, pthread_mutex_t*);
using CondTimedWait = int (*)(pthread_cond_t*, pthread_mutex_t*, const struct timespec*);
using SemWait = int (*)(sem_t*);
using NanoSleep = int (*)(const struct timespec*, struct timespec*);
using ClockNanoSleep = int (*)(clockid_t, int, const struct timespec*, struct timespec*);
using USleep = int (*)(useconds_t);
using Sleep = unsigned (*)(unsigned);
using Join = int (*)(pthread_t, void**);

std::atomic<MutexLock> realMutexLock{nullptr};
std::atomic<RwLock> realRdLock{nullptr};
std::atomic<RwLock> realWrLock{nullptr};
std::atomic<CondWait> realCondWait{nullptr};
std::atomic<CondTimedWait> realCondTimedWait{nullptr};
std::atomic<SemWait> realSemWait{nullptr};
std::atomic<NanoSleep> realNanoSleep{nullptr};
std::atomic<ClockNanoSleep> realClockNanoSleep{nullptr};
std::atomic<USleep> realUSleep{nullptr};
std::atomic<Sleep> realSleep{nullptr};
std::atomic<Join> realJoin{nullptr};

// Resolve before any thread starts.
__attribute__((constructor)) void resolveDefinitions()
{
    nextDefinition(realMutexLock, "pthread_mutex_lock");
    nextDefinition(realRdLock, "pthread_rwlock_rdlock");
    nextDefinition(realWrLock, "pthread_rwlock_wrlock");
    nextDefinition(realCondWait, "pthread_cond_wait");
    nextDefinition(realCondTimedWait, "pthread_cond_timedwait");
    nextDefinition(realSemWait, "sem_wait");
    nextDefinition(realNanoSleep, "nanosleep");
    nextDefinition(realClockNanoSleep, "clock_nanosleep");
    nextDefinition(realUSleep, "usleep");
    nextDefinition(realSleep, "sleep");
    nextDefinition(realJoin, "pthread_join");
}

void* allocateAligned(size_t alignment, size_t size)
{
    countAllocation();
    return __libc_memalign(alignment, size);
}

}  // namespace

extern "C" {

void* malloc(size_t size)
{
    countAllocation();
    return __libc_malloc(size);
}

void free(void* p)
{
    countRelease();
    __libc_free(p);
}

void* calloc(size_t count, size_t size)
{
    countAllocation();
    return __libc_calloc(count, size);
}

void* realloc(void* p, size_t size)
{
    countAllocation();
    return __libc_realloc(p, size);
}

void* memalign(size_t alignment, size_t size) { return allocateAligned(alignment, size); }

void* aligned_alloc(size_t alignment, size_t size) { return allocateAligned(alignment, size); }

void* valloc(size_t size) { return allocateAligned(static_cast<size_t>(sysconf(_SC_PAGESIZE)), size); }

void* pvalloc(size_t size)
{
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    return allocateAligned(page, (size + page - 1) / page * page);
}

int posix_memalign(void** out, size_t alignment, size_t size)
{
    if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) return EINVAL;
    void* p = allocateAligned(alignment, size);
    if (!p && size) return ENOMEM;
    *out = p;
    return 0;
}

int pthread_mutex_lock(pthread_mutex_t* mutex)
{
    countLock();
    return nextDefinition(realMutexLock, "pthread_mutex_lock")(mutex);
}

int pthread_rwlock_rdlock(pthread_rwlock_t* lock)
{
    countLock();
    return nextDefinition(realRdLock, "pthread_rwlock_rdlock")(lock);
}

int pthread_rwlock_wrlock(pthread_rwlock_t* lock)
{
    countLock();
    return nextDefinition(realWrLock, "pthread_rwlock_wrlock")(lock);
}

int pthread_cond_wait(pthread_cond_t* cond, pthread_mutex_t* mutex)
{
    countWait();
    return nextDefinition(realCondWait, "pthread_cond_wait")(cond, mutex);
}

int pthread_cond_timedwait(pthread_cond_t* cond, pthread_mutex_t* mutex, const struct timespec* until)
{
    countWait();
    return nextDefinition(realCondTimedWait, "pthread_cond_timedwait")(cond, mutex, until);
}

int sem_wait(sem_t* sem)
{
    countWait();
    return nextDefinition(realSemWait, "sem_wait")(sem);
}

int nanosleep(const struct timespec* duration, struct timespec* remaining)
{
    countWait();
    return nextDefinition(realNanoSleep, "nanosleep")(duration, remaining);
}

int clock_nanosleep(clockid_t clock, int flags, const struct timespec* duration, struct timespec* remaining)
{
    countWait();
    return nextDefinition(realClockNanoSleep, "clock_nanosleep")(clock, flags, duration, remaining);
}

int usleep(useconds_t microseconds)
{
    countWait();
    return nextDefinition(realUSleep, "usleep")(microseconds);
}

unsigned sleep(unsigned seconds)
{
    countWait();
    return nextDefinition(realSleep, "sleep")(seconds);
}

int pthread_join(pthread_t thread, void** result)
{
    countWait();
    return nextDefinition(realJoin, "pthread_join")(thread, result);
}

}  // extern "C"

// --- operator new and delete, every form ---

namespace {

void* allocateOrThrow(size_t size)
{
    countAllocation();
    void* p = __libc_malloc(size ? size : 1);
    if (!p) throw std::bad_alloc();
    return p;
}

void* allocateAlignedOrThrow(size_t size, std::align_val_t alignment)
{
    countAllocation();
    void* p = __libc_memalign(static_cast<size_t>(alignment), size ? size : 1);
    if (!p) throw std::bad_alloc();
    return p;
}

void release(void* p) noexcept
{
    countRelease();
    __libc_free(p);
}

}  // namespace

void* operator new(size_t size) { return allocateOrThrow(size); }
void* operator new[](size_t size) { return allocateOrThrow(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept
{
    countAllocation();
    return __libc_malloc(size ? size : 1);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept
{
    countAllocation();
    return __libc_malloc(size ? size : 1);
}
void* operator new(size_t size, std::align_val_t alignment) { return allocateAlignedOrThrow(size, alignment); }
void* operator new[](size_t size, std::align_val_t alignment) { return allocateAlignedOrThrow(size, alignment); }
void* operator new(size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept
{
    countAllocation();
    return __libc_memalign(static_cast<size_t>(alignment), size ? size : 1);
}
void* operator new[](size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept
{
    countAllocation();
    return __libc_memalign(static_cast<size_t>(alignment), size ? size : 1);
}

void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, size_t) noexcept { release(p); }
void operator delete[](void* p, size_t) noexcept { release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete(void* p, std::align_val_t) noexcept { release(p); }
void operator delete[](void* p, std::align_val_t) noexcept { release(p); }
void operator delete(void* p, size_t, std::align_val_t) noexcept { release(p); }
void operator delete[](void* p, size_t, std::align_val_t) noexcept { release(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { release(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { release(p); }

#endif  // VALIDATE_REALTIME_HOOKS
