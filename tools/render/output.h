// Where the rendered audio goes, decided before anything is rendered.
//
// A regular file (or a name not yet taken) is written beside itself under a
// temporary name and renamed over it only once complete; a symbolic link is
// followed, so the link stays and the file it points to is replaced. Standard
// output ("-", or any name for the file standard output already is), character
// devices and FIFOs are written to directly, as a stream: nothing there can be
// renamed, and a device node must never be replaced by a regular file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace z5r {

struct OutputTarget {
    enum class Kind { File, Stream };

    Kind kind = Kind::File;
    std::string name;  // as given, for messages
    // File: the file to replace, symbolic links followed. Stream: the path to
    // open, empty for standard output.
    std::string path;
    bool standardOutput = false;  // a stream into descriptor 1

    // Device and inode of what is there now (standard output's when streaming into it).
    struct Id {
        std::uint64_t dev = 0;
        std::uint64_t ino = 0;
        bool operator==(const Id&) const = default;
    };
    std::optional<Id> existing;
};

// Classifies `name` ("-" for standard output). Throws FileError, one line, for
// what cannot or must not be written: a directory, a block device, a socket, a
// terminal, a file without write permission (refused even for root, who could
// write it: write-protecting a file is how a user keeps it), a loop of links.
OutputTarget resolveOutput(const std::string& name);

// The mkstemp() template of the temporary file that replaces `path`: beside
// it, named after it with six random characters in place of "XXXXXX", and
// shortened where the name and the suffix together would be longer than the
// folder allows (`nameMax` bytes, 255 on the usual file systems), so that a
// name that can be written can also be written under its temporary name.
std::string temporaryTemplate(const std::string& path, long nameMax);

// True when the output would write into the file at `path` (the input, say),
// however either is spelled: links, "..", standard output redirected to it.
bool writesInto(const OutputTarget& target, const std::string& path);

}  // namespace z5r
