// The validator's display detection, without an X server: DISPLAY names read
// into the socket they point at, and a display counted as there exactly
// when something listens at that socket. Prints one line per failed check
// and exits 1 when any failed.
#include "tools/validate/Display.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using validate::displayAvailable;
using validate::displayEndpoint;

namespace {

int failures = 0;

void expect(bool ok, const std::string& what)
{
    if (ok) return;
    std::printf("FAIL %s\n", what.c_str());
    ++failures;
}

void expectEndpoint(const char* display, const char* endpoint)
{
    const std::string got = displayEndpoint(display);
    expect(got == endpoint, std::string("DISPLAY '") + display + "' gave '" + got + "', not '" + endpoint + "'");
}

// Listens on the abstract socket an X server of display `number` would use.
int listenAsServer(int number)
{
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = "/tmp/.X11-unix/X" + std::to_string(number);
    std::memcpy(address.sun_path + 1, path.data(), path.size());
    const socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + path.size());
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(fd, 4) != 0) {
        if (fd >= 0) close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

int main()
{
    // Names: local, with a screen, the unix form, a host, and what is not a display name.
    expectEndpoint(":0", "unix:/tmp/.X11-unix/X0");
    expectEndpoint(":12.1", "unix:/tmp/.X11-unix/X12");
    expectEndpoint("unix:3", "unix:/tmp/.X11-unix/X3");
    expectEndpoint("localhost:10.0", "tcp:localhost:6010");
    expectEndpoint("build-host:0", "tcp:build-host:6000");
    expectEndpoint("", "");
    expectEndpoint("nothing", "");
    expectEndpoint(":", "");
    expectEndpoint(":x", "");
    expectEndpoint(":1x", "");
    expectEndpoint(":123456", "");
    expectEndpoint("/tmp/launch-abc/org.x:0", "");

    std::string why;
    unsetenv("DISPLAY");
    expect(!displayAvailable(why) && why.find("DISPLAY is not set") != std::string::npos,
           "no DISPLAY counted as a display (" + why + ")");
    setenv("DISPLAY", "", 1);
    expect(!displayAvailable(why), "an empty DISPLAY counted as a display");
    setenv("DISPLAY", "not-a-display", 1);
    expect(!displayAvailable(why) && why.find("not a display name") != std::string::npos,
           "a malformed DISPLAY counted as a display (" + why + ")");

    // A display number nobody uses, then something listening where its server would.
    int fd = -1;
    for (int number = 54321; number < 54400 && fd < 0; ++number) {
        setenv("DISPLAY", (":" + std::to_string(number)).c_str(), 1);
        if (!displayAvailable(why)) fd = listenAsServer(number);
    }
    expect(fd >= 0, "no free display number to listen on");
    if (fd >= 0) {
        expect(displayAvailable(why), "a listening server was not found (" + why + ")");
        close(fd);
        expect(!displayAvailable(why) && why.find("nothing answers") != std::string::npos,
               "a closed server still counted as a display (" + why + ")");
    }

    std::printf("%s\n", failures ? "display detection: failures" : "display detection: all checks passed");
    return failures ? 1 : 0;
}
