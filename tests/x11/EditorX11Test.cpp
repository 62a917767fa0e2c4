// The Linux plug-in's editor, driven the way a Linux host and a user drive
// it: the built library loaded by file name, its editor opened in a parent
// window of the test host's, effEditIdle called from the host's UI thread,
// pointer and keys moved through XTest, pixels read back from the server.
// Runs on a virtual X display of its own (with-xvfb.sh).
#include "X11TestSupport.h"

#include "../LoadedPlugin.h"
#include "../gui/GoldenFrames.h"
#include "plugin/vst2abi.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int32_t kWidth = 665, kHeight = 178;

struct Automation {
    AEffect* effect;
    int32_t index;
    float value;
    std::thread::id thread;
};
std::mutex automationLock;
std::vector<Automation> automations;

intptr_t VST_CALL host(AEffect* effect, int32_t opcode, int32_t index, intptr_t, void*, float opt)
{
    if (opcode == audioMasterAutomate) {
        std::lock_guard<std::mutex> hold(automationLock);
        automations.push_back({effect, index, opt, std::this_thread::get_id()});
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

const LoadedPlugin& library()
{
    static LoadedPlugin lib(Z5R_PLUGIN_FILE);
    return lib;
}

intptr_t call(AEffect* e, int32_t opcode, intptr_t value = 0, void* ptr = nullptr, float opt = 0.0f)
{
    return e->dispatcher(e, opcode, 0, value, ptr, opt);
}

void* handle(unsigned long window) { return reinterpret_cast<void*>(static_cast<uintptr_t>(window)); }

// The host's idle loop: effEditIdle every 10 ms, from this thread.
void idle(std::initializer_list<AEffect*> effects, int32_t milliseconds)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    do {
        for (AEffect* e : effects) call(e, effEditIdle);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (std::chrono::steady_clock::now() < until);
}

// Pixels of one rectangle of a frame.
std::vector<uint32_t> region(const std::vector<uint32_t>& frame, int32_t left, int32_t top, int32_t width,
                             int32_t height)
{
    std::vector<uint32_t> out;
    for (int32_t y = top; y < top + height; ++y)
        for (int32_t x = left; x < left + width; ++x) out.push_back(frame[size_t(y) * kWidth + x]);
    return out;
}

std::vector<uint32_t> goldenFrame(const char* file)
{
    int32_t width = 0, height = 0;
    std::vector<uint32_t> pixels = readPng(golden::path(file).c_str(), &width, &height);
    return width == kWidth && height == kHeight ? pixels : std::vector<uint32_t>{};
}

// Audio on a thread of its own, as a host's audio thread.
class AudioThread {
public:
    explicit AudioThread(AEffect* effect)
        : thread([this, effect] {
              std::vector<float> l(128), r(128), ol(128), orr(128);
              float* in[2] = {l.data(), r.data()};
              float* out[2] = {ol.data(), orr.data()};
              int64_t n = 0;
              while (running) {
                  for (int32_t i = 0; i < 128; ++i, ++n) {
                      l[i] = 0.6f * std::sin(0.031f * static_cast<float>(n));
                      r[i] = 0.4f * std::sin(0.017f * static_cast<float>(n));
                  }
                  effect->processReplacing(effect, in, out, 128);
                  std::this_thread::sleep_for(std::chrono::milliseconds(1));
              }
          })
    {
    }
    ~AudioThread()
    {
        running = false;
        thread.join();
    }

private:
    std::atomic<bool> running{true};
    std::thread thread;
};

class EditorX11 : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(library().vstPluginMain, nullptr) << "cannot load " Z5R_PLUGIN_FILE;
        ASSERT_TRUE(x.ok()) << "no X display";
        parent = x.createParent(20, 20, kWidth, kHeight);
        effect = library().vstPluginMain(host);
        ASSERT_NE(effect, nullptr);
        takeAutomations();
        errorsBefore = TestDisplay::errors();
    }
    void TearDown() override
    {
        if (effect) call(effect, effClose);
        if (parent) x.destroy(parent);
        EXPECT_EQ(TestDisplay::errors(), errorsBefore) << "the host's connection received X errors";
    }

    // Opens the editor into `into` (the parent by default) and lets it show.
    unsigned long open(unsigned long into = 0)
    {
        if (!into) into = parent;
        EXPECT_EQ(call(effect, effEditOpen, 0, handle(into)), 0);  // answered as on Windows
        idle({effect}, 60);
        x.sync();
        const std::vector<unsigned long> windows = x.children(into);
        return windows.size() == 1 ? windows[0] : 0;
    }
    std::vector<uint32_t> frame(unsigned long editor) { return x.pixels(editor, kWidth, kHeight); }

    // A click (press and release) at a point of the editor, with the idle
    // loop running between them.
    void click(unsigned long editor, int32_t px, int32_t py, int32_t button = 1)
    {
        x.moveTo(editor, px, py);
        x.button(button, true);
        idle({effect}, 30);
        x.button(button, false);
        idle({effect}, 30);
    }

    TestDisplay x;
    unsigned long parent = 0;
    AEffect* effect = nullptr;
    int32_t errorsBefore = 0;
};

}  // namespace

