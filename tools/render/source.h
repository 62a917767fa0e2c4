// Where the audio to render comes from: a file or a signal held in memory.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace z5r {

class Source {
public:
    virtual ~Source() = default;
    virtual int rate() const = 0;
    virtual int channels() const = 0;
    virtual std::int64_t frames() const = 0;
    virtual std::string describe() const = 0;
    // Reads up to `count` frames into left and right (a mono source fills both
    // with the same samples). Returns the frames read; 0 at the end.
    virtual std::size_t read(float* left, float* right, std::size_t count) = 0;
};

// Stereo audio held in memory, equal-length channels.
struct StereoSignal {
    int rate = 0;
    std::vector<float> left;
    std::vector<float> right;
};

class SignalSource final : public Source {
public:
    SignalSource(StereoSignal signal, std::string description)
        : signal_(std::move(signal)), description_(std::move(description)) {}

    int rate() const override { return signal_.rate; }
    int channels() const override { return 2; }
    std::int64_t frames() const override { return static_cast<std::int64_t>(signal_.left.size()); }
    std::string describe() const override { return description_; }

    std::size_t read(float* left, float* right, std::size_t count) override {
        const std::size_t n = std::min(count, signal_.left.size() - pos_);
        std::copy_n(signal_.left.begin() + static_cast<std::ptrdiff_t>(pos_), n, left);
        std::copy_n(signal_.right.begin() + static_cast<std::ptrdiff_t>(pos_), n, right);
        pos_ += n;
        return n;
    }

private:
    StereoSignal signal_;
    std::string description_;
    std::size_t pos_ = 0;
};

}  // namespace z5r
