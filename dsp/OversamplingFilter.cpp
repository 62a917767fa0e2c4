#include "dsp/OversamplingFilter.h"

// Half-band allpass coefficients: chain A uses the even entries for its four
// sections, chain B the odd ones.
const double kHalfbandCoefs[8] = {
    0.029224847909498444, 0.11100633018519479, 0.23034569682098943, 0.36934599510310256,
    0.5132320320968043,   0.6537278571840232,  0.789787692015113,   0.9271638358417171,
};

// The 8x polyphase interpolation FIR: 80 symmetric taps, summing to about
// 1.0001; each of the eight branches h[p], h[p + 8], ... sums to about 1/8.
const double kPolyphaseFir[kFirTaps] = {
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

OversamplingFilter::OversamplingFilter() noexcept
    : history{}, position(0), tapCount(kFirTaps), halfband(kHalfbandCoefs), fir(kPolyphaseFir), allpassIn{},
      allpassOut{}
{
}

void OversamplingFilter::store(int32_t index, double value) noexcept
{
    const int32_t slot = index & (kRing - 1);
    history[slot] = value;
    history[slot + kRing] = value;
}

double OversamplingFilter::runChain(int32_t chain, double in) noexcept
{
    for (int32_t section = 0; section < 4; ++section) {
        const int32_t k = 2 * section + chain;
        const double y = (in - allpassOut[k]) * halfband[k] + allpassIn[k];
        allpassIn[k] = in;
        allpassOut[k] = y;
        in = y;
    }
    return in;
}

void OversamplingFilter::interpolate(double x, double out[kOversampling]) noexcept
{
    // Each FIR branch has a gain of about 1/8.
    const double s = 8.0 * x;
    const double a = runChain(0, s);
    const double b = runChain(1, s);

    // The ring runs backward in time from position: history[position + k]
    // is the 2x sample k steps before the newest.
    position = (position - 2) & (kRing - 1);
    store(position, b);
    store(position + 1, a);

    // Eight independent sums per half, each still accumulated in tap order:
    // the branch loop runs innermost so the sums proceed side by side.
    const double* newest = &history[position];
    double sumA[8] = {};
    double sumB[8] = {};
    for (int32_t k = 0; k < tapCount / 8; ++k) {
        const double olderSample = newest[1 + k];
        const double newerSample = newest[k];
        for (int32_t j = 0; j < 8; ++j) {
            sumA[j] += fir[j + 8 * k] * olderSample;
            sumB[j] += fir[j + 8 * k] * newerSample;
        }
    }
    for (int32_t j = 0; j < 8; ++j) {
        out[j] = sumA[j];
        out[j + 8] = sumB[j];
    }
}

double OversamplingFilter::decimate(const double u[kOversampling]) noexcept
{
    // The ring runs forward in time: after this block, history[position + 15]
    // is the newest 16x sample and older blocks lie just before position.
    for (int32_t i = 0; i < kOversampling; ++i) store(position + i, u[i]);

    // A window of the 88 newest samples, oldest first, read without wrapping:
    // s(m), the sample m steps before the newest, is window[87 - m].
    const int32_t span = tapCount + 8;
    const double* window = &history[(position + kOversampling - span) & (kRing - 1)];
    // Four interleaved partial sums per output shorten the chain of
    // dependent additions; their order is fixed, so results repeat exactly.
    double newer[4] = {};  // the FIR output at u[15]
    double older[4] = {};  // the FIR output at u[7]
    for (int32_t k = 0; k < tapCount; k += 4) {
        for (int32_t lane = 0; lane < 4; ++lane) {
            newer[lane] += fir[k + lane] * window[span - 1 - k - lane];
            older[lane] += fir[k + lane] * window[span - 9 - k - lane];
        }
    }
    position = (position + kOversampling) & (kRing - 1);

    const double a = runChain(0, (newer[0] + newer[1]) + (newer[2] + newer[3]));
    const double b = runChain(1, (older[0] + older[1]) + (older[2] + older[3]));
    return (a + b) * 0.5;
}
