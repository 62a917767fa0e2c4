#include "X11TestSupport.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <dirent.h>
#include <png.h>
#include <sys/uio.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {

std::atomic<int32_t> errorCount{0};

int recordError(Display*, XErrorEvent*)
{
    ++errorCount;
    return 0;
}

// The X-Resource extension's requests, built by hand (its XCB binding is
// not among the build's packages).
xcb_extension_t resourceExtension = {"X-Resource", 0};
constexpr uint8_t kQueryClients = 1;
constexpr uint8_t kQueryClientResources = 2;

struct QueryClientsRequest {
    uint8_t major, minor;
    uint16_t length;
};
struct QueryClientResourcesRequest {
    uint8_t major, minor;
    uint16_t length;
    uint32_t xid;
};
struct ListReply {
    uint8_t responseType, pad0;
    uint16_t sequence;
    uint32_t length;
    uint32_t count;
    uint8_t pad1[20];
};

template <class Request>
void* ask(xcb_connection_t* c, uint8_t minor, Request request)
{
    xcb_protocol_request_t protocol = {};
    protocol.count = 2;
    protocol.ext = &resourceExtension;
    protocol.opcode = minor;
    protocol.isvoid = 0;
    iovec parts[4] = {};
    parts[2].iov_base = &request;
    parts[2].iov_len = sizeof(request);
    parts[3].iov_base = nullptr;
    parts[3].iov_len = -parts[2].iov_len & 3;
    const unsigned int sequence = xcb_send_request(c, 0, parts + 2, &protocol);
    xcb_generic_error_t* error = nullptr;
    void* reply = xcb_wait_for_reply(c, sequence, &error);
    std::free(error);
    return reply;
}

}  // namespace

TestDisplay::TestDisplay()
{
    display = XOpenDisplay(nullptr);
    if (display) XSetErrorHandler(recordError);
}

TestDisplay::~TestDisplay()
{
    if (display) XCloseDisplay(display);
}

int32_t TestDisplay::errors() { return errorCount.load(); }

void TestDisplay::useDefaultErrorHandler() { XSetErrorHandler(nullptr); }

unsigned long TestDisplay::createParent(int32_t x, int32_t y, int32_t width, int32_t height)
{
    const int screen = DefaultScreen(display);
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.background_pixel = 0x203040;
    const Window window = XCreateWindow(display, RootWindow(display, screen), x, y, width, height, 0, CopyFromParent,
                                        InputOutput, CopyFromParent, CWOverrideRedirect | CWBackPixel, &attributes);
    XMapRaised(display, window);
    XSync(display, False);
    return window;
}

void TestDisplay::destroy(unsigned long window)
{
    XDestroyWindow(display, window);
    XSync(display, False);
}

std::vector<unsigned long> TestDisplay::children(unsigned long window)
{
    Window root = 0, parent = 0, *list = nullptr;
    unsigned int count = 0;
    std::vector<unsigned long> found;
    if (XQueryTree(display, window, &root, &parent, &list, &count)) {
        found.assign(list, list + count);
        if (list) XFree(list);
    }
    return found;
}

TestDisplay::Geometry TestDisplay::geometry(unsigned long window)
{
    Geometry g;
    XWindowAttributes attributes{};
    if (XGetWindowAttributes(display, window, &attributes)) {
        g.x = attributes.x;
        g.y = attributes.y;
        g.width = attributes.width;
        g.height = attributes.height;
        g.viewable = attributes.map_state == IsViewable;
    }
    return g;
}

std::string TestDisplay::name(unsigned long window)
{
    char* text = nullptr;
    std::string result;
    if (XFetchName(display, window, &text) && text) {
        result = text;
        XFree(text);
    }
    return result;
}

std::vector<uint32_t> TestDisplay::pixels(unsigned long window, int32_t width, int32_t height)
{
    std::vector<uint32_t> result;
    XImage* image = XGetImage(display, window, 0, 0, width, height, AllPlanes, ZPixmap);
    if (!image) return result;
    result.resize(size_t(width) * height);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            const unsigned long p = XGetPixel(image, x, y);
            auto channel = [p](unsigned long mask) {
                if (!mask) return 0u;
                const int shift = __builtin_ctzl(mask);
                const unsigned long max = mask >> shift;
                return static_cast<uint32_t>(((p & mask) >> shift) * 255 / max);
            };
            result[size_t(y) * width + x] =
                channel(image->red_mask) << 16 | channel(image->green_mask) << 8 | channel(image->blue_mask);
        }
    XDestroyImage(image);
    return result;
}

