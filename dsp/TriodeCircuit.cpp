// The triode stage's circuit model and its Newton solver. Runs only while
// the lookup tables are built, never per sample. Double precision.
#include "dsp/TriodeCircuit.h"

#include "dsp/Lanes.h"

#include <cmath>
#include <utility>

const TriodeConstants kTriodeConstants[kTriodeCount] = {
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

// The softplus ln(e^u + 1) and the logistic e^u / (e^u + 1) of the plate
// law's knee, sharing one exponential.
struct Knee {
    double softplus;
    double logistic;
};

Knee knee(double u) noexcept
{
    if (u > kSoftplusLinear) return {u, 1.0};
    const double e = std::exp(u);
    const double softplus = std::log(e + 1.0);
    if (u > kLogisticSaturation) return {softplus, 1.0};
    if (u < -kLogisticSaturation) return {softplus, 0.0};
    return {softplus, e / (e + 1.0)};
}

// Plate current (Koren) and its slopes at one operating point; none without
// plate voltage.
struct PlatePoint {
    double current = 0.0;
    PlateCurrentSlopes slopes{0.0, 0.0, 0.0};
};

PlatePoint platePoint(const TriodeCircuit& c, double vpk, double vgk) noexcept
{
    PlatePoint p;
    if (vpk <= 0.0) return p;
    const TriodeConstants& tube = c.tube;
    const double g = vgk + tube.gridOffset;
    const double d = tube.kvb + vpk * vpk;
    const double s = std::sqrt(d);
    const double u = tube.kp * (tube.invMu + g / s);
    const Knee k = knee(u);
    const double e1 = vpk * c.invKp * k.softplus;
    double dIpdE1 = 0.0;
    if (e1 > 0.0) {
        // Koren: Ip = 2 E1^exponent / kg1.
        const double power = std::pow(e1, tube.exponent - 1.0);
        p.current = power * e1 * (c.invKg1 * 2.0);
        dIpdE1 = power * (2.0 * tube.exponent) * c.invKg1;
    }
    const double dE1dVpk = c.invKp * k.softplus - vpk * vpk * g * k.logistic / (s * d);
    const double dE1dVgk = vpk * k.logistic / s;
    p.slopes.dVp = dIpdE1 * dE1dVpk;
    p.slopes.dVg = dIpdE1 * dE1dVgk;
    p.slopes.dVk = -p.slopes.dVp - p.slopes.dVg;
    return p;
}

}  // namespace

TriodeCircuit::TriodeCircuit(const StageSettings& settings) noexcept
    : supplyVoltage(settings.supplyVoltage), cathodeCapacitor(settings.cathodeCapacitor),
      tube(kTriodeConstants[settings.triode])
{
    cathodeConductance = 1.0 / cathodeResistor;
    plateConductance = 1.0 / plateResistor;
    loadConductance = 1.0 / loadResistor;
    invKp = 1.0 / tube.kp;
    invKg1 = 1.0 / tube.kg1;
    stepOverCap = 1.0 / (settings.sampleRate * cathodeCapacitor * settings.oversampling);

    // The input node, eliminated from the grid equation: the current into
    // the grid from the network is inputCoupling * Vin + gridConductance * Vg.
    const double gs = 1.0 / gridStopper;
    const double gi = 1.0 / inputResistor;
    const double gl = 1.0 / gridLeak;
    const double sum = gs + gi + gl;
    inputCoupling = gs * gi / sum;
    gridConductance = -((gl + gi) * gs) / sum;
}

double TriodeCircuit::gridCurrent(double vgk) const noexcept
{
    const double v = vgk + kGridThreshold + tube.gridOffset;
    return v > 0.0 ? std::sqrt(v) * (v * kGridPerveance) : 0.0;
}

double TriodeCircuit::gridCurrentSlope(double vgk) const noexcept
{
    const double v = vgk + kGridThreshold + tube.gridOffset;
    return v > 0.0 ? kGridSlopeFactor * std::sqrt(v) : 0.0;
}

double TriodeCircuit::plateCurrent(double vpk, double vgk) const noexcept
{
    return platePoint(*this, vpk, vgk).current;
}

PlateCurrentSlopes TriodeCircuit::plateCurrentSlopes(double vpk, double vgk) const noexcept
{
    return platePoint(*this, vpk, vgk).slopes;
}

Vector3 TriodeCircuit::circuitResidual(const StepInput& input, const ChannelState& x) const noexcept
{
    Vector3 f;
    Matrix3 m;
    linearise(input, x, f, m);
    return f;
}

Matrix3 TriodeCircuit::circuitJacobian(const ChannelState& x) const noexcept
{
    Vector3 f;
    Matrix3 m;
    linearise({0.0, 0.0}, x, f, m);
    return m;
}

