#include "engine/ThreadPriority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {
// Ten steps nicer than the process: behind the host's threads, still ahead
// of idle work, so that a loaded machine finishes the sets in time.
constexpr int kNicer = 10;
}  // namespace

void lowerThisThreadsPriority() noexcept
{
#ifdef SYS_gettid
    // On Linux a thread's nice value is its own, set through its id.
    const auto thread = static_cast<id_t>(syscall(SYS_gettid));
    setpriority(PRIO_PROCESS, thread, getpriority(PRIO_PROCESS, thread) + kNicer);
#endif
}
