#include "demo.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <numbers>
#include <vector>

namespace z5r {
namespace {

// Damped strings fall by 60 dB in this time.
constexpr double kDampSeconds = 0.12;

// Deterministic noise in [-1, 1), the same on every platform.
class Noise {
public:
    explicit Noise(std::uint32_t seed) : state_(seed != 0 ? seed : 0x9e3779b9u) {}
    double next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return static_cast<double>(state_) / 2147483648.0 - 1.0;
    }

private:
    std::uint32_t state_;
};

double midiToHz(int note) { return 440.0 * std::pow(2.0, (note - 69) / 12.0); }

}  // namespace

void addPluck(std::span<float> out, std::size_t start, double rate, const Pluck& p) {
    if (start >= out.size() || !(p.freq > 0.0) || rate <= 0.0) return;

    // Loop delay = line length + 0.5 (two-point average) + allpass delay, which
    // takes the fraction so the pitch is exact rather than rounded to a sample.
    const double period = rate / p.freq;
    if (period < 3.0) return;
    const auto length = static_cast<std::size_t>(std::floor(period - 0.6));
    const double fraction = period - 0.5 - static_cast<double>(length);  // 0.1 .. 1.1
    const double apCoef = (1.0 - fraction) / (1.0 + fraction);

    // Excitation: low-passed noise, without DC, scaled to peak 1.
    std::vector<double> line(length);
    Noise noiseA(p.seed), noiseB(p.altSeed);
    const double smoothing = 0.15 + 0.85 * std::clamp(p.brightness, 0.0, 1.0);
    const double mix = std::clamp(p.altMix, 0.0, 1.0);
    double lp = 0.0;
    for (auto& s : line) {
        const double white = (1.0 - mix) * noiseA.next() + mix * noiseB.next();
        lp += smoothing * (white - lp);
        s = lp;
    }
    double mean = 0.0;
    for (double s : line) mean += s;
    mean /= static_cast<double>(length);
    double peak = 0.0;
    for (auto& s : line) {
        s -= mean;
        peak = std::max(peak, std::abs(s));
    }
    if (peak > 0.0)
        for (auto& s : line) s /= peak;

    const double ringGain = std::pow(0.001, 1.0 / (p.freq * std::max(p.decaySeconds, 1e-3)));
    const double dampGain = std::pow(0.001, 1.0 / (p.freq * kDampSeconds));
    const auto ringFrames = static_cast<std::size_t>(std::max(p.ringSeconds, 0.0) * rate);
    // 1.5 damping times later the string is 90 dB down: stop there.
    const std::size_t total = ringFrames + static_cast<std::size_t>(1.5 * kDampSeconds * rate);
    const std::size_t end = std::min(out.size(), start + total);

    double prev = 0.0, apIn = 0.0, apOut = 0.0;
    std::size_t pos = 0;
    for (std::size_t i = start; i < end; ++i) {
        const double cur = line[pos];
        out[i] += static_cast<float>(p.amplitude * cur);
        const double avg = 0.5 * (cur + prev);
        prev = cur;
        const double ap = apCoef * avg + apIn - apCoef * apOut;
        apIn = avg;
        apOut = ap;
        line[pos] = (i - start < ringFrames ? ringGain : dampGain) * ap;
        if (++pos == length) pos = 0;
    }
}

StereoSignal makeDemoSignal(int rate) {
    struct Note {
        double time;  // seconds
        int midi;
        double ring;  // seconds
        double velocity;
        double pan;  // -1 left .. 1 right
    };

    constexpr double beat = 60.0 / 128.0;
    std::vector<Note> notes;
    // A downward strum: strings 15 ms apart, lower strings a little louder and centred.
    auto strum = [&](double atBeat, std::initializer_list<int> chord, double ringBeats) {
        int k = 0;
        for (int midi : chord) {
            const double pan = 0.12 * k - 0.3;
            notes.push_back({atBeat * beat + 0.015 * k, midi, ringBeats * beat, 1.0 - 0.06 * k, pan});
            ++k;
        }
    };
    auto arpeggio = [&](double atBeat, std::initializer_list<int> line) {
        int k = 0;
        for (int midi : line) {
            const double pan = (k % 2 == 0) ? 0.35 : -0.35;
            notes.push_back({(atBeat + 0.5 * k) * beat, midi, 1.2 * beat, 0.8, pan});
            ++k;
        }
    };

    // E minor, C, D, back to E minor.
    strum(0, {40, 47, 52, 55, 59, 64}, 2.0);
    arpeggio(2, {55, 59, 64, 59});
    strum(4, {48, 55, 60, 64, 67}, 2.0);
    arpeggio(6, {60, 64, 67, 64});
    strum(8, {50, 57, 62, 66, 69}, 2.0);
    arpeggio(10, {62, 66, 69, 74});
    strum(12, {40, 47, 52, 55, 59, 64}, 2.5);

    double endTime = 0.0;
    for (const auto& n : notes) endTime = std::max(endTime, n.time + n.ring);
    const auto frames = static_cast<std::size_t>((endTime + 0.25) * rate);

    StereoSignal s{rate, std::vector<float>(frames), std::vector<float>(frames)};
    std::uint32_t seed = 1;
    for (const auto& n : notes) {
        const double angle = (n.pan + 1.0) * std::numbers::pi / 4.0;  // equal-power pan
        for (int ch = 0; ch < 2; ++ch) {
            // The channels differ slightly: a fraction of a cent of detune and a little of their own pick noise.
            const double detuneCents = (ch == 0 ? -0.2 : 0.2) * ((seed % 2 == 0) ? 1.0 : -1.0);
            Pluck p;
            p.freq = midiToHz(n.midi) * std::pow(2.0, detuneCents / 1200.0);
            p.amplitude = n.velocity * std::numbers::sqrt2 * (ch == 0 ? std::cos(angle) : std::sin(angle));
            p.ringSeconds = n.ring;
            p.decaySeconds = 2.5 - 0.02 * (n.midi - 40);
            p.brightness = 0.45 + 0.3 * n.velocity;
            p.seed = seed;
            p.altSeed = seed * 7919u + 1u + static_cast<std::uint32_t>(ch);
            p.altMix = 0.1;
            addPluck(ch == 0 ? s.left : s.right, static_cast<std::size_t>(n.time * rate), rate, p);
        }
        ++seed;
    }

    float peak = 0.0f;
    for (const auto* ch : {&s.left, &s.right})
        for (float v : *ch) peak = std::max(peak, std::abs(v));
    if (peak > 0.0f) {
        const auto gain = static_cast<float>(std::pow(10.0, kDemoPeakDbfs / 20.0) / peak);
        for (auto* ch : {&s.left, &s.right})
            for (float& v : *ch) v *= gain;
    }
    return s;
}

}  // namespace z5r
