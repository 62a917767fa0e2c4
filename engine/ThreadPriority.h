// Background work that must never compete with audio: the calling thread
// gives way to every normal thread of the process.
#pragma once

// [the thread itself] Lowers the calling thread's scheduling priority.
void lowerThisThreadsPriority() noexcept;