TEST_F(EditorX11, RectangleBeforeOpenAndOneChildWindowOfThePanelsSize)
{
    EXPECT_TRUE(effect->flags & effFlagsHasEditor);
    EXPECT_EQ(call(effect, effEditGetRect, 0, nullptr), 0);
    ERect* rect = nullptr;
    ASSERT_EQ(call(effect, effEditGetRect, 0, &rect), 1);
    ASSERT_NE(rect, nullptr);
    EXPECT_EQ(rect->top, 0);
    EXPECT_EQ(rect->left, 0);
    EXPECT_EQ(rect->bottom, 178);
    EXPECT_EQ(rect->right, 665);
    // Idle and close before any open do nothing.
    call(effect, effEditIdle);
    call(effect, effEditClose);

    const unsigned long editor = open();
    ASSERT_NE(editor, 0u);
    const TestDisplay::Geometry g = x.geometry(editor);
    EXPECT_EQ(g.x, 0);
    EXPECT_EQ(g.y, 0);
    EXPECT_EQ(g.width, kWidth);
    EXPECT_EQ(g.height, kHeight);
    EXPECT_TRUE(g.viewable);
    EXPECT_EQ(x.name(editor), "KorvaneZ5RWnd");
    EXPECT_TRUE(x.children(editor).empty());  // one window: the controls are drawn in it

    call(effect, effEditClose);
    EXPECT_TRUE(x.children(parent).empty());  // gone when effEditClose returns
    call(effect, effEditClose);               // twice: nothing more happens
    call(effect, effEditIdle);
}

TEST_F(EditorX11, SecondOpenReplacesTheWindowAndReopeningWorks)
{
    const unsigned long other = x.createParent(20, 300, kWidth, kHeight);
    ASSERT_NE(open(), 0u);
    ASSERT_NE(open(other), 0u);
    EXPECT_TRUE(x.children(parent).empty());
    call(effect, effEditClose);
    EXPECT_TRUE(x.children(other).empty());
    const unsigned long again = open();
    ASSERT_NE(again, 0u);
    EXPECT_EQ(golden::pixelsBeyondTolerance(frame(again), goldenFrame("panel-default.png")), 0);
    x.destroy(other);
}

