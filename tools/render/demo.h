// The built-in test signal: a short plucked-string riff with chords, so the
// tool renders something musical without an input file.
#pragma once

#include "source.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace z5r {

// One plucked string (Karplus-Strong with fractional-delay tuning).
struct Pluck {
    double freq = 220.0;         // Hz
    double amplitude = 1.0;      // peak of the excitation
    double ringSeconds = 1.0;    // rings freely this long, then is damped
    double decaySeconds = 3.0;   // time to fall by 60 dB while ringing freely
    double brightness = 0.6;     // 0 dull .. 1 bright pick
    std::uint32_t seed = 1;      // excitation noise
    std::uint32_t altSeed = 2;   // a second noise mixed in, for per-channel variation
    double altMix = 0.0;         // 0..1 share of the second noise
};

// Adds the pluck into `out` from frame `start` on; whatever falls past the end is dropped.
void addPluck(std::span<float> out, std::size_t start, double rate, const Pluck& pluck);

inline constexpr double kDemoPeakDbfs = -6.0;

// The riff at `rate` Hz: about seven seconds, stereo with slightly different
// channels, normalized so the louder channel peaks at kDemoPeakDbfs.
StereoSignal makeDemoSignal(int rate);

}  // namespace z5r
