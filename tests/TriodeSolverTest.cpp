// The circuit model against the figures of the tube data and the exact
// cut-off solution, the Jacobian against the residual it differentiates,
// and the LU solve against the systems it solves.
#include "dsp/TriodeCircuit.h"
#include "dsp/TriodeTables.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TriodeCircuit circuitFor(int32_t triode, double supply = 350.0)
{
    StageSettings stage;
    stage.triode = triode;
    stage.supplyVoltage = supply;
    stage.cathodeCapacitor = 1e-6;
    return TriodeCircuit(stage);
}

}  // namespace

TEST(TriodeCurrents, PlateCurrentMatchesTubeDataAt250VoltsAndMinus2)
{
    // Published operating points: plate 250 V, grid -2 V.
    const double expectedMilliamps[kTriodeCount] = {0.95, 10.9, 32.7};
    for (int32_t t = 0; t < kTriodeCount; ++t) {
        const double ip = circuitFor(t).plateCurrent(250.0, -2.0) * 1000.0;
        EXPECT_NEAR(ip, expectedMilliamps[t], expectedMilliamps[t] * 0.01) << "tube " << t;
    }
}

TEST(TriodeCurrents, NoPlateCurrentOrSlopeWithoutPlateVoltage)
{
    for (int32_t t = 0; t < kTriodeCount; ++t) {
        const TriodeCircuit p = circuitFor(t);
        for (double vpk : {0.0, -1e-9, -50.0}) {
            EXPECT_EQ(p.plateCurrent(vpk, 0.0), 0.0);
            const PlateCurrentSlopes s = p.plateCurrentSlopes(vpk, 0.0);
            EXPECT_EQ(s.dVp, 0.0);
            EXPECT_EQ(s.dVg, 0.0);
            EXPECT_EQ(s.dVk, 0.0);
        }
        // Deep cut-off: the softplus underflows and the current is exactly 0.
        EXPECT_EQ(p.plateCurrent(100.0, -1000.0), 0.0);
    }
}

TEST(TriodeCurrents, GridConductsFrom0Point2VoltsBelowTheCathode)
{
    const TriodeCircuit p = circuitFor(0);
    EXPECT_EQ(p.gridCurrent(-0.2), 0.0);
    EXPECT_EQ(p.gridCurrent(-5.0), 0.0);
    EXPECT_EQ(p.gridCurrentSlope(-0.2), 0.0);
    EXPECT_DOUBLE_EQ(p.gridCurrent(0.8), 1e-5);
    EXPECT_DOUBLE_EQ(p.gridCurrentSlope(0.8), 1.5e-5);
    // 3/2-power law.
    EXPECT_NEAR(p.gridCurrent(3.8), 1e-5 * 8.0, 1e-18);
}

TEST(TriodeCurrents, SlopesMatchFiniteDifferencesWhereTheLogisticIsNotSaturated)
{
    // Beyond |u| = 6 the slopes take the logistic as exactly 0 or 1 on
    // purpose; elsewhere they are the true derivatives.
    int32_t checked = 0;
    for (int32_t t = 0; t < kTriodeCount; ++t) {
        const TriodeCircuit p = circuitFor(t);
        const TriodeConstants& tube = kTriodeConstants[t];
        for (double vpk : {5.0, 80.0, 250.0}) {
            for (double vgk : {-6.0, -2.0, -1.0, -0.5, 0.5}) {
                const double u = tube.kp * (tube.invMu + vgk / std::sqrt(tube.kvb + vpk * vpk));
                if (std::fabs(u) > 5.0) continue;
                ++checked;
                const double h = 1e-6;
                const PlateCurrentSlopes s = p.plateCurrentSlopes(vpk, vgk);
                // Vp moves Vpk; Vg moves Vgk; Vk moves both the other way.
                const double dVp = (p.plateCurrent(vpk + h, vgk) - p.plateCurrent(vpk - h, vgk)) / (2 * h);
                const double dVg = (p.plateCurrent(vpk, vgk + h) - p.plateCurrent(vpk, vgk - h)) / (2 * h);
                EXPECT_NEAR(s.dVp, dVp, std::fabs(dVp) * 1e-5 + 1e-15) << t << " " << vpk << " " << vgk;
                EXPECT_NEAR(s.dVg, dVg, std::fabs(dVg) * 1e-5 + 1e-15) << t << " " << vpk << " " << vgk;
                EXPECT_DOUBLE_EQ(s.dVk, -s.dVp - s.dVg);
            }
        }
    }
    EXPECT_GE(checked, 10);
}

