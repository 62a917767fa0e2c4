#include "Display.h"

#include "Harness.h"

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#if !defined(_WIN32)
#include <dlfcn.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace validate {

std::string displayEndpoint(const std::string& display)
{
    // [host]:number[.screen]
    const size_t colon = display.rfind(':');
    if (colon == std::string::npos) return "";
    const std::string host = display.substr(0, colon);
    std::string number;
    for (size_t i = colon + 1; i < display.size() && display[i] >= '0' && display[i] <= '9'; ++i) number += display[i];
    const size_t end = colon + 1 + number.size();
    if (number.empty() || number.size() > 5 || (end < display.size() && display[end] != '.')) return "";
    if (host.empty() || host == "unix") return "unix:/tmp/.X11-unix/X" + number;
    if (host.find('/') != std::string::npos) return "";
    return "tcp:" + host + ":" + std::to_string(6000 + std::atoi(number.c_str()));
}

#if defined(_WIN32)

bool displayAvailable(std::string& why)
{
    why.clear();
    return true;
}

void holdDisplayOpen() {}

#else

namespace {

// Connects a socket within a couple of seconds; true when the far end took it.
bool connectWithin(int fd, const sockaddr* address, socklen_t length)
{
    const int flags = fcntl(fd, F_GETFL, 0);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    if (connect(fd, address, length) == 0) return true;
    if (errno != EINPROGRESS) return false;
    pollfd p{fd, POLLOUT, 0};
    if (poll(&p, 1, 2000) != 1) return false;
    int error = 0;
    socklen_t size = sizeof(error);
    return getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
}

bool reachUnix(const std::string& path)
{
    // The abstract name first (what Linux servers also listen on), then the file.
    for (bool abstract : {true, false}) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const size_t offset = abstract ? 1 : 0;
        if (path.size() + offset >= sizeof(address.sun_path)) return false;
        std::memcpy(address.sun_path + offset, path.data(), path.size());
        const socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size() + (abstract ? 0 : 1));
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        if (fd < 0) return false;
        const bool ok = connectWithin(fd, reinterpret_cast<const sockaddr*>(&address), length);
        close(fd);
        if (ok) return true;
    }
    return false;
}

bool reachTcp(const std::string& host, const std::string& port)
{
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0) return false;
    bool ok = false;
    for (addrinfo* a = found; a && !ok; a = a->ai_next) {
        const int fd = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (fd < 0) continue;
        ok = connectWithin(fd, a->ai_addr, a->ai_addrlen);
        close(fd);
    }
    freeaddrinfo(found);
    return ok;
}

}  // namespace

bool displayAvailable(std::string& why)
{
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) {
        why = "no X display (DISPLAY is not set)";
        return false;
    }
    const std::string endpoint = displayEndpoint(display);
    if (endpoint.empty()) {
        why = format("no X display (DISPLAY=%s is not a display name)", display);
        return false;
    }
    bool reached = false;
    if (endpoint.compare(0, 5, "unix:") == 0) {
        reached = reachUnix(endpoint.substr(5));
    } else {
        const size_t colon = endpoint.rfind(':');
        reached = reachTcp(endpoint.substr(4, colon - 4), endpoint.substr(colon + 1));
    }
    if (!reached) {
        why = format("no X display (nothing answers at DISPLAY=%s)", display);
        return false;
    }
    why.clear();
    return true;
}

// --- X11Parent: the few Xlib calls, found in libX11 at run time ---

namespace {

using XWindow = unsigned long;
struct Xlib {
    void* (*openDisplay)(const char*) = nullptr;
    int (*closeDisplay)(void*) = nullptr;
    int (*defaultScreen)(void*) = nullptr;
    XWindow (*rootWindow)(void*, int) = nullptr;
    XWindow (*createSimpleWindow)(void*, XWindow, int, int, unsigned, unsigned, unsigned, unsigned long,
                                  unsigned long) = nullptr;
    int (*mapWindow)(void*, XWindow) = nullptr;
    int (*destroyWindow)(void*, XWindow) = nullptr;
    int (*sync)(void*, int) = nullptr;
    int (*queryTree)(void*, XWindow, XWindow*, XWindow*, XWindow**, unsigned*) = nullptr;
    int (*free)(void*) = nullptr;
    int (*pending)(void*) = nullptr;
    int (*nextEvent)(void*, void*) = nullptr;
    std::string error;
    bool ok = false;
};

const Xlib& xlib()
{
    static const Xlib lib = [] {
        Xlib x;
        void* handle = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            x.error = "libX11.so.6 cannot be loaded";
            return x;
        }
        bool all = true;
        auto find = [&](auto& slot, const char* name) {
            slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(dlsym(handle, name));
            all = all && slot != nullptr;
        };
        find(x.openDisplay, "XOpenDisplay");
        find(x.closeDisplay, "XCloseDisplay");
        find(x.defaultScreen, "XDefaultScreen");
        find(x.rootWindow, "XRootWindow");
        find(x.createSimpleWindow, "XCreateSimpleWindow");
        find(x.mapWindow, "XMapWindow");
        find(x.destroyWindow, "XDestroyWindow");
        find(x.sync, "XSync");
        find(x.queryTree, "XQueryTree");
        find(x.free, "XFree");
        find(x.pending, "XPending");
        find(x.nextEvent, "XNextEvent");
        x.ok = all;
        if (!all) x.error = "libX11.so.6 lacks a function the parent window needs";
        // Left loaded: plug-ins hold on to the same library.
        return x;
    }();
    return lib;
}

std::string parentError;

}  // namespace

X11Parent::X11Parent()
{
    const Xlib& x = xlib();
    if (!x.ok) {
        parentError = x.error;
        return;
    }
    // A server busy with another client's windows may turn a connection
    // away for a moment: a few tries.
    for (int attempt = 0; attempt < 5 && !display; ++attempt) {
        if (attempt) usleep(100000);
        display = x.openDisplay(nullptr);
    }
    if (!display) {
        parentError = "XOpenDisplay refused the connection five times";
        return;
    }
    const int screen = x.defaultScreen(display);
    window = x.createSimpleWindow(display, x.rootWindow(display, screen), 40, 40, 900, 700, 0, 0, 0);
    if (!window) {
        parentError = "no parent window could be made";
        return;
    }
    x.mapWindow(display, window);
    x.sync(display, 0);
}

X11Parent::~X11Parent()
{
    if (!display) return;
    const Xlib& x = xlib();
    if (window) x.destroyWindow(display, window);
    x.sync(display, 1);
    x.closeDisplay(display);
}

int32_t X11Parent::children()
{
    if (!window) return 0;
    const Xlib& x = xlib();
    x.sync(display, 0);
    XWindow root = 0, parent = 0;
    XWindow* list = nullptr;
    unsigned count = 0;
    if (!x.queryTree(display, window, &root, &parent, &list, &count)) return 0;
    if (list) x.free(list);
    return static_cast<int32_t>(count);
}

void X11Parent::drain()
{
    if (!display) return;
    const Xlib& x = xlib();
    long event[24];  // the size of an XEvent
    while (x.pending(display) > 0) x.nextEvent(display, event);
}

std::string X11Parent::lastError() { return parentError; }

void holdDisplayOpen()
{
    std::string why;
    if (!displayAvailable(why)) return;
    const Xlib& x = xlib();
    if (!x.ok) return;
    static void* held = nullptr;
    for (int attempt = 0; attempt < 5 && !held; ++attempt) {
        if (attempt) usleep(100000);
        held = x.openDisplay(nullptr);
    }
}

#endif

}  // namespace validate
