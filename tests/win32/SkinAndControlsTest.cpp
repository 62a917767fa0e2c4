// The skin loader and the three skinned controls as real Win32 code: images
// decoded from the built library's resources, controls made in a real
// parent window, painted, read back and driven with window messages.
#include "WindowTestSupport.h"

#include "gui/controls/LedButton.h"
#include "gui/controls/LedDial.h"
#include "gui/controls/ScopeXY.h"
#include "gui/controls/SkinImage.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

struct ImageSize {
    int id, width, height;
};
constexpr ImageSize kImages[] = {{124, 144, 144}, {125, 144, 144}, {126, 144, 144}, {134, 28, 112},
                                 {137, 142, 142}, {138, 28, 112},  {140, 36, 64},   {141, 36, 64},
                                 {144, 665, 178}, {146, 665, 178}};

std::vector<uint32_t> dibPixels(HBITMAP bitmap, int32_t width, int32_t height)
{
    DIBSECTION section{};
    EXPECT_EQ(GetObjectA(bitmap, sizeof(section), &section), int(sizeof(section)));
    const auto* bits = static_cast<const uint32_t*>(section.dsBm.bmBits);
    return std::vector<uint32_t>(bits, bits + size_t(width) * height);
}

}  // namespace

TEST(SkinImages, EveryResourceDecodesToAPremultipliedTopDownDib)
{
    ASSERT_NE(pluginModule(), nullptr);
    for (const ImageSize& image : kImages) {
        HBITMAP bitmap = LoadPngResource(pluginModule(), image.id);
        ASSERT_NE(bitmap, nullptr) << image.id;
        DIBSECTION section{};
        ASSERT_EQ(GetObjectA(bitmap, sizeof(section), &section), int(sizeof(section))) << image.id;
        EXPECT_EQ(section.dsBm.bmWidth, image.width);
        EXPECT_EQ(section.dsBm.bmHeight, image.height);
        EXPECT_EQ(section.dsBm.bmBitsPixel, 32);
        // Premultiplied: no colour byte exceeds its alpha.
        for (uint32_t p : dibPixels(bitmap, image.width, image.height)) {
            const uint32_t a = p >> 24;
            ASSERT_LE((p >> 16) & 0xFF, a);
            ASSERT_LE((p >> 8) & 0xFF, a);
            ASSERT_LE(p & 0xFF, a);
        }
        DeleteObject(bitmap);
    }
}

TEST(SkinImages, FirstRowInMemoryIsTheTopRow)
{
    // The blue button strip: frame 0 (top) is off, frame 2 is lit blue.
    HBITMAP strip = LoadPngResource(pluginModule(), 134);
    ASSERT_NE(strip, nullptr);
    const std::vector<uint32_t> pixels = dibPixels(strip, 28, 112);
    auto blue = [&](int32_t frame) {
        uint64_t sum = 0;
        for (int32_t i = frame * 28 * 28; i < (frame + 1) * 28 * 28; ++i) sum += pixels[i] & 0xFF;
        return sum;
    };
    EXPECT_LT(blue(0) * 2, blue(2));
    DeleteObject(strip);
}

TEST(SkinImages, BothLitDialLayersDecodeAlikeAndMissingIdsGiveNull)
{
    HBITMAP inner = LoadPngResource(pluginModule(), 125);
    HBITMAP outer = LoadPngResource(pluginModule(), 126);
    ASSERT_TRUE(inner && outer);
    EXPECT_NE(inner, outer);
    EXPECT_EQ(dibPixels(inner, 144, 144), dibPixels(outer, 144, 144));
    DeleteObject(inner);
    DeleteObject(outer);
    EXPECT_EQ(LoadPngResource(pluginModule(), 999), nullptr);
    EXPECT_EQ(LoadPngResource(pluginModule(), 0), nullptr);
    EXPECT_EQ(LoadPngResource(GetModuleHandleA(nullptr), 144), nullptr);  // not in the test program
}

