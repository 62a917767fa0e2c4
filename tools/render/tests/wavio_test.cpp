#include "output.h"
#include "wavio.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace z5r;
namespace fs = std::filesystem;

namespace {

// An empty folder of its own, removed afterwards.
class WavIo : public ::testing::Test {
protected:
    void SetUp() override {
        std::string templ = (fs::temp_directory_path() / "z5r-wavio-XXXXXX").string();
        ASSERT_NE(::mkdtemp(templ.data()), nullptr);
        dir_ = templ;
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string path(const char* name) const { return (dir_ / name).string(); }
    std::vector<std::string> files() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
        return names;
    }

    fs::path dir_;
};

std::size_t openDescriptors() {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator{}));
}

}  // namespace

TEST_F(WavIo, AWriterThatCannotStartLeavesNoFileAndNoDescriptorOpen) {
    const auto before = openDescriptors();
    for (int i = 0; i < 3; ++i) {  // a leak or a stray close would add up
        try {
            WavWriter writer(resolveOutput(path("out.wav")), 0, 10, 64);  // no valid rate
            ADD_FAILURE() << "accepted a rate of 0";
        } catch (const FileError& e) {
            EXPECT_EQ(std::string(e.what()).find('\n'), std::string::npos);
            EXPECT_NE(std::string(e.what()).find("out.wav"), std::string::npos);
        }
    }
    EXPECT_EQ(openDescriptors(), before);
    EXPECT_TRUE(files().empty());
}

TEST_F(WavIo, ACommittedFileHoldsTheAudioAndNoDescriptorIsLeftOpen) {
    const auto before = openDescriptors();
    const std::vector<float> left = {0.5f, -0.25f, 1.0f, 0.0f, -1.0f}, right = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f};
    {
        WavWriter writer(resolveOutput(path("out.wav")), 44100, 5, 2);  // more frames than a block: written in pieces
        writer.write(left.data(), right.data(), left.size());
        EXPECT_FALSE(fs::exists(path("out.wav")));  // only the temporary file so far
        writer.commit();
    }
    EXPECT_EQ(openDescriptors(), before);
    EXPECT_EQ(files(), std::vector<std::string>{"out.wav"});

    WavReader reader(path("out.wav"), 16);
    EXPECT_EQ(reader.rate(), 44100);
    EXPECT_EQ(reader.channels(), 2);
    ASSERT_EQ(reader.frames(), 5);
    std::vector<float> l(16), r(16);
    ASSERT_EQ(reader.read(l.data(), r.data(), 16), 5u);
    l.resize(5);
    r.resize(5);
    EXPECT_EQ(l, left);
    EXPECT_EQ(r, right);
}

TEST_F(WavIo, AWriterLeftWithoutCommitRemovesItsFileAndKeepsAnOldOne) {
    {
        WavWriter first(resolveOutput(path("out.wav")), 48000, 1, 8);
        const float x = 0.5f;
        first.write(&x, &x, 1);
        first.commit();
    }
    const auto size = fs::file_size(path("out.wav"));
    const auto before = openDescriptors();
    {
        WavWriter writer(resolveOutput(path("out.wav")), 48000, 100, 8);
        const std::vector<float> zeros(100, 0.0f);
        writer.write(zeros.data(), zeros.data(), zeros.size());
    }  // an error or interruption: no commit
    EXPECT_EQ(openDescriptors(), before);
    EXPECT_EQ(files(), std::vector<std::string>{"out.wav"});
    EXPECT_EQ(fs::file_size(path("out.wav")), size);
}

// --- Outputs over 4 GiB ---------------------------------------------------

TEST(OutputContainer, APlainWavUpToItsThirtyTwoBitSizesAndRf64Beyond) {
    constexpr std::int64_t lastWav = kWavMaxDataBytes / kOutputFrameBytes;
    EXPECT_EQ(containerFor(0), Container::Wav);
    EXPECT_EQ(containerFor(lastWav), Container::Wav);
    EXPECT_EQ(containerFor(lastWav + 1), Container::Rf64);
    EXPECT_EQ(containerFor(607'121'875), Container::Rf64);  // 607 s at 1 MHz: 4.86 GB
    // Whatever libsndfile adds as header, the RIFF size of the last plain WAV fits.
    EXPECT_LE(lastWav * kOutputFrameBytes + 4096, 0xFFFFFFFFLL);
}

namespace {

std::uint64_t le(const std::vector<unsigned char>& b, std::size_t at, int bytes) {
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | b.at(at + static_cast<std::size_t>(i));
    return v;
}

std::string tag(const std::vector<unsigned char>& b, std::size_t at) { return {b.begin() + at, b.begin() + at + 4}; }

}  // namespace

TEST(StreamHeader, SizesOverFourGibibytesAreWrittenWholeInDs64) {
    const std::int64_t frames = 607'121'875;
    const auto h = streamHeader(1'000'000, frames, Container::Rf64);
    ASSERT_EQ(h.size(), 80u);
    EXPECT_EQ(tag(h, 0), "RF64");
    EXPECT_EQ(le(h, 4, 4), 0xFFFFFFFFu);
    EXPECT_EQ(tag(h, 12), "ds64");
    EXPECT_EQ(le(h, 20, 8), h.size() - 8 + frames * 8u);  // RIFF size: the whole file but 8 bytes
    EXPECT_EQ(le(h, 28, 8), frames * 8u);                 // data size
    EXPECT_EQ(le(h, 36, 8), static_cast<std::uint64_t>(frames));
    EXPECT_EQ(tag(h, 72), "data");
    EXPECT_EQ(le(h, 76, 4), 0xFFFFFFFFu);

    // The longest plain WAV: no size wraps.
    const std::int64_t most = kWavMaxDataBytes / kOutputFrameBytes;
    const auto w = streamHeader(1'000'000, most, Container::Wav);
    ASSERT_EQ(w.size(), 56u);
    EXPECT_EQ(tag(w, 0), "RIFF");
    EXPECT_EQ(le(w, 4, 4), w.size() - 8 + most * 8u);
    EXPECT_EQ(tag(w, 48), "data");
    EXPECT_EQ(le(w, 52, 4), most * 8u);
}

