// The file where z5r-jack keeps an instance between runs: the engine's
// versioned state blob, nothing else. Written atomically (a temporary file
// beside it, flushed to the disk, then renamed over it), so that a crash or
// a full disk leaves the old file or the new one, never half of one. A file
// that is there but not a sound state is moved aside, not overwritten, so
// that nothing the user had is lost.
//
// [main thread]
#pragma once

#include "engine/InstanceState.h"

#include <string>

namespace jackapp {

// $XDG_CONFIG_HOME/korvane-z5r/state, or ~/.config/korvane-z5r/state when
// the variable is unset, empty or not an absolute path (as the XDG rules
// say). `home` is $HOME; empty when there is none (the caller asks the
// password database).
std::string defaultStatePath(const char* xdgConfigHome, const char* home);
// The same for this process: the environment, or the user's home directory.
std::string defaultStatePath();

struct LoadedState {
    enum Status {
        Missing,     // no file yet: the defaults
        Loaded,      // `state` holds it
        Damaged,     // not a state; moved to `keptAs`, the defaults
        Unreadable,  // could not be read (permissions, a folder...); the defaults
    };
    Status status = Missing;
    InstanceState state{};
    std::string keptAs;
    std::string problem;  // what went wrong, for Damaged and Unreadable
};

LoadedState loadStateFile(const std::string& path);

// Writes `state` to `path`, making its folder if needed. False, with the
// reason in `error` and any old file left as it was, when it cannot.
bool saveStateFile(const std::string& path, const InstanceState& state, std::string& error);

}  // namespace jackapp
