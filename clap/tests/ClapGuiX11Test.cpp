// The CLAP editor on Linux through real X events: the test host embeds it
// in a window of its own and drives it only the CLAP way, from a run loop
// that fires the timer the editor registered and watches the descriptor it
// registered. XTest clicks and drags must reach the host as parameter
// events inside gestures. Runs on a virtual X display (with-xvfb.sh).
#include "TestHost.h"
#include "x11/X11TestSupport.h"

#include <gtest/gtest.h>

#include <poll.h>

#include <chrono>
#include <string_view>
#include <vector>

namespace {

constexpr uint32_t kWidth = 665;
constexpr uint32_t kHeight = 178;

// The host's run loop: `turns` turns of at most 5 ms, each handing the
// editor its descriptor when it is readable and its timer when due.
void runLoop(TestHost& host, int32_t turns)
{
    auto nextTimer = std::chrono::steady_clock::now();
    for (int32_t turn = 0; turn < turns; ++turn) {
        std::vector<pollfd> watched;
        for (int fd : host.fds) watched.push_back({fd, POLLIN, 0});
        poll(watched.data(), watched.size(), 5);
        for (const pollfd& p : watched)
            if (p.revents) host.fd->on_fd(host.plugin, p.fd, kClapPosixFdRead);
        if (std::chrono::steady_clock::now() >= nextTimer) {
            const std::vector<TestHost::Timer> timers = host.timers;
            for (const TestHost::Timer& t : timers) host.timer->on_timer(host.plugin, t.id);
            nextTimer += std::chrono::milliseconds(20);
        }
    }
}

class ClapGuiX11 : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(x.ok()) << "no X display";
        ASSERT_TRUE(host.ok()) << "cannot load " Z5R_CLAP_FILE;
        ASSERT_NE(host.gui, nullptr);
        ASSERT_NE(host.timer, nullptr);
        ASSERT_NE(host.fd, nullptr);
        parent = x.createParent(20, 20, kWidth, kHeight);
    }
    void TearDown() override
    {
        if (parent) x.destroy(parent);
    }

    // Creates and embeds the editor; its window, or 0.
    unsigned long open()
    {
        if (!host.gui->create(host.plugin, CLAP_WINDOW_API_X11, false)) return 0;
        clap_window_t window{CLAP_WINDOW_API_X11, {}};
        window.x11 = parent;
        if (!host.gui->set_parent(host.plugin, &window)) return 0;
        host.gui->show(host.plugin);
        runLoop(host, 20);
        x.sync();
        const std::vector<unsigned long> windows = x.children(parent);
        return windows.size() == 1 ? windows[0] : 0;
    }

    // What the editor sent the host since the last call, by flush as the
    // host does after the editor asked for one.
    std::vector<OutEvent> sent()
    {
        OutputList out;
        host.flush(nullptr, &out);
        return out.events;
    }

    void click(unsigned long editor, int32_t px, int32_t py)
    {
        x.moveTo(editor, px, py);
        x.button(1, true);
        runLoop(host, 10);
        x.button(1, false);
        runLoop(host, 10);
    }

    TestDisplay x;
    TestHost host;
    unsigned long parent = 0;
};

TEST_F(ClapGuiX11, EmbeddedX11OnlyAndFixedSize)
{
    EXPECT_TRUE(host.gui->is_api_supported(host.plugin, CLAP_WINDOW_API_X11, false));
    EXPECT_FALSE(host.gui->is_api_supported(host.plugin, CLAP_WINDOW_API_X11, true));
    EXPECT_FALSE(host.gui->is_api_supported(host.plugin, CLAP_WINDOW_API_WIN32, false));
    EXPECT_FALSE(host.gui->is_api_supported(host.plugin, CLAP_WINDOW_API_WAYLAND, false));
    const char* api = nullptr;
    bool floating = true;
    ASSERT_TRUE(host.gui->get_preferred_api(host.plugin, &api, &floating));
    EXPECT_EQ(std::string_view(api), CLAP_WINDOW_API_X11);
    EXPECT_FALSE(floating);
    EXPECT_FALSE(host.gui->create(host.plugin, CLAP_WINDOW_API_X11, true));
    ASSERT_TRUE(host.gui->create(host.plugin, CLAP_WINDOW_API_X11, false));
    uint32_t w = 0, h = 0;
    ASSERT_TRUE(host.gui->get_size(host.plugin, &w, &h));
    EXPECT_EQ(w, kWidth);
    EXPECT_EQ(h, kHeight);
    EXPECT_FALSE(host.gui->can_resize(host.plugin));
    clap_gui_resize_hints_t hints{true, true, true, 4, 3};
    ASSERT_TRUE(host.gui->get_resize_hints(host.plugin, &hints));
    EXPECT_FALSE(hints.can_resize_horizontally || hints.can_resize_vertically || hints.preserve_aspect_ratio);
    EXPECT_FALSE(host.gui->get_resize_hints(host.plugin, nullptr));
    w = 1000;
    h = 50;
    host.gui->adjust_size(host.plugin, &w, &h);
    EXPECT_EQ(w, kWidth);
    EXPECT_EQ(h, kHeight);
    EXPECT_FALSE(host.gui->set_size(host.plugin, 800, 300));
    EXPECT_TRUE(host.gui->set_size(host.plugin, kWidth, kHeight));
    host.gui->destroy(host.plugin);
}

