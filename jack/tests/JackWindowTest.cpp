// z5r-jack's window on a virtual X display, with a JACK server of the
// test's own: the top-level window is titled and sized as the panel and
// cannot be resized, clicks through XTest change the sound and the
// latency JACK reports, and the window manager's close request ends the
// program cleanly with the settings saved.
#include "JackTestSupport.h"

#include <gtest/gtest.h>

#include "engine/ParameterInfo.h"
#include "gui/panel/PanelLayout.h"
#include "jack/StateFile.h"
#include "tests/x11/X11TestSupport.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cmath>
#include <filesystem>
#include <numbers>

using namespace jacktest;
namespace fs = std::filesystem;

namespace {

constexpr int32_t kRate = 48000;

unsigned long findWindow(TestDisplay& x, const std::string& title)
{
    for (unsigned long w : x.children(DefaultRootWindow(x.get())))
        if (x.name(w) == title) return w;
    return 0;
}

// Clicks the middle of a panel button.
void click(TestDisplay& x, unsigned long panelWindow, int32_t button)
{
    const panel::ButtonPlace& place = panel::kButtons[button];
    x.moveTo(panelWindow, place.left + 14, place.top + 14);
    x.button(1, true);
    x.button(1, false);
    x.sync();
}

}  // namespace

TEST(JackWindow, ClicksChangeTheSoundAndClosingTheWindowQuits)
{
    TestDisplay x;
    ASSERT_TRUE(x.ok()) << "no X display";
    const std::string folder = makeFolder();
    JackServer server(folder);
    ASSERT_TRUE(server.ok());
    jack_client_t* look = server.open("z5r-test-look");
    ASSERT_NE(look, nullptr);

    const std::string state = folder + "/state";
    Child effect({buildFolder() + "/z5r-jack", "--state", state}, {server.environment()}, folder, "z5r-jack");
    ASSERT_TRUE(waitFor([&] { return !effect.running() || effect.out().find("playing") != std::string::npos; }));
    ASSERT_TRUE(effect.running()) << effect.err();

    // The window: its title, the panel's size, not resizable, the panel in it.
    unsigned long top = 0;
    ASSERT_TRUE(waitFor([&] { return (top = findWindow(x, kClient)) != 0; }));
    const TestDisplay::Geometry g = x.geometry(top);
    EXPECT_EQ(g.width, panel::kWidth);
    EXPECT_EQ(g.height, panel::kHeight);
    XSizeHints hints{};
    long supplied = 0;
    ASSERT_TRUE(XGetWMNormalHints(x.get(), top, &hints, &supplied));
    EXPECT_TRUE((hints.flags & PMinSize) && (hints.flags & PMaxSize));
    EXPECT_EQ(hints.min_width, panel::kWidth);
    EXPECT_EQ(hints.max_width, panel::kWidth);
    EXPECT_EQ(hints.min_height, panel::kHeight);
    EXPECT_EQ(hints.max_height, panel::kHeight);
    std::vector<unsigned long> inside;
    ASSERT_TRUE(waitFor([&] { return (inside = x.children(top)).size() == 1 && x.geometry(inside[0]).viewable; }));
    const unsigned long panelWindow = inside[0];

    // A steady sine through the effect (a whole number of periods loops cleanly).
    Signal sine;
    for (int32_t n = 0; n < kRate; ++n) {
        const auto v = static_cast<float>(0.5 * std::sin(2.0 * std::numbers::pi * 440.0 * n / kRate));
        sine.left.push_back(v);
        sine.right.push_back(v);
    }
    Probe probe(server, sine, 0, true);
    ASSERT_TRUE(probe.ok());
    std::string error;
    ASSERT_TRUE(waitFor([&] { return probe.connectThrough(error); })) << error;
    probe.arm(0);
    // Past the gain's first rise: two readings a tenth of a second apart agree.
    float before = 0.0f;
    ASSERT_TRUE(waitFor([&] {
        const float now = probe.lastPower();
        const bool settled = now > 0.0f && std::fabs(now - before) < 0.01f * now;
        before = now;
        return settled && probe.played() > kRate;
    }));
    EXPECT_EQ(latencyOf(look, effectPort("out_L"), JackCaptureLatency).max, 0u);

    // Normalisation on: the level changes by far more than the sine wavers.
    click(x, panelWindow, panel::kNormalizeButton);
    EXPECT_TRUE(waitFor([&] {
        const float now = probe.lastPower();
        return now > 2.0f * before || now < 0.5f * before;
    })) << "power stayed at " << probe.lastPower() << " from " << before;

    // 16x: JACK hears of the new latency.
    click(x, panelWindow, panel::kOversampleButton);
    EXPECT_TRUE(waitFor([&] { return latencyOf(look, effectPort("out_L"), JackCaptureLatency).max == 8; }));
    // The playback side is recomputed by the server on its own time.
    EXPECT_TRUE(waitFor([&] { return latencyOf(look, effectPort("in_L"), JackPlaybackLatency).max == 8; }));

    // The window manager's close button: a WM_DELETE_WINDOW message.
    XEvent close{};
    close.xclient.type = ClientMessage;
    close.xclient.window = top;
    close.xclient.message_type = XInternAtom(x.get(), "WM_PROTOCOLS", False);
    close.xclient.format = 32;
    close.xclient.data.l[0] = static_cast<long>(XInternAtom(x.get(), "WM_DELETE_WINDOW", False));
    close.xclient.data.l[1] = CurrentTime;
    XSendEvent(x.get(), top, False, NoEventMask, &close);
    x.sync();
    EXPECT_EQ(effect.wait(), 0) << effect.err();
    EXPECT_EQ(effect.err(), "");
    EXPECT_TRUE(waitFor([&] { return findWindow(x, kClient) == 0; }));
    const jackapp::LoadedState saved = jackapp::loadStateFile(state);
    ASSERT_EQ(saved.status, jackapp::LoadedState::Loaded);
    EXPECT_TRUE(switchIsOn(saved.state.values[kParamNormalize]));
    EXPECT_TRUE(switchIsOn(saved.state.values[kParamOversample]));

    jack_client_close(look);
    if (!::testing::Test::HasFailure()) fs::remove_all(folder);
}
