// One common-cathode triode gain stage (12AX7, 12AT7 or 12AU7): plate
// resistor to the supply, load resistor from plate to ground, cathode
// resistor bypassed by a capacitor, and a resistive input network driving
// the grid. Koren's plate-current law, a 3/2-power grid-current law, the
// three node equations of one implicit (backward Euler) time step, their
// Jacobian, and the Newton solver with its 3x3 LU solve.
//
// Units: volts, amperes, ohms, farads, seconds, hertz; double precision.
// Used only to build the lookup tables (dsp/TriodeTables.h), never per
// sample. [any thread; an object belongs to the thread that built it]
#pragma once

#include <array>
#include <cstdint>

constexpr int32_t kTriodeCount = 3;

// Koren's triode constants, one record per tube type.
struct TriodeConstants {
    double invMu;       // 1 / mu, the reciprocal amplification factor
    double exponent;    // exponent of the plate-current law
    double kg1;         // plate-current divisor
    double kp;          // knee parameter
    double kvb;         // plate-voltage bend, volts squared
    double gridOffset;  // volts added to the grid-cathode voltage in both current laws
};

// 12AX7, 12AT7, 12AU7.
extern const TriodeConstants kTriodeConstants[kTriodeCount];

// The supplies and cathode capacitors the stage is built with.
constexpr int32_t kSupplyCount = 3;
constexpr int32_t kCapCount = 3;
constexpr double kSupplyVoltages[kSupplyCount] = {150.0, 250.0, 350.0};  // volts
constexpr double kCathodeCaps[kCapCount] = {4.7e-7, 1e-6, 2.2e-5};       // farads

// What the stage's tables depend on: the running rate of the host, the
// oversampling factor (1 or 16), the tube and two circuit values.
struct StageSettings {
    double sampleRate = 48000.0;       // Hz, the host's rate
    int32_t oversampling = 1;          // the stage runs at sampleRate x this
    int32_t triode = 0;                // 0 = 12AX7, 1 = 12AT7, 2 = 12AU7
    double supplyVoltage = 350.0;      // B+, volts
    double cathodeCapacitor = 6.8e-7;  // farads

    bool operator==(const StageSettings&) const = default;
};

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

class TriodeCircuit {
public:
    static constexpr int32_t kMaxNewtonIterations = 256;
    static constexpr double kNewtonTolerance = 1e-12;  // volts, sum of |step| over the three unknowns

    explicit TriodeCircuit(const StageSettings& settings) noexcept;

    // The stage at rest, before any signal: plate at half the supply.
    ChannelState restState() const noexcept { return {0.5 * supplyVoltage, 0.0, 0.0}; }

    double gridCurrent(double vgk) const noexcept;
    double gridCurrentSlope(double vgk) const noexcept;  // dIg/dVg; dIg/dVk is its negative
    double plateCurrent(double vpk, double vgk) const noexcept;
    PlateCurrentSlopes plateCurrentSlopes(double vpk, double vgk) const noexcept;

    // The residuals F of one step's node equations at x.
    Vector3 circuitResidual(const StepInput& input, const ChannelState& x) const noexcept;
    // The negated Jacobian -dF/dx at x, row-major.
    Matrix3 circuitJacobian(const ChannelState& x) const noexcept;
    // Both at once, sharing the square roots, exponentials and powers that
    // they have in common; the same numbers as the two above.
    void linearise(const StepInput& input, const ChannelState& x, Vector3& residual, Matrix3& jacobian) const noexcept;

    // Newton iteration on x in place, warm-started from x; returns the final
    // plate voltage. Running out of iterations is not an error.
    double solveStep(const StepInput& input, ChannelState& x) const noexcept;

    // Circuit parts as on the schematic.
    double inputResistor = 68000.0;       // signal source to the input node
    double gridStopper = 1.0;             // input node to grid
    double gridLeak = 1000000.0;          // input node to ground
    double supplyVoltage;                 // B+
    double plateResistor = 100000.0;      // B+ to plate
    double loadResistor = 4000000.0;      // plate to ground
    double cathodeResistor = 2700.0;      // cathode to ground
    double cathodeCapacitor;              // across the cathode resistor
    TriodeConstants tube;

    // Derived from the parts, the tube and the running rate.
    double inputCoupling;    // grid current per volt of input, input node eliminated
    double gridConductance;  // grid current per volt of grid, input node eliminated
    double stepOverCap;      // time step of the running rate over the capacitance
    double plateConductance;
    double loadConductance;
    double cathodeConductance;
    double invKp;
    double invKg1;
};
