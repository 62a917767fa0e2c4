// The triode stage's circuit model: Koren's plate-current law, a 3/2-power
// grid-current law, the three node equations of one backward Euler step,
// their Jacobian and the Newton solver with its 3x3 LU solve. Runs only in
// `prepare`, never per sample. Double precision throughout.
#include "dsp/TriodeProcessor.h"

#include <cmath>

const TriodeConstants kTriodeConstantsFactory[kTriodeCount] = {
    // 12AX7: Koren's published constants (mu = 100).
    {0.01, 1.4, 1060.0, 600.0, 300.0, 0.0},
    // 12AT7 (mu = 67.49).
    {1.0 / 67.49, 1.234, 419.1, 213.96, 300.0, 0.0},
    // 12AU7: Koren's published constants (mu = 21.5).
    {1.0 / 21.5, 1.3, 1180.0, 84.0, 300.0, 0.0},
};

namespace {

// Grid conduction starts this far below the cathode, volts.
constexpr double kGridThreshold = 0.2;
constexpr double kGridPerveance = 1e-5;  // amperes per volt^1.5
constexpr double kGridSlopeFactor = 1.5 * kGridPerveance;
// Above this the softplus is its argument; beyond +-this the logistic is 1 or 0.
constexpr double kSoftplusLinear = 16.0;
constexpr double kLogisticSaturation = 6.0;
// Replaces an exactly zero pivot.
constexpr double kTinyPivot = 1e-40;

double softplus(double u) noexcept { return u > kSoftplusLinear ? u : std::log(std::exp(u) + 1.0); }

double logistic(double u) noexcept
{
    if (u > kLogisticSaturation) return 1.0;
    if (u < -kLogisticSaturation) return 0.0;
    const double e = std::exp(u);
    return e / (e + 1.0);
}

}  // namespace

void TriodeProcessor::resetChannel(int32_t channel) noexcept
{
    const ChannelState rest{0.5 * supplyVoltage, 0.0, 0.0};
    if (channel < 0) {
        for (ChannelState& state : channels) state = rest;
    } else if (channel < kChannels) {
        channels[channel] = rest;
    }
}

void TriodeProcessor::computeDerivedCoefficients() noexcept
{
    const TriodeConstants& tube = kTriodeConstants[triodeIndex];
    cathodeConductance = 1.0 / cathodeResistor;
    plateConductance = 1.0 / plateResistor;
    loadConductance = 1.0 / loadResistor;
    invKp = 1.0 / tube.kp;
    invKg1 = 1.0 / tube.kg1;
    stepOverCap = 1.0 / (sampleRate * cathodeCapacitor * getOversampling());

    // The input node, eliminated from the grid equation: the current into
    // the grid from the network is inputCoupling * Vin + gridConductance * Vg.
    const double gs = 1.0 / gridStopper;
    const double gi = 1.0 / inputResistor;
    const double gl = 1.0 / gridLeak;
    const double sum = gs + gi + gl;
    inputCoupling = gs * gi / sum;
    gridConductance = -((gl + gi) * gs) / sum;
}

double TriodeProcessor::gridCurrent(double vgk) const noexcept
{
    const double v = vgk + kGridThreshold + kTriodeConstants[triodeIndex].gridOffset;
    return v > 0.0 ? std::sqrt(v) * (v * kGridPerveance) : 0.0;
}

double TriodeProcessor::gridCurrentSlope(double vgk) const noexcept
{
    const double v = vgk + kGridThreshold + kTriodeConstants[triodeIndex].gridOffset;
    return v > 0.0 ? kGridSlopeFactor * std::sqrt(v) : 0.0;
}

double TriodeProcessor::plateCurrent(double vpk, double vgk) const noexcept
{
    if (vpk <= 0.0) return 0.0;
    const TriodeConstants& tube = kTriodeConstants[triodeIndex];
    const double g = vgk + tube.gridOffset;
    const double s = std::sqrt(tube.kvb + vpk * vpk);
    const double u = tube.kp * (tube.invMu + g / s);
    const double e1 = vpk * invKp * softplus(u);
    if (e1 <= 0.0) return 0.0;
    // Koren: Ip = 2 E1^exponent / kg1.
    return std::pow(e1, tube.exponent - 1.0) * e1 * (invKg1 * 2.0);
}

