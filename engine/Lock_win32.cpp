#include "engine/Lock.h"

#include <new>
#include <windows.h>

static_assert(sizeof(CRITICAL_SECTION) <= 64);

static CRITICAL_SECTION* sectionIn(unsigned char* storage) noexcept
{
    return std::launder(reinterpret_cast<CRITICAL_SECTION*>(storage));
}

Lock::Lock() noexcept
{
    InitializeCriticalSection(new (storage) CRITICAL_SECTION);
}

Lock::~Lock()
{
    DeleteCriticalSection(sectionIn(storage));
}

void Lock::enter() noexcept { EnterCriticalSection(sectionIn(storage)); }
bool Lock::tryEnter() noexcept { return TryEnterCriticalSection(sectionIn(storage)) != 0; }
void Lock::leave() noexcept { LeaveCriticalSection(sectionIn(storage)); }
