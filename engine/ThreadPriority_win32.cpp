#include "engine/ThreadPriority.h"

#include <windows.h>

void lowerThisThreadsPriority() noexcept { SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL); }
