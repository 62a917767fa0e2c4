#include "wavio.h"

#include "output.h"
#include "stop.h"

#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <optional>
#include <system_error>
#include <utility>

namespace z5r {
namespace {

constexpr useconds_t kFifoPollMicroseconds = 20'000;

std::string formatName(int format) {
    SF_FORMAT_INFO info{};
    info.format = format;
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof info) == 0 && info.name != nullptr) return info.name;
    return "audio";
}

// libsndfile's message without its "Error : " and final full stop.
std::string libraryMessage(SNDFILE* file) {
    std::string s = sf_strerror(file);
    if (s.starts_with("Error : ")) s.erase(0, 8);
    while (!s.empty() && (s.back() == '.' || s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

std::uint32_t le32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// Where a WAV file's data chunk starts and the size its header gives it.
struct DataChunk {
    std::uint64_t offset = 0;
    std::uint32_t size = 0;
};

std::optional<DataChunk> findWavData(const std::string& path) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!f) return std::nullopt;
    unsigned char head[12];
    if (std::fread(head, 1, sizeof head, f.get()) != sizeof head || std::memcmp(head, "RIFF", 4) != 0 ||
        std::memcmp(head + 8, "WAVE", 4) != 0)
        return std::nullopt;
    unsigned char chunk[8];
    while (std::fread(chunk, 1, sizeof chunk, f.get()) == sizeof chunk) {
        const std::uint32_t size = le32(chunk + 4);
        if (std::memcmp(chunk, "data", 4) == 0) {
            const off_t at = ::ftello(f.get());
            if (at < 0) return std::nullopt;
            return DataChunk{static_cast<std::uint64_t>(at), size};
        }
        // Chunks are padded to an even size.
        if (::fseeko(f.get(), static_cast<off_t>(size) + (size & 1u), SEEK_CUR) != 0) return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace

void WavReader::Closer::operator()(SNDFILE* file) const { sf_close(file); }

WavReader::WavReader(const std::string& path, std::size_t maxBlock) : path_(path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (!fs::exists(path, ec)) throw FileError("input file not found: " + path);
    if (!fs::is_regular_file(path, ec)) throw FileError("input is not a regular file: " + path);

    SF_INFO info{};
    file_.reset(sf_open(path.c_str(), SFM_READ, &info));
    if (!file_)
        throw FileError("cannot read " + path + ": unsupported or damaged audio file (" + sf_strerror(nullptr) + ")");
    if (info.channels < 1 || info.channels > 2)
        throw FileError(path + " has " + std::to_string(info.channels) +
                        " channels; only mono and stereo files are supported");
    if (info.samplerate <= 0) throw FileError(path + " has no valid sample rate");
    rate_ = info.samplerate;
    channels_ = info.channels;
    format_ = formatName(info.format & SF_FORMAT_TYPEMASK) + ", " + formatName(info.format & SF_FORMAT_SUBMASK);
    interleaved_.resize(std::max<std::size_t>(maxBlock, 1) * static_cast<std::size_t>(channels_));

    // libsndfile shortens a WAV whose data chunk runs past the end of the file
    // to what is there, without a word: a copy cut short would render as if whole.
    const int type = info.format & SF_FORMAT_TYPEMASK;
    if (type == SF_FORMAT_WAV || type == SF_FORMAT_WAVEX) {
        const auto data = findWavData(path);
        const auto size = fs::file_size(path, ec);
        // 0 and 0xFFFFFFFF stand for "unknown" from writers that could not go back to the header.
        if (data && !ec && data->size != 0 && data->size != 0xFFFFFFFFu && data->offset + data->size > size)
            throw FileError(path + " is cut short: its header announces " + std::to_string(data->size) +
                            " bytes of audio, the file holds " + std::to_string(size - data->offset));
    }

    // The output's length is fixed before rendering, so it must be exact. An
    // MP3's is an estimate when the file has no length header (VBR), and a
    // FLAC written as a stream has none (SF_COUNT_MAX): count them, then start again.
    if (info.frames >= 0 && info.frames != SF_COUNT_MAX && type != SF_FORMAT_MPEG) {
        frames_ = info.frames;
        return;
    }
    frames_ = std::numeric_limits<std::int64_t>::max();
    std::int64_t counted = 0;
    while (const auto got = readBlock(interleaved_.size(), false)) {
        counted += static_cast<std::int64_t>(got);
        throwIfStopped();  // a long file takes a while
    }
    if (sf_seek(file_.get(), 0, SEEK_SET) != 0)
        throw FileError("cannot read " + path + ": it does not say its length and cannot be read twice (" +
                        libraryMessage(file_.get()) + ")");
    frames_ = counted;
    read_ = 0;
}

WavReader::~WavReader() = default;

std::string WavReader::describe() const { return path_ + " (" + format_ + ")"; }

std::size_t WavReader::readBlock(std::size_t count, bool lengthKnown) {
    // Never past the frames announced: the output's length is fixed by them.
    count = std::min({count, interleaved_.size() / static_cast<std::size_t>(channels_),
                      static_cast<std::size_t>(std::min<std::int64_t>(frames_ - read_, SF_COUNT_MAX))});
    if (count == 0) return 0;
    const sf_count_t got = sf_readf_float(file_.get(), interleaved_.data(), static_cast<sf_count_t>(count));
    // libsndfile clears its error at each call: what is there now is this read's.
    if (got < 0 || sf_error(file_.get()) != SF_ERR_NO_ERROR)
        throw FileError(path_ + " is damaged: " + libraryMessage(file_.get()) + " after " + std::to_string(read_) +
                        " frames");
    if (got == 0 && lengthKnown)
        throw FileError(path_ + " is cut short: it ends after " + std::to_string(read_) + " of the " +
                        std::to_string(frames_) + " frames its header announces");
    read_ += got;
    return static_cast<std::size_t>(got);
}

std::size_t WavReader::read(float* left, float* right, std::size_t count) {
    const std::size_t n = readBlock(count);
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

Container containerFor(std::int64_t frames) {
    return frames > kWavMaxDataBytes / kOutputFrameBytes ? Container::Rf64 : Container::Wav;
}

std::vector<unsigned char> streamHeader(int rate, std::int64_t frames, Container container) {
    const auto dataBytes = static_cast<std::uint64_t>(frames) * kOutputFrameBytes;
    std::vector<unsigned char> h;
    h.reserve(80);
    const auto tag = [&](const char* id) {
        for (int i = 0; i < 4; ++i) h.push_back(static_cast<unsigned char>(id[i]));
    };
    const auto le = [&](std::uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) h.push_back(static_cast<unsigned char>(v >> (8 * i)));
    };
    constexpr int kChannels = 2, kBits = 32, kFrameBytes = 8;
    constexpr std::uint16_t kIeeeFloat = 3;           // WAVE_FORMAT_IEEE_FLOAT
    constexpr std::uint32_t kSizeInDs64 = 0xFFFFFFFF;  // RF64: the real size is in ds64
    constexpr std::uint64_t kFmtChunk = 8 + 16, kFactChunk = 8 + 4, kDs64Chunk = 8 + 28, kDataHead = 8;
    const auto fmt = [&] {
        tag("fmt ");
        le(16, 4);
        le(kIeeeFloat, 2);
        le(kChannels, 2);
        le(static_cast<std::uint32_t>(rate), 4);
        le(static_cast<std::uint64_t>(rate) * kFrameBytes, 4);
        le(kFrameBytes, 2);
        le(kBits, 2);
    };
    if (container == Container::Wav) {
        tag("RIFF");
        le(4 + kFmtChunk + kFactChunk + kDataHead + dataBytes, 4);
        tag("WAVE");
        fmt();
        tag("fact");  // wanted for any format but PCM
        le(4, 4);
        le(static_cast<std::uint64_t>(frames), 4);
        tag("data");
        le(dataBytes, 4);
    } else {
        tag("RF64");
        le(kSizeInDs64, 4);
        tag("WAVE");
        tag("ds64");
        le(28, 4);
        le(4 + kDs64Chunk + kFmtChunk + kDataHead + dataBytes, 8);  // RIFF size
        le(dataBytes, 8);
        le(static_cast<std::uint64_t>(frames), 8);  // sample count
        le(0, 4);                                   // no table of other chunk sizes
        fmt();
        tag("data");
        le(kSizeInDs64, 4);
    }
    return h;
}

WavWriter::WavWriter(const OutputTarget& target, int rate, std::int64_t frames, std::size_t maxBlock)
    : name_(target.name),
      path_(target.path),
      container_(containerFor(frames)),
      frames_(frames),
      interleaved_(2 * std::max<std::size_t>(maxBlock, 1)) {
    if (rate <= 0) throw FileError("cannot write " + name_ + ": no valid sample rate");
    if (frames < 0) throw FileError("cannot write " + name_ + ": a negative length");
    try {
        if (target.kind == OutputTarget::Kind::File)
            openFile(target, rate);
        else
            openStream(target, rate);
    } catch (...) {
        release();
        throw;
    }
}

WavWriter::~WavWriter() { release(); }

void WavWriter::release() {
    if (file_ != nullptr) sf_close(std::exchange(file_, nullptr));
    if (fd_ >= 0 && ownsFd_) ::close(fd_);
    fd_ = -1;
    if (!tempPath_.empty()) {
        registerTemporaryFile({});
        std::remove(std::exchange(tempPath_, {}).c_str());
    }
}

void WavWriter::openFile(const OutputTarget& target, int rate) {
    // A fresh, uniquely named file: nothing that already exists is touched.
    // Its name fits wherever the output's does (names of up to 255 bytes).
    const std::string folder = std::filesystem::path(path_).parent_path().string();
    long nameMax = ::pathconf(folder.empty() ? "." : folder.c_str(), _PC_NAME_MAX);
    if (nameMax <= 0) nameMax = NAME_MAX;
    std::string temp = temporaryTemplate(path_, nameMax);
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) throw FileError("cannot write " + name_ + ": " + std::strerror(errno));
    fd_ = fd;
    ownsFd_ = true;
    tempPath_ = temp;
    registerTemporaryFile(temp);  // a crash in the plug-in removes it too
    // The file that is replaced keeps its permissions and, where allowed, its owner.
    struct stat old {};
    if (target.existing && ::stat(path_.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        ::fchmod(fd, old.st_mode & 0777);
        // Where that is not allowed, the new file is simply the renderer's.
        if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) {
            [[maybe_unused]] const int kept = ::fchown(fd, old.st_uid, old.st_gid);
        }
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, 0666 & ~mask);
    }

    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 2;
    info.format = (container_ == Container::Rf64 ? SF_FORMAT_RF64 : SF_FORMAT_WAV) | SF_FORMAT_FLOAT;
    // The descriptor stays ours: libsndfile closes it itself when sf_open_fd fails
    // with close_desc set, but not when it fails to allocate, so it is never handed over.
    file_ = sf_open_fd(fd, SFM_WRITE, &info, SF_FALSE);
    if (file_ == nullptr) throw FileError("cannot write " + name_ + ": " + sf_strerror(nullptr));
}

void WavWriter::openStream(const OutputTarget& target, int rate) {
    if (target.standardOutput) {
        fd_ = STDOUT_FILENO;
        ownsFd_ = false;
    } else {
        // A FIFO opens once it has a reader. Waiting for one in a blocking
        // open() could miss a stop signal that comes just before it, so the
        // wait is a poll, and a stop signal is seen within one step.
        struct stat st {};
        const bool fifo = ::stat(target.path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
        int fd;
        for (;;) {
            throwIfStopped();
            fd = ::open(target.path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
            if (fd >= 0) break;
            if (fifo && errno == ENXIO) {
                ::usleep(kFifoPollMicroseconds);
                continue;
            }
            if (errno != EINTR) throw FileError("cannot write " + name_ + ": " + std::strerror(errno));
        }
        fd_ = fd;
        ownsFd_ = true;
        if (::fstat(fd, &st) != 0 || !(S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode)))
            throw FileError("cannot write " + name_ + ": it changed while it was opened");
        // Writes wait for the reader, as a pipe's writer does.
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
            throw FileError("cannot write " + name_ + ": " + std::strerror(errno));
    }
    if (::isatty(fd_) != 0)
        throw FileError("refusing to write audio to a terminal: " + name_ + "; redirect it or name a file");
    const auto header = streamHeader(rate, frames_, container_);
    writeStream(header.data(), header.size());
}

void WavWriter::writeStream(const void* data, std::size_t bytes) {
    const auto* p = static_cast<const unsigned char*>(data);
    while (bytes > 0) {
        const ssize_t n = ::write(fd_, p, bytes);
        if (n < 0) {
            if (errno == EINTR) {
                throwIfStopped();
                continue;
            }
            throw FileError("error writing " + name_ + ": " + std::strerror(errno));
        }
        p += n;
        bytes -= static_cast<std::size_t>(n);
    }
}

void WavWriter::write(const float* left, const float* right, std::size_t count) {
    if (static_cast<std::uint64_t>(count) > static_cast<std::uint64_t>(frames_ - written_))
        throw FileError("error writing " + name_ + ": more than the " + std::to_string(frames_) +
                        " frames announced");
    const std::size_t chunk = interleaved_.size() / 2;
    for (std::size_t done = 0; done < count;) {
        const std::size_t n = std::min(chunk, count - done);
        for (std::size_t i = 0; i < n; ++i) {
            interleaved_[2 * i] = left[done + i];
            interleaved_[2 * i + 1] = right[done + i];
        }
        if (file_ != nullptr) {
            if (sf_writef_float(file_, interleaved_.data(), static_cast<sf_count_t>(n)) != static_cast<sf_count_t>(n))
                throw FileError("error writing " + name_ + ": " + libraryMessage(file_));
        } else {
            if constexpr (std::endian::native != std::endian::little) {
                for (std::size_t i = 0; i < 2 * n; ++i) {
                    std::uint32_t bits;
                    std::memcpy(&bits, &interleaved_[i], 4);
                    bits = (bits >> 24) | ((bits >> 8) & 0xFF00u) | ((bits << 8) & 0xFF0000u) | (bits << 24);
                    std::memcpy(&interleaved_[i], &bits, 4);
                }
            }
            writeStream(interleaved_.data(), n * kOutputFrameBytes);
        }
        done += n;
        written_ += static_cast<std::int64_t>(n);
    }
}

void WavWriter::commit() {
    if (written_ != frames_)
        throw FileError("error finishing " + name_ + ": " + std::to_string(written_) + " of the " +
                        std::to_string(frames_) + " frames announced were written");
    if (tempPath_.empty()) {  // a stream
        const int closed = ownsFd_ ? ::close(std::exchange(fd_, -1)) : 0;
        if (closed != 0 && errno != EINTR)
            throw FileError("error finishing " + name_ + ": " + std::strerror(errno));
        return;
    }
    const int err = sf_close(std::exchange(file_, nullptr));
    // close() can be the first to report that the data did not reach the disk.
    const int closed = ::close(std::exchange(fd_, -1));
    const int closeErrno = errno;
    if (err != 0 || closed != 0)
        throw FileError("error finishing " + name_ + ": " +
                        (err != 0 ? sf_error_number(err) : std::strerror(closeErrno)));
    std::error_code ec;
    std::filesystem::rename(tempPath_, path_, ec);
    if (ec) throw FileError("cannot write " + name_ + ": " + ec.message());
    registerTemporaryFile({});
    tempPath_.clear();
}

}  // namespace z5r
