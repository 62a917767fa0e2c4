#include "output.h"

#include "wavio.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <algorithm>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace z5r {
namespace {

constexpr int kMaxLinks = 40;  // as the kernel allows when it follows a path

OutputTarget::Id idOf(const struct stat& st) {
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

// The path a chain of symbolic links ends at: the name itself when it is no link.
std::string followLinks(const std::string& name) {
    namespace fs = std::filesystem;
    fs::path p = name;
    for (int hops = 0;; ++hops) {
        struct stat st {};
        if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return p.string();
        if (hops == kMaxLinks) throw FileError("cannot write " + name + ": too many levels of symbolic links");
        std::error_code ec;
        const fs::path target = fs::read_symlink(p, ec);
        if (ec) throw FileError("cannot write " + name + ": " + ec.message());
        p = target.is_absolute() ? target : p.parent_path() / target;
    }
}

// Replacing a file through a rename needs no write permission on the file
// itself, only on its folder; the tool asks for it anyway, as writing in place would.
void refuseReadOnly(const std::string& name, const std::string& path, const struct stat& st) {
    if ((st.st_mode & 0222) == 0) throw FileError("refusing to overwrite " + name + ": it is read-only");
    if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0)
        throw FileError("cannot write " + name + ": " + std::strerror(errno));
}

OutputTarget intoStandardOutput(OutputTarget t, const struct stat& st) {
    if (::isatty(STDOUT_FILENO) != 0)
        throw FileError("refusing to write audio to a terminal: redirect standard output or name a file with -o");
    t.kind = OutputTarget::Kind::Stream;
    t.path.clear();
    t.standardOutput = true;
    t.existing = idOf(st);
    return t;
}

}  // namespace

OutputTarget resolveOutput(const std::string& name) {
    OutputTarget t;
    t.name = name;
    // Started with standard output closed, the tool holds descriptor 1 open
    // read-only (see main), so a write-only check finds it closed.
    struct stat out {};
    const int outFlags = ::fcntl(STDOUT_FILENO, F_GETFL);
    const bool haveStdout =
        outFlags >= 0 && (outFlags & O_ACCMODE) != O_RDONLY && ::fstat(STDOUT_FILENO, &out) == 0;
    if (name == "-") {
        if (!haveStdout) throw FileError("cannot write to standard output: it is closed");
        return intoStandardOutput(t, out);
    }

    // stat() itself follows the links, also those in /proc that name no path
    // (/dev/stdout of a pipe): only a regular or a new file needs its path.
    struct stat st {};
    if (::stat(name.c_str(), &st) != 0) {
        if (errno != ENOENT) throw FileError("cannot write " + name + ": " + std::strerror(errno));
        t.path = followLinks(name);  // a dangling link: its target is created
        return t;
    }
    t.existing = idOf(st);
    // The file standard output already goes to (/dev/stdout, or the file it was
    // redirected to) is written as standard output, where the caller expects it.
    if (haveStdout && idOf(out) == *t.existing) return intoStandardOutput(t, out);

    if (S_ISDIR(st.st_mode)) throw FileError("output path is a directory: " + name);
    if (S_ISREG(st.st_mode)) {
        t.path = followLinks(name);
        struct stat followed {};
        if (::stat(t.path.c_str(), &followed) != 0 || idOf(followed) != *t.existing)
            throw FileError("cannot write " + name + ": its links lead to no file name that can be replaced");
        refuseReadOnly(name, t.path, st);
        return t;
    }
    if (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode)) {
        refuseReadOnly(name, name, st);
        t.kind = OutputTarget::Kind::Stream;
        t.path = name;
        return t;
    }
    const char* what = S_ISBLK(st.st_mode) ? "a block device" : S_ISSOCK(st.st_mode) ? "a socket" : "a special file";
    throw FileError("refusing to write to " + name + ": it is " + what +
                    "; name a file, a FIFO, a character device or - (standard output)");
}

std::string temporaryTemplate(const std::string& path, long nameMax) {
    constexpr std::string_view kSuffix = ".XXXXXX";
    const std::size_t slash = path.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t room = nameMax > static_cast<long>(kSuffix.size())
                                 ? static_cast<std::size_t>(nameMax) - kSuffix.size()
                                 : 0;
    std::string result = path.substr(0, nameStart + std::min(room, path.size() - nameStart));
    result += kSuffix;
    return result;
}

bool writesInto(const OutputTarget& target, const std::string& path) {
    struct stat st {};
    if (!target.existing || ::stat(path.c_str(), &st) != 0) return false;
    return idOf(st) == *target.existing;
}

}  // namespace z5r
