#include "dsp/OversamplingFilter.h"

// Half-band allpass coefficients: chain A uses the even entries for its four
// sections, chain B the odd ones.
const double kHalfbandCoefs[8] = {
    0.029224847909498444, 0.11100633018519479, 0.23034569682098943, 0.36934599510310256,
    0.5132320320968043,   0.6537278571840232,  0.789787692015113,   0.9271638358417171,
};

// The 8x polyphase interpolation FIR: 80 symmetric taps, summing to about
// 1.0001; each of the eight branches h[p], h[p + 8], ... sums to about 1/8.
constexpr double kPolyphaseFir[kFirTaps] = {
    -5.209750513827e-06,  -1.563664577118e-05,  -3.60597443816e-05,   -6.938765443094e-05,
    -0.0001168479582324,  -0.0001758735034237,  -0.0002381531342617,  -0.000288202482375,
    -0.000303149800459,   -0.0002544233985412,  -0.0001118279466691,  0.0001499053544536,
    0.0005426015202616,   0.001055331369699,    0.001646140731779,    0.002237047934574,
    0.00271465314972,     0.002938218587228,    0.002756197870744,    0.002030717973649,
    0.0006678625659938,   -0.001350097721266,   -0.003935749023775,   -0.006876702726794,
    -0.009830480609544,   -0.01233834108823,    -0.01385987231532,    -0.01382707046305,
    -0.01171320477853,    -0.007108612727801,   0.0002066762377259,   0.01020449475956,
    0.02257447092918,     0.03672200697379,     0.05180195557239,     0.066786719636,
    0.08056237614987,     0.09204193053073,     0.1002817549679,      0.1045861596209,
    // The second half mirrors the first.
    0.1045861596209,      0.1002817549679,      0.09204193053073,     0.08056237614987,
    0.066786719636,       0.05180195557239,     0.03672200697379,     0.02257447092918,
    0.01020449475956,     0.0002066762377259,   -0.007108612727801,   -0.01171320477853,
    -0.01382707046305,    -0.01385987231532,    -0.01233834108823,    -0.009830480609544,
    -0.006876702726794,   -0.003935749023775,   -0.001350097721266,   0.0006678625659938,
    0.002030717973649,    0.002756197870744,    0.002938218587228,    0.00271465314972,
    0.002237047934574,    0.001646140731779,    0.001055331369699,    0.0005426015202616,
    0.0001499053544536,   -0.0001118279466691,  -0.0002544233985412,  -0.000303149800459,
    -0.000288202482375,   -0.0002381531342617,  -0.0001758735034237,  -0.0001168479582324,
    -6.938765443094e-05,  -3.60597443816e-05,   -1.563664577118e-05,  -5.209750513827e-06,
};

namespace {
constexpr FirTapPairs pairsOf(const double (&taps)[kFirTaps])
{
    FirTapPairs pairs{};
    for (int32_t k = 0; k < kFirTaps; ++k) pairs.tap[k][0] = pairs.tap[k][1] = taps[k];
    return pairs;
}
constexpr FirTapQuads quadsOf(const double (&taps)[kFirTaps])
{
    FirTapQuads quads{};
    for (int32_t m = 0; m + 1 < kFirTaps; ++m) {
        quads.tap[m][0] = quads.tap[m][1] = taps[m + 1];
        quads.tap[m][2] = quads.tap[m][3] = taps[m];
    }
    return quads;
}
}  // namespace

constinit const FirTapPairs kPolyphaseFirPairs = pairsOf(kPolyphaseFir);
constinit const FirTapQuads kFirTapQuads = quadsOf(kPolyphaseFir);

OversamplingFilter::OversamplingFilter() noexcept : history{}, position{0, 0}, allpassIn{}, allpassOut{} {}

void OversamplingFilter::interpolate(double x, double out[kOversampling]) noexcept
{
    Lane1 u[kOversampling];
    interpolate(Lane1(x), u, 0);
    for (int32_t i = 0; i < kOversampling; ++i) out[i] = u[i].v;
}

double OversamplingFilter::decimate(const double u[kOversampling]) noexcept
{
    Lane1 in[kOversampling];
    for (int32_t i = 0; i < kOversampling; ++i) in[i] = Lane1(u[i]);
    return decimate(in, 0).v;
}

void OversamplingFilter::alignLanes() noexcept
{
    if (position[1] == position[0]) return;
    // history[position + k] is what the filter reads; keep that for every k.
    double rotated[kRing];
    for (int32_t k = 0; k < kRing; ++k) rotated[(position[0] + k) & (kRing - 1)] = history[(position[1] + k) & (kRing - 1)][1];
    for (int32_t slot = 0; slot < kRing; ++slot) history[slot][1] = history[slot + kRing][1] = rotated[slot];
    position[1] = position[0];
}
