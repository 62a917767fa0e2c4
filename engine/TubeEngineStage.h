// The block's loop around the triode stage, shared by the engine's two
// builds of it: the baseline (SSE2 on x86-64) and one with AVX2, where the
// oversampling filters run in 256-bit registers. Each is compiled in its own
// file with its own instruction set (TubeEngine.cpp, TubeEngineAvx2.cpp) and
// gives the same bits; the engine picks one as the library loads.
//
// Only those two files include this. Everything here either has internal
// linkage or is forced inline, so that no function compiled for AVX2 can
// stand in for its baseline twin elsewhere in the library.
#pragma once

#include "dsp/Lanes.h"
#include "engine/TubeEngine.h"

#include <type_traits>

namespace {

// Gain and level move 1 % of the way per frame while further than this from
// their target, and land on it once within: an absolute margin is large
// beside a small target (a Level of -24 dB without normalisation is about
// 0.0002), so stopping short would leave the resting level to depend on the
// way it came.
constexpr double kSmoothingThreshold = 0.0001;
constexpr double kSmoothingFactor = 0.01;

Z5R_INLINE void smoothToward(double& smoothed, double target) noexcept
{
    if (std::fabs(target - smoothed) > kSmoothingThreshold)
        smoothed += (target - smoothed) * kSmoothingFactor;
    else
        smoothed = target;
}

#ifdef Z5R_LANES_SSE2

// Two input samples as the doubles they stand for.
Z5R_INLINE Lane2 pairOf(const float& left, const float& right) noexcept
{
#ifdef __SSE4_1__
    // The right sample from memory straight into the second lane.
    return Lane2(_mm_cvtps_pd(_mm_insert_ps(_mm_load_ss(&left), _mm_load_ss(&right), 0x10)));
#else
    return Lane2(_mm_cvtps_pd(_mm_unpacklo_ps(_mm_load_ss(&left), _mm_load_ss(&right))));
#endif
}

// Level and DC blocker of both channels in two single-precision lanes: per
// lane the operations of DcBlocker::step, in its order.
class StereoOutput {
public:
    StereoOutput(const DcBlocker& filter, const DcCoefficients& c) noexcept
        : b0(_mm_set1_ps(c.b0)), b1(_mm_set1_ps(c.b1)), b2(_mm_set1_ps(c.b2)), a1(_mm_set1_ps(c.a1)),
          a2(_mm_set1_ps(c.a2)), w1(_mm_setr_ps(filter.w1[0], filter.w1[1], 0.0f, 0.0f)),
          w2(_mm_setr_ps(filter.w2[0], filter.w2[1], 0.0f, 0.0f))
    {
    }
    Z5R_INLINE void step(Lane2 y, float level, float (&out)[2]) noexcept
    {
        const __m128 x = _mm_mul_ps(_mm_cvtpd_ps(y.v), _mm_set1_ps(level));
        const __m128 w = _mm_sub_ps(_mm_sub_ps(x, _mm_mul_ps(w1, a1)), _mm_mul_ps(w2, a2));
        __m128 o = _mm_mul_ps(w, b0);
        o = _mm_add_ps(o, _mm_mul_ps(w1, b1));
        o = _mm_add_ps(o, _mm_mul_ps(w2, b2));
        w2 = w1;
        w1 = w;
        out[0] = _mm_cvtss_f32(o);
        out[1] = _mm_cvtss_f32(_mm_shuffle_ps(o, o, 1));
    }
    void storeTo(DcBlocker& filter) const noexcept
    {
        float one[4], two[4];
        _mm_storeu_ps(one, w1);
        _mm_storeu_ps(two, w2);
        filter.w1[0] = one[0], filter.w1[1] = one[1];
        filter.w2[0] = two[0], filter.w2[1] = two[1];
    }

private:
    __m128 b0, b1, b2, a1, a2, w1, w2;
};

#else

Z5R_INLINE Lane2 pairOf(const float& left, const float& right) noexcept
{
    return Lane2(static_cast<double>(left), static_cast<double>(right));
}

class StereoOutput {
public:
    StereoOutput(const DcBlocker& filter, const DcCoefficients& c) noexcept : filter(filter), c(c) {}
    void step(Lane2 y, float level, float (&out)[2]) noexcept
    {
        out[0] = filter.step(0, static_cast<float>(y.lane(0)) * level, c);
        out[1] = filter.step(1, static_cast<float>(y.lane(1)) * level, c);
    }
    void storeTo(DcBlocker& target) const noexcept { target = filter; }

private:
    DcBlocker filter;
    DcCoefficients c;
};

#endif

// The level of frame k: the target's while resting, else the ramp's, which
// the source left in a short ring (it may run a frame ahead of the sink).
template <bool Resting>
struct LevelOf {
    const float* ramp;
    float resting;
    Z5R_INLINE float operator()(int32_t k) const noexcept
    {
        if constexpr (Resting)
            return resting;
        else
            return ramp[k & 3];
    }
};

// Where the stage's frames go: level, DC blocker, scope, output. Values,
// state and all: the stage's loop keeps its copy in registers and hands it
// back after the last frame.
template <bool Resting>
struct StereoSink {
    StereoOutput output;
    LevelOf<Resting> levelAt;
    ScopeFeed* scope;
    ScopeFeed::BlockCount scopeCount;
    const float* inLeft;
    const float* inRight;
    float* outLeft;
    float* outRight;

