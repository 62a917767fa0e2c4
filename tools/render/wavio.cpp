#include "wavio.h"

#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

namespace z5r {
namespace {

std::string formatName(int format) {
    SF_FORMAT_INFO info{};
    info.format = format;
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof info) == 0 && info.name != nullptr) return info.name;
    return "audio";
}

}  // namespace

WavReader::WavReader(const std::string& path, std::size_t maxBlock) : path_(path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (!fs::exists(path, ec)) throw FileError("input file not found: " + path);
    if (!fs::is_regular_file(path, ec)) throw FileError("input is not a regular file: " + path);

    SF_INFO info{};
    file_ = sf_open(path.c_str(), SFM_READ, &info);
    if (file_ == nullptr)
        throw FileError("cannot read " + path + ": unsupported or damaged audio file (" + sf_strerror(nullptr) + ")");
    if (info.channels < 1 || info.channels > 2) {
        sf_close(file_);
        throw FileError(path + " has " + std::to_string(info.channels) +
                        " channels; only mono and stereo files are supported");
    }
    if (info.samplerate <= 0) {
        sf_close(file_);
        throw FileError(path + " has no valid sample rate");
    }
    rate_ = info.samplerate;
    channels_ = info.channels;
    frames_ = info.frames;
    format_ = formatName(info.format & SF_FORMAT_TYPEMASK) + ", " + formatName(info.format & SF_FORMAT_SUBMASK);
    interleaved_.resize(maxBlock * static_cast<std::size_t>(channels_));
}

WavReader::~WavReader() {
    if (file_ != nullptr) sf_close(file_);
}

std::string WavReader::describe() const { return path_ + " (" + format_ + ")"; }

std::size_t WavReader::read(float* left, float* right, std::size_t count) {
    count = std::min(count, interleaved_.size() / static_cast<std::size_t>(channels_));
    const auto got = sf_readf_float(file_, interleaved_.data(), static_cast<sf_count_t>(count));
    if (got < 0) throw FileError("error reading " + path_ + ": " + sf_strerror(file_));
    const auto n = static_cast<std::size_t>(got);
    if (channels_ == 1) {
        std::copy_n(interleaved_.data(), n, left);
        std::copy_n(interleaved_.data(), n, right);
    } else {
        for (std::size_t i = 0; i < n; ++i) {
            left[i] = interleaved_[2 * i];
            right[i] = interleaved_[2 * i + 1];
        }
    }
    return n;
}

WavWriter::WavWriter(const std::string& path, int rate, std::size_t maxBlock)
    : path_(path), interleaved_(2 * maxBlock) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (fs::is_directory(path, ec)) throw FileError("output path is a directory: " + path);

    // A fresh, uniquely named file: nothing that already exists is touched.
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) throw FileError("cannot write " + path + ": " + std::strerror(errno));
    tempPath_ = temp;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);

    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    // The descriptor stays ours: libsndfile closes it itself when sf_open_fd fails
    // with close_desc set, but not when it fails to allocate, so it is never handed over.
    file_ = sf_open_fd(fd, SFM_WRITE, &info, SF_FALSE);
    if (file_ == nullptr) {
        const std::string reason = sf_strerror(nullptr);
        ::close(fd);
        std::remove(tempPath_.c_str());
        throw FileError("cannot write " + path + ": " + reason);
    }
    fd_ = fd;
}

WavWriter::~WavWriter() {
    if (file_ != nullptr) {
        sf_close(file_);
        ::close(fd_);
        std::remove(tempPath_.c_str());
    }
}

void WavWriter::write(const float* left, const float* right, std::size_t count) {
    const std::size_t chunk = interleaved_.size() / 2;
    for (std::size_t done = 0; done < count;) {
        const std::size_t n = std::min(chunk, count - done);
        for (std::size_t i = 0; i < n; ++i) {
            interleaved_[2 * i] = left[done + i];
            interleaved_[2 * i + 1] = right[done + i];
        }
        if (sf_writef_float(file_, interleaved_.data(), static_cast<sf_count_t>(n)) != static_cast<sf_count_t>(n))
            throw FileError("error writing " + path_ + ": " + sf_strerror(file_));
        done += n;
    }
}

void WavWriter::commit() {
    const int err = sf_close(file_);
    file_ = nullptr;
    // close() can be the first to report that the data did not reach the disk.
    const int closed = ::close(std::exchange(fd_, -1));
    const int closeErrno = errno;
    if (err != 0 || closed != 0) {
        std::remove(tempPath_.c_str());
        throw FileError("error finishing " + path_ + ": " +
                        (err != 0 ? sf_error_number(err) : std::strerror(closeErrno)));
    }
    std::error_code ec;
    std::filesystem::rename(tempPath_, path_, ec);
    if (ec) {
        std::remove(tempPath_.c_str());
        throw FileError("cannot write " + path_ + ": " + ec.message());
    }
}

bool sameFile(const std::string& a, const std::string& b) {
    struct stat sa {}, sb {};
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace z5r
