// The block driver: take over parameter changes without waiting, then per
// frame smooth gain and level, run each channel through the triode stage,
// scale by the negated level (the stage inverts), block DC, and feed the
// scope. Never waits, allocates or calls the system.
#include "engine/TubeEngine.h"

#include "dsp/FloatMode.h"
#include "engine/TableBuilder.h"
#include "engine/TubeEngineStage.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

namespace {

// Without normalisation the output sits 50 dB below the Level setting.
constexpr double kUnnormalizedLevel = 0.0031622776601683794;
// The DC blocker's corner is kDcCorner / pi, about 1.54 Hz.
constexpr double kDcCorner = 4.835589941972921;
constexpr uint32_t kAllChanges = (1u << kNumParams) - 1;

// Decided once, as the library loads. Z5R_NO_AVX2 in the environment keeps
// the baseline path (how the tests run both on one machine).
bool avx2Usable() noexcept
{
#if Z5R_HAVE_AVX2_STAGE
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && std::getenv("Z5R_NO_AVX2") == nullptr;
#else
    return false;
#endif
}
const bool haveAvx2 = avx2Usable();

}  // namespace

// Compiled in TubeEngineAvx2.cpp, with AVX2.
#if Z5R_HAVE_AVX2_STAGE
extern template void TubeEngine::runStage<true>(const float*, const float*, float*, float*, int32_t) noexcept;
#endif

namespace {

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

#if Z5R_HAVE_AVX2_STAGE
    // The filters' loops in 256-bit registers where the processor has them.
    if (haveAvx2) {
        runStage<true>(inLeft, inRight, outLeft, outRight, frames);
        return;
    }
#endif
    runStage<false>(inLeft, inRight, outLeft, outRight, frames);
}

bool TubeEngine::stageUsesAvx2() noexcept { return haveAvx2; }

template void TubeEngine::runStage<false>(const float*, const float*, float*, float*, int32_t) noexcept;