TEST(SkinImages, OpaqueImageHasFullAlpha)
{
    HBITMAP face = LoadPngResource(pluginModule(), 137);
    ASSERT_NE(face, nullptr);
    for (uint32_t p : dibPixels(face, 142, 142)) ASSERT_EQ(p >> 24, 0xFFu);
    DeleteObject(face);
}

TEST(SkinImages, LoadsOnAThreadWithoutComAndLeavesThreadsAsTheyWere)
{
    // A thread that never initialised COM still gets its picture, and COM is
    // stopped again afterwards: initialising it then succeeds afresh.
    HRESULT after = E_FAIL;
    bool loaded = false;
    std::thread bare([&] {
        HBITMAP image = LoadPngResource(pluginModule(), 134);
        loaded = image != nullptr;
        if (image) DeleteObject(image);
        after = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (SUCCEEDED(after)) CoUninitialize();
    });
    bare.join();
    EXPECT_TRUE(loaded);
    EXPECT_EQ(after, S_OK);

    // A thread with COM in the multithreaded apartment keeps it.
    HRESULT again = E_FAIL;
    std::thread initialised([&] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        HBITMAP image = LoadPngResource(pluginModule(), 134);
        loaded = image != nullptr;
        if (image) DeleteObject(image);
        again = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (SUCCEEDED(again)) CoUninitialize();
        CoUninitialize();
    });
    initialised.join();
    EXPECT_TRUE(loaded);
    EXPECT_EQ(again, S_FALSE);
}

class Controls : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(pluginModule(), nullptr);
        ASSERT_NE(parent.hwnd, nullptr) << "no display";
    }
    TestParent parent;
};