TEST(ClapGuiX11Host, WithoutATimerOrADescriptorWatchTheEditorCannotOpen)
{
    for (int32_t missing = 0; missing < 2; ++missing) {
        TestHost::Offer offer;
        (missing == 0 ? offer.timer : offer.fd) = false;
        TestHost host(offer);
        ASSERT_TRUE(host.ok());
        ASSERT_NE(host.gui, nullptr);
        // Asked about the window API alone (a scanner's bare host asks so)...
        EXPECT_TRUE(host.gui->is_api_supported(host.plugin, CLAP_WINDOW_API_X11, false));
        // ...but no editor it could not drive.
        EXPECT_FALSE(host.gui->create(host.plugin, CLAP_WINDOW_API_X11, false));
        uint32_t w = 0, h = 0;
        EXPECT_FALSE(host.gui->get_size(host.plugin, &w, &h));
        clap_window_t window{CLAP_WINDOW_API_X11, {}};
        window.x11 = 1;
        EXPECT_FALSE(host.gui->set_parent(host.plugin, &window));
        host.gui->destroy(host.plugin);  // harmless
    }
}

TEST_F(ClapGuiX11, OpensInTheParentOnTheHostsTimerAndDescriptor)
{
    const unsigned long editor = open();
    ASSERT_NE(editor, 0u);
    const TestDisplay::Geometry g = x.geometry(editor);
    EXPECT_EQ(g.width, static_cast<int32_t>(kWidth));
    EXPECT_EQ(g.height, static_cast<int32_t>(kHeight));
    EXPECT_TRUE(g.viewable);
    ASSERT_EQ(host.fds.size(), 1u);
    ASSERT_EQ(host.timers.size(), 1u);
    EXPECT_EQ(host.timers[0].period, 20u);
    // Drawn: the panel is not the parent's blank background.
    const std::vector<uint32_t> pixels = x.pixels(editor, kWidth, kHeight);
    size_t distinct = 0;
    for (size_t i = 1; i < pixels.size(); ++i) distinct += pixels[i] != pixels[0];
    EXPECT_GT(distinct, pixels.size() / 4);
    host.gui->destroy(host.plugin);
    x.sync();
    EXPECT_TRUE(x.children(parent).empty());
    EXPECT_TRUE(host.fds.empty());
    EXPECT_TRUE(host.timers.empty());
}

TEST_F(ClapGuiX11, ClicksAndDragsReachTheHostAsGestures)
{
    const unsigned long editor = open();
    ASSERT_NE(editor, 0u);
    sent();
    const int32_t flushesBefore = host.flushRequests.load();
    click(editor, 317 + 14, 122 + 14);  // the middle voltage
    EXPECT_GT(host.flushRequests.load(), flushesBefore);
    std::vector<OutEvent> events = sent();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].type, CLAP_EVENT_PARAM_GESTURE_BEGIN);
    EXPECT_EQ(events[1].type, CLAP_EVENT_PARAM_VALUE);
    EXPECT_EQ(events[1].value, 1.0);  // the middle entry
    EXPECT_EQ(events[2].type, CLAP_EVENT_PARAM_GESTURE_END);
    for (const OutEvent& e : events) EXPECT_EQ(e.id, 4u);  // Voltage
    EXPECT_EQ(host.value(4), 1.0);

    // A drag on the dial: one gesture around every value it pushes.
    x.moveTo(editor, 15 + 70, 15 + 40);
    x.button(1, true);
    runLoop(host, 10);
    for (int32_t y : {35, 30, 25}) {
        x.moveTo(editor, 15 + 70, 15 + y);
        runLoop(host, 8);
    }
    events = sent();  // mid-drag: begun, values, not ended
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events.front().type, CLAP_EVENT_PARAM_GESTURE_BEGIN);
    for (size_t i = 1; i < events.size(); ++i) EXPECT_EQ(events[i].type, CLAP_EVENT_PARAM_VALUE);
    const clap_id dragged = events.front().id;
    x.button(1, false);
    runLoop(host, 10);
    events = sent();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().type, CLAP_EVENT_PARAM_GESTURE_END);
    EXPECT_EQ(events.back().id, dragged);

    // The Oversmpl switch while active: the change asks for a restart.
    ASSERT_TRUE(host.activate(48000.0));
    click(editor, 200 + 14, 4 + 14);
    EXPECT_EQ(host.restartRequests.load(), 1);
    host.deactivate();
    events = sent();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[1].id, 0u);
    EXPECT_EQ(events[1].value, 1.0);
    host.gui->destroy(host.plugin);
}

TEST_F(ClapGuiX11, ParentDestroyedFirstEndsTheWatchQuietly)
{
    const unsigned long editor = open();
    ASSERT_NE(editor, 0u);
    x.destroy(parent);
    parent = 0;
    x.sync();
    runLoop(host, 30);
    EXPECT_TRUE(host.fds.empty());
    EXPECT_TRUE(host.timers.empty());
    host.gui->destroy(host.plugin);
    // And the editor opens again in a new parent.
    parent = x.createParent(40, 40, kWidth, kHeight);
    EXPECT_NE(open(), 0u);
    host.gui->destroy(host.plugin);
}

}  // namespace