// The same state gives the same picture as the Windows editor's, within
// two steps a channel; the about text is drawn with another font system,
// so its lines must lie where the Windows ones lie, within two pixels.
TEST_F(EditorX11, FramesMatchTheWindowsEditor)
{
    for (const golden::State& state : golden::kStates) {
        SCOPED_TRACE(state.file);
        for (int32_t i = 0; i < kNumParams; ++i) effect->setParameter(effect, i, state.values[i]);
        const unsigned long editor = open();
        ASSERT_NE(editor, 0u);
        idle({effect}, 150);
        if (state.about) click(editor, 300, 60);
        const std::vector<uint32_t> shown = frame(editor);
        const std::vector<uint32_t> reference = goldenFrame(state.file);
        ASSERT_FALSE(reference.empty());
        const golden::Box* skipped = state.about ? golden::kAboutTextAreas : nullptr;
        const int32_t skippedCount = state.about ? 3 : 0;
        EXPECT_EQ(golden::pixelsBeyondTolerance(shown, reference, skipped, skippedCount), 0)
            << golden::describeDifferences(shown, reference, skipped, skippedCount);
        if (state.about) {
            for (const golden::Box& line : golden::kComparedTextLines) {
                const golden::Box ink = golden::inkWithin(shown, line), expected = golden::inkWithin(reference, line);
                EXPECT_NEAR(ink.left, expected.left, 2) << line.left << "," << line.top;
                EXPECT_NEAR(ink.right, expected.right, 2) << line.left << "," << line.top;
                EXPECT_NEAR(ink.top, expected.top, 2) << line.left << "," << line.top;
                EXPECT_NEAR(ink.bottom, expected.bottom, 2) << line.left << "," << line.top;
            }
        }
        call(effect, effEditClose);
    }
    EXPECT_TRUE(takeAutomations().empty());
}

TEST_F(EditorX11, HostChangesAndProgramsReachTheControlsAtTheNextRefresh)
{
    const unsigned long editor = open();
    ASSERT_NE(editor, 0u);
    idle({effect}, 60);
    const golden::State& settings = golden::kStates[1];
    for (int32_t i = 0; i < kNumParams; ++i) effect->setParameter(effect, i, settings.values[i]);
    idle({effect}, 80);
    const std::vector<uint32_t> moved = frame(editor), expected = goldenFrame(settings.file);
    EXPECT_EQ(golden::pixelsBeyondTolerance(moved, expected), 0) << golden::describeDifferences(moved, expected);

    // Maximum Overdrive: oversampling on, full gain, every group on its left
    // button, normalisation off.
    call(effect, effSetProgram, 3);
    idle({effect}, 80);
    const std::vector<uint32_t> program = frame(editor), defaults = goldenFrame("panel-default.png");
    EXPECT_EQ(region(program, 177, 122, 310, 28), region(defaults, 177, 122, 310, 28));  // the radio groups
    EXPECT_EQ(region(program, 200, 4, 28, 28), region(expected, 200, 4, 28, 28));        // oversample on
    EXPECT_EQ(region(program, 318, 4, 28, 28), region(defaults, 318, 4, 28, 28));        // normalize off
    EXPECT_NE(region(program, 15, 15, 144, 144), region(defaults, 15, 15, 144, 144));    // the gain ring full
    EXPECT_TRUE(takeAutomations().empty());  // following the host sends nothing back
}

TEST_F(EditorX11, ClicksReachTheEffectAndTheHostOnTheIdleThread)
{
    const unsigned long editor = open();
    ASSERT_NE(editor, 0u);
    click(editor, 317 + 14, 122 + 14);  // middle voltage
    click(editor, 457 + 14, 122 + 14);  // right cap
    click(editor, 200 + 14, 4 + 14);    // oversample on
    click(editor, 318 + 14, 4 + 14);    // normalize on
    click(editor, 536 + 18, 162 + 8);   // left trace: no parameter
    click(editor, 317 + 14, 122 + 14, 3);  // the right button does nothing to a button
    std::vector<Automation> sent = takeAutomations();
    ASSERT_EQ(sent.size(), 4u);
    const std::pair<int32_t, float> expected[] = {{4, 0.5f}, {5, 1.0f}, {0, 1.0f}, {6, 1.0f}};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(sent[i].index, expected[i].first);
        EXPECT_EQ(sent[i].value, expected[i].second);
        EXPECT_EQ(sent[i].thread, std::this_thread::get_id());
        EXPECT_EQ(sent[i].effect, effect);
    }
    EXPECT_EQ(effect->getParameter(effect, 4), 0.5f);
    EXPECT_EQ(effect->getParameter(effect, 5), 1.0f);

    // The radio button that is on sends its value again and stays on.
    click(editor, 317 + 14, 122 + 14);
    sent = takeAutomations();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].value, 0.5f);

    // The oversample switch sends 0 on the next press, before the release.
    x.moveTo(editor, 200 + 14, 4 + 14);
    x.button(1, true);
    idle({effect}, 30);
    sent = takeAutomations();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].index, 0);
    EXPECT_EQ(sent[0].value, 0.0f);
    // Released far away, the toggle completes all the same.
    x.moveTo(editor, 600, 170);
    x.button(1, false);
    idle({effect}, 60);
    EXPECT_TRUE(takeAutomations().empty());
    const std::vector<uint32_t> defaults = goldenFrame("panel-default.png");
    EXPECT_EQ(region(frame(editor), 200, 4, 28, 28), region(defaults, 200, 4, 28, 28));  // off again, not held
}

