// The real editor of the built DLL, driven the way a host and a user do:
// opened in a host window, controls clicked and dragged with window
// messages, parameters and programs changed by the host, audio flowing on
// another thread, opened and closed many times.
#include "WindowTestSupport.h"

#include "../gui/GoldenFrames.h"

#include "plugin/vst2abi.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cmath>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Automation {
    int32_t index;
    float value;
};
std::mutex automationLock;
std::vector<Automation> automations;

intptr_t VST_CALL host(AEffect*, int32_t opcode, int32_t index, intptr_t, void*, float opt)
{
    if (opcode == audioMasterAutomate) {
        std::lock_guard<std::mutex> hold(automationLock);
        automations.push_back({index, opt});
    }
    return opcode == audioMasterVersion ? 2400 : 0;
}

std::vector<Automation> takeAutomations()
{
    std::lock_guard<std::mutex> hold(automationLock);
    std::vector<Automation> taken;
    taken.swap(automations);
    return taken;
}

AEffect* newEffect()
{
    using Entry = AEffect*(VST_CALL*)(audioMasterCallback);
    auto entry = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(pluginModule(), "VSTPluginMain")));
    return entry ? entry(host) : nullptr;
}

intptr_t call(AEffect* e, int32_t opcode, intptr_t value = 0, void* ptr = nullptr, float opt = 0.0f)
{
    return e->dispatcher(e, opcode, 0, value, ptr, opt);
}

// A child control of the editor, by its top-left corner in the editor.
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

void click(HWND control, int32_t x = 5, int32_t y = 5)
{
    SendMessageA(control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    SendMessageA(control, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
}

std::vector<uint32_t> pixelsOf(HWND window)
{
    RECT r;
    GetClientRect(window, &r);
    return windowPixels(window, r.right, r.bottom);
}

class Editor : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(pluginModule(), nullptr);
        ASSERT_NE(parent.hwnd, nullptr) << "no display";
        effect = newEffect();
        ASSERT_NE(effect, nullptr);
        ASSERT_TRUE(effect->flags & effFlagsHasEditor);
        takeAutomations();
    }
    void TearDown() override
    {
        if (effect) call(effect, effClose);
        pumpMessages(10);
    }
    HWND open()
    {
        EXPECT_EQ(call(effect, effEditOpen, 0, parent.hwnd), 0);  // answered 0 with the window made
        HWND editor = FindWindowExA(parent.hwnd, nullptr, "KTubeWndClass", "KorvaneZ5RWnd");
        pumpMessages(60);
        return editor;
    }

    TestParent parent;
    AEffect* effect = nullptr;
};

}  // namespace

TEST_F(Editor, RectangleAndWindow)
{
    EXPECT_EQ(call(effect, effEditGetRect, 0, nullptr), 0);
    ERect* rect = nullptr;
    EXPECT_EQ(call(effect, effEditGetRect, 0, &rect), 1);
    ASSERT_NE(rect, nullptr);
    EXPECT_EQ(rect->top, 0);
    EXPECT_EQ(rect->left, 0);
    EXPECT_EQ(rect->bottom, 178);
    EXPECT_EQ(rect->right, 665);

    HWND editor = open();
    ASSERT_NE(editor, nullptr);
    EXPECT_TRUE(IsWindowVisible(editor));
    RECT client;
    GetClientRect(editor, &client);
    EXPECT_EQ(client.right, 665);
    EXPECT_EQ(client.bottom, 178);
    call(effect, effEditClose);
    EXPECT_FALSE(IsWindow(editor));
    call(effect, effEditClose);  // twice: nothing more happens

    // Opened twice without a close: one window, in the latest parent.
    TestParent other;
    open();
    call(effect, effEditOpen, 0, other.hwnd);
    EXPECT_EQ(FindWindowExA(parent.hwnd, nullptr, "KTubeWndClass", nullptr), nullptr);
    EXPECT_NE(FindWindowExA(other.hwnd, nullptr, "KTubeWndClass", nullptr), nullptr);
    call(effect, effEditClose);
    EXPECT_EQ(FindWindowExA(other.hwnd, nullptr, "KTubeWndClass", nullptr), nullptr);
}