TEST_F(WavIo, AStreamedHeaderAndItsAudioReadBackAsWritten) {
    for (const auto container : {Container::Wav, Container::Rf64}) {
        const std::vector<float> frames = {0.5f, -0.5f, 0.25f, 1.0f, -1.0f, 0.0f};  // interleaved, 3 frames
        auto bytes = streamHeader(96000, 3, container);
        const auto* p = reinterpret_cast<const unsigned char*>(frames.data());
        bytes.insert(bytes.end(), p, p + frames.size() * sizeof(float));  // a little-endian machine
        std::FILE* f = std::fopen(path("s.wav").c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);

        WavReader reader(path("s.wav"), 8);
        EXPECT_EQ(reader.rate(), 96000);
        ASSERT_EQ(reader.frames(), 3);
        EXPECT_NE(reader.describe().find(container == Container::Wav ? "WAV" : "RF64"), std::string::npos)
            << reader.describe();
        std::vector<float> l(8), r(8);
        ASSERT_EQ(reader.read(l.data(), r.data(), 8), 3u);
        EXPECT_EQ(l[1], 0.25f);
        EXPECT_EQ(r[2], 0.0f);
    }
}

TEST_F(WavIo, AFileAnnouncedOverFourGibibytesIsWrittenAsRf64) {
    {
        WavWriter writer(resolveOutput(path("big.wav")), 1'000'000, 607'121'875, 64);
        EXPECT_EQ(writer.container(), Container::Rf64);
        const std::vector<float> x(64, 0.5f);
        writer.write(x.data(), x.data(), x.size());
        const auto names = files();
        ASSERT_EQ(names.size(), 1u);  // the temporary file, with its header written on opening
        std::FILE* f = std::fopen(path(names[0].c_str()).c_str(), "rb");
        ASSERT_NE(f, nullptr);
        char magic[4] = {};
        EXPECT_EQ(std::fread(magic, 1, 4, f), 4u);
        std::fclose(f);
        EXPECT_EQ(std::string(magic, 4), "RF64");
    }
    EXPECT_TRUE(files().empty());
    WavWriter small(resolveOutput(path("small.wav")), 48000, 48000, 64);
    EXPECT_EQ(small.container(), Container::Wav);
}

TEST_F(WavIo, AWriterHoldsToTheLengthItAnnounced) {
    {
        WavWriter first(resolveOutput(path("out.wav")), 48000, 1, 8);
        const float x = 0.5f;
        first.write(&x, &x, 1);
        first.commit();
    }
    const auto size = fs::file_size(path("out.wav"));
    const std::vector<float> x(10, 0.25f);
    {
        WavWriter writer(resolveOutput(path("out.wav")), 48000, 10, 4);
        writer.write(x.data(), x.data(), 9);
        EXPECT_THROW(writer.write(x.data(), x.data(), 2), FileError);  // one more than announced
        EXPECT_THROW(writer.commit(), FileError);                       // one fewer
    }
    EXPECT_EQ(files(), std::vector<std::string>{"out.wav"});
    EXPECT_EQ(fs::file_size(path("out.wav")), size);
}

// --- Input of uncertain length -------------------------------------------

namespace {

void writeFlac(const std::string& path, std::int64_t frames) {
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 2;
    info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    std::vector<float> x(static_cast<std::size_t>(frames) * 2);
    std::uint32_t seed = 1;
    for (auto& v : x) v = static_cast<float>((seed = seed * 1103515245u + 12345u) >> 16) / 65536.0f - 0.5f;
    sf_writef_float(f, x.data(), frames);
    sf_close(f);
}

void patch(const std::string& path, long at, const std::vector<unsigned char>& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    std::fseek(f, at, SEEK_SET);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

// Reads the whole file as the render does; the frames read.
std::int64_t readAll(const std::string& path) {
    WavReader reader(path, 512);
    std::vector<float> l(512), r(512);
    std::int64_t n = 0;
    while (const auto got = reader.read(l.data(), r.data(), 512)) n += static_cast<std::int64_t>(got);
    return n;
}

}  // namespace

TEST_F(WavIo, InputThatDoesNotSayItsLengthIsReadWhole) {
    // A FLAC written as a stream: no total in its STREAMINFO (36 bits from byte 21).
    writeFlac(path("stream.flac"), 50'000);
    std::FILE* f = std::fopen(path("stream.flac").c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    std::fseek(f, 21, SEEK_SET);
    const int byte21 = std::fgetc(f);
    std::fclose(f);
    patch(path("stream.flac"), 21, {static_cast<unsigned char>(byte21 & 0xF0), 0, 0, 0, 0});
    EXPECT_EQ(WavReader(path("stream.flac"), 64).frames(), 50'000);
    EXPECT_EQ(readAll(path("stream.flac")), 50'000);

    // A WAV streamed by another program, its data size left at 0xFFFFFFFF.
    const std::vector<float> x(300, 0.5f);
    {
        WavWriter w(resolveOutput(path("s.wav")), 44100, 300, 64);
        w.write(x.data(), x.data(), x.size());
        w.commit();
    }
    const auto bytes = fs::file_size(path("s.wav"));
    patch(path("s.wav"), static_cast<long>(bytes - 300 * 8 - 4), {0xFF, 0xFF, 0xFF, 0xFF});
    EXPECT_EQ(readAll(path("s.wav")), 300);
}
