// Reading and writing audio files with libsndfile.
#pragma once

#include "source.h"

#include <cstddef>
#include <cstdint>
#include <memory>
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
// Damage is an error, never a shorter render: a decoding error, a file that
// ends before the frames its header announces (a WAV's data chunk longer than
// the file is caught on opening, as libsndfile would quietly shorten it).
// A file that does not say its length exactly (a FLAC written as a stream, an
// MP3) is decoded once on opening to count its frames.
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
    // Up to `count` frames (at most a block) into interleaved_; 0 only at the
    // end. Throws on a decoding error, and on an early end when the length is known.
    std::size_t readBlock(std::size_t count, bool lengthKnown = true);

    std::string path_;
    struct Closer {
        void operator()(SNDFILE* file) const;
    };
    std::unique_ptr<SNDFILE, Closer> file_;
    int rate_ = 0;
    int channels_ = 0;
    std::int64_t frames_ = 0;
    std::int64_t read_ = 0;  // frames delivered so far
    std::string format_;
    std::vector<float> interleaved_;
};

// The output format: stereo 32-bit float, 8 bytes a frame. A plain WAV holds
// its sizes in 32 bits, so a longer output is written as RF64, the same WAV
// with 64-bit sizes, which readers that know WAV also read.
enum class Container { Wav, Rf64 };
inline constexpr std::int64_t kOutputFrameBytes = 8;
// The most audio a plain WAV may hold, room left for the header chunks that
// share the 32-bit RIFF size (libsndfile writes fmt, fact and PEAK; they are
// far smaller than this).
inline constexpr std::int64_t kWavMaxDataBytes = 0xFFFFFFFFLL - 4096;

Container containerFor(std::int64_t frames);

// The header of a stereo 32-bit float file of `frames` frames at `rate` Hz,
// written before any audio where it can never be rewritten (a pipe): a WAV
// (RIFF, fmt, fact, data) or an RF64 (RF64, ds64, fmt, data).
std::vector<unsigned char> streamHeader(int rate, std::int64_t frames, Container container);

struct OutputTarget;

// Writes the render, `frames` stereo frames at `rate` Hz, to `target`, exactly
// that many: a writer that is given more, or fewer by commit(), fails.
//
// A file: the audio goes to a temporary file beside it, through libsndfile,
// which replaces it only on commit() (keeping its permission bits); without a
// commit (an error, a stop signal) the temporary file is removed and the
// file is left alone.
// A stream: the header, sized from `frames` in advance, and then the audio go
// straight to the descriptor; nothing can be taken back there.
class WavWriter {
public:
    WavWriter(const OutputTarget& target, int rate, std::int64_t frames, std::size_t maxBlock);
    ~WavWriter();
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    Container container() const { return container_; }
    void write(const float* left, const float* right, std::size_t count);
    void commit();

private:
    void openFile(const OutputTarget& target, int rate);
    void openStream(const OutputTarget& target, int rate);
    void writeStream(const void* data, std::size_t bytes);
    void release();  // closes everything and removes the temporary file, if any

    std::string name_;      // as the user gave it, for messages
    std::string path_;      // the file to replace
    std::string tempPath_;  // empty for a stream
    int fd_ = -1;           // of the temporary file while file_ is open; of the stream
    bool ownsFd_ = false;   // false for standard output
    SNDFILE* file_ = nullptr;
    Container container_ = Container::Wav;
    std::int64_t frames_ = 0;
    std::int64_t written_ = 0;
    std::vector<float> interleaved_;
};

}  // namespace z5r
