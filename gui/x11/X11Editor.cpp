#include "gui/x11/X11Editor.h"

#include "gui/x11/PixelFormat.h"
#include "gui/x11/SkinDecoder.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr const char* kPlatformWord = "Linux64";
constexpr const char* kWindowName = "KorvaneZ5RWnd";
// WM_CLASS: instance and class name, each with its terminator.
constexpr char kWindowClass[] = "korvanez5r\0KTubeWndClass";
constexpr auto kRefreshPeriod = std::chrono::milliseconds(20);

constexpr uint32_t kEvents = XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE |
                             XCB_EVENT_MASK_POINTER_MOTION | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
constexpr uint8_t kLeftButton = 1;
constexpr uint8_t kRightButton = 3;

// The screen whose root is `root`.
const xcb_screen_t* screenOf(xcb_connection_t* c, xcb_window_t root)
{
    for (xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c)); it.rem; xcb_screen_next(&it))
        if (it.data->root == root) return it.data;
    return nullptr;
}

// How the screen's root visual lays out its pixels.
bool formatOf(xcb_connection_t* c, const xcb_screen_t& screen, PixelFormat& format)
{
    const xcb_setup_t* setup = xcb_get_setup(c);
    format.depth = screen.root_depth;
    format.leastSignificantFirst = setup->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST;
    bool found = false;
    for (xcb_format_iterator_t it = xcb_setup_pixmap_formats_iterator(setup); it.rem; xcb_format_next(&it))
        if (it.data->depth == screen.root_depth) {
            format.bitsPerPixel = it.data->bits_per_pixel;
            format.scanlinePad = it.data->scanline_pad;
            found = true;
        }
    if (!found) return false;
    for (xcb_depth_iterator_t d = xcb_screen_allowed_depths_iterator(&screen); d.rem; xcb_depth_next(&d))
        for (xcb_visualtype_iterator_t v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v))
            if (v.data->visual_id == screen.root_visual) {
                if (v.data->_class != XCB_VISUAL_CLASS_TRUE_COLOR && v.data->_class != XCB_VISUAL_CLASS_DIRECT_COLOR)
                    return false;
                format.redMask = v.data->red_mask;
                format.greenMask = v.data->green_mask;
                format.blueMask = v.data->blue_mask;
                return format.supported();
            }
    return false;
}

}  // namespace

struct X11Editor::Connection {
    xcb_connection_t* c = nullptr;
    xcb_window_t window = 0;
    xcb_gcontext_t gc = 0;
    PixelFormat format;
    uint32_t rowsPerRequest = 1;
    bool windowGone = false;
    std::vector<uint8_t> transfer;  // one request's pixels
};

X11Editor::X11Editor(PanelHost& host) : controller(host, panelCanvas) {}

X11Editor::~X11Editor() { close(); }

uint32_t X11Editor::window() const noexcept { return x ? x->window : 0; }

int X11Editor::connectionFd() const noexcept { return x ? xcb_get_file_descriptor(x->c) : -1; }

bool X11Editor::open(uint32_t parent)
{
    // A second open without a close replaces the first window.
    close();
    auto made = std::make_unique<Connection>();
    made->c = xcb_connect(nullptr, nullptr);
    xcb_connection_t* c = made->c;
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return false;
    }
    // The parent's screen: the panel takes that screen's root visual, with
    // the matching colour map, whatever the parent's own visual.
    xcb_generic_error_t* error = nullptr;
    xcb_get_geometry_reply_t* geometry = xcb_get_geometry_reply(c, xcb_get_geometry(c, parent), &error);
    const xcb_screen_t* screen = geometry ? screenOf(c, geometry->root) : nullptr;
    std::free(geometry);
    std::free(error);
    if (!screen || !formatOf(c, *screen, made->format)) {
        xcb_disconnect(c);
        return false;
    }
    made->window = xcb_generate_id(c);
    const uint32_t values[] = {XCB_BACK_PIXMAP_NONE, screen->black_pixel, kEvents, screen->default_colormap};
    error = xcb_request_check(
        c, xcb_create_window_checked(c, screen->root_depth, made->window, parent, 0, 0, kWidth, kHeight, 0,
                                     XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                                     XCB_CW_BACK_PIXMAP | XCB_CW_BORDER_PIXEL | XCB_CW_EVENT_MASK | XCB_CW_COLORMAP,
                                     values));
    if (error) {
        std::free(error);
        xcb_disconnect(c);
        return false;
    }
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, made->window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                        std::strlen(kWindowName), kWindowName);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, made->window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                        sizeof(kWindowClass), kWindowClass);
    made->gc = xcb_generate_id(c);
    const uint32_t noExposures = 0;
    xcb_create_gc(c, made->gc, made->window, XCB_GC_GRAPHICS_EXPOSURES, &noExposures);
    // Each put-image request stays within the server's request size.
    const uint32_t maxBytes = std::min<uint64_t>(uint64_t(xcb_get_maximum_request_length(c)) * 4, 1u << 22);
    const uint32_t rowBytes = static_cast<uint32_t>(made->format.stride(kWidth));
    made->rowsPerRequest = std::max<uint32_t>(1, (maxBytes - 64) / rowBytes);
    x = std::move(made);
    errors = 0;
    exposed = {};

    panelCanvas.build(embeddedSkins(), kPlatformWord, __DATE__);
    controller.opened();
    // The dial paints (its rings take the values opening gave them) before
    // the first refresh, as on Windows.
    panelCanvas.paint();
    xcb_map_window(c, x->window);
    show({0, 0, kWidth, kHeight});
    xcb_flush(c);
    nextRefresh = std::chrono::steady_clock::now() + kRefreshPeriod;
    return true;
}

