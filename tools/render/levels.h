// Peak and RMS of a channel, in dBFS (full-scale sine: peak 0 dBFS, RMS -3.01 dBFS).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

namespace z5r {

inline double toDbfs(double amplitude) {
    return amplitude > 0.0 ? 20.0 * std::log10(amplitude) : -std::numeric_limits<double>::infinity();
}

struct Level {
    float peak = 0.0f;
    double sumSquares = 0.0;
    std::uint64_t samples = 0;
    std::uint64_t nonFinite = 0;  // NaN or infinite samples, left out of peak and RMS

    void add(const float* x, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            const float v = x[i];
            if (!std::isfinite(v)) {
                ++nonFinite;
                continue;
            }
            peak = std::max(peak, std::abs(v));
            sumSquares += static_cast<double>(v) * v;
        }
        samples += n;
    }

    double peakDbfs() const { return toDbfs(peak); }
    double rmsDbfs() const {
        return samples > 0 ? toDbfs(std::sqrt(sumSquares / static_cast<double>(samples))) : toDbfs(0.0);
    }
};

}  // namespace z5r
