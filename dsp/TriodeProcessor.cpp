// The triode stage made cheap enough for every sample: `prepare` runs the
// Newton solver over a grid of input voltages into three 513-entry tables
// and four scalars; the audio path advances each channel with two table
// lookups per plate-voltage output and one per cathode update.
#include "dsp/TriodeProcessor.h"

#include <algorithm>
#include <cmath>

// Resting cathode voltage, volts, by supply (rows 150, 250, 350 V) and tube
// (12AX7, 12AT7, 12AU7): where the stage settles with no input.
const double kBiasCathodeVoltages[3][kTriodeCount] = {
    {0.89873106, 1.58417516, 2.46879023},
    {1.54237693, 2.66457249, 4.14004432},
    {2.20234211, 3.75964222, 5.83322275},
};

namespace {

// The tables span input voltages -150 to +150 V, for a cathode between -15
// and +15 V.
constexpr double kTableLowVolts = -150.0;
constexpr double kTableSpanVolts = 300.0;
constexpr double kCathodeExtent = 15.0;
constexpr double kInvTableSpan = 1.0 / 300.0;
constexpr double kInvCathodeSpan = 1.0 / 30.0;
// The knee is where the plate falls below this share of the supply.
constexpr double kKneeShare = 0.95;
// chargeShift probes the cathode step 7.5 V below full positive drive.
constexpr double kChargeProbeStep = 7.5;

// 2^-126, the smallest normal float, and the scale of the anti-denormal
// offset: at most about 5.05e-19 V.
constexpr float kSmallestNormal = 1.1754943508222875e-38f;
constexpr double kOffsetScale = 1e10;

double gridVolts(int32_t w) noexcept { return kTableLowVolts + w * kTableSpanVolts / (kTableSize - 1); }

// Where a position in [0, 1] falls between two table entries. A position
// below 0 or not a number reads entry 0, one above 1 reads the last entry.
struct TablePosition {
    int32_t index;
    double fraction;
};

TablePosition tablePosition(double x) noexcept
{
    if (!(x >= 0.0)) x = 0.0;
    if (x > 1.0) x = 1.0;
    const double p = x * (kTableSize - 1);
    const int32_t i = static_cast<int32_t>(p);
    return {i, p - i};
}

// Catmull-Rom cubic through the entries around the position.
double interpolateTable(const std::array<double, kTableSize>& table, TablePosition at) noexcept
{
    const int32_t i = at.index;
    const double f = at.fraction;
    const double y1 = table[i];
    if (!(f > 0.0)) return y1;
    const double y0 = table[std::max(i - 1, 0)];
    const double y2 = table[std::min(i + 1, kTableSize - 1)];
    const double y3 = table[std::min(i + 2, kTableSize - 1)];
    return y1 + ((((y3 - y0) * 0.5 + (y1 - y2) * 1.5) * f + (y0 - 2.5 * y1 + 2.0 * y2 - 0.5 * y3)) * f +
                 (y2 - y0) * 0.5) *
                    f;
}

}  // namespace

TriodeProcessor::TriodeProcessor() noexcept
    : channels{}, kTriodeConstants{kTriodeConstantsFactory[0], kTriodeConstantsFactory[1], kTriodeConstantsFactory[2]},
      inputResistor(68000.0), gridStopper(1.0), gridLeak(1000000.0), supplyVoltage(350.0), plateResistor(100000.0),
      loadResistor(4000000.0), cathodeResistor(2700.0), cathodeCapacitor(6.8e-7), interpolators{}, decimators{},
      transferLow{}, transferHigh{}, cathodeStep{}
{
    resetChannel(-1);
    prepare();
}

void TriodeProcessor::setTriodeIndex(int32_t index) noexcept
{
    if (index != triodeIndex && index >= 0 && index < kTriodeCount) triodeIndex = index;
}

void TriodeProcessor::setOversampling(int32_t factor) noexcept
{
    if (factor != getOversampling() && (factor == 1 || factor == kOversampling))
        oversampling.store(factor, std::memory_order_relaxed);
}

double TriodeProcessor::tableLookup(const std::array<double, kTableSize>& table, double x) noexcept
{
    return interpolateTable(table, tablePosition(x));
}

double TriodeProcessor::kneeVoltage(double cathode) noexcept
{
    // Scans the input upward from full negative drive until the plate falls
    // below the threshold, and interpolates the crossing linearly.
    const double threshold = kKneeShare * supplyVoltage;
    ChannelState& x = channels[0];
    resetChannel(0);
    x.cathodeVoltage = cathode;
    x.gridVoltage = kTableLowVolts;
    double previousV = 0.0, previousVp = 0.0;
    double crossingV = 0.0, crossingVp = 0.0;
    for (int32_t w = 0; w < kTableSize; ++w) {
        const double v = gridVolts(w);
        const double vp = solveStep({v, cathode}, x);
        if (vp >= threshold) {
            previousV = v;
            previousVp = vp;
        } else {
            crossingV = v;
            crossingVp = vp;
            break;
        }
    }
    return previousV + (threshold - previousVp) * (crossingV - previousV) / (crossingVp - previousVp);
}