TEST_F(EditorX11, DialDragsWithEitherButtonShiftForTensControlForTheMiddle)
{
    const unsigned long editor = open();
    ASSERT_NE(editor, 0u);
    auto drag = [&](int32_t button, int32_t fromY, std::initializer_list<int32_t> toY) {
        x.moveTo(editor, 15 + 70, 15 + fromY);
        x.button(button, true);
        idle({effect}, 30);
        for (int32_t y : toY) {
            x.moveTo(editor, 15 + 70, 15 + y);
            idle({effect}, 30);
        }
        x.button(button, false);
        idle({effect}, 80);
    };
    auto last = [](const std::vector<Automation>& sent, int32_t index) {
        float value = -1.0f;
        for (const Automation& a : sent)
            if (a.index == index) value = a.value;
        return value;
    };

    // Left: the gain ring, two pixels a step; 7 steps up from 50.
    drag(1, 100, {86});
    std::vector<Automation> sent = takeAutomations();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.front().index, 1);
    EXPECT_EQ(last(sent, 1), 57 * 0.01f);
    EXPECT_EQ(last(sent, 2), -1.0f);
    EXPECT_EQ(effect->getParameter(effect, 1), 57 * 0.01f);
    idle({effect}, 100);
    EXPECT_TRUE(takeAutomations().empty()) << "the ring creeps";

    // Right: the level ring, 10 steps up from 50; dragged above the dial.
    drag(3, 30, {10, -10});
    sent = takeAutomations();
    EXPECT_EQ(last(sent, 2), 70 * 0.01f);
    EXPECT_EQ(last(sent, 1), -1.0f);

    // Shift: only values on a multiple of 10 are taken (anchor 50 + 57).
    x.shift(true);
    drag(1, 100, {96});  // 59: not taken
    EXPECT_TRUE(takeAutomations().empty());
    drag(1, 100, {96, 94});  // 60
    x.shift(false);
    EXPECT_EQ(last(takeAutomations(), 1), 60 * 0.01f);

    // Control with the left button: the gain ring to the middle, no drag.
    x.control(true);
    drag(1, 100, {40});
    x.control(false);
    sent = takeAutomations();
    EXPECT_EQ(last(sent, 1), 50 * 0.01f);
    // Control with the right button: the level ring to the middle, and the
    // drag goes on from there (2 steps up).
    x.control(true);
    drag(3, 100, {96});
    x.control(false);
    EXPECT_EQ(last(takeAutomations(), 2), 52 * 0.01f);
}

TEST_F(EditorX11, LogoOpensTheAboutImageAndAnyClickClosesIt)
{
    const unsigned long editor = open();
    ASSERT_NE(editor, 0u);
    idle({effect}, 60);
    const std::vector<uint32_t> panel = frame(editor);
    click(editor, 401, 46);  // just right of the hot spot
    click(editor, 256, 76);  // just below it
    EXPECT_EQ(frame(editor), panel);
    click(editor, 256, 46);
    const std::vector<uint32_t> about = frame(editor);
    EXPECT_NE(about, panel);
    // Behind the about image the controls neither show nor follow the host.
    effect->setParameter(effect, 3, 1.0f);
    idle({effect}, 80);
    EXPECT_EQ(frame(editor), about);
    click(editor, 237 + 14, 122 + 14);  // where a button was: only closes the image
    EXPECT_TRUE(takeAutomations().empty());
    idle({effect}, 60);
    const std::vector<uint32_t> back = frame(editor);
    const std::vector<uint32_t> triodeRight = region(goldenFrame("panel-settings.png"), 177, 122, 88, 28);
    EXPECT_EQ(region(back, 177, 122, 88, 28), triodeRight);  // the host's change shows now
}

