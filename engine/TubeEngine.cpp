// The block driver: take over parameter changes without waiting, then per
// frame smooth gain and level, run each channel through the triode stage,
// scale by the negated level (the stage inverts), block DC, and feed the
// scope. Never waits, allocates or calls the system.
#include "engine/TubeEngine.h"

#include "dsp/FloatMode.h"
#include "engine/TableBuilder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <type_traits>

namespace {

// Gain and level move 1 % of the way per frame while further than this from
// their target, and land on it once within: an absolute margin is large
// beside a small target (a Level of -24 dB without normalisation is about
// 0.0002), so stopping short would leave the resting level to depend on the
// way it came.
constexpr double kSmoothingThreshold = 0.0001;
constexpr double kSmoothingFactor = 0.01;
// Without normalisation the output sits 50 dB below the Level setting.
constexpr double kUnnormalizedLevel = 0.0031622776601683794;
// The DC blocker's corner is kDcCorner / pi, about 1.54 Hz.
constexpr double kDcCorner = 4.835589941972921;
constexpr uint32_t kAllChanges = (1u << kNumParams) - 1;

double decibelsToLinear(float decibels) noexcept { return std::pow(10.0, static_cast<double>(decibels) * 0.05); }

// Gain and level act on the documented 0 to 1 range: a value beyond it (or
// not a number) would otherwise give an infinite or NaN factor that the
// smoothing could never leave again.
float continuousValue(float value) noexcept { return value >= 0.0f ? std::min(value, 1.0f) : 0.0f; }

// The pass-through's input: a sample that is not a finite number counts as
// silence, as in the stage, and nothing louder than 60 dB over full scale
// passes in or out, so that no input at any level comes out louder than
// that (the stage's own output stays far below it).
constexpr float kPassThroughLimit = 1000.0f;
float boundedSample(float x) noexcept
{
    return std::isfinite(x) ? std::clamp(x, -kPassThroughLimit, kPassThroughLimit) : 0.0f;
}

void smoothToward(double& smoothed, double target) noexcept
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
    return Lane2(_mm_cvtps_pd(_mm_unpacklo_ps(_mm_load_ss(&left), _mm_load_ss(&right))));
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

Lane2 pairOf(const float& left, const float& right) noexcept
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

}  // namespace

DcBlocker DcBlocker::forRate(double fs) noexcept
{
    const double c = 1.0 / (fs + kDcCorner);
    DcBlocker filter;
    filter.b0 = fs * c;
    filter.b1 = -fs * c;
    filter.b2 = 0.0;
    filter.a1 = (kDcCorner - fs) * c;
    filter.a2 = 0.0;
    return filter;
}

TubeEngine::TubeEngine() : dcBlocker(DcBlocker::forRate(kDefaultSampleRate))
{
    for (int32_t i = 0; i < kNumParams; ++i) values[i].store(kFactoryPrograms[0].values[i]);
    pending.store(kAllChanges);
    wanted.sampleRate = kDefaultSampleRate;
    tableBuilder::engineOpened();
    rateUse.store(tableCache::acquire(kDefaultSampleRate));
    tableBuilder::wake();
}

TubeEngine::~TubeEngine()
{
    tableCache::release(tablesUse);
    tableCache::release(rateUse.exchange(-1));
    tableBuilder::engineClosed();
}

void TubeEngine::setParameter(int32_t index, float value) noexcept
{
    if (!isParameterIndex(index)) return;
    values[index].store(value);
    pending.fetch_or(1u << index);
}

float TubeEngine::getParameter(int32_t index) const noexcept
{
    return isParameterIndex(index) ? values[index].load() : 0.0f;
}

void TubeEngine::setParameters(const float (&newValues)[kNumParams]) noexcept
{
    wholeWriters.fetch_add(1);
    wholeGeneration.fetch_add(1);
    for (int32_t i = 0; i < kNumParams; ++i) values[i].store(newValues[i]);
    pending.fetch_or(kAllChanges);
    wholeWriters.fetch_sub(1);
}

bool TubeEngine::setSampleRate(float rate) noexcept
{
    if (!(rate >= kMinSampleRate && rate <= kMaxSampleRate)) return false;
    if (sampleRate.load() == rate) return true;
    // The new rate is in use before the audio thread can see it.
    tableCache::release(rateUse.exchange(tableCache::acquire(static_cast<double>(rate))));
    if (sampleRate.exchange(rate) == rate) return true;
    scopeFeed.rateChanged(rate);
    // The audio thread hands the new rate to the stage and the DC blocker.
    pending.fetch_or(1u << kParamOversample);
    tableBuilder::wake();
    return true;
}