TEST_F(Editor, FifteenControlsAtTheirPlaces)
{
    HWND editor = open();
    ASSERT_NE(editor, nullptr);
    struct Place {
        int32_t x, y, width, height;
        const char* kind;
    };
    const Place places[] = {
        {15, 15, 144, 144, "CLedDialWindowClass"},   {507, 18, 142, 142, "CScopeXYWindowClass"},
        {177, 122, 28, 28, "CLedButtonWindowClass"}, {207, 122, 28, 28, "CLedButtonWindowClass"},
        {237, 122, 28, 28, "CLedButtonWindowClass"}, {287, 122, 28, 28, "CLedButtonWindowClass"},
        {317, 122, 28, 28, "CLedButtonWindowClass"}, {347, 122, 28, 28, "CLedButtonWindowClass"},
        {397, 122, 28, 28, "CLedButtonWindowClass"}, {427, 122, 28, 28, "CLedButtonWindowClass"},
        {457, 122, 28, 28, "CLedButtonWindowClass"}, {200, 4, 28, 28, "CLedButtonWindowClass"},
        {318, 4, 28, 28, "CLedButtonWindowClass"},   {536, 162, 36, 16, "CLedButtonWindowClass"},
        {583, 162, 36, 16, "CLedButtonWindowClass"},
    };
    int32_t children = 0;
    for (HWND child = GetWindow(editor, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) ++children;
    EXPECT_EQ(children, 15);
    for (const Place& p : places) {
        HWND control = controlAt(editor, p.x, p.y);
        ASSERT_NE(control, nullptr) << p.x << "," << p.y;
        RECT r;
        GetClientRect(control, &r);
        EXPECT_EQ(r.right, p.width);
        EXPECT_EQ(r.bottom, p.height);
        char name[160] = {};
        GetClassNameA(control, name, sizeof(name));
        EXPECT_EQ(std::string(name), std::string("KorvaneZ5R.dll") + p.kind);
    }
}

TEST_F(Editor, ClicksAndDragsReachTheEffectAndTheHost)
{
    HWND editor = open();
    ASSERT_NE(editor, nullptr);
    click(controlAt(editor, 317, 122));  // middle voltage
    click(controlAt(editor, 457, 122));  // right cap
    click(controlAt(editor, 200, 4));    // oversample on
    click(controlAt(editor, 318, 4));    // normalize on
    click(controlAt(editor, 536, 162));  // left trace: no parameter
    std::vector<Automation> sent = takeAutomations();
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[0].index, 4);
    EXPECT_EQ(sent[0].value, 0.5f);
    EXPECT_EQ(sent[1].index, 5);
    EXPECT_EQ(sent[1].value, 1.0f);
    EXPECT_EQ(sent[2].index, 0);
    EXPECT_EQ(sent[2].value, 1.0f);
    EXPECT_EQ(sent[3].index, 6);
    EXPECT_EQ(effect->getParameter(effect, 4), 0.5f);

    // The oversample switch sends 0 on the next press, not on the release.
    HWND oversample = controlAt(editor, 200, 4);
    SendMessageA(oversample, WM_LBUTTONDOWN, MK_LBUTTON, 0);
    sent = takeAutomations();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].value, 0.0f);
    SendMessageA(oversample, WM_LBUTTONUP, 0, 0);

    // A drag on the dial reaches the effect on the next refresh pass.
    HWND dial = controlAt(editor, 15, 15);
    SendMessageA(dial, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(70, 100));
    SendMessageA(dial, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(70, 86));  // 7 steps up: 50 -> 57
    SendMessageA(dial, WM_LBUTTONUP, 0, MAKELPARAM(70, 86));
    pumpMessages(120);
    sent = takeAutomations();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.front().index, 1);
    EXPECT_EQ(sent.front().value, 57 * 0.01f);
    EXPECT_EQ(effect->getParameter(effect, 1), 57 * 0.01f);
    // Later passes pull 57 back: nothing more is sent, the ring does not creep.
    pumpMessages(120);
    EXPECT_TRUE(takeAutomations().empty());
    EXPECT_EQ(effect->getParameter(effect, 1), 57 * 0.01f);
}

TEST_F(Editor, HostChangesAndProgramsReachTheControls)
{
    HWND editor = open();
    ASSERT_NE(editor, nullptr);
    HWND rightTriode = controlAt(editor, 237, 122);
    HWND leftTriode = controlAt(editor, 177, 122);
    HWND oversample = controlAt(editor, 200, 4);
    HWND dial = controlAt(editor, 15, 15);
    const auto rightBefore = pixelsOf(rightTriode), leftBefore = pixelsOf(leftTriode);
    const auto oversampleBefore = pixelsOf(oversample), dialBefore = pixelsOf(dial);

    effect->setParameter(effect, 3, 0.9f);  // the host moves Triode to 12AU7
    pumpMessages(80);
    EXPECT_NE(pixelsOf(rightTriode), rightBefore);
    EXPECT_NE(pixelsOf(leftTriode), leftBefore);

    call(effect, effSetProgram, 3);  // Maximum Overdrive: oversampling on, full gain
    pumpMessages(80);
    EXPECT_NE(pixelsOf(oversample), oversampleBefore);
    EXPECT_NE(pixelsOf(dial), dialBefore);
    EXPECT_EQ(pixelsOf(leftTriode), leftBefore);  // back on the 12AX7
    EXPECT_TRUE(takeAutomations().empty());       // following the host sends nothing back
}

