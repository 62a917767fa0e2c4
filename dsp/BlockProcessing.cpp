// The effect's audio path, run by the host's audio thread block after block:
// take over parameter changes without waiting, then per frame smooth gain
// and level, run each channel through the triode stage, scale by the
// negated level (the stage inverts), block DC, and feed the editor's scope.
// Never waits, allocates or calls the system; re-preparing the processor
// after a changed setting is the one expensive step.
#include "plugin/EditorBase.h"
#include "plugin/TubeEffect.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE__) || defined(_M_X64)
#include <xmmintrin.h>
#define Z5R_HAVE_MXCSR 1
#endif

namespace {

// Gain and level move 1 % of the way per frame while further than this.
constexpr double kSmoothingThreshold = 0.0001;
constexpr double kSmoothingFactor = 0.01;
// Without normalisation the output sits 50 dB below the Level setting.
constexpr double kUnnormalizedLevel = 0.0031622776601683794;

double decibelsToLinear(float decibels) noexcept { return std::pow(10.0, static_cast<double>(decibels) * 0.05); }

// Gain and level act on the documented 0 to 1 range: a value beyond it (or
// not a number) would otherwise give an infinite or NaN factor that the
// smoothing could never leave again.
float continuousValue(float value) noexcept { return value >= 0.0f ? std::min(value, 1.0f) : 0.0f; }

void smoothToward(double& smoothed, double target) noexcept
{
    if (std::fabs(target - smoothed) > kSmoothingThreshold) smoothed += (target - smoothed) * kSmoothingFactor;
}

// Flushes subnormal floats to zero for the duration of a block, and puts the
// host's setting back afterwards.
class DenormalGuard {
public:
#ifdef Z5R_HAVE_MXCSR
    DenormalGuard() noexcept : saved(_mm_getcsr()) { _mm_setcsr(saved | 0x8040u); }  // FTZ | DAZ
    ~DenormalGuard() { _mm_setcsr(saved); }

private:
    unsigned int saved;
#endif
};

}  // namespace

float DcBlocker::step(int32_t lane, float x) noexcept
{
    const float w = (x - w1[lane] * static_cast<float>(a1)) - w2[lane] * static_cast<float>(a2);
    float y = w * static_cast<float>(b0);
    y += w1[lane] * static_cast<float>(b1);
    y += w2[lane] * static_cast<float>(b2);
    w2[lane] = w1[lane];
    w1[lane] = w;
    return y;
}

void TubeEffect::applyParameterChanges() noexcept
{
    if (!paramLock.tryEnter()) return;  // busy: the bits wait for a later block
    const int32_t mask = changeMask;
    if (mask <= 0) {
        paramLock.leave();
        return;
    }
    float values[kNumParams];
    std::copy(paramValues, paramValues + kNumParams, values);
    changeMask = 0;
    paramLock.leave();

    auto changed = [mask](int32_t index) { return (mask & (1 << index)) != 0; };
    bool reprepare = false;

    if (changed(kParamVoltage)) {
        const double volts = kSupplyVoltages[tableIndex(values[kParamVoltage])];
        if (volts != dsp.supplyVoltage) {
            dsp.setSupplyVoltage(volts);
            reprepare = true;
        }
    }
    if (changed(kParamCap)) {
        const double farads = kCathodeCaps[tableIndex(values[kParamCap])];
        if (farads != dsp.cathodeCapacitor) {
            dsp.setCathodeCapacitor(farads);
            reprepare = true;
        }
    }
    if (changed(kParamOversample)) {
        // Also how a new host sample rate reaches the processor.
        const int32_t factor = switchIsOn(values[kParamOversample]) ? kOversampling : 1;
        dsp.setOversampling(factor);
        dsp.setSampleRate(static_cast<double>(sampleRate));
        setInitialDelay(factor / 2);
        reprepare = true;
    }
    if (changed(kParamGain)) gainTarget = decibelsToLinear(gainDecibels(continuousValue(values[kParamGain])));
    const bool levelChanged = changed(kParamLevel) || changed(kParamNormalize);
    if (changed(kParamTriode)) {
        const int32_t triode = tableIndex(values[kParamTriode]);
        if (triode != dsp.getTriodeIndex()) {
            dsp.setTriodeIndex(triode);
            reprepare = true;
        }
    }
    if (reprepare) {
        dsp.prepare();
        dsp.resetCathodes();
    }
    if (reprepare || levelChanged) {
        // The normalised level reads the new tables.
        double level = decibelsToLinear(levelDecibels(continuousValue(values[kParamLevel])));
        if (switchIsOn(values[kParamNormalize]))
            level /= dsp.outputSwing() + 1.0;
        else
            level *= kUnnormalizedLevel;
        levelTarget = level;
    }
}

void TubeEffect::writeScopePoint(const ScopePoint& point) noexcept
{
    if (!editor) return;
    ScopePoint* ring = editor->tryLockScopeRing();
    if (!ring) return;  // busy: the point is dropped
    const uint32_t index = scopeWriteIndex.load(std::memory_order_relaxed) % kScopeRingSize;
    ring[index] = point;
    scopeWriteIndex.store((index + 1) % kScopeRingSize, std::memory_order_relaxed);
    editor->unlockScopeRing();
}

void TubeEffect::processReplacing(float** inputs, float** outputs, int32_t sampleFrames)
{
    if (!inputs || !outputs || !inputs[0] || !outputs[0]) return;
    const DenormalGuard flushDenormals;

    const bool stereo = getChannelCount() == 2;
    const float* inLeft = inputs[0];
    const float* inRight = stereo ? inputs[1] : nullptr;
    float* outLeft = outputs[0];
    float* outRight = stereo ? outputs[1] : nullptr;

    applyParameterChanges();

    // Every frame the host hands over is processed, even past the announced
    // block size: nothing here is sized per block, and a tail left untouched
    // would leave stale audio in the host's buffer.
    for (int32_t k = 0; k < sampleFrames; ++k) {
        smoothToward(gainSmoothed, gainTarget);
        smoothToward(levelSmoothed, levelTarget);

        const float xL = inLeft[k];
        float yL = static_cast<float>(dsp.processSample(0, static_cast<double>(xL) * gainSmoothed));
        float xR = 0.0f;
        float yR = 0.0f;
        if (inRight) {
            xR = inRight[k];
            yR = static_cast<float>(dsp.processSample(1, static_cast<double>(xR) * gainSmoothed));
        }

        const float m = static_cast<float>(-levelSmoothed);
        yL *= m;
        yR *= m;
        const float oL = dcBlocker.step(0, yL);
        const float oR = dcBlocker.step(1, yR);
        outLeft[k] = oL;
        if (outRight) outRight[k] = oR;

        const uint32_t counter = scopeCounter.load(std::memory_order_relaxed) + 1;
        if (counter > scopeDecimation.load(std::memory_order_relaxed)) {
            writeScopePoint({xL, xR, oL, oR});
            scopeCounter.store(0, std::memory_order_relaxed);
        } else {
            scopeCounter.store(counter, std::memory_order_relaxed);
        }
    }
}
