// The VST3 editor on Linux under a virtual X server, in a test host whose
// plug frame offers a run loop (as Linux hosts do): the view attaches to
// the host's window only with a run loop, runs on its timer and on its
// descriptor without a thread of its own, and real clicks (XTest) reach the
// host as beginEdit / performEdit / endEdit, latency news included.
#include "../../tests/x11/X11TestSupport.h"
#include "Vst3Host.h"
#include "gui/panel/PanelLayout.h"
#include "vst3/Vst3Effect.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <poll.h>

#include <chrono>
#include <thread>
#include <vector>

namespace {

using namespace testhost;

// The host's window frame, with or without a run loop behind it.
class Frame final : public IPlugFrame, public IRunLoop {
public:
    explicit Frame(bool withRunLoop) : withRunLoop(withRunLoop) {}

    tresult VST3_CALL queryInterface(const uint8_t* iid, void** obj) override
    {
        *obj = nullptr;
        if (sameUid(iid, kFUnknownIid) || sameUid(iid, kIPlugFrameIid))
            *obj = static_cast<IPlugFrame*>(this);
        else if (withRunLoop && sameUid(iid, kIRunLoopIid))
            *obj = static_cast<IRunLoop*>(this);
        else
            return kNoInterface;
        ++refs;
        return kResultOk;
    }
    uint32_t VST3_CALL addRef() override { return ++refs; }
    uint32_t VST3_CALL release() override { return --refs; }
    tresult VST3_CALL resizeView(IPlugView*, ViewRect*) override { return kResultOk; }

    tresult VST3_CALL registerEventHandler(IEventHandler* handler, int fd) override
    {
        events.push_back({handler, fd});
        return kResultOk;
    }
    tresult VST3_CALL unregisterEventHandler(IEventHandler* handler) override
    {
        std::erase_if(events, [&](const auto& e) { return e.first == handler; });
        return kResultOk;
    }
    tresult VST3_CALL registerTimer(ITimerHandler* handler, uint64_t ms) override
    {
        timers.push_back({handler, ms});
        return kResultOk;
    }
    tresult VST3_CALL unregisterTimer(ITimerHandler* handler) override
    {
        std::erase_if(timers, [&](const auto& t) { return t.first == handler; });
        return kResultOk;
    }

    // The host's loop: descriptors watched, timers fired, `rounds` times
    // about 2 ms apart.
    void run(int32_t rounds)
    {
        for (int32_t k = 0; k < rounds; ++k) {
            for (size_t i = 0; i < events.size(); ++i) {
                pollfd p{events[i].second, POLLIN, 0};
                if (poll(&p, 1, 1) > 0 && (p.revents & POLLIN)) events[i].first->onFDIsSet(events[i].second);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            for (size_t i = 0; i < timers.size(); ++i) timers[i].first->onTimer();
        }
    }

    bool withRunLoop;
    int32_t refs = 1;
    std::vector<std::pair<IEventHandler*, int>> events;
    std::vector<std::pair<ITimerHandler*, uint64_t>> timers;
};

int32_t threadCount()
{
    int32_t n = 0;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* e = readdir(dir))
            if (e->d_name[0] != '.') ++n;
        closedir(dir);
    }
    return n;
}

void* windowHandle(unsigned long window) { return reinterpret_cast<void*>(static_cast<uintptr_t>(window)); }

class Vst3Editor : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(x.ok()) << "no X display";
        ASSERT_TRUE(instance.ok()) << "cannot load " Z5R_VST3_FILE;
        parent = x.createParent(20, 20, panel::kWidth, panel::kHeight);
        view = instance.controller->createView("editor");
        ASSERT_NE(view, nullptr);
    }
    void TearDown() override
    {
        if (view) view->release();
        if (parent) x.destroy(parent);
    }
    void click(Frame& frame, int32_t px, int32_t py)
    {
        const unsigned long editor = x.children(parent).at(0);
        x.moveTo(editor, px, py);
        x.button(1, true);
        x.sync();
        frame.run(20);
        x.button(1, false);
        x.sync();
        frame.run(20);
    }

    TestDisplay x;
    Instance instance;
    unsigned long parent = 0;
    IPlugView* view = nullptr;
};

