#include "wavio.h"

#include <gtest/gtest.h>

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
            WavWriter writer(path("out.wav"), 0, 64);  // libsndfile refuses a rate of 0
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
        WavWriter writer(path("out.wav"), 44100, 2);  // more frames than a block: written in pieces
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
        WavWriter first(path("out.wav"), 48000, 8);
        const float x = 0.5f;
        first.write(&x, &x, 1);
        first.commit();
    }
    const auto size = fs::file_size(path("out.wav"));
    const auto before = openDescriptors();
    {
        WavWriter writer(path("out.wav"), 48000, 8);
        const std::vector<float> zeros(100, 0.0f);
        writer.write(zeros.data(), zeros.data(), zeros.size());
    }  // an error or interruption: no commit
    EXPECT_EQ(openDescriptors(), before);
    EXPECT_EQ(files(), std::vector<std::string>{"out.wav"});
    EXPECT_EQ(fs::file_size(path("out.wav")), size);
}