void X11Editor::handleEvents()
{
    while (xcb_generic_event_t* event = xcb_poll_for_event(x->c)) {
        switch (event->response_type & 0x7F) {
        case 0:
            // An error of one of our requests, say on a window the host has
            // destroyed: ours alone, and harmless.
            ++errors;
            break;
        case XCB_EXPOSE: {
            const auto* e = reinterpret_cast<xcb_expose_event_t*>(event);
            exposed.add({e->x, e->y, e->x + e->width, e->y + e->height});
            break;
        }
        case XCB_BUTTON_PRESS:
        case XCB_BUTTON_RELEASE: {
            const auto* e = reinterpret_cast<xcb_button_press_event_t*>(event);
            if (e->event != x->window || (e->detail != kLeftButton && e->detail != kRightButton)) break;
            const auto pointer = e->detail == kLeftButton ? PanelCanvas::Pointer::left : PanelCanvas::Pointer::right;
            if ((event->response_type & 0x7F) == XCB_BUTTON_PRESS)
                panelCanvas.press(controller, pointer, e->event_x, e->event_y, (e->state & XCB_MOD_MASK_CONTROL) != 0);
            else
                panelCanvas.release(pointer, e->event_x, e->event_y);
            break;
        }
        case XCB_MOTION_NOTIFY: {
            const auto* e = reinterpret_cast<xcb_motion_notify_event_t*>(event);
            if (e->event == x->window)
                panelCanvas.move(e->event_x, e->event_y, (e->state & XCB_MOD_MASK_SHIFT) != 0);
            break;
        }
        case XCB_DESTROY_NOTIFY:
            if (reinterpret_cast<xcb_destroy_notify_event_t*>(event)->window == x->window) x->windowGone = true;
            break;
        default:
            break;
        }
        std::free(event);
    }
}

void X11Editor::idle()
{
    if (!x) return;
    handleEvents();
    if (x->windowGone || xcb_connection_has_error(x->c)) {
        // The host destroyed the parent, or the server went away: nothing
        // of ours is left to destroy.
        close();
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now >= nextRefresh) {
        controller.refresh();
        nextRefresh += kRefreshPeriod;
        // A host that idles rarely gets a refresh at each idle, not a burst.
        if (nextRefresh <= now) nextRefresh = now + kRefreshPeriod;
    }
    PanelCanvas::Rect changed = panelCanvas.paint();
    changed.add(exposed);
    exposed = {};
    show(changed);
    xcb_flush(x->c);
}

void X11Editor::show(const PanelCanvas::Rect& area)
{
    PanelCanvas::Rect r = area;
    r.left = std::max(r.left, 0);
    r.top = std::max(r.top, 0);
    r.right = std::min(r.right, kWidth);
    r.bottom = std::min(r.bottom, kHeight);
    if (r.empty() || !panelCanvas.built() || x->windowGone) return;
    const int32_t width = r.right - r.left;
    const int32_t stride = x->format.stride(width);
    for (int32_t top = r.top; top < r.bottom; top += static_cast<int32_t>(x->rowsPerRequest)) {
        const int32_t rows = std::min<int32_t>(static_cast<int32_t>(x->rowsPerRequest), r.bottom - top);
        x->transfer.resize(size_t(stride) * rows);
        x->format.convert(panelCanvas.pixels() + size_t(top) * kWidth + r.left, kWidth, width, rows,
                          x->transfer.data());
        xcb_put_image(x->c, XCB_IMAGE_FORMAT_Z_PIXMAP, x->window, x->gc, static_cast<uint16_t>(width),
                      static_cast<uint16_t>(rows), static_cast<int16_t>(r.left), static_cast<int16_t>(top), 0,
                      static_cast<uint8_t>(x->format.depth), static_cast<uint32_t>(x->transfer.size()),
                      x->transfer.data());
    }
}

void X11Editor::closeConnection()
{
    if (!x) return;
    xcb_connection_t* c = x->c;
    if (!xcb_connection_has_error(c)) {
        if (!x->windowGone) xcb_destroy_window(c, x->window);
        xcb_free_gc(c, x->gc);
        // Wait for the server to have done it: when close returns, the
        // host's window has no child of ours left.
        std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    }
    xcb_disconnect(c);
    x.reset();
    panelCanvas.release();
}

void X11Editor::close()
{
    controller.closed();
    closeConnection();
}