void TriodeProcessor::fillTable(std::array<double, kTableSize>& table, double cathode, double inputShift,
                                bool storeCathode) noexcept
{
    // Each solve starts from the previous solution.
    ChannelState& x = channels[0];
    resetChannel(0);
    x.cathodeVoltage = cathode;
    x.gridVoltage = kTableLowVolts;
    for (int32_t w = 0; w < kTableSize; ++w) {
        const double vp = solveStep({gridVolts(w) + inputShift, cathode}, x);
        table[w] = storeCathode ? x.cathodeVoltage : vp;
    }
}

double TriodeProcessor::cathodeAfterStep(double cathode, double grid, double input) noexcept
{
    ChannelState& x = channels[0];
    resetChannel(0);
    x.cathodeVoltage = cathode;
    x.gridVoltage = grid;
    solveStep({input, cathode}, x);
    return x.cathodeVoltage;
}

void TriodeProcessor::prepare() noexcept
{
    computeDerivedCoefficients();
    // Channel 0's state is the solver's working vector while building.
    const ChannelState saved = channels[0];

    const double kneeLow = kneeVoltage(-kCathodeExtent);
    const double kneeHigh = kneeVoltage(kCathodeExtent);
    cathodeShift = (kneeHigh - kneeLow) * kInvCathodeSpan;

    fillTable(transferLow, -kCathodeExtent, -kCathodeExtent * cathodeShift, false);
    fillTable(transferHigh, kCathodeExtent, kCathodeExtent * cathodeShift, false);
    fillTable(cathodeStep, 0.0, 0.0, true);

    // With the tube cut off, the cathode only discharges through its resistor.
    const double d1 = cathodeAfterStep(-kCathodeExtent, kTableLowVolts, kTableLowVolts) + kCathodeExtent;
    const double d2 = cathodeAfterStep(kCathodeExtent, kTableLowVolts, kTableLowVolts) - kCathodeExtent;
    cathodeDecay = (d2 - d1) * kInvCathodeSpan;

    // With full positive drive, how the cathode step depends on the cathode.
    const double top = -kTableLowVolts;
    auto charge = [&](double cathode, double input) {
        return (cathodeAfterStep(cathode, top, input) - cathode) - cathode * cathodeDecay;
    };
    const double g1 = charge(-kCathodeExtent, top);
    const double g2 = charge(kCathodeExtent, top);
    const double g3 = charge(kCathodeExtent, top - kChargeProbeStep);
    chargeShift = ((g2 - g1) / ((g2 - g3) / kChargeProbeStep)) * kInvCathodeSpan;

    channels[0] = saved;
    quiescentPlate = restingPlateVoltage();
}

double TriodeProcessor::biasCathodeVoltage() const noexcept
{
    const int32_t row = std::clamp(static_cast<int32_t>((supplyVoltage - 150.0 + 50.0) * 0.01), 0, 2);
    return kBiasCathodeVoltages[row][triodeIndex];
}

double TriodeProcessor::restingPlateVoltage() const noexcept
{
    // stageStep's plate formula at input 0 and the resting cathode.
    const double b = biasCathodeVoltage();
    const double x = (-kTableLowVolts - b * cathodeShift) * kInvTableSpan;
    return tableLookup(transferHigh, x) * ((b + kCathodeExtent) * kInvCathodeSpan) +
           tableLookup(transferLow, x) * ((kCathodeExtent - b) * kInvCathodeSpan);
}

void TriodeProcessor::resetCathodes() noexcept
{
    const double b = biasCathodeVoltage();
    for (ChannelState& state : channels) state.cathodeVoltage = b;
}

double TriodeProcessor::stageStep(ChannelState& s, double vin) const noexcept
{
    const double a = s.cathodeVoltage;
    const double wLow = (kCathodeExtent - a) * kInvCathodeSpan;
    // Both plate tables share one position. Outside +-15 V of cathode the
    // weights extrapolate linearly.
    const TablePosition at = tablePosition((vin - a * cathodeShift - kTableLowVolts) * kInvTableSpan);
    const double cL = interpolateTable(transferLow, at);
    const double cH = interpolateTable(transferHigh, at);
    const double vp = cH * (1.0 - wLow) + cL * wLow;
    s.plateVoltage = vp;
    s.cathodeVoltage = tableLookup(cathodeStep, (a * chargeShift + vin - kTableLowVolts) * kInvTableSpan) +
                       a * cathodeDecay + a;
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
    if (getOversampling() == 1) return stageStep(state, x) - quiescentPlate;

    double u[kOversampling];
    interpolators[channel].interpolate(x, u);
    for (double& sample : u) sample = stageStep(state, sample) - quiescentPlate;
    return decimators[channel].decimate(u);
}