    Z5R_INLINE void operator()(int32_t k, Lane2 y) noexcept
    {
        // The output carries the negated level: the stage inverts.
        float o[2];
        output.step(y, levelAt(k), o);
        // The scope reads the input before the output may overwrite it (a
        // host may process in place).
        if (scopeCount.due()) scope->write({inLeft[k], inRight[k], o[0], o[1]});
        outLeft[k] = o[0];
        if (outRight) outRight[k] = o[1];
    }
};

// The left channel alone; the right output lane of the DC blocker still
// runs, on silence.
template <bool Resting>
struct LeftSink {
    DcBlocker filter;
    DcCoefficients dc;
    LevelOf<Resting> levelAt;
    ScopeFeed* scope;
    ScopeFeed::BlockCount scopeCount;
    const float* inLeft;
    float* outLeft;
    float* outRight;

    Z5R_INLINE void operator()(int32_t k, Lane1 y) noexcept
    {
        const float m = levelAt(k);
        const float oL = filter.step(0, static_cast<float>(y.v) * m, dc);
        const float oR = filter.step(1, 0.0f * m, dc);
        if (scopeCount.due()) scope->write({inLeft[k], 0.0f, oL, oR});
        outLeft[k] = oL;
        if (outRight) outRight[k] = oR;
    }
};

}  // namespace

template <bool Avx2>
void TubeEngine::runStage(const float* inLeft, const float* inRight, float* outLeft, float* outRight,
                          int32_t frames) noexcept
{
#ifdef __AVX2__
    static_assert(Avx2, "the AVX2 build of the stage is compiled with AVX2");
#else
    static_assert(!Avx2, "the baseline build of the stage is compiled without AVX2");
#endif
    // Gain and level ramps on the way in, level, DC blocker, output and scope
    // on the way out, all in one loop with the stage. The stage may ask for
    // the next frame's input before it hands over this frame's output: the
    // level of each frame waits in a short ring.
    double gain = gainSmoothed;
    double levelNow = levelSmoothed;
    const double toGain = gainTarget;
    const double toLevel = levelTarget;
    ScopeFeed& scope = scopeFeed;
    ScopeFeed::BlockCount scopeCount = scope.beginBlock();
    const DcCoefficients dc = dcBlocker.coefficients();

    // Most blocks start with gain and level on their targets, where the
    // ramps would only set each to its target again at every frame: such a
    // block runs without them, the same numbers with less work beside the
    // stage's steps.
    auto runBlock = [&](auto resting) Z5R_INLINE_LAMBDA {
        constexpr bool kResting = decltype(resting)::value;
        float levels[4] = {};
        const float restingLevel = static_cast<float>(-toLevel);
        // Gain and level move by the frame. The source takes a copy of this
        // (the targets, and where the moving values and the levels live).
        auto ramps = [gain = &gain, levelNow = &levelNow, levels = &levels[0], toGain, toLevel](
                         int32_t k) Z5R_INLINE_LAMBDA {
            if constexpr (kResting) return toGain;
            smoothToward(*gain, toGain);
            smoothToward(*levelNow, toLevel);
            levels[k & 3] = static_cast<float>(-*levelNow);
            return *gain;
        };

        const LevelOf<kResting> levelAt{levels, restingLevel};
        if (inRight) {
            // Both channels side by side, in and out.
            auto source = [ramps, inLeft, inRight](int32_t k) Z5R_INLINE_LAMBDA {
                const double g = ramps(k);
                return pairOf(inLeft[k], inRight[k]) * Lane2(g);
            };
            const auto done = dsp.processStereo(frames, source,
                                                StereoSink<kResting>{StereoOutput(dcBlocker, dc), levelAt, &scope,
                                                                     scopeCount, inLeft, inRight, outLeft, outRight});
            done.output.storeTo(dcBlocker);
            scopeCount = done.scopeCount;
        } else {
            auto source = [ramps, inLeft](int32_t k) Z5R_INLINE_LAMBDA {
                const double g = ramps(k);
                return Lane2(static_cast<double>(inLeft[k]) * g, 0.0);
            };
            const auto done = dsp.processLeft(
                frames, source,
                LeftSink<kResting>{dcBlocker, dc, levelAt, &scope, scopeCount, inLeft, outLeft, outRight});
            dcBlocker = done.filter;
            scopeCount = done.scopeCount;
        }
    };
    // Exactly on both targets: the ramps have landed (or never moved).
    if (gain == toGain && levelNow == toLevel)
        runBlock(std::true_type{});
    else
        runBlock(std::false_type{});
    scope.endBlock(scopeCount);
    gainSmoothed = gain;
    levelSmoothed = levelNow;
}