TEST_F(EditorX11, ScopeDrawsWhileAnotherThreadProcessesAndReopeningRestoresTheTraces)
{
    call(effect, effSetSampleRate, 0, nullptr, 44100.0f);
    call(effect, effMainsChanged, 1);
    const unsigned long editor = open();
    ASSERT_NE(editor, 0u);
    const std::vector<uint32_t> face = region(goldenFrame("panel-default.png"), 507 + 8, 18 + 8, 126, 126);
    {
        AudioThread audio(effect);
        idle({effect}, 300);
        const std::vector<uint32_t> shown = region(frame(editor), 507 + 8, 18 + 8, 126, 126);
        int32_t lit = 0, white = 0;
        for (size_t i = 0; i < shown.size(); ++i) {
            lit += shown[i] != face[i];
            white += shown[i] == 0xFFFFFFu;
        }
        EXPECT_GT(lit, 50);
        EXPECT_EQ(white, 0);  // the right trace is off

        // Both traces: the right one shows in white.
        click(editor, 583 + 18, 162 + 8);
        idle({effect}, 100);
        const std::vector<uint32_t> both = region(frame(editor), 507 + 8, 18 + 8, 126, 126);
        white = 0;
        for (uint32_t p : both) white += p == 0xFFFFFFu;
        EXPECT_GT(white, 10);
        click(editor, 536 + 18, 162 + 8);  // left off

        call(effect, effEditClose);
        EXPECT_EQ(effect->dispatcher(effect, effEditIdle, 0, 0, nullptr, 0.0f), 0);
        const unsigned long again = open();
        ASSERT_NE(again, 0u);
        const std::vector<uint32_t> defaults = goldenFrame("panel-default.png");
        const std::vector<uint32_t> reopened = frame(again);
        EXPECT_EQ(region(reopened, 536, 162, 83, 16), region(defaults, 536, 162, 83, 16));
    }
}

// A host may destroy its window before it closes the editor: the editor's
// requests on the gone window fail on the editor's own connection, the
// process goes on (Xlib's default handler, which ends a process on any
// error, is in place for the host's connection), and the editor closes.
TEST_F(EditorX11, ParentDestroyedBeforeCloseLeavesTheHostRunning)
{
    TestDisplay::useDefaultErrorHandler();
    ResourceCounter server;
    ASSERT_TRUE(server.ok());
    const size_t clientsBefore = server.clients().size();
    for (bool idleFirst : {true, false}) {
        SCOPED_TRACE(idleFirst ? "idled after the destruction" : "closed at once");
        {
            AudioThread audio(effect);
            ASSERT_NE(open(), 0u);
            x.destroy(parent);
            parent = 0;
            if (idleFirst) idle({effect}, 100);
            call(effect, effEditClose);
            idle({effect}, 40);
        }
        EXPECT_EQ(server.clients().size(), clientsBefore) << "a connection was left open";
        parent = x.createParent(20, 20, kWidth, kHeight);
        ASSERT_NE(open(), 0u);  // and the editor opens again
        call(effect, effEditClose);
    }
    // effClose with the editor open over a destroyed window.
    ASSERT_NE(open(), 0u);
    x.destroy(parent);
    parent = 0;
    call(effect, effClose);
    effect = nullptr;
    EXPECT_EQ(server.clients().size(), clientsBefore);
}

