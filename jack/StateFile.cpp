#include "jack/StateFile.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace jackapp {
namespace {

constexpr const char* kFolder = "korvane-z5r";
constexpr const char* kFileName = "state";
constexpr const char* kDamagedSuffix = ".damaged";

std::string folderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string reason() { return std::strerror(errno); }

// mkdir -p, new folders private to the user as the XDG rules ask.
bool makeFolders(const std::string& folder)
{
    struct stat info{};
    if (stat(folder.c_str(), &info) == 0) return S_ISDIR(info.st_mode);
    const std::string parent = folderOf(folder);
    if (parent != folder && !makeFolders(parent)) return false;
    return mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

bool writeAll(int fd, const uint8_t* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// A name beside `path` that no file has yet.
std::string asideName(const std::string& path)
{
    std::string name = path + kDamagedSuffix;
    struct stat info{};
    for (int32_t n = 1; lstat(name.c_str(), &info) == 0; ++n) name = path + kDamagedSuffix + "." + std::to_string(n);
    return name;
}

}  // namespace

std::string defaultStatePath(const char* xdgConfigHome, const char* home)
{
    std::string base;
    if (xdgConfigHome && xdgConfigHome[0] == '/')
        base = xdgConfigHome;
    else
        base = std::string(home ? home : "") + "/.config";
    return base + "/" + kFolder + "/" + kFileName;
}

std::string defaultStatePath()
{
    const char* home = std::getenv("HOME");
    if (!home || !*home)
        if (const passwd* user = getpwuid(getuid())) home = user->pw_dir;
    return defaultStatePath(std::getenv("XDG_CONFIG_HOME"), home);
}

LoadedState loadStateFile(const std::string& path)
{
    LoadedState loaded;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT) {
            loaded.status = LoadedState::Unreadable;
            loaded.problem = reason();
        }
        return loaded;
    }
    // One byte more than a state holds tells a longer file from a whole one.
    std::vector<uint8_t> bytes(kInstanceStateSize + 1);
    size_t size = 0;
    bool failed = false;
    while (size < bytes.size()) {
        const ssize_t n = read(fd, bytes.data() + size, bytes.size() - size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) failed = true;
        if (n <= 0) break;
        size += static_cast<size_t>(n);
    }
    const std::string readError = failed ? reason() : std::string();
    close(fd);
    if (failed) {
        loaded.status = LoadedState::Unreadable;
        loaded.problem = readError;
        return loaded;
    }
    if (readInstanceState(bytes.data(), size, loaded.state)) {
        loaded.status = LoadedState::Loaded;
        return loaded;
    }
    loaded.state = {};
    loaded.status = LoadedState::Damaged;
    loaded.problem = size == kInstanceStateSize ? "not a state this version reads" : "wrong size";
    const std::string aside = asideName(path);
    if (rename(path.c_str(), aside.c_str()) == 0)
        loaded.keptAs = aside;
    else
        loaded.problem += "; could not move it aside: " + reason();
    return loaded;
}

bool saveStateFile(const std::string& path, const InstanceState& state, std::string& error)
{
    const std::string folder = folderOf(path);
    if (!makeFolders(folder)) {
        error = "cannot make " + folder + ": " + reason();
        return false;
    }
    uint8_t blob[kInstanceStateSize];
    writeInstanceState(state, blob);
    std::string temporary = path + ".XXXXXX";
    const int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        error = "cannot write in " + folder + ": " + reason();
        return false;
    }
    // The new file gets the usual permissions, not mkstemp's private ones.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    const bool written = writeAll(fd, blob, sizeof(blob)) && fsync(fd) == 0;
    const std::string writeError = written ? std::string() : reason();
    if (close(fd) != 0 || !written) {
        error = "cannot write " + temporary + ": " + (writeError.empty() ? reason() : writeError);
        unlink(temporary.c_str());
        return false;
    }
    if (rename(temporary.c_str(), path.c_str()) != 0) {
        error = "cannot replace " + path + ": " + reason();
        unlink(temporary.c_str());
        return false;
    }
    // The rename itself reaches the disk with the folder.
    const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}

}  // namespace jackapp