TEST_F(Controls, ButtonPaintsItsFrameAndTogglesThroughWindowMessages)
{
    CLedButton button;
    button.Create(pluginModule(), parent.hwnd, parent.backdrop, 177, 122, 134, 1);
    ASSERT_NE(button.GetWindow(), nullptr);
    EXPECT_EQ(button.GetWidth(), 28);
    EXPECT_EQ(button.GetHeight(), 28);
    parent.watchedButton = button.GetWindow();
    const std::vector<uint32_t> strip = bitmapPixels(button.strip, 28, 112);
    auto frame = [&](int32_t state) {
        return std::vector<uint32_t>(strip.begin() + state * 28 * 28, strip.begin() + (state + 1) * 28 * 28);
    };
    // Frames are the backdrop under the button with the picture on top, and differ.
    EXPECT_NE(frame(0), frame(2));
    pumpMessages();
    EXPECT_EQ(windowPixels(button.GetWindow(), 28, 28), frame(0));

    SendMessageA(button.GetWindow(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    ASSERT_EQ(parent.messages.size(), 1u);
    EXPECT_EQ(parent.messages[0].controlId, 1u);
    EXPECT_EQ(parent.messages[0].state, 3);
    EXPECT_FALSE(parent.messages[0].buttonInvalidated) << "the parent hears before the repaint";
    EXPECT_EQ(GetCapture(), button.GetWindow());
    pumpMessages();
    EXPECT_EQ(windowPixels(button.GetWindow(), 28, 28), frame(3));

    SendMessageA(button.GetWindow(), WM_LBUTTONUP, 0, MAKELPARAM(300, 300));  // released outside
    EXPECT_EQ(button.state, 2);
    EXPECT_EQ(parent.messages.size(), 1u);
    EXPECT_NE(GetCapture(), button.GetWindow());
    pumpMessages();
    EXPECT_EQ(windowPixels(button.GetWindow(), 28, 28), frame(2));

    SendMessageA(button.GetWindow(), WM_LBUTTONDOWN, MK_LBUTTON, 0);
    ASSERT_EQ(parent.messages.size(), 2u);
    EXPECT_EQ(parent.messages[1].state, 1);
    button.SetValue(1);  // while held: on and held
    EXPECT_EQ(button.state, 3);
    EXPECT_EQ(windowPixels(button.GetWindow(), 28, 28), frame(3));  // SetValue repaints at once
    SendMessageA(button.GetWindow(), WM_LBUTTONUP, 0, 0);
    EXPECT_EQ(button.state, 2);
    button.SetValue(0);
    EXPECT_EQ(button.state, 0);
    EXPECT_EQ(parent.messages.size(), 2u);
    button.DestroyControl();
}

TEST_F(Controls, ButtonWithoutIdIgnoresTheMouse)
{
    CLedButton button;
    button.Create(pluginModule(), parent.hwnd, parent.backdrop, 536, 162, 140, 0);
    ASSERT_NE(button.GetWindow(), nullptr);
    EXPECT_EQ(button.GetWidth(), 36);
    EXPECT_EQ(button.GetHeight(), 16);
    EXPECT_EQ(SendMessageA(button.GetWindow(), WM_LBUTTONDOWN, MK_LBUTTON, 0), 1);
    EXPECT_EQ(SendMessageA(button.GetWindow(), WM_LBUTTONUP, 0, 0), 1);
    EXPECT_EQ(button.state, 0);
    EXPECT_TRUE(parent.messages.empty());
    EXPECT_NE(GetCapture(), button.GetWindow());
}

TEST_F(Controls, ControlWhoseImageDoesNotLoadMakesNoWindow)
{
    CLedButton button;
    button.Create(pluginModule(), parent.hwnd, parent.backdrop, 10, 10, 999, 4);
    EXPECT_EQ(button.GetWindow(), nullptr);
    EXPECT_EQ(button.GetWidth(), 0);
    button.SetValue(1);  // only the state changes
    EXPECT_EQ(button.state, 2);
    button.DestroyControl();
}

TEST_F(Controls, WindowClassIsCountedAcrossControlsAndGoesWithTheLast)
{
    for (bool firstGoesFirst : {true, false}) {
        CLedButton a, b;
        a.Create(pluginModule(), parent.hwnd, parent.backdrop, 177, 122, 134, 1);
        b.Create(pluginModule(), parent.hwnd, parent.backdrop, 207, 122, 134, 2);
        ASSERT_TRUE(a.GetWindow() && b.GetWindow());
        EXPECT_STREQ(a.GetWindowClassName(), "KorvaneZ5R.dllCLedButtonWindowClass");
        EXPECT_EQ(*a.GetInstanceCounter(), 2);
        WNDCLASSEXA info{};
        info.cbSize = sizeof(info);
        (firstGoesFirst ? a : b).DestroyControl();
        EXPECT_EQ(*a.GetInstanceCounter(), 1);
        EXPECT_TRUE(GetClassInfoExA(pluginModule(), a.GetWindowClassName(), &info));
        (firstGoesFirst ? b : a).DestroyControl();
        EXPECT_EQ(*a.GetInstanceCounter(), 0);
        EXPECT_FALSE(GetClassInfoExA(pluginModule(), a.GetWindowClassName(), &info));
        a.DestroyControl();  // no window: nothing changes
        EXPECT_EQ(*a.GetInstanceCounter(), 0);
    }
    // Kinds are counted apart.
    CLedButton button;
    CScopeXY scope;
    button.Create(pluginModule(), parent.hwnd, parent.backdrop, 177, 122, 134, 1);
    scope.Create(pluginModule(), parent.hwnd, parent.backdrop);
    EXPECT_EQ(*button.GetInstanceCounter(), 1);
    EXPECT_EQ(*scope.GetInstanceCounter(), 1);
}

TEST_F(Controls, DialPaintsLitSegmentsAndFollowsDrags)
{
    CLedDial dial;
    dial.Create(pluginModule(), parent.hwnd, parent.backdrop);
    ASSERT_NE(dial.GetWindow(), nullptr);
    EXPECT_EQ(dial.GetWidth(), 144);
    dial.SetValue(0, 0);
    dial.SetValue(1, 0);
    InvalidateRect(dial.GetWindow(), nullptr, FALSE);
    pumpMessages();
    const std::vector<uint32_t> dark = windowPixels(dial.GetWindow(), 144, 144);
    EXPECT_FALSE(dial.IsChanged(0));

    dial.SetValue(0, 100);
    EXPECT_TRUE(dial.IsChanged(0));
    dial.RefreshIfChanged();
    pumpMessages();
    EXPECT_FALSE(dial.IsChanged(0));
    const std::vector<uint32_t> lit = windowPixels(dial.GetWindow(), 144, 144);
    int32_t changedInner = 0, changedElsewhere = 0;
    for (int32_t i = 0; i < 144; ++i)
        for (int32_t j = 0; j < 144; ++j) {
            if (dark[i * 144 + j] == lit[i * 144 + j]) continue;
            const int32_t d2 = (j - 72) * (j - 72) + (i - 72) * (i - 72);
            (d2 >= 2916 && d2 <= 3844 ? changedInner : changedElsewhere)++;
        }
    EXPECT_GT(changedInner, 1000);
    EXPECT_EQ(changedElsewhere, 0);

    // Drags through mouse messages: two pixels up per step.
    dial.SetValue(0, 40);
    SendMessageA(dial.GetWindow(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(70, 100));
    EXPECT_EQ(GetCapture(), dial.GetWindow());
    SendMessageA(dial.GetWindow(), WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(70, 80));
    EXPECT_EQ(dial.GetValue(0), 50);
    SendMessageA(dial.GetWindow(), WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(70, static_cast<WORD>(-20)));
    EXPECT_EQ(dial.GetValue(0), 100);
    // The right button joins the drag.
    SendMessageA(dial.GetWindow(), WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(70, 0));
    SendMessageA(dial.GetWindow(), WM_MOUSEMOVE, MK_LBUTTON | MK_RBUTTON, MAKELPARAM(70, 100));
    EXPECT_EQ(dial.GetValue(0), 40);
    EXPECT_EQ(dial.GetValue(1), 40);
    SendMessageA(dial.GetWindow(), WM_LBUTTONUP, 0, 0);
    EXPECT_EQ(GetCapture(), dial.GetWindow());
    SendMessageA(dial.GetWindow(), WM_RBUTTONUP, 0, 0);
    EXPECT_NE(GetCapture(), dial.GetWindow());
    // Ctrl-click resets the inner ring without a drag.
    SendMessageA(dial.GetWindow(), WM_LBUTTONDOWN, MK_LBUTTON | MK_CONTROL, MAKELPARAM(70, 10));
    EXPECT_EQ(dial.GetValue(0), 50);
    EXPECT_NE(GetCapture(), dial.GetWindow());
}

TEST_F(Controls, ScopeShowsPlottedPointsAndFadesThem)
{
    CScopeXY scope;
    scope.Create(pluginModule(), parent.hwnd, parent.backdrop);
    ASSERT_NE(scope.GetWindow(), nullptr);
    EXPECT_EQ(scope.model.left, 8);
    EXPECT_EQ(scope.model.bottom, 133);
    pumpMessages();
    const std::vector<uint32_t> face = windowPixels(scope.GetWindow(), 142, 142);
    // The opaque face composes to itself.
    HBITMAP image = LoadPngResource(pluginModule(), 137);
    EXPECT_EQ(face, bitmapPixels(image, 142, 142));
    DeleteObject(image);

    scope.Plot(0.0f, 0.0f, 0xFFFFFF);
    scope.Plot(0.5f, 1.2f, 0x45A0FF);  // beyond the bottom: the overload bar
    scope.Refresh();
    std::vector<uint32_t> shown = windowPixels(scope.GetWindow(), 142, 142);
    EXPECT_EQ(shown[71 * 142 + 71], 0xFFFFFFu);
    EXPECT_EQ(shown[133 * 142 + 40], 0xFFA045u);
    EXPECT_EQ(shown[132 * 142 + 40], 0x7F5022u);
    scope.Refresh();
    shown = windowPixels(scope.GetWindow(), 142, 142);
    EXPECT_NE(shown[71 * 142 + 71], 0xFFFFFFu);  // faded once
    EXPECT_EQ(shown[0], face[0]);
}