void TestDisplay::moveTo(unsigned long window, int32_t x, int32_t y)
{
    int rootX = 0, rootY = 0;
    Window child = 0;
    XTranslateCoordinates(display, window, DefaultRootWindow(display), x, y, &rootX, &rootY, &child);
    XTestFakeMotionEvent(display, DefaultScreen(display), rootX, rootY, CurrentTime);
    XSync(display, False);
}

void TestDisplay::button(int32_t number, bool down)
{
    XTestFakeButtonEvent(display, static_cast<unsigned int>(number), down ? True : False, CurrentTime);
    XSync(display, False);
}

void TestDisplay::key(unsigned long keysym, bool down)
{
    XTestFakeKeyEvent(display, XKeysymToKeycode(display, keysym), down ? True : False, CurrentTime);
    XSync(display, False);
}

void TestDisplay::shift(bool down) { key(XK_Shift_L, down); }

void TestDisplay::control(bool down) { key(XK_Control_L, down); }

void TestDisplay::sync() { XSync(display, False); }

ResourceCounter::ResourceCounter()
{
    connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) return;
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(connection, &resourceExtension);
    if (extension && extension->present) opcode = extension->major_opcode;
}

ResourceCounter::~ResourceCounter()
{
    if (connection) xcb_disconnect(connection);
}

std::vector<uint32_t> ResourceCounter::clients()
{
    std::vector<uint32_t> bases;
    auto* reply = static_cast<ListReply*>(ask(connection, kQueryClients, QueryClientsRequest{}));
    if (!reply) return bases;
    const auto* entries = reinterpret_cast<const uint32_t*>(reply + 1);
    for (uint32_t i = 0; i < reply->count; ++i) bases.push_back(entries[2 * i]);
    std::free(reply);
    return bases;
}

std::string ResourceCounter::atomName(uint32_t atom)
{
    for (const auto& [known, name] : names)
        if (known == atom) return name;
    std::string name;
    if (xcb_get_atom_name_reply_t* reply = xcb_get_atom_name_reply(connection, xcb_get_atom_name(connection, atom), nullptr)) {
        name.assign(xcb_get_atom_name_name(reply), xcb_get_atom_name_name_length(reply));
        std::free(reply);
    }
    names.emplace_back(atom, name);
    return name;
}

ClientResources ResourceCounter::ofBase(uint32_t base)
{
    ClientResources counts;
    QueryClientResourcesRequest request{};
    request.xid = base;
    auto* reply = static_cast<ListReply*>(ask(connection, kQueryClientResources, request));
    if (!reply) return counts;
    const auto* entries = reinterpret_cast<const uint32_t*>(reply + 1);
    for (uint32_t i = 0; i < reply->count; ++i) {
        const std::string type = atomName(entries[2 * i]);
        const auto count = static_cast<int32_t>(entries[2 * i + 1]);
        if (type == "WINDOW")
            counts.windows += count;
        else if (type == "PIXMAP")
            counts.pixmaps += count;
        else if (type == "GC")
            counts.gcs += count;
        else
            counts.other += count;
    }
    std::free(reply);
    return counts;
}

ClientResources ResourceCounter::ofClientOwning(uint32_t id)
{
    auto* reply = static_cast<ListReply*>(ask(connection, kQueryClients, QueryClientsRequest{}));
    if (!reply) return {};
    const auto* entries = reinterpret_cast<const uint32_t*>(reply + 1);
    uint32_t base = 0;
    for (uint32_t i = 0; i < reply->count; ++i)
        if ((id & ~entries[2 * i + 1]) == entries[2 * i]) base = entries[2 * i];
    std::free(reply);
    return base ? ofBase(base) : ClientResources{};
}

ClientResources ResourceCounter::total()
{
    ClientResources sum;
    for (uint32_t base : clients()) {
        const ClientResources one = ofBase(base);
        sum.windows += one.windows;
        sum.pixmaps += one.pixmaps;
        sum.gcs += one.gcs;
        sum.other += one.other;
    }
    return sum;
}

int32_t openDescriptors()
{
    int32_t count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.') ++count;
        closedir(dir);
    }
    return count - 1;  // the directory's own descriptor
}

std::vector<uint32_t> readPng(const char* path, int32_t* width, int32_t* height)
{
    std::vector<uint32_t> pixels;
    *width = *height = 0;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path)) return pixels;
    image.format = PNG_FORMAT_BGRA;
    pixels.resize(size_t(image.width) * image.height);
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) {
        png_image_free(&image);
        pixels.clear();
        return pixels;
    }
    for (uint32_t& p : pixels) p &= 0xFFFFFFu;
    *width = static_cast<int32_t>(image.width);
    *height = static_cast<int32_t>(image.height);
    return pixels;
}