TEST_F(Vst3Editor, RefusesToAttachWithoutARunLoop)
{
    EXPECT_EQ(view->isPlatformTypeSupported(kPlatformTypeX11EmbedWindowID), kResultTrue);
    EXPECT_NE(view->isPlatformTypeSupported(kPlatformTypeHWND), kResultTrue);
    ViewRect size{};
    ASSERT_EQ(view->getSize(&size), kResultOk);
    EXPECT_EQ(size.right - size.left, panel::kWidth);
    EXPECT_EQ(size.bottom - size.top, panel::kHeight);

    // No frame at all, then a frame without a run loop: refused, no window.
    EXPECT_NE(view->attached(windowHandle(parent), kPlatformTypeX11EmbedWindowID), kResultOk);
    Frame bare(false);
    view->setFrame(&bare);
    EXPECT_NE(view->attached(windowHandle(parent), kPlatformTypeX11EmbedWindowID), kResultOk);
    x.sync();
    EXPECT_TRUE(x.children(parent).empty());
    view->setFrame(nullptr);
}

TEST_F(Vst3Editor, RunsOnTheHostsLoopAndClicksReachTheHostAsEdits)
{
    Frame frame(true);
    view->setFrame(&frame);
    const int32_t threadsBefore = threadCount();
    ASSERT_EQ(view->attached(windowHandle(parent), kPlatformTypeX11EmbedWindowID), kResultOk);
    EXPECT_LE(threadCount(), threadsBefore) << "the editor started a thread";
    ASSERT_EQ(frame.timers.size(), 1u);
    EXPECT_EQ(frame.timers[0].second, 20u);
    ASSERT_EQ(frame.events.size(), 1u);
    EXPECT_GE(frame.events[0].second, 0);
    frame.run(30);
    x.sync();
    ASSERT_EQ(x.children(parent).size(), 1u);
    const TestDisplay::Geometry g = x.geometry(x.children(parent)[0]);
    EXPECT_EQ(g.width, panel::kWidth);
    EXPECT_TRUE(g.viewable);
    instance.handler.taken();

    // The middle voltage, then the oversampling switch.
    click(frame, panel::kButtons[panel::radioButton(1, 1)].left + 14, panel::kRadioTop + 14);
    click(frame, panel::kButtons[panel::kOversampleButton].left + 14, panel::kSwitchTop + 14);
    const auto calls = instance.handler.taken();
    std::string order;
    for (const auto& c : calls) {
        order += c.kind;
        EXPECT_EQ(c.thread, std::this_thread::get_id());
    }
    EXPECT_EQ(order, "bpebpre");
    ASSERT_EQ(calls.size(), 7u);
    EXPECT_EQ(calls[0].id, static_cast<ParamID>(kParamVoltage));
    EXPECT_EQ(calls[1].value, 0.5);
    EXPECT_EQ(calls[2].id, static_cast<ParamID>(kParamVoltage));
    EXPECT_EQ(calls[3].id, static_cast<ParamID>(kParamOversample));
    EXPECT_EQ(calls[4].value, 1.0);
    EXPECT_EQ(calls[5].flags, kLatencyChanged);
    EXPECT_EQ(instance.controller->getParamNormalized(kParamVoltage), 0.5);
    EXPECT_EQ(instance.processor->getLatencySamples(), 8u);
    EXPECT_LE(threadCount(), threadsBefore);  // none of its own (the table builder may have finished meanwhile)

    // Removed: the run loop forgets the view, the window goes.
    ASSERT_EQ(view->removed(), kResultOk);
    EXPECT_TRUE(frame.events.empty());
    EXPECT_TRUE(frame.timers.empty());
    x.sync();
    EXPECT_TRUE(x.children(parent).empty());
    // And it attaches again.
    ASSERT_EQ(view->attached(windowHandle(parent), kPlatformTypeX11EmbedWindowID), kResultOk);
    frame.run(10);
    x.sync();
    EXPECT_EQ(x.children(parent).size(), 1u);
    view->removed();
    view->setFrame(nullptr);
}

TEST_F(Vst3Editor, ParentDestroyedFirstStopsTheDescriptorBeingWatched)
{
    Frame frame(true);
    view->setFrame(&frame);
    ASSERT_EQ(view->attached(windowHandle(parent), kPlatformTypeX11EmbedWindowID), kResultOk);
    frame.run(10);
    x.destroy(parent);
    parent = 0;
    x.sync();
    frame.run(30);
    EXPECT_TRUE(frame.events.empty());
    EXPECT_EQ(view->removed(), kResultOk);
    EXPECT_TRUE(frame.timers.empty());
    view->setFrame(nullptr);
}

}  // namespace
