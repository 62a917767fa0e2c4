#include "jack/AppWindow.h"

#include "engine/Product.h"
#include "engine/TubeEngine.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace jackapp {

float EnginePanelHost::getParameter(int32_t index) { return engine.getParameter(index); }
void EnginePanelHost::setParameterFromUser(int32_t index, float value) { engine.setParameter(index, value); }
void EnginePanelHost::copyScope(ScopePoint (&ring)[kScopeRingSize]) { engine.scope().copy(ring); }
void EnginePanelHost::startScope() { engine.startScopeFeed(); }
void EnginePanelHost::stopScope() { engine.stopScopeFeed(); }

namespace {

// WM_CLASS: instance and class, each with its terminator.
constexpr char kWindowClass[] = "z5r-jack\0Korvane Z5R";

// WM_NORMAL_HINTS as ICCCM lays them out: 18 words, the flags first.
constexpr uint32_t kMinSizeFlag = 1u << 4;
constexpr uint32_t kMaxSizeFlag = 1u << 5;
constexpr int32_t kSizeHintWords = 18;
constexpr int32_t kMinWidthWord = 5, kMinHeightWord = 6, kMaxWidthWord = 7, kMaxHeightWord = 8;

xcb_atom_t atom(xcb_connection_t* c, const char* name)
{
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t result = reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    std::free(reply);
    return result;
}

}  // namespace

struct AppWindow::Connection {
    xcb_connection_t* c = nullptr;
    xcb_window_t window = 0;
    xcb_atom_t protocols = XCB_ATOM_NONE;
    xcb_atom_t deleteWindow = XCB_ATOM_NONE;
};

AppWindow::AppWindow(TubeEngine& engine) : host(engine), panel(host) {}

AppWindow::~AppWindow() { close(); }

int AppWindow::windowFd() const noexcept { return x ? xcb_get_file_descriptor(x->c) : -1; }

uint32_t AppWindow::window() const noexcept { return x ? x->window : 0; }

bool AppWindow::open(std::string& error)
{
    auto made = std::make_unique<Connection>();
    int screenNumber = 0;
    made->c = xcb_connect(nullptr, &screenNumber);
    xcb_connection_t* c = made->c;
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        const char* display = std::getenv("DISPLAY");
        error = std::string("cannot open the X display \"") + (display ? display : "") +
                "\"; --no-gui plays without the window";
        return false;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber && it.rem; ++i) xcb_screen_next(&it);
    const xcb_screen_t* screen = it.data;

    made->window = xcb_generate_id(c);
    const uint32_t values[] = {screen->black_pixel, XCB_EVENT_MASK_STRUCTURE_NOTIFY};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, made->window, screen->root, 0, 0, X11Editor::kWidth,
                      X11Editor::kHeight, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);

    const std::string title = product::kName;
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, made->window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                        static_cast<uint32_t>(title.size()), title.data());
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, made->window, atom(c, "_NET_WM_NAME"), atom(c, "UTF8_STRING"), 8,
                        static_cast<uint32_t>(title.size()), title.data());
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, made->window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                        sizeof(kWindowClass), kWindowClass);
    // Not resizable: the smallest and the largest size are the panel's.
    uint32_t hints[kSizeHintWords] = {};
    hints[0] = kMinSizeFlag | kMaxSizeFlag;
    hints[kMinWidthWord] = hints[kMaxWidthWord] = X11Editor::kWidth;
    hints[kMinHeightWord] = hints[kMaxHeightWord] = X11Editor::kHeight;
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, made->window, XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS, 32,
                        kSizeHintWords, hints);
    // The window manager's close button asks; it does not kill.
    made->protocols = atom(c, "WM_PROTOCOLS");
    made->deleteWindow = atom(c, "WM_DELETE_WINDOW");
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, made->window, made->protocols, XCB_ATOM_ATOM, 32, 1,
                        &made->deleteWindow);
    xcb_map_window(c, made->window);
    // The panel asks for the window on its own connection: make sure the
    // server has it first.
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    x = std::move(made);
    deleteAsked = false;
    if (!panel.open(x->window)) {
        close();
        error = "cannot open the panel in its window";
        return false;
    }
    return true;
}

bool AppWindow::idle()
{
    if (!x) return false;
    while (xcb_generic_event_t* event = xcb_poll_for_event(x->c)) {
        if ((event->response_type & 0x7F) == XCB_CLIENT_MESSAGE) {
            const auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
            if (message->type == x->protocols && message->format == 32 &&
                message->data.data32[0] == x->deleteWindow)
                deleteAsked = true;
        }
        std::free(event);
    }
    panel.idle();
    return !deleteAsked && panel.isOpen() && !xcb_connection_has_error(x->c);
}

void AppWindow::close()
{
    panel.close();
    if (!x) return;
    if (!xcb_connection_has_error(x->c)) {
        xcb_destroy_window(x->c, x->window);
        xcb_flush(x->c);
    }
    xcb_disconnect(x->c);
    x.reset();
}

}  // namespace jackapp