StageSettings TubeEngine::storedSettings() const noexcept
{
    StageSettings now;
    now.sampleRate = static_cast<double>(getSampleRate());
    now.oversampling = switchIsOn(getParameter(kParamOversample)) ? kOversampling : 1;
    now.triode = choiceEntry(kParamTriode, getParameter(kParamTriode));
    now.supplyVoltage = kSupplyVoltages[choiceEntry(kParamVoltage, getParameter(kParamVoltage))];
    now.cathodeCapacitor = kCathodeCaps[choiceEntry(kParamCap, getParameter(kParamCap))];
    return now;
}

void TubeEngine::prepareTables()
{
    tableCache::make(storedSettings());
    tableBuilder::wake();
}

void TubeEngine::waitForTables() noexcept { tableBuilder::waitFor(storedSettings()); }

bool TubeEngine::takeChanges(float (&copy)[kNumParams], uint32_t& mask) noexcept
{
    // All sequentially consistent: a whole-program write that overlaps the
    // copy in any way shows in the writer count or the generation.
    const uint32_t generation = wholeGeneration.load();
    if (wholeWriters.load() != 0) return false;
    mask = pending.exchange(0);
    if (mask == 0) return false;
    for (int32_t i = 0; i < kNumParams; ++i) copy[i] = values[i].load();
    if (wholeWriters.load() != 0 || wholeGeneration.load() != generation) {
        pending.fetch_or(mask);  // a program is landing: next block
        return false;
    }
    return true;
}

void TubeEngine::applyChanges() noexcept
{
    float v[kNumParams];
    uint32_t mask = 0;
    bool reprepare = false;
    bool levelChanged = false;
    if (takeChanges(v, mask)) {
        auto changed = [mask](int32_t index) { return (mask & (1u << index)) != 0; };
        if (changed(kParamVoltage)) wanted.supplyVoltage = kSupplyVoltages[choiceEntry(kParamVoltage, v[kParamVoltage])];
        if (changed(kParamCap)) wanted.cathodeCapacitor = kCathodeCaps[choiceEntry(kParamCap, v[kParamCap])];
        if (changed(kParamOversample)) {
            // Also how a new host rate reaches the stage. Only a real change
            // of factor or rate re-prepares: a host re-sending its automation
            // before every block leaves the stage alone.
            wanted.oversampling = switchIsOn(v[kParamOversample]) ? kOversampling : 1;
            wanted.sampleRate = static_cast<double>(getSampleRate());
        }
        if (changed(kParamGain)) gainTarget = decibelsToLinear(gainDecibels(continuousValue(v[kParamGain])));
        levelChanged = changed(kParamLevel) || changed(kParamNormalize);
        levelValue = v[kParamLevel];
        normalizeValue = v[kParamNormalize];
        if (changed(kParamTriode)) wanted.triode = choiceEntry(kParamTriode, v[kParamTriode]);
        // The first hand-over always prepares: the stage has no tables before.
        reprepare = !prepared || !(wanted == dsp.settings());
    } else {
        // A set asked for earlier may have been published since.
        reprepare = !current.load(std::memory_order_relaxed);
    }
    const bool took = reprepare && takeWantedTables();
    if (prepared && wanted.sampleRate != dsp.settings().sampleRate) {
        // The input passes through until a set of the new rate is ready:
        // the old rate's sets are not read any more, and may be evicted.
        dsp.dropTables();
        tableCache::release(tablesUse);
        tablesUse = -1;
        prepared = false;
    }
    current.store(prepared && wanted == dsp.settings(), std::memory_order_relaxed);
    // The normalised level reads the tables in force.
    if (prepared && (took || levelChanged)) setLevelTarget();
}

bool TubeEngine::takeWantedTables() noexcept
{
    const bool sameRate = prepared && wanted.sampleRate == dsp.settings().sampleRate;
    const int32_t use = sameRate ? tablesUse : tableCache::retain(wanted.sampleRate);
    const TriodeTables* set = use >= 0 ? tableCache::find(wanted) : nullptr;
    if (!set) {
        tableCache::request(wanted);
        if (use != tablesUse) tableCache::release(use);
        return false;
    }
    if (use != tablesUse) {
        tableCache::release(tablesUse);
        tablesUse = use;
    }
    dsp.use(wanted, *set);
    dsp.resetCathodes();
    prepared = true;
    if (static_cast<float>(wanted.sampleRate) != dcBlockerRate) {
        dcBlockerRate = static_cast<float>(wanted.sampleRate);
        dcBlocker = DcBlocker::forRate(wanted.sampleRate);
    }
    return true;
}

