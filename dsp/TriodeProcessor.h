// One common-cathode triode gain stage (12AX7, 12AT7 or 12AU7): plate
// resistor to the supply, load resistor from plate to ground, cathode
// resistor bypassed by a capacitor, and a resistive input network driving
// the grid. The circuit is solved by Newton iteration on its node equations
// (backward Euler) only in `prepare`, which fills three lookup tables; the
// audio path reads only those tables, at the host rate or at 16x between
// oversampling filters.
//
// Units: volts, amperes, ohms, farads, seconds, hertz. An input sample is
// taken as volts at the stage's input; `processSample` returns the plate
// voltage less its resting value, in volts. Latency: none at 1x, about
// 8 base-rate samples at 16x (the filters).
//
// `prepare`, the setters and `processSample` run on the audio thread; the
// oversampling factor is also read by the parameter display.
#pragma once

#include "dsp/OversamplingFilter.h"

#include <array>
#include <atomic>
#include <cstdint>

constexpr int32_t kTriodeCount = 3;
constexpr int32_t kTableSize = 513;
constexpr int32_t kChannels = 2;

// Koren's triode constants, one record per tube type.
struct TriodeConstants {
    double invMu;       // 1 / mu, the reciprocal amplification factor
    double exponent;    // exponent of the plate-current law
    double kg1;         // plate-current divisor
    double kp;          // knee parameter
    double kvb;         // plate-voltage bend, volts squared
    double gridOffset;  // volts added to the grid-cathode voltage in both current laws
};

extern const TriodeConstants kTriodeConstantsFactory[kTriodeCount];

// Resting cathode voltage by supply (150, 250, 350 V) and triode index.
extern const double kBiasCathodeVoltages[3][kTriodeCount];

// The unknowns of one circuit solve, relative to ground.
struct ChannelState {
    double plateVoltage;
    double gridVoltage;
    double cathodeVoltage;
};

// The input of one step: the input voltage at the new time and the cathode
// (capacitor) voltage at the previous time.
struct StepInput {
    double inputVoltage;
    double previousCathode;
};

using Vector3 = std::array<double, 3>;
using Matrix3 = std::array<std::array<double, 3>, 3>;

// Solves A d = b for a 3x3 system by LU decomposition with implicit scaled
// partial pivoting; b is overwritten with d. A is not changed.
void luSolve(const Matrix3& a, Vector3& b) noexcept;

struct PlateCurrentSlopes {
    double dVp;  // dIp/dVp
    double dVg;  // dIp/dVg
    double dVk;  // dIp/dVk
};

class TriodeProcessor {
public:
    static constexpr int32_t kMaxNewtonIterations = 256;
    static constexpr double kNewtonTolerance = 1e-12;  // volts, sum of |step| over the three unknowns
    static constexpr uint32_t kFirstNoiseSeed = 80449;

    TriodeProcessor() noexcept;

    // --- settings, changed by the block hand-over ---
    void setSupplyVoltage(double volts) noexcept { supplyVoltage = volts; }
    void setCathodeCapacitor(double farads) noexcept { cathodeCapacitor = farads; }
    void setTriodeIndex(int32_t index) noexcept;       // stored only when it differs and is 0..2
    void setOversampling(int32_t factor) noexcept;     // stored only when it differs and is 1 or 16
    void setSampleRate(double rate) noexcept { sampleRate = rate; }
    int32_t getTriodeIndex() const noexcept { return triodeIndex; }
    int32_t getOversampling() const noexcept { return oversampling.load(std::memory_order_relaxed); }
    double getSampleRate() const noexcept { return sampleRate; }

    // Recomputes the derived coefficients, the tables and the scalars.
    void prepare() noexcept;
    // Moves every channel's cathode to its resting voltage.
    void resetCathodes() noexcept;
    // Full plate-voltage swing of the tables, volts.
    double outputSwing() const noexcept { return transferLow[0] - transferLow[kTableSize - 1]; }
    // One base-rate sample of one channel: input volts in, plate volts less
    // the resting plate voltage out.
    double processSample(int32_t channel, double x) noexcept;

    // --- circuit model and solver ---
    void resetChannel(int32_t channel) noexcept;
    double gridCurrent(double vgk) const noexcept;
    double gridCurrentSlope(double vgk) const noexcept;  // dIg/dVg; dIg/dVk is its negative
    double plateCurrent(double vpk, double vgk) const noexcept;
    PlateCurrentSlopes plateCurrentSlopes(double vpk, double vgk) const noexcept;
    Vector3 circuitResidual(const StepInput& input, const ChannelState& x) const noexcept;
    Matrix3 circuitJacobian(const ChannelState& x) const noexcept;
    // Newton iteration on x in place; returns the final plate voltage.
    double solveStep(const StepInput& input, ChannelState& x) const noexcept;
    void computeDerivedCoefficients() noexcept;

    // --- tables ---
    static double tableLookup(const std::array<double, kTableSize>& table, double x) noexcept;
    // One step of one channel at the running rate; returns the plate voltage.
    double stageStep(ChannelState& s, double vin) const noexcept;
    double restingPlateVoltage() const noexcept;
    double biasCathodeVoltage() const noexcept;

    // Circuit state, public so that tests can inspect the model.
    std::array<ChannelState, kChannels> channels;
    int32_t channelCount = kChannels;
    int32_t triodeIndex = 0;
    std::array<TriodeConstants, kTriodeCount> kTriodeConstants;

    double inputResistor;    // signal source to the input node
    double gridStopper;      // input node to grid
    double gridLeak;         // input node to ground
    double supplyVoltage;    // B+
    double plateResistor;    // B+ to plate
    double loadResistor;     // plate to ground
    double cathodeResistor;  // cathode to ground
    double cathodeCapacitor; // across the cathode resistor

    double inputCoupling = 0.0;    // grid current per volt of input, input node eliminated
    double gridConductance = 0.0;  // grid current per volt of grid, input node eliminated
    double stepOverCap = 0.0;      // time step of the running rate over the capacitance
    double plateConductance = 0.0;
    double loadConductance = 0.0;
    double cathodeConductance = 0.0;
    double invKp = 0.0;
    double invKg1 = 0.0;

    double sampleRate = 48000.0;  // running rate of the host, Hz

    std::array<OversamplingFilter, kChannels> interpolators;
    std::array<OversamplingFilter, kChannels> decimators;

    // Indexed by x in [0, 1], standing for an input voltage of 300 x - 150.
    std::array<double, kTableSize> transferLow;   // plate volts after a step from a cathode at -15 V
    std::array<double, kTableSize> transferHigh;  // plate volts after a step from +15 V
    std::array<double, kTableSize> cathodeStep;   // cathode volts after a step from 0 V

    double cathodeDecay = 0.0;   // cathode change per step, per cathode volt, tube cut off
    double chargeShift = 0.0;    // input shift per cathode volt, for cathodeStep
    double cathodeShift = 0.0;   // input shift per cathode volt, for the plate tables
    double quiescentPlate = 0.0; // plate volts at rest

    // Anti-denormal offset generator, one per instance (so that instances
    // on different threads never share it and each sounds the same alone).
    uint32_t noiseSeed = kFirstNoiseSeed;

private:
    std::atomic<int32_t> oversampling{1};

    double kneeVoltage(double cathode) noexcept;
    void fillTable(std::array<double, kTableSize>& table, double cathode, double inputShift, bool storeCathode) noexcept;
    double cathodeAfterStep(double cathode, double grid, double input) noexcept;
};
