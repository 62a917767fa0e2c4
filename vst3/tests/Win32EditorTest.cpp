// The VST3 editor on Windows (under Wine in CI): the view opens the shared
// panel in the host's HWND, a click on a control reaches the host as
// beginEdit / performEdit / endEdit, and removing the view takes its window
// away.
#include "Vst3Host.h"
#include "gui/panel/PanelLayout.h"
#include "vst3/Vst3Effect.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace {

using namespace testhost;

void pump(int32_t rounds)
{
    for (int32_t k = 0; k < rounds; ++k) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(2);
    }
}

HWND makeParent()
{
    return CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20, 20, panel::kWidth + 40,
                           panel::kHeight + 60, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

TEST(Vst3EditorWindows, OpensInTheHostsWindowAndClicksReachTheHostAsEdits)
{
    Instance instance;
    ASSERT_TRUE(instance.ok()) << "cannot load " Z5R_VST3_FILE;
    IPlugView* view = instance.controller->createView("editor");
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->isPlatformTypeSupported(kPlatformTypeHWND), kResultTrue);
    EXPECT_NE(view->isPlatformTypeSupported(kPlatformTypeX11EmbedWindowID), kResultTrue);
    HWND parent = makeParent();
    ASSERT_NE(parent, nullptr);

    ASSERT_EQ(view->attached(parent, kPlatformTypeHWND), kResultOk);
    pump(20);
    HWND panelWindow = GetWindow(parent, GW_CHILD);
    ASSERT_NE(panelWindow, nullptr);
    RECT r{};
    GetClientRect(panelWindow, &r);
    EXPECT_EQ(r.right - r.left, panel::kWidth);
    EXPECT_EQ(r.bottom - r.top, panel::kHeight);

    // The middle voltage button, pressed and released.
    instance.handler.taken();
    const POINT at = {panel::kButtons[panel::radioButton(1, 1)].left + 14, panel::kRadioTop + 14};
    HWND button = ChildWindowFromPoint(panelWindow, at);
    ASSERT_NE(button, nullptr);
    ASSERT_NE(button, panelWindow);
    SendMessageA(button, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 10));
    pump(10);
    SendMessageA(button, WM_LBUTTONUP, 0, MAKELPARAM(10, 10));
    pump(30);
    std::string order;
    const auto calls = instance.handler.taken();
    for (const auto& c : calls) order += c.kind;
    EXPECT_EQ(order, "bpe");
    if (calls.size() == 3) {
        EXPECT_EQ(calls[1].id, static_cast<ParamID>(kParamVoltage));
        EXPECT_EQ(calls[1].value, 0.5);
    }
    EXPECT_EQ(instance.controller->getParamNormalized(kParamVoltage), 0.5);

    ASSERT_EQ(view->removed(), kResultOk);
    pump(5);
    EXPECT_EQ(GetWindow(parent, GW_CHILD), nullptr);
    view->release();
    DestroyWindow(parent);
}

}  // namespace
