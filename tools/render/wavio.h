// Reading and writing audio files with libsndfile.
#pragma once

#include "source.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

typedef struct sf_private_tag SNDFILE;

namespace z5r {

// A file could not be read or written; the message is one line.
class FileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A mono or stereo file that libsndfile reads (WAV, and also AIFF, FLAC, ...).
class WavReader final : public Source {
public:
    // Reads are served in pieces of at most `maxBlock` frames.
    WavReader(const std::string& path, std::size_t maxBlock);
    ~WavReader() override;
    WavReader(const WavReader&) = delete;
    WavReader& operator=(const WavReader&) = delete;

    int rate() const override { return rate_; }
    int channels() const override { return channels_; }
    std::int64_t frames() const override { return frames_; }
    std::string describe() const override;
    std::size_t read(float* left, float* right, std::size_t count) override;

private:
    std::string path_;
    SNDFILE* file_ = nullptr;
    int rate_ = 0;
    int channels_ = 0;
    std::int64_t frames_ = 0;
    std::string format_;
    std::vector<float> interleaved_;
};

// Writes a stereo 32-bit float WAV. The audio goes to a temporary file beside
// `path`, which replaces `path` only on commit(); without a commit (an error,
// an interruption) the temporary file is removed and `path` is left alone.
class WavWriter {
public:
    WavWriter(const std::string& path, int rate, std::size_t maxBlock);
    ~WavWriter();
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    void write(const float* left, const float* right, std::size_t count);
    void commit();

private:
    std::string path_;
    std::string tempPath_;
    int fd_ = -1;  // of the temporary file, open while file_ is
    SNDFILE* file_ = nullptr;
    std::vector<float> interleaved_;
};

// True when both paths exist and name the same file (same device and inode),
// however they are spelled: links, "..", symlinks.
bool sameFile(const std::string& a, const std::string& b);

}  // namespace z5r