TEST_F(EditorX11, HundredCyclesLeaveNoWindowPixmapGcOrConnection)
{
    ResourceCounter server;
    ASSERT_TRUE(server.ok());
    const size_t clients = server.clients().size();
    const ClientResources held = server.total();
    const int32_t descriptors = openDescriptors();
    AudioThread audio(effect);
    for (int32_t i = 0; i < 100; ++i) {
        call(effect, effEditOpen, 0, handle(parent));
        if (i % 10 == 0) idle({effect}, 30);
        call(effect, effEditIdle);
        if (i % 3 == 0) call(effect, effEditOpen, 0, handle(parent));  // opened twice
        call(effect, effEditClose);
    }
    EXPECT_TRUE(x.children(parent).empty());
    EXPECT_EQ(server.clients().size(), clients);
    EXPECT_EQ(server.total(), held);
    EXPECT_EQ(openDescriptors(), descriptors);
}

TEST_F(EditorX11, OpenEditorHoldsOneWindowAndOneGcWhateverItDraws)
{
    ResourceCounter server;
    ASSERT_TRUE(server.ok());
    const unsigned long editor = open();
    ASSERT_NE(editor, 0u);
    const ClientResources first = server.ofClientOwning(static_cast<uint32_t>(editor));
    EXPECT_EQ(first.windows, 1);
    EXPECT_EQ(first.gcs, 1);
    EXPECT_EQ(first.pixmaps, 0);
    AudioThread audio(effect);
    for (int32_t i = 0; i < 5; ++i) {
        click(editor, 536 + 18, 162 + 8);
        idle({effect}, 60);
    }
    EXPECT_EQ(server.ofClientOwning(static_cast<uint32_t>(editor)), first);
}

TEST_F(EditorX11, TwoInstancesWithTwoEditorsWorkApart)
{
    const unsigned long secondParent = x.createParent(20, 300, kWidth, kHeight);
    AEffect* second = library().vstPluginMain(host);
    ASSERT_NE(second, nullptr);
    const unsigned long first = open();
    call(second, effEditOpen, 0, handle(secondParent));
    idle({effect, second}, 60);
    ASSERT_EQ(x.children(secondParent).size(), 1u);
    const unsigned long other = x.children(secondParent)[0];
    ASSERT_NE(first, 0u);

    x.moveTo(other, 347 + 14, 122 + 14);  // the second editor's right voltage
    x.button(1, true);
    idle({effect, second}, 30);
    x.button(1, false);
    idle({effect, second}, 60);
    std::vector<Automation> sent = takeAutomations();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].effect, second);
    EXPECT_EQ(second->getParameter(second, 4), 1.0f);
    EXPECT_EQ(effect->getParameter(effect, 4), 0.0f);
    EXPECT_NE(region(frame(first), 287, 122, 88, 28), region(frame(other), 287, 122, 88, 28));

    // One effect closed with its editor open; the other goes on.
    call(second, effClose);
    EXPECT_TRUE(x.children(secondParent).empty());
    click(first, 457 + 14, 122 + 14);
    sent = takeAutomations();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].effect, effect);
    x.destroy(secondParent);
}

