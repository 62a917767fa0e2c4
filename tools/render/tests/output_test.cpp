#include "output.h"
#include "wavio.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

using namespace z5r;
namespace fs = std::filesystem;

namespace {

class Output : public ::testing::Test {
protected:
    void SetUp() override {
        std::string templ = (fs::temp_directory_path() / "z5r-output-XXXXXX").string();
        ASSERT_NE(::mkdtemp(templ.data()), nullptr);
        dir_ = templ;
        std::FILE* f = std::fopen(path("file.wav").c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fclose(f);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string path(const char* name) const { return (dir_ / name).string(); }

    // The one-line message resolveOutput refuses `name` with; empty if it accepts it.
    static std::string refusal(const std::string& name) {
        try {
            resolveOutput(name);
            return {};
        } catch (const FileError& e) {
            return e.what();
        }
    }

    fs::path dir_;
};

}  // namespace

TEST_F(Output, FilesAreReplacedThroughTheirLinksAndDevicesAndFifosAreStreamed) {
    fs::create_symlink("file.wav", path("link.wav"));
    fs::create_symlink("link.wav", path("chain.wav"));
    fs::create_directory(path("sub"));
    fs::create_symlink("../new.wav", path("sub/dangling.wav"));
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0644), 0);

    const struct {
        std::string name;
        OutputTarget::Kind kind;
        std::string path;
    } cases[] = {
        {path("file.wav"), OutputTarget::Kind::File, path("file.wav")},
        {path("fresh.wav"), OutputTarget::Kind::File, path("fresh.wav")},
        {path("link.wav"), OutputTarget::Kind::File, path("file.wav")},
        {path("chain.wav"), OutputTarget::Kind::File, path("file.wav")},
        {path("sub/dangling.wav"), OutputTarget::Kind::File, path("sub/../new.wav")},  // created where it points
        {path("fifo"), OutputTarget::Kind::Stream, path("fifo")},
        {"/dev/null", OutputTarget::Kind::Stream, "/dev/null"},
    };
    for (const auto& c : cases) {
        const auto t = resolveOutput(c.name);
        EXPECT_EQ(t.kind, c.kind) << c.name;
        EXPECT_EQ(t.path, c.path) << c.name;
    }
    if (::isatty(STDOUT_FILENO) == 0) {
        const auto t = resolveOutput("-");
        EXPECT_EQ(t.kind, OutputTarget::Kind::Stream);
        EXPECT_TRUE(t.standardOutput);
        EXPECT_TRUE(resolveOutput("/dev/stdout").standardOutput);
    }
}

TEST_F(Output, WhatMustNotBeReplacedIsRefusedInOneLine) {
    fs::create_directory(path("dir"));
    std::FILE* f = std::fopen(path("locked.wav").c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    fs::permissions(path("locked.wav"), fs::perms::owner_read | fs::perms::group_read);  // even for root
    fs::create_symlink("locked.wav", path("to-locked.wav"));
    fs::create_symlink("loop-b.wav", path("loop-a.wav"));
    fs::create_symlink("loop-a.wav", path("loop-b.wav"));

    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const auto sockPath = path("sock");
    ASSERT_LT(sockPath.size(), sizeof addr.sun_path);
    std::copy(sockPath.begin(), sockPath.end(), addr.sun_path);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);

    for (const char* name : {"dir", "locked.wav", "to-locked.wav", "loop-a.wav", "sock", "file.wav/x"}) {
        const auto message = refusal(path(name));
        EXPECT_NE(message.find(path(name)), std::string::npos) << name << ": '" << message << "'";
        EXPECT_EQ(message.find('\n'), std::string::npos) << message;
    }
    ::close(sock);

    // A block device, where the system lets one be made here (root, outside a container).
    if (::mknod(path("disk").c_str(), S_IFBLK | 0600, makedev(7, 0)) == 0) {
        EXPECT_NE(refusal(path("disk")).find("block device"), std::string::npos);
    }
}

TEST(TemporaryName, FitsWhereverTheOutputNameFits) {
    EXPECT_EQ(temporaryTemplate("out.wav", 255), "out.wav.XXXXXX");
    EXPECT_EQ(temporaryTemplate("/tmp/a b/out.wav", 255), "/tmp/a b/out.wav.XXXXXX");
    for (const char* folder : {"", "dir/", "/"}) {
        for (std::size_t length = 1; length <= 255; ++length) {
            const std::string name(length, 'n');
            const std::string temp = temporaryTemplate(folder + name, 255);
            ASSERT_EQ(temp.rfind(folder, 0), 0u) << "beside the output";
            const std::string tempName = temp.substr(std::string(folder).size());
            ASSERT_LE(tempName.size(), 255u) << length;
            ASSERT_EQ(tempName.find('/'), std::string::npos);
            ASSERT_EQ(tempName.substr(tempName.size() - 7), ".XXXXXX");
            // Named after the output as far as there is room.
            ASSERT_EQ(tempName.substr(0, tempName.size() - 7), name.substr(0, std::min<std::size_t>(length, 248)));
        }
    }
    // A folder that allows short names only (14 bytes, as some old file systems).
    EXPECT_EQ(temporaryTemplate("d/abcdefghijklmn", 14), "d/abcdefg.XXXXXX");
}