void TriodeCircuit::linearise(const StepInput& input, const ChannelState& x, Vector3& residual,
                              Matrix3& jacobian) const noexcept
{
    const double vp = x.plateVoltage;
    const double vg = x.gridVoltage;
    const double vk = x.cathodeVoltage;
    const double vgk = vg - vk;
    const double vpk = vp - vk;

    // Grid current: 1e-5 v^1.5 above its threshold.
    double ig = 0.0;
    double gI = 0.0;  // dIg/dVg
    const double v = vgk + kGridThreshold + tube.gridOffset;
    if (v > 0.0) {
        const double root = std::sqrt(v);
        ig = root * (v * kGridPerveance);
        gI = kGridSlopeFactor * root;
    }

    const PlatePoint plate = platePoint(*this, vpk, vgk);
    const double ip = plate.current;
    const PlateCurrentSlopes& p = plate.slopes;

    residual = {
        // grid node
        ig - (gridConductance * vg + inputCoupling * input.inputVoltage),
        // cathode node, scaled by the time step over the capacitance
        (vk * cathodeConductance - ip - ig) * stepOverCap + (vk - input.previousCathode),
        // plate node
        (plateConductance + loadConductance) * vp - plateConductance * supplyVoltage + ip,
    };

    // Rows F0..F2, columns Vp, Vg, Vk.
    const double a = stepOverCap;
    jacobian[0] = {0.0, gridConductance - gI, gI};
    jacobian[1] = {a * p.dVp, a * (gI + p.dVg), -1.0 - a * (cathodeConductance - p.dVk + gI)};
    jacobian[2] = {-(plateConductance + loadConductance) - p.dVp, -p.dVg, -p.dVk};
}

void luSolve(const Matrix3& matrix, Vector3& b) noexcept
{
    // Three rows: every loop unrolls, and rows move by element.
    Matrix3 a = matrix;
    std::array<int32_t, 3> index{};
    std::array<double, 3> vv{};

    Z5R_UNROLL
    for (int32_t i = 0; i < 3; ++i) {
        double largest = 0.0;
        Z5R_UNROLL
        for (int32_t j = 0; j < 3; ++j) {
            // fmax without the library call: a NaN never wins either way.
            const double size = std::fabs(a[i][j]);
            largest = size > largest ? size : largest;
        }
        vv[i] = 1.0 / largest;  // a zero row gives an infinite scale, as the circuit never does
    }

    Z5R_UNROLL
    for (int32_t k = 0; k < 3; ++k) {
        // The first of equal candidates wins.
        int32_t pivot = k;
        double best = vv[k] * std::fabs(a[k][k]);
        Z5R_UNROLL
        for (int32_t i = k + 1; i < 3; ++i) {
            const double candidate = vv[i] * std::fabs(a[i][k]);
            if (candidate > best) {
                best = candidate;
                pivot = i;
            }
        }
        if (pivot != k) {
            Z5R_UNROLL
            for (int32_t j = 0; j < 3; ++j) std::swap(a[pivot][j], a[k][j]);
            vv[pivot] = vv[k];
        }
        index[k] = pivot;
        if (a[k][k] == 0.0) a[k][k] = kTinyPivot;
        Z5R_UNROLL
        for (int32_t i = k + 1; i < 3; ++i) {
            a[i][k] /= a[k][k];
            Z5R_UNROLL
            for (int32_t j = k + 1; j < 3; ++j) a[i][j] -= a[i][k] * a[k][j];
        }
    }

    // Forward substitution with the row permutation, skipping leading zeros.
    int32_t start = -1;
    Z5R_UNROLL
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
    Z5R_UNROLL
    for (int32_t i = 2; i >= 0; --i) {
        double sum = b[i];
        Z5R_UNROLL
        for (int32_t j = i + 1; j < 3; ++j) sum -= a[i][j] * b[j];
        b[i] = sum / a[i][i];
    }
}

double TriodeCircuit::solveStep(const StepInput& input, ChannelState& x) const noexcept
{
    Vector3 d;
    Matrix3 a;
    for (int32_t iteration = 0; iteration < kMaxNewtonIterations; ++iteration) {
        linearise(input, x, d, a);
        luSolve(a, d);
        x.plateVoltage += d[0];
        x.gridVoltage += d[1];
        x.cathodeVoltage += d[2];
        if (std::fabs(d[0]) + std::fabs(d[1]) + std::fabs(d[2]) < kNewtonTolerance) break;
    }
    // Running out of iterations is not an error: the last iterate stands.
    return x.plateVoltage;
}