PlateCurrentSlopes TriodeProcessor::plateCurrentSlopes(double vpk, double vgk) const noexcept
{
    if (vpk <= 0.0) return {0.0, 0.0, 0.0};
    const TriodeConstants& tube = kTriodeConstants[triodeIndex];
    const double g = vgk + tube.gridOffset;
    const double d = tube.kvb + vpk * vpk;
    const double s = std::sqrt(d);
    const double u = tube.kp * (tube.invMu + g / s);
    const double sp = softplus(u);
    const double e1 = vpk * invKp * sp;
    const double sigma = logistic(u);

    const double dIpdE1 = e1 > 0.0 ? std::pow(e1, tube.exponent - 1.0) * (2.0 * tube.exponent) * invKg1 : 0.0;
    const double dE1dVpk = invKp * sp - vpk * vpk * g * sigma / (s * d);
    const double dE1dVgk = vpk * sigma / s;

    PlateCurrentSlopes slopes;
    slopes.dVp = dIpdE1 * dE1dVpk;
    slopes.dVg = dIpdE1 * dE1dVgk;
    slopes.dVk = -slopes.dVp - slopes.dVg;
    return slopes;
}

Vector3 TriodeProcessor::circuitResidual(const StepInput& input, const ChannelState& x) const noexcept
{
    const double vp = x.plateVoltage;
    const double vg = x.gridVoltage;
    const double vk = x.cathodeVoltage;
    const double ig = gridCurrent(vg - vk);
    const double ip = plateCurrent(vp - vk, vg - vk);
    return {
        // grid node
        ig - (gridConductance * vg + inputCoupling * input.inputVoltage),
        // cathode node, scaled by the time step over the capacitance
        (vk * cathodeConductance - ip - ig) * stepOverCap + (vk - input.previousCathode),
        // plate node
        (plateConductance + loadConductance) * vp - plateConductance * supplyVoltage + ip,
    };
}

Matrix3 TriodeProcessor::circuitJacobian(const ChannelState& x) const noexcept
{
    // The negated Jacobian -dF/dx; rows F0..F2, columns Vp, Vg, Vk.
    const double vgk = x.gridVoltage - x.cathodeVoltage;
    const double gI = gridCurrentSlope(vgk);
    const PlateCurrentSlopes p = plateCurrentSlopes(x.plateVoltage - x.cathodeVoltage, vgk);
    const double a = stepOverCap;
    Matrix3 m;
    m[0] = {0.0, gridConductance - gI, gI};
    m[1] = {a * p.dVp, a * (gI + p.dVg), -1.0 - a * (cathodeConductance - p.dVk + gI)};
    m[2] = {-(plateConductance + loadConductance) - p.dVp, -p.dVg, -p.dVk};
    return m;
}

void luSolve(const Matrix3& matrix, Vector3& b) noexcept
{
    Matrix3 a = matrix;
    std::array<int32_t, 3> index{};
    std::array<double, 3> vv{};

    for (int32_t i = 0; i < 3; ++i) {
        double largest = 0.0;
        for (int32_t j = 0; j < 3; ++j) largest = std::fmax(largest, std::fabs(a[i][j]));
        vv[i] = 1.0 / largest;  // a zero row gives an infinite scale, as the circuit never does
    }

    for (int32_t k = 0; k < 3; ++k) {
        // The first of equal candidates wins.
        int32_t pivot = k;
        double best = vv[k] * std::fabs(a[k][k]);
        for (int32_t i = k + 1; i < 3; ++i) {
            const double candidate = vv[i] * std::fabs(a[i][k]);
            if (candidate > best) {
                best = candidate;
                pivot = i;
            }
        }
        if (pivot != k) {
            std::swap(a[pivot], a[k]);
            vv[pivot] = vv[k];
        }
        index[k] = pivot;
        if (a[k][k] == 0.0) a[k][k] = kTinyPivot;
        for (int32_t i = k + 1; i < 3; ++i) {
            a[i][k] /= a[k][k];
            for (int32_t j = k + 1; j < 3; ++j) a[i][j] -= a[i][k] * a[k][j];
        }
    }

    // Forward substitution with the row permutation, skipping leading zeros.
    int32_t start = -1;
    for (int32_t i = 0; i < 3; ++i) {
        double sum = b[index[i]];
        b[index[i]] = b[i];
        if (start >= 0) {
            for (int32_t j = start; j < i; ++j) sum -= a[i][j] * b[j];
        } else if (sum != 0.0) {
            start = i;
        }
        b[i] = sum;
    }
    for (int32_t i = 2; i >= 0; --i) {
        double sum = b[i];
        for (int32_t j = i + 1; j < 3; ++j) sum -= a[i][j] * b[j];
        b[i] = sum / a[i][i];
    }
}

double TriodeProcessor::solveStep(const StepInput& input, ChannelState& x) const noexcept
{
    for (int32_t iteration = 0; iteration < kMaxNewtonIterations; ++iteration) {
        Vector3 d = circuitResidual(input, x);
        luSolve(circuitJacobian(x), d);
        x.plateVoltage += d[0];
        x.gridVoltage += d[1];
        x.cathodeVoltage += d[2];
        if (std::fabs(d[0]) + std::fabs(d[1]) + std::fabs(d[2]) < kNewtonTolerance) break;
    }
    // Running out of iterations is not an error: the last iterate stands.
    return x.plateVoltage;
}
