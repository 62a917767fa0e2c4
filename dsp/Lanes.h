// One piece of audio code for one channel or for both at once: `Lane1` is a
// plain double, `Lane2` holds the left and right channel side by side (two
// SSE2 lanes on x86-64). Every operation is the IEEE operation of each lane
// alone, so both give exactly the bits of the scalar code, and no operation
// is fused or reordered.
//
// Channel data lives in pairs, `double[2]` = {left, right}; Lane1 code
// reads and writes one element of each pair, Lane2 code both.
#pragma once

#include <cstdint>

// The per-sample path is a handful of small functions that must melt into
// one loop; the compiler is told so rather than trusted to guess.
// Loops over taps and sections unroll fully, so that their sums and
// states stay in registers.
#if defined(__GNUC__)
#define Z5R_INLINE [[gnu::always_inline]] inline
#define Z5R_INLINE_LAMBDA __attribute__((always_inline))
#define Z5R_UNROLL _Pragma("GCC unroll 32")
#define Z5R_UNLIKELY(condition) __builtin_expect(!!(condition), 0)
#else
#define Z5R_INLINE inline
#define Z5R_INLINE_LAMBDA
#define Z5R_UNROLL
#define Z5R_UNLIKELY(condition) (condition)
#endif

// The same pointer, but the compiler no longer knows what it points to: its
// loads stay where the code reads them (one memory operand each) instead of
// being hoisted out of the loop into registers, which the per-sample path
// needs for the values it carries from step to step.
template <class T>
Z5R_INLINE T* opaque(T* pointer) noexcept
{
#if defined(__GNUC__)
    asm volatile("" : "+r"(pointer));
#endif
    return pointer;
}

// Has the compiler finish `value` in a register here, in program order
// with every other such point: the work that feeds it cannot sink below,
// nor the work that reads it rise above. The per-sample path uses it to
// keep the pieces it spreads between the stage's steps where it put them.
template <class T>
Z5R_INLINE void settle(T& value) noexcept
{
#if defined(__GNUC__) && (defined(__SSE2__) || defined(_M_X64)) && !defined(Z5R_SCALAR_PAIRS)
    asm volatile("" : "+x"(value.v));
#else
    (void)value;
#endif
}

#ifdef __AVX2__
#include <immintrin.h>
// The same for a 256-bit register.
Z5R_INLINE void settleWide(__m256d& value) noexcept { asm volatile("" : "+x"(value)); }
#endif

#if (defined(__SSE2__) || defined(_M_X64)) && !defined(Z5R_SCALAR_PAIRS)
#include <emmintrin.h>
#define Z5R_LANES_SSE2 1
#endif

struct Lane1 {
    static constexpr int32_t kCount = 1;
    double v;

    Lane1() = default;
    explicit Lane1(double value) : v(value) {}
    static Lane1 load(const double* pair, int32_t lane) { return Lane1(pair[lane]); }
    // The same from a pair on a 16-byte boundary.
    static Lane1 loadAligned(const double* pair, int32_t lane) { return Lane1(pair[lane]); }
    void store(double* pair, int32_t lane) const { pair[lane] = v; }
    double lane(int32_t) const { return v; }

    friend Lane1 operator+(Lane1 a, Lane1 b) { return Lane1(a.v + b.v); }
    friend Lane1 operator-(Lane1 a, Lane1 b) { return Lane1(a.v - b.v); }
    friend Lane1 operator*(Lane1 a, Lane1 b) { return Lane1(a.v * b.v); }
    Lane1& operator+=(Lane1 b) { return *this = *this + b; }
};

#ifdef Z5R_LANES_SSE2

struct Lane2 {
    static constexpr int32_t kCount = 2;
    __m128d v;

    Lane2() = default;
    explicit Lane2(double value) : v(_mm_set1_pd(value)) {}
    explicit Lane2(__m128d value) : v(value) {}
    Lane2(double left, double right) : v(_mm_set_pd(right, left)) {}
    static Lane2 load(const double* pair, int32_t) { return Lane2(_mm_loadu_pd(pair)); }
    // The same from a pair on a 16-byte boundary: it can then be the memory
    // operand of the operation that reads it.
    static Lane2 loadAligned(const double* pair, int32_t) { return Lane2(_mm_load_pd(pair)); }
    void store(double* pair, int32_t) const { _mm_storeu_pd(pair, v); }
    double lane(int32_t i) const { return i == 0 ? _mm_cvtsd_f64(v) : _mm_cvtsd_f64(_mm_unpackhi_pd(v, v)); }

    friend Lane2 operator+(Lane2 a, Lane2 b) { return Lane2(_mm_add_pd(a.v, b.v)); }
    friend Lane2 operator-(Lane2 a, Lane2 b) { return Lane2(_mm_sub_pd(a.v, b.v)); }
    friend Lane2 operator*(Lane2 a, Lane2 b) { return Lane2(_mm_mul_pd(a.v, b.v)); }
    Lane2& operator+=(Lane2 b) { return *this = *this + b; }
};

#else

// Elsewhere, two plain doubles: the same bits, without the speed.
struct Lane2 {
    static constexpr int32_t kCount = 2;
    double v[2];

    Lane2() = default;
    explicit Lane2(double value) : v{value, value} {}
    Lane2(double left, double right) : v{left, right} {}
    static Lane2 load(const double* pair, int32_t) { return Lane2(pair[0], pair[1]); }
    static Lane2 loadAligned(const double* pair, int32_t lane) { return load(pair, lane); }
    void store(double* pair, int32_t) const { pair[0] = v[0], pair[1] = v[1]; }
    double lane(int32_t i) const { return v[i]; }

    friend Lane2 operator+(Lane2 a, Lane2 b) { return Lane2(a.v[0] + b.v[0], a.v[1] + b.v[1]); }
    friend Lane2 operator-(Lane2 a, Lane2 b) { return Lane2(a.v[0] - b.v[0], a.v[1] - b.v[1]); }
    friend Lane2 operator*(Lane2 a, Lane2 b) { return Lane2(a.v[0] * b.v[0], a.v[1] * b.v[1]); }
    Lane2& operator+=(Lane2 b) { return *this = *this + b; }
};

#endif
