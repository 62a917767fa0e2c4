#include "dsp/TriodeProcessor.h"

#include <cmath>

using namespace stage;

TriodeProcessor::TriodeProcessor() : own(std::make_unique<TriodeTables>()), active(own.get())
{
    // Until the first hand-over prepares it, the stage reads empty tables:
    // silence, never garbage. The plate starts at half the supply, the
    // cathode at 0 V until the first resetCathodes.
    own->transferLow.fill(0.0);
    own->transferHigh.fill(0.0);
    own->cathodeStep.fill(0.0);
    own->deriveCubics();
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

void TriodeProcessor::use(const StageSettings& settings, const TriodeTables& set) noexcept
{
    stage = settings;
    oversampling.store(settings.oversampling, std::memory_order_relaxed);
    active = &set;
}

void TriodeProcessor::resetCathodes() noexcept
{
    for (ChannelState& state : channels) state.cathodeVoltage = active->restingCathode;
}

double TriodeProcessor::processSample(int32_t channel, double x) noexcept
{
    double result = 0.0;
    auto source = [x](int32_t) { return Lane2(x); };
    auto sink = [&result](int32_t, Lane1 y) { result = y.v; };
    run<Lane1>(1, channel, source, sink);
    return result;
}

double TriodeProcessor::stageStep(ChannelState& s, double vin) const noexcept
{
    Lane1 a(s.cathodeVoltage);
    const double vp = stageStepOf<true>(StepTables(*active), a, Lane1(vin)).v;
    s.cathodeVoltage = a.v;
    s.plateVoltage = vp;
    return vp;
}