void TubeEngine::setLevelTarget() noexcept
{
    double level = decibelsToLinear(levelDecibels(continuousValue(levelValue)));
    if (switchIsOn(normalizeValue))
        level /= dsp.outputSwing() + 1.0;
    else
        level *= kUnnormalizedLevel;
    levelTarget = level;
}

void TubeEngine::passThrough(const float* inLeft, const float* inRight, float* outLeft, float* outRight,
                             int32_t frames) noexcept
{
    const float level =
        static_cast<float>(decibelsToLinear(levelDecibels(continuousValue(getParameter(kParamLevel)))));
    const int32_t latency = this->latency();
    ScopeFeed::BlockCount scopeCount = scopeFeed.beginBlock();
    for (int32_t k = 0; k < frames; ++k) {
        // Read before writing: the host may process in place.
        const float l = boundedSample(inLeft[k]);
        const float r = inRight ? boundedSample(inRight[k]) : 0.0f;
        delay[0][delayAt] = l;
        delay[1][delayAt] = r;
        const int32_t from = (delayAt + kDelayFrames - latency) % kDelayFrames;
        delayAt = (delayAt + 1) % kDelayFrames;
        const float oL = std::clamp(delay[0][from] * level, -kPassThroughLimit, kPassThroughLimit);
        const float oR =
            std::clamp((inRight ? delay[1][from] : delay[0][from]) * level, -kPassThroughLimit, kPassThroughLimit);
        if (scopeCount.due()) scopeFeed.write({l, r, oL, oR});
        outLeft[k] = oL;
        if (outRight) outRight[k] = oR;
    }
    scopeFeed.endBlock(scopeCount);
}

void TubeEngine::process(const float* inLeft, const float* inRight, float* outLeft, float* outRight,
                         int32_t frames) noexcept
{
    if (!inLeft || !outLeft) return;
    const FloatModeGuard flushDenormals;

    applyChanges();
    if (!prepared || wanted.sampleRate != dsp.settings().sampleRate) {
        // No set of this rate is ready yet (or a program was landing as the
        // very first block began): never another rate's tables.
        passThrough(inLeft, inRight, outLeft, outRight, frames);
        return;
    }

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
        float levels[4];
        const float restingLevel = static_cast<float>(-toLevel);
        auto ramps = [&gain, &levelNow, &levels, toGain, toLevel](int32_t k) Z5R_INLINE_LAMBDA {
            if constexpr (kResting) return toGain;
            smoothToward(gain, toGain);
            smoothToward(levelNow, toLevel);
            levels[k & 3] = static_cast<float>(-levelNow);
            return gain;
        };
        auto levelAt = [&levels, restingLevel](int32_t k) Z5R_INLINE_LAMBDA {
            return kResting ? restingLevel : levels[k & 3];
        };

        if (inRight) {
            // Both channels side by side, in and out.
            StereoOutput output(dcBlocker, dc);
            auto source = [&ramps, inLeft, inRight](int32_t k) Z5R_INLINE_LAMBDA {
                const double g = ramps(k);
                return pairOf(inLeft[k], inRight[k]) * Lane2(g);
            };
            auto sink = [&output, &levelAt, &scope, &scopeCount, inLeft, inRight, outLeft, outRight](
                            int32_t k, Lane2 y) Z5R_INLINE_LAMBDA {
                // The output carries the negated level: the stage inverts.
                float o[2];
                output.step(y, levelAt(k), o);
                // The scope reads the input before the output may overwrite
                // it (a host may process in place).
                if (scopeCount.due()) scope.write({inLeft[k], inRight[k], o[0], o[1]});
                outLeft[k] = o[0];
                if (outRight) outRight[k] = o[1];
            };
            dsp.processStereo(frames, source, sink);
            output.storeTo(dcBlocker);
        } else {
            // The left channel alone; the right output lane of the DC
            // blocker still runs, on silence.
            DcBlocker filter = dcBlocker;
            auto source = [&ramps, inLeft](int32_t k) Z5R_INLINE_LAMBDA {
                const double g = ramps(k);
                return Lane2(static_cast<double>(inLeft[k]) * g, 0.0);
            };
            auto sink = [&filter, &levelAt, &scope, &scopeCount, dc, inLeft, outLeft, outRight](
                            int32_t k, Lane1 y) Z5R_INLINE_LAMBDA {
                const float m = levelAt(k);
                const float oL = filter.step(0, static_cast<float>(y.v) * m, dc);
                const float oR = filter.step(1, 0.0f * m, dc);
                if (scopeCount.due()) scope.write({inLeft[k], 0.0f, oL, oR});
                outLeft[k] = oL;
                if (outRight) outRight[k] = oR;
            };
            dsp.processLeft(frames, source, sink);
            dcBlocker = filter;
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