TEST_F(Editor, LogoOpensTheAboutImageAndAnyClickClosesIt)
{
    HWND editor = open();
    ASSERT_NE(editor, nullptr);
    HWND dial = controlAt(editor, 15, 15);
    const auto panel = pixelsOf(editor);
    for (auto [x, y] : {std::pair{401, 46}, std::pair{256, 76}}) {
        SendMessageA(editor, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
        EXPECT_TRUE(IsWindowVisible(dial)) << x << "," << y;
    }
    SendMessageA(editor, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(256, 46));
    pumpMessages(60);
    EXPECT_FALSE(IsWindowVisible(dial));
    EXPECT_NE(pixelsOf(editor), panel);
    SendMessageA(editor, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(600, 170));
    pumpMessages(60);
    EXPECT_TRUE(IsWindowVisible(dial));
    EXPECT_TRUE(IsWindowVisible(controlAt(editor, 583, 162)));
}

TEST_F(Editor, ScopeShowsTheAudioAndReopeningRestoresTheTraces)
{
    call(effect, effSetSampleRate, 0, nullptr, 44100.0f);
    call(effect, effMainsChanged, 1);
    HWND editor = open();
    ASSERT_NE(editor, nullptr);
    HWND scope = controlAt(editor, 507, 18);
    const auto face = pixelsOf(scope);
    const auto leftTrace = pixelsOf(controlAt(editor, 536, 162));
    const auto rightTrace = pixelsOf(controlAt(editor, 583, 162));

    std::atomic<bool> running{true};
    std::thread audio([&] {
        std::vector<float> l(128), r(128), ol(128), orr(128);
        float* in[2] = {l.data(), r.data()};
        float* out[2] = {ol.data(), orr.data()};
        int64_t n = 0;
        while (running) {
            for (int32_t i = 0; i < 128; ++i, ++n) {
                l[i] = 0.6f * std::sin(0.031f * n);
                r[i] = 0.4f * std::sin(0.017f * n);
            }
            effect->processReplacing(effect, in, out, 128);
            Sleep(1);
        }
    });
    pumpMessages(300);
    const auto shown = pixelsOf(scope);
    int32_t lit = 0;
    for (size_t i = 0; i < shown.size(); ++i) lit += shown[i] != face[i];
    EXPECT_GT(lit, 50);

    // Swap the traces, close, reopen: left on and right off again.
    click(controlAt(editor, 536, 162));
    click(controlAt(editor, 583, 162));
    pumpMessages(40);
    EXPECT_NE(pixelsOf(controlAt(editor, 536, 162)), leftTrace);
    call(effect, effEditClose);
    editor = open();
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(pixelsOf(controlAt(editor, 536, 162)), leftTrace);
    EXPECT_EQ(pixelsOf(controlAt(editor, 583, 162)), rightTrace);
    running = false;
    audio.join();
}

TEST_F(Editor, TwoEditorsShareTheWindowClass)
{
    TestParent secondParent;
    AEffect* second = newEffect();
    ASSERT_NE(second, nullptr);
    HWND first = open();
    call(second, effEditOpen, 0, secondParent.hwnd);
    HWND other = FindWindowExA(secondParent.hwnd, nullptr, "KTubeWndClass", nullptr);
    ASSERT_TRUE(first && other);
    WNDCLASSA info{};
    call(effect, effEditClose);
    call(effect, effClose);  // one editor destroyed with its window open or not
    effect = nullptr;
    EXPECT_TRUE(GetClassInfoA(pluginModule(), "KTubeWndClass", &info));
    EXPECT_TRUE(IsWindow(other));
    call(second, effClose);  // with its editor still open
    EXPECT_FALSE(IsWindow(other));
    EXPECT_FALSE(GetClassInfoA(pluginModule(), "KTubeWndClass", &info));
    effect = newEffect();  // a new editor registers the class again
    EXPECT_TRUE(GetClassInfoA(pluginModule(), "KTubeWndClass", &info));
}

TEST_F(Editor, OpenAndCloseManyTimesWhileAudioRuns)
{
    std::atomic<bool> running{true};
    std::atomic<int64_t> blocks{0};
    std::thread audio([&] {
        std::vector<float> l(64, 0.3f), r(64, -0.2f), ol(64), orr(64);
        float* in[2] = {l.data(), r.data()};
        float* out[2] = {ol.data(), orr.data()};
        while (running) {
            effect->processReplacing(effect, in, out, 64);
            ++blocks;
        }
    });
    for (int32_t i = 0; i < 40; ++i) {
        call(effect, effEditOpen, 0, parent.hwnd);
        pumpMessages(i % 8 == 0 ? 30 : 2);
        call(effect, effEditIdle);
        call(effect, effEditClose);
        EXPECT_EQ(FindWindowExA(parent.hwnd, nullptr, "KTubeWndClass", nullptr), nullptr);
    }
    running = false;
    audio.join();
    EXPECT_GT(blocks.load(), 0);
    // No window lingers, and the editor still opens.
    EXPECT_EQ(GetWindow(parent.hwnd, GW_CHILD), nullptr);
    EXPECT_NE(open(), nullptr);
}

// The picture in each committed state. With Z5R_WRITE_GOLDEN_FRAMES set,
// the pictures are written instead: that is how the files were made.
TEST_F(Editor, FramesMatchTheCommittedPictures)
{
    const bool write = std::getenv("Z5R_WRITE_GOLDEN_FRAMES") != nullptr;
    for (const golden::State& state : golden::kStates) {
        SCOPED_TRACE(state.file);
        for (int32_t i = 0; i < kNumParams; ++i) effect->setParameter(effect, i, state.values[i]);
        HWND editor = open();
        ASSERT_NE(editor, nullptr);
        pumpMessages(150);
        if (state.about) {
            SendMessageA(editor, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(300, 60));
            pumpMessages(100);
        }
        const std::vector<uint32_t> frame = pixelsOf(editor);
        call(effect, effEditClose);
        const std::string file = golden::path(state.file);
        if (write) {
            EXPECT_TRUE(writePng(frame, golden::kWidth, golden::kHeight, file.c_str()));
            continue;
        }
        int32_t width = 0, height = 0;
        const std::vector<uint32_t> reference = readPng(file.c_str(), &width, &height);
        ASSERT_EQ(width, golden::kWidth);
        ASSERT_EQ(height, golden::kHeight);
        // Text is compared by where it lies, the rest pixel by pixel.
        const golden::Box* skipped = state.about ? golden::kAboutTextAreas : nullptr;
        const int32_t skippedCount = state.about ? 3 : 0;
        EXPECT_EQ(golden::pixelsBeyondTolerance(frame, reference, skipped, skippedCount), 0)
            << golden::describeDifferences(frame, reference, skipped, skippedCount);
        if (!state.about) continue;
        for (const golden::Box& line : golden::kComparedTextLines) {
            const golden::Box ink = golden::inkWithin(frame, line), expected = golden::inkWithin(reference, line);
            EXPECT_EQ(ink.left, expected.left) << line.left << "," << line.top;
            EXPECT_EQ(ink.right, expected.right) << line.left << "," << line.top;
            EXPECT_EQ(ink.top, expected.top) << line.left << "," << line.top;
            EXPECT_EQ(ink.bottom, expected.bottom) << line.left << "," << line.top;
        }
    }
}

// A host may close the editor while the mouse button is down on a control:
// the release never comes, and the next opening must not inherit the press
// (a held switch would swallow the next click, a dial would drag on its own).
TEST_F(Editor, ClosingInTheMiddleOfAPressOrADragEndsIt)
{
    HWND editor = open();
    ASSERT_NE(editor, nullptr);
    SendMessageA(controlAt(editor, 200, 4), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    SendMessageA(controlAt(editor, 15, 15), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(70, 100));
    call(effect, effEditClose);
    ASSERT_EQ(takeAutomations().size(), 1u);  // oversampling on, at the press

    editor = open();
    ASSERT_NE(editor, nullptr);
    SendMessageA(controlAt(editor, 15, 15), WM_MOUSEMOVE, 0, MAKELPARAM(70, 20));
    click(controlAt(editor, 200, 4));
    pumpMessages(120);
    const std::vector<Automation> sent = takeAutomations();
    ASSERT_EQ(sent.size(), 1u);  // the switch goes off; the gain stays
    EXPECT_EQ(sent[0].index, 0);
    EXPECT_EQ(sent[0].value, 0.0f);
    EXPECT_EQ(effect->getParameter(effect, 1), 0.5f);
}
