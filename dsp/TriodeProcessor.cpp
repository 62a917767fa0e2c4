#include "dsp/TriodeProcessor.h"

#include <cmath>

namespace {

constexpr double kTableLowVolts = -150.0;
constexpr double kCathodeExtent = 15.0;
constexpr double kInvTableSpan = 1.0 / 300.0;
constexpr double kInvCathodeSpan = 1.0 / 30.0;

// 2^-126, the smallest normal float, and the scale of the anti-denormal
// offset: at most about 5.05e-19 V.
constexpr float kSmallestNormal = 1.1754943508222875e-38f;
constexpr double kOffsetScale = 1e10;

}  // namespace

TriodeProcessor::TriodeProcessor()
    : interpolators{}, decimators{}, own(std::make_unique<TriodeTables>()), active(own.get())
{
    // Until the first hand-over prepares it, the stage reads empty tables:
    // silence, never garbage. The plate starts at half the supply, the
    // cathode at 0 V until the first resetCathodes.
    own->transferLow.fill(0.0);
    own->transferHigh.fill(0.0);
    own->cathodeStep.fill(0.0);
    channels.fill({0.5 * stage.supplyVoltage, 0.0, 0.0});
}

void TriodeProcessor::setTriodeIndex(int32_t index) noexcept
{
    if (index >= 0 && index < kTriodeCount) stage.triode = index;
}

void TriodeProcessor::setOversampling(int32_t factor) noexcept
{
    if (factor != stage.oversampling && (factor == 1 || factor == kOversampling)) {
        stage.oversampling = factor;
        oversampling.store(factor, std::memory_order_relaxed);
    }
}

void TriodeProcessor::prepare() noexcept
{
    if (const TriodeTables* shared = tableCache::find(stage)) {
        active = shared;
        return;
    }
    own->build(stage);
    active = own.get();
}

void TriodeProcessor::resetCathodes() noexcept
{
    for (ChannelState& state : channels) state.cathodeVoltage = active->restingCathode;
}

double TriodeProcessor::stageStep(ChannelState& s, double vin) const noexcept
{
    const TriodeTables& t = *active;
    const double a = s.cathodeVoltage;
    const double wLow = (kCathodeExtent - a) * kInvCathodeSpan;
    // Both plate tables share one position. Outside +-15 V of cathode the
    // weights extrapolate linearly.
    const TablePosition at = tablePosition((vin - a * t.cathodeShift - kTableLowVolts) * kInvTableSpan);
    const double cL = interpolateTable(t.transferLow, at);
    const double cH = interpolateTable(t.transferHigh, at);
    const double vp = cH * (1.0 - wLow) + cL * wLow;
    s.plateVoltage = vp;
    s.cathodeVoltage = tableLookup(t.cathodeStep, (a * t.chargeShift + vin - kTableLowVolts) * kInvTableSpan) +
                       a * t.cathodeDecay + a;
    return vp;
}

double TriodeProcessor::processSample(int32_t channel, double x) noexcept
{
    // A sample that is not a finite number counts as silence: an infinity
    // would otherwise turn the filter states into NaN for good.
    if (!std::isfinite(x)) x = 0.0;

    // Anti-denormal offset: a tiny positive value from a linear congruential
    // sequence, advanced once per call.
    noiseSeed = noiseSeed * 1664525u + 1013904223u;
    x += static_cast<double>(static_cast<float>(noiseSeed) * kSmallestNormal) * kOffsetScale;

    ChannelState& state = channels[channel];
    const double rest = active->quiescentPlate;
    if (getOversampling() == 1) return stageStep(state, x) - rest;

    double u[kOversampling];
    interpolators[channel].interpolate(x, u);
    for (double& sample : u) sample = stageStep(state, sample) - rest;
    return decimators[channel].decimate(u);
}
