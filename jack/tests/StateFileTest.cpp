// The state file: where it lives, that it comes back as it was saved, that
// a damaged one is moved aside with its bytes, and that saving never leaves
// a temporary file or half a state behind.
#include "engine/TubeEngine.h"
#include "jack/StateFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <cstring>
#include <fstream>
#include <limits>
#include <iterator>
#include <string>
#include <unistd.h>

using namespace jackapp;
namespace fs = std::filesystem;

namespace {

class StateFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/z5r-jack-state.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
    }
    void TearDown() override { fs::remove_all(folder); }

    static std::string contents(const fs::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    static void write(const fs::path& path, const std::string& bytes)
    {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    static InstanceState sample()
    {
        TubeEngine engine;
        ProgramBank bank;
        bank.select(2, engine);
        engine.setParameter(kParamGain, 0.8f);
        bank.rename("Crunch");
        return captureInstanceState(bank, engine);
    }
    size_t entries() const { return static_cast<size_t>(std::distance(fs::directory_iterator(folder), {})); }

    fs::path folder;
};

}  // namespace

TEST(JackStatePath, FollowsXdgConfigHomeWhenItIsAnAbsolutePath)
{
    EXPECT_EQ(defaultStatePath("/x/conf", "/home/u"), "/x/conf/korvane-z5r/state");
    EXPECT_EQ(defaultStatePath(nullptr, "/home/u"), "/home/u/.config/korvane-z5r/state");
    EXPECT_EQ(defaultStatePath("", "/home/u"), "/home/u/.config/korvane-z5r/state");
    EXPECT_EQ(defaultStatePath("relative/conf", "/home/u"), "/home/u/.config/korvane-z5r/state");
}

TEST_F(StateFolder, ASavedStateComesBackWholeInAFolderMadeForIt)
{
    const fs::path path = folder / "deeper" / "still" / "state";
    const InstanceState saved = sample();
    std::string error;
    ASSERT_TRUE(saveStateFile(path, saved, error)) << error;
    EXPECT_EQ(fs::file_size(path), kInstanceStateSize);
    EXPECT_EQ(std::distance(fs::directory_iterator(path.parent_path()), {}), 1) << "a temporary file was left";

    const LoadedState loaded = loadStateFile(path);
    ASSERT_EQ(loaded.status, LoadedState::Loaded);
    uint8_t a[kInstanceStateSize], b[kInstanceStateSize];
    writeInstanceState(saved, a);
    writeInstanceState(loaded.state, b);
    EXPECT_EQ(std::memcmp(a, b, sizeof(a)), 0);
    EXPECT_EQ(loaded.state.bank.current, 2);
    EXPECT_STREQ(loaded.state.bank.rows[2].name, "Crunch");

    // Saving again replaces the file in one step, still without leftovers.
    InstanceState other = saved;
    other.values[kParamLevel] = 0.25f;
    ASSERT_TRUE(saveStateFile(path, other, error)) << error;
    EXPECT_EQ(loadStateFile(path).state.values[kParamLevel], 0.25f);
    EXPECT_EQ(std::distance(fs::directory_iterator(path.parent_path()), {}), 1);
}

TEST_F(StateFolder, NoFileMeansTheDefaultsQuietly)
{
    const LoadedState loaded = loadStateFile(folder / "state");
    EXPECT_EQ(loaded.status, LoadedState::Missing);
    EXPECT_TRUE(loaded.problem.empty());
    EXPECT_EQ(entries(), 0u);
}

TEST_F(StateFolder, ADamagedFileIsMovedAsideWithItsBytesAndNeverOverwritten)
{
    const fs::path path = folder / "state";
    std::string error;
    ASSERT_TRUE(saveStateFile(path, sample(), error));
    const std::string whole = contents(path);

    // Cut short, one byte too many, a wrong magic, a non-finite value.
    std::string badValue = whole;
    const float inf = std::numeric_limits<float>::infinity();
    std::memcpy(badValue.data() + 8, &inf, 4);
    const std::string damaged[] = {whole.substr(0, whole.size() - 1), whole + "x", "Z5RX" + whole.substr(4),
                                   badValue, ""};
    int32_t n = 0;
    for (const std::string& bytes : damaged) {
        write(path, bytes);
        const LoadedState loaded = loadStateFile(path);
        ASSERT_EQ(loaded.status, LoadedState::Damaged) << n;
        EXPECT_FALSE(loaded.problem.empty());
        EXPECT_EQ(loaded.keptAs, path.string() + ".damaged" + (n ? "." + std::to_string(n) : ""));
        EXPECT_EQ(contents(loaded.keptAs), bytes);
        EXPECT_FALSE(fs::exists(path));
        // The defaults: program 0 of a fresh bank.
        EXPECT_EQ(loaded.state.bank.current, 0);
        ++n;
    }
}

TEST_F(StateFolder, WhatCannotBeReadOrWrittenIsSaidAndLeftAlone)
{
    // A folder where the file should be: unreadable, not moved.
    const fs::path path = folder / "state";
    fs::create_directory(path);
    const LoadedState loaded = loadStateFile(path);
    EXPECT_EQ(loaded.status, LoadedState::Unreadable);
    EXPECT_FALSE(loaded.problem.empty());
    EXPECT_TRUE(fs::is_directory(path));

    // Saving under a plain file as if it were a folder fails cleanly.
    write(folder / "plain", "x");
    std::string error;
    EXPECT_FALSE(saveStateFile(folder / "plain" / "state", sample(), error));
    EXPECT_FALSE(error.empty());
    // Saving over the folder fails and leaves no temporary file.
    EXPECT_FALSE(saveStateFile(path, sample(), error));
    EXPECT_EQ(entries(), 2u);
}