TEST(TriodeCircuit, JacobianIsTheNegatedDerivativeOfTheResidual)
{
    const TriodeCircuit p = circuitFor(1, 250.0);
    const StepInput input{0.7, 1.2};
    for (const ChannelState& x : {ChannelState{180.0, -1.0, 1.5}, ChannelState{120.0, 0.9, 0.4},
                                  ChannelState{240.0, -8.0, 0.3}}) {
        const Matrix3 a = p.circuitJacobian(x);
        for (int32_t col = 0; col < 3; ++col) {
            const double h = 1e-6;
            ChannelState up = x, down = x;
            double* upField[3] = {&up.plateVoltage, &up.gridVoltage, &up.cathodeVoltage};
            double* downField[3] = {&down.plateVoltage, &down.gridVoltage, &down.cathodeVoltage};
            *upField[col] += h;
            *downField[col] -= h;
            const Vector3 fUp = p.circuitResidual(input, up);
            const Vector3 fDown = p.circuitResidual(input, down);
            for (int32_t row = 0; row < 3; ++row) {
                const double numeric = -(fUp[row] - fDown[row]) / (2 * h);
                EXPECT_NEAR(a[row][col], numeric, 1e-6 * (std::fabs(numeric) + 1e-3)) << row << "," << col;
            }
        }
    }
}

TEST(LuSolve, SolvesSystemsThatNeedPivoting)
{
    // A zero on the diagonal forces a row swap; rows of very different
    // scale exercise the implicit scaling.
    const Matrix3 systems[] = {
        {{{0.0, 2.0, 1.0}, {1.0, 1.0, 1.0}, {3.0, 0.0, -2.0}}},
        {{{1e-9, 3e-9, 1e-9}, {4.0, -1.0, 2.0}, {-2.0, 5.0, 1e3}}},
        {{{2.0, 0.0, 0.0}, {0.0, 3.0, 0.0}, {0.0, 0.0, 4.0}}},
    };
    const Vector3 solution{1.5, -2.0, 0.25};
    for (const Matrix3& a : systems) {
        Vector3 b{};
        for (int32_t i = 0; i < 3; ++i)
            for (int32_t j = 0; j < 3; ++j) b[i] += a[i][j] * solution[j];
        luSolve(a, b);
        for (int32_t i = 0; i < 3; ++i) EXPECT_NEAR(b[i], solution[i], 1e-9);
    }
}

TEST(LuSolve, ZeroRightHandSideGivesZero)
{
    const Matrix3 a{{{0.0, 2.0, 1.0}, {1.0, 1.0, 1.0}, {3.0, 0.0, -2.0}}};
    Vector3 b{0.0, 0.0, 0.0};
    luSolve(a, b);
    for (double v : b) EXPECT_EQ(v, 0.0);
}

TEST(NewtonSolve, ReachesTheCutOffSolutionFromFarAway)
{
    for (double supply : {150.0, 250.0, 350.0}) {
        const TriodeCircuit p = circuitFor(0, supply);
        ChannelState x{0.5 * supply, -150.0, -15.0};
        const double vp = p.solveStep({-150.0, -15.0}, x);
        const double gi = 1.0 / p.inputResistor, gl = 1.0 / p.gridLeak;
        EXPECT_NEAR(vp, supply * p.loadResistor / (p.plateResistor + p.loadResistor), 1e-9);
        EXPECT_NEAR(x.gridVoltage, -150.0 * gi / (gi + gl), 1e-6);
        EXPECT_NEAR(x.cathodeVoltage, -15.0 / (1.0 + p.stepOverCap * p.cathodeConductance), 1e-9);
    }
    // The figures of the 350 V stage.
    const TriodeCircuit p = circuitFor(0, 350.0);
    ChannelState x{175.0, -150.0, -15.0};
    EXPECT_NEAR(p.solveStep({-150.0, -15.0}, x), 341.46, 0.005);
    EXPECT_NEAR(x.gridVoltage, -140.45, 0.005);
}

TEST(NewtonSolve, LeavesNoResidualAcrossTheTableSweeps)
{
    // The sweeps the table builder makes: input from -150 to +150 V, each
    // solve warm-started from the one before, the cathode held at -15, 0
    // or +15 V.
    for (int32_t t = 0; t < kTriodeCount; ++t) {
        for (double supply : {150.0, 350.0}) {
            const TriodeCircuit p = circuitFor(t, supply);
            for (double cathode : {-15.0, 0.0, 15.0}) {
                ChannelState x{0.5 * supply, -150.0, cathode};
                for (int32_t w = 0; w < kTableSize; ++w) {
                    const StepInput input{-150.0 + w * 300.0 / 512.0, cathode};
                    p.solveStep(input, x);
                    const Vector3 f = p.circuitResidual(input, x);
                    EXPECT_LT(std::fabs(f[0]) + std::fabs(f[1]) + std::fabs(f[2]), 1e-9)
                        << t << " " << supply << " " << cathode << " " << w;
                }
            }
        }
    }
}