TEST_F(EditorX11, TwoCopiesOfTheLibraryEachWithItsEditor)
{
    namespace fs = std::filesystem;
    const fs::path folder = fs::temp_directory_path() / ("z5r-copies-" + std::to_string(getpid()));
    fs::create_directories(folder / "a");
    fs::create_directories(folder / "b");
    fs::copy_file(Z5R_PLUGIN_FILE, folder / "a" / Z5R_PLUGIN_FILE, fs::copy_options::overwrite_existing);
    fs::copy_file(Z5R_PLUGIN_FILE, folder / "b" / Z5R_PLUGIN_FILE, fs::copy_options::overwrite_existing);
    {
        void* a = dlopen((folder / "a" / Z5R_PLUGIN_FILE).c_str(), RTLD_NOW | RTLD_LOCAL);
        void* b = dlopen((folder / "b" / Z5R_PLUGIN_FILE).c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_TRUE(a && b);
        ASSERT_NE(a, b);
        auto entryA = reinterpret_cast<EntryPoint>(dlsym(a, "VSTPluginMain"));
        auto entryB = reinterpret_cast<EntryPoint>(dlsym(b, "VSTPluginMain"));
        ASSERT_NE(entryA, entryB);
        AEffect* first = entryA(host);
        AEffect* second = entryB(host);
        const unsigned long secondParent = x.createParent(20, 300, kWidth, kHeight);
        call(first, effEditOpen, 0, handle(parent));
        call(second, effEditOpen, 0, handle(secondParent));
        idle({first, second}, 80);
        ASSERT_EQ(x.children(parent).size(), 1u);
        ASSERT_EQ(x.children(secondParent).size(), 1u);
        const unsigned long editorA = x.children(parent)[0], editorB = x.children(secondParent)[0];
        for (auto [editor, expected] : {std::pair{editorA, first}, std::pair{editorB, second}}) {
            x.moveTo(editor, 200 + 14, 4 + 14);
            x.button(1, true);
            idle({first, second}, 30);
            x.button(1, false);
            idle({first, second}, 30);
            const std::vector<Automation> sent = takeAutomations();
            ASSERT_EQ(sent.size(), 1u);
            EXPECT_EQ(sent[0].effect, expected);
        }
        // Each copy draws its own panel.
        const std::vector<uint32_t> settings = goldenFrame("panel-settings.png");
        EXPECT_EQ(region(frame(editorA), 200, 4, 28, 28), region(settings, 200, 4, 28, 28));
        EXPECT_EQ(region(frame(editorB), 200, 4, 28, 28), region(settings, 200, 4, 28, 28));
        call(first, effEditClose);
        call(first, effClose);
        idle({second}, 40);
        EXPECT_EQ(x.children(secondParent).size(), 1u);
        call(second, effClose);
        EXPECT_TRUE(x.children(secondParent).empty());
        dlclose(a);
        dlclose(b);
        x.destroy(secondParent);
    }
    fs::remove_all(folder);
}

TEST_F(EditorX11, NoDisplayOrNoSuchWindowMeansNoEditorAndNoHarm)
{
    const std::string display = std::getenv("DISPLAY");
    unsetenv("DISPLAY");
    EXPECT_EQ(call(effect, effEditOpen, 0, handle(parent)), 0);
    setenv("DISPLAY", display.c_str(), 1);
    call(effect, effEditIdle);
    EXPECT_TRUE(x.children(parent).empty());
    call(effect, effEditClose);

    // A window id that names nothing; then no window at all.
    EXPECT_EQ(call(effect, effEditOpen, 0, handle(0x1FFFFFF)), 0);
    call(effect, effEditIdle);
    EXPECT_EQ(call(effect, effEditOpen, 0, nullptr), 0);
    call(effect, effEditIdle);
    call(effect, effEditClose);
    // And then a real one.
    EXPECT_NE(open(), 0u);
}

// A host may close the editor while the mouse button is down on a control:
// the release never reaches it, and the next opening must not inherit the
// press (a held switch would swallow the next click, a dial would drag).
TEST_F(EditorX11, ClosingInTheMiddleOfAPressOrADragEndsIt)
{
    for (int32_t x0 : {200 + 14, 15 + 70}) {
        SCOPED_TRACE(x0);
        unsigned long editor = open();
        ASSERT_NE(editor, 0u);
        x.moveTo(editor, x0, x0 > 100 ? 18 : 115);
        x.button(1, true);
        idle({effect}, 30);
        call(effect, effEditClose);
        x.button(1, false);
        takeAutomations();

        editor = open();
        ASSERT_NE(editor, 0u);
        x.moveTo(editor, 15 + 70, 15 + 20);  // over the dial, no button down
        idle({effect}, 80);
        click(editor, 200 + 14, 4 + 14);
        idle({effect}, 60);
        const std::vector<Automation> sent = takeAutomations();
        ASSERT_EQ(sent.size(), 1u);  // only the switch, which toggles
        EXPECT_EQ(sent[0].index, 0);
        EXPECT_EQ(effect->getParameter(effect, 1), 0.5f);
        call(effect, effEditClose);
    }
}
