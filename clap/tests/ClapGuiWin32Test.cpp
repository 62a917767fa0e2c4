// The CLAP editor on Windows (under Wine and a virtual X display in CI):
// embedded in a host window, its controls clicked and its dial dragged, the
// changes reaching the host as parameter events inside gestures.
#include "TestHost.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string_view>
#include <vector>

namespace {

constexpr uint32_t kWidth = 665;
constexpr uint32_t kHeight = 178;

void pump(int32_t turns)
{
    for (int32_t i = 0; i < turns; ++i) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        Sleep(5);
    }
}

// A visible top-level window of the panel's size, as a host's plug-in window.
HWND makeParent()
{
    static bool registered = false;
    if (!registered) {
        WNDCLASSA wc{};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "z5rClapTestParent";
        RegisterClassA(&wc);
        registered = true;
    }
    RECT r{0, 0, static_cast<LONG>(kWidth), static_cast<LONG>(kHeight)};
    AdjustWindowRect(&r, WS_OVERLAPPEDWINDOW, FALSE);
    HWND window = CreateWindowA("z5rClapTestParent", "host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10,
                                r.right - r.left, r.bottom - r.top, nullptr, nullptr, GetModuleHandleA(nullptr),
                                nullptr);
    pump(5);
    return window;
}

HWND controlAt(HWND editor, int32_t x, int32_t y)
{
    for (HWND child = GetWindow(editor, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        RECT r;
        GetWindowRect(child, &r);
        POINT corner{r.left, r.top};
        ScreenToClient(editor, &corner);
        if (corner.x == x && corner.y == y) return child;
    }
    return nullptr;
}

std::vector<OutEvent> sent(TestHost& host)
{
    OutputList out;
    host.flush(nullptr, &out);
    return out.events;
}

TEST(ClapGuiWin32, EmbedsThePanelAndItsChangesReachTheHostAsGestures)
{
    TestHost host;
    ASSERT_TRUE(host.ok()) << "cannot load " Z5R_CLAP_FILE;
    ASSERT_NE(host.gui, nullptr);
    EXPECT_TRUE(host.gui->is_api_supported(host.plugin, CLAP_WINDOW_API_WIN32, false));
    EXPECT_FALSE(host.gui->is_api_supported(host.plugin, CLAP_WINDOW_API_WIN32, true));
    EXPECT_FALSE(host.gui->is_api_supported(host.plugin, CLAP_WINDOW_API_X11, false));
    HWND parent = makeParent();
    ASSERT_NE(parent, nullptr) << "no display";

    ASSERT_TRUE(host.gui->create(host.plugin, CLAP_WINDOW_API_WIN32, false));
    uint32_t w = 0, h = 0;
    ASSERT_TRUE(host.gui->get_size(host.plugin, &w, &h));
    EXPECT_EQ(w, kWidth);
    EXPECT_EQ(h, kHeight);
    EXPECT_FALSE(host.gui->can_resize(host.plugin));
    clap_window_t window{CLAP_WINDOW_API_WIN32, {}};
    window.win32 = parent;
    ASSERT_TRUE(host.gui->set_parent(host.plugin, &window));
    EXPECT_TRUE(host.gui->show(host.plugin));
    pump(10);
    HWND editor = GetWindow(parent, GW_CHILD);
    ASSERT_NE(editor, nullptr);
    RECT r;
    GetClientRect(editor, &r);
    EXPECT_EQ(r.right, static_cast<LONG>(kWidth));
    EXPECT_EQ(r.bottom, static_cast<LONG>(kHeight));
    sent(host);

    HWND voltage = controlAt(editor, 317, 122);  // the middle voltage
    ASSERT_NE(voltage, nullptr);
    SendMessageA(voltage, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    SendMessageA(voltage, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    pump(5);
    EXPECT_GT(host.flushRequests.load(), 0);
    std::vector<OutEvent> events = sent(host);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].type, CLAP_EVENT_PARAM_GESTURE_BEGIN);
    EXPECT_EQ(events[1].type, CLAP_EVENT_PARAM_VALUE);
    EXPECT_EQ(events[1].id, 4u);
    EXPECT_EQ(events[1].value, 1.0);
    EXPECT_EQ(events[2].type, CLAP_EVENT_PARAM_GESTURE_END);
    EXPECT_EQ(host.value(4), 1.0);

    HWND dial = controlAt(editor, 15, 15);
    ASSERT_NE(dial, nullptr);
    SendMessageA(dial, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(70, 100));
    SendMessageA(dial, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(70, 86));
    // The dial hands its value on at the panel's 20 ms refresh, and ends the
    // gesture at the first refresh after the release: the host's loop runs
    // on, the release comes after a few turns, until the gesture has ended.
    events.clear();
    for (int32_t turn = 0; turn < 400 && (events.empty() || events.back().type != CLAP_EVENT_PARAM_GESTURE_END);
         ++turn) {
        pump(1);
        for (const OutEvent& e : sent(host)) events.push_back(e);
        if (turn == 12) SendMessageA(dial, WM_LBUTTONUP, 0, MAKELPARAM(70, 86));
    }
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events.front().type, CLAP_EVENT_PARAM_GESTURE_BEGIN);
    EXPECT_EQ(events.back().type, CLAP_EVENT_PARAM_GESTURE_END);
    EXPECT_EQ(events.front().id, events.back().id);

    EXPECT_TRUE(host.gui->hide(host.plugin));
    host.gui->destroy(host.plugin);
    pump(5);
    EXPECT_EQ(GetWindow(parent, GW_CHILD), nullptr);
    DestroyWindow(parent);
}

}  // namespace
