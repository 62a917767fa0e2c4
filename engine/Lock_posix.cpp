#include "engine/Lock.h"

#include <new>
#include <pthread.h>

static_assert(sizeof(pthread_mutex_t) <= 64);

static pthread_mutex_t* mutexIn(unsigned char* storage) noexcept
{
    return std::launder(reinterpret_cast<pthread_mutex_t*>(storage));
}

Lock::Lock() noexcept
{
    pthread_mutex_init(new (storage) pthread_mutex_t, nullptr);
}

Lock::~Lock()
{
    pthread_mutex_destroy(mutexIn(storage));
}

void Lock::enter() noexcept { pthread_mutex_lock(mutexIn(storage)); }
bool Lock::tryEnter() noexcept { return pthread_mutex_trylock(mutexIn(storage)) == 0; }
void Lock::leave() noexcept { pthread_mutex_unlock(mutexIn(storage)); }
