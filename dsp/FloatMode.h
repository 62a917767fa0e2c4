// Flush-to-zero and denormals-are-zero for the scope of one object: the
// floating-point mode the audio path runs in, and in which the lookup
// tables are built, wherever that happens. The caller's mode comes back
// afterwards.
#pragma once

#if defined(__SSE__) || defined(_M_X64)
#include <xmmintrin.h>
#define Z5R_HAVE_MXCSR 1
#endif

class FloatModeGuard {
public:
#ifdef Z5R_HAVE_MXCSR
    FloatModeGuard() noexcept : saved(_mm_getcsr()) { _mm_setcsr(saved | kFlushToZero | kDenormalsAreZero); }
    ~FloatModeGuard() { _mm_setcsr(saved); }
    FloatModeGuard(const FloatModeGuard&) = delete;
    FloatModeGuard& operator=(const FloatModeGuard&) = delete;

private:
    static constexpr unsigned int kFlushToZero = 0x8000u;
    static constexpr unsigned int kDenormalsAreZero = 0x0040u;
    unsigned int saved;
#endif
};
