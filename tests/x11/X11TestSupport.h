// A test host's side of the X server. The host speaks Xlib on a connection
// of its own, as many real hosts do, makes the parent window the editor
// opens in, reads pixels back, and moves and clicks the pointer through
// XTest, so that the editor receives real X events. Resource counts come
// from the server's X-Resource extension, asked over a second, XCB,
// connection.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

typedef struct _XDisplay Display;
typedef struct xcb_connection_t xcb_connection_t;

class TestDisplay {
public:
    TestDisplay();
    ~TestDisplay();
    TestDisplay(const TestDisplay&) = delete;
    TestDisplay& operator=(const TestDisplay&) = delete;

    bool ok() const { return display != nullptr; }
    Display* get() const { return display; }

    // A mapped top-level window at (x, y) of the screen, as a host's plug-in window.
    unsigned long createParent(int32_t x, int32_t y, int32_t width, int32_t height);
    void destroy(unsigned long window);
    // The window's children, bottom to top.
    std::vector<unsigned long> children(unsigned long window);

    struct Geometry {
        int32_t x = 0, y = 0, width = 0, height = 0;
        bool viewable = false;
    };
    Geometry geometry(unsigned long window);
    std::string name(unsigned long window);
    // The window's pixels as 0x00RRGGBB words, rows top first.
    std::vector<uint32_t> pixels(unsigned long window, int32_t width, int32_t height);

    // Real input through XTest, at a point of `window`.
    void moveTo(unsigned long window, int32_t x, int32_t y);
    void button(int32_t number, bool down);
    void shift(bool down);
    void control(bool down);
    // Waits for the server to have handled every request so far.
    void sync();

    // X errors this connection received (the editor must cause none here).
    static int32_t errors();
    // Puts Xlib's own error handler back, which ends the process on any error.
    static void useDefaultErrorHandler();

private:
    void key(unsigned long keysym, bool down);
    Display* display = nullptr;
};

// Windows, pixmaps and graphics contexts as the server counts them.
struct ClientResources {
    int32_t windows = 0, pixmaps = 0, gcs = 0, other = 0;
    bool operator==(const ClientResources&) const = default;
};

class ResourceCounter {
public:
    ResourceCounter();
    ~ResourceCounter();
    bool ok() const { return opcode != 0; }

    // The server's clients: the resource bases of every connection.
    std::vector<uint32_t> clients();
    // What the client that owns resource `id` holds.
    ClientResources ofClientOwning(uint32_t id);
    // What every client holds together.
    ClientResources total();

private:
    ClientResources ofBase(uint32_t base);
    std::string atomName(uint32_t atom);

    xcb_connection_t* connection = nullptr;
    uint8_t opcode = 0;
    std::vector<std::pair<uint32_t, std::string>> names;
};

// A PNG file as 0x00RRGGBB words, rows top first; empty when unreadable.
std::vector<uint32_t> readPng(const char* path, int32_t* width, int32_t* height);

// Open file descriptors of this process (a connection left open shows here).
int32_t openDescriptors();
