// Whether editors can open here, and a host-side parent window for them.
//
// Linux plug-in editors are X11 windows made inside a window of the host.
// With no X server to talk to, many of them crash on their first editor
// call; that says nothing about the plug-in, so the editor checks are left
// out with a note instead. The server is looked for without Xlib (the
// DISPLAY variable and its socket); the parent window comes from libX11,
// loaded at run time, so the validator itself links no X library.
#pragma once

#include <cstdint>
#include <string>

namespace validate {

// Whether an editor can be opened: on Linux, whether DISPLAY names an X
// server that accepts a connection; on Windows, always. `why` says what is
// missing when it is not.
bool displayAvailable(std::string& why);

// Holds one connection to the X server open for the life of the process
// (Linux, when there is a display; nothing elsewhere). An X server resets
// when its last client leaves, and turns away whoever connects during the
// reset: between two editors of a test, the plug-in's connection would
// then fail, and many editors crash on that.
void holdDisplayOpen();

// Where the X server of a DISPLAY value listens ("" when the value cannot
// be read): "unix:/tmp/.X11-unix/X<n>" or "tcp:<host>:<6000 + n>".
std::string displayEndpoint(const std::string& display);

#if !defined(_WIN32)
// A top-level X window standing in for the host's plug-in window, on a
// connection of its own. Null handle when it cannot be made.
class X11Parent {
public:
    X11Parent();
    ~X11Parent();
    X11Parent(const X11Parent&) = delete;
    X11Parent& operator=(const X11Parent&) = delete;

    // The window as effEditOpen takes it (the X window id in a pointer).
    void* handle() const { return window ? reinterpret_cast<void*>(static_cast<uintptr_t>(window)) : nullptr; }
    // Windows the editor made in the parent, as the server sees them now.
    int32_t children();
    // Reads and drops what the server sent this connection.
    void drain();
    // Why no window could be made.
    static std::string lastError();

private:
    void* display = nullptr;
    unsigned long window = 0;
};
#endif

}  // namespace validate
