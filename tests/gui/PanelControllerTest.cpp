// The editor's behaviour without windows: what opening, the refresh, a
// button's press, a click on the panel and closing do, as seen by the
// effect (a recording host) and by the controls (a recording view).
#include "PanelTestSupport.h"

#include "gui/controls/ButtonModel.h"
#include "gui/panel/PanelController.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class RecordingView : public PanelView {
public:
    int32_t states[panel::kButtonCount] = {};
    DialModel model;
    std::vector<std::string> log;
    std::vector<uint32_t> plotted;  // colours, in order
    int32_t scopeRefreshes = 0;
    int32_t dialChecks = 0;
    bool shown = true;

    int32_t buttonState(int32_t b) override { return states[b]; }
    void setButtonValue(int32_t b, int32_t v) override
    {
        states[b] = button::withValue(states[b], v);
        log.push_back("set " + std::to_string(b) + "=" + std::to_string(v));
    }
    void settleButton(int32_t b) override { states[b] = button::released(states[b]); }
    DialModel& dial() override { return model; }
    void dialMayHaveChanged() override { ++dialChecks; }
    void plotScope(float, float, uint32_t colour) override { plotted.push_back(colour); }
    void refreshScope() override { ++scopeRefreshes; }
    void showControls(bool controls) override { shown = controls; }
};

class Controller : public ::testing::Test {
protected:
    RecordingHost host;
    RecordingView view;
    PanelController controller{host, view};

    void paintDial() { view.model.markPainted(); }
};

constexpr int32_t kLeftTrace = 11, kRightTrace = 12, kOversample = 9, kNormalize = 10;

}  // namespace

TEST_F(Controller, OpeningLoadsEveryControlAndStartsTheScope)
{
    const float values[7] = {0.5f, 0.507f, 0.999f, 0.34f, 0.67f, 0.3f, 0.49f};
    std::copy(values, values + 7, host.values);
    view.states[kRightTrace] = button::kOn;
    controller.opened();
    EXPECT_EQ(view.states[kLeftTrace], button::kOn);
    EXPECT_EQ(view.states[kRightTrace], button::kOff);
    EXPECT_EQ(view.model.rings[0].value, 50);  // truncated at open
    EXPECT_EQ(view.model.rings[1].value, 99);
    EXPECT_EQ(controller.selected(0), 1);
    EXPECT_EQ(controller.selected(1), 2);
    EXPECT_EQ(controller.selected(2), 0);
    EXPECT_EQ(view.states[panel::radioButton(0, 1)], button::kOn);
    EXPECT_EQ(view.states[kOversample], button::kOn);   // 0.5 is on
    EXPECT_EQ(view.states[kNormalize], button::kOff);   // 0.49 is off
    EXPECT_EQ(host.starts, 1);
    EXPECT_TRUE(host.sent.empty());
    EXPECT_FALSE(controller.aboutShown());

    // The first refresh after the dial painted pulls the rounded value.
    paintDial();
    controller.refresh();
    EXPECT_EQ(view.model.rings[0].value, 51);
    EXPECT_TRUE(host.sent.empty());
}

TEST_F(Controller, RefreshPushesDragsAndPullsEverythingElse)
{
    controller.opened();
    paintDial();
    view.model.rings[0].value = 57;  // a drag since the last paint
    host.values[2] = 0.3f;           // the host moved the level
    host.values[3] = 0.9f;           // and the triode
    host.values[6] = 1.0f;           // and normalisation
    view.log.clear();
    controller.refresh();
    ASSERT_EQ(host.sent.size(), 1u);
    EXPECT_EQ(host.sent[0].index, 1);
    EXPECT_EQ(host.sent[0].value, 57 * 0.01f);
    EXPECT_EQ(view.model.rings[1].value, 30);
    EXPECT_EQ(controller.selected(0), 2);
    EXPECT_EQ(view.states[panel::radioButton(0, 0)], button::kOff);
    EXPECT_EQ(view.states[panel::radioButton(0, 2)], button::kOn);
    EXPECT_EQ(view.states[kNormalize], button::kOn);
    EXPECT_EQ(view.dialChecks, 1);
    // Once painted, the ring's own value comes back: nothing more is sent.
    paintDial();
    controller.refresh();
    controller.refresh();
    EXPECT_EQ(host.sent.size(), 1u);
    EXPECT_EQ(view.model.rings[0].value, 57);
}

TEST_F(Controller, TracesPlotRightThenLeftAndTheScopeRefreshesEveryPass)
{
    controller.opened();
    controller.refresh();
    ASSERT_EQ(view.plotted.size(), size_t(kScopeRingSize));  // the left trace only
    EXPECT_EQ(view.plotted[0], 0x45A0FFu);
    view.states[kRightTrace] = button::kOn;
    view.plotted.clear();
    controller.refresh();
    ASSERT_EQ(view.plotted.size(), 2u * kScopeRingSize);
    EXPECT_EQ(view.plotted.front(), 0xFFFFFFu);  // the right first ...
    EXPECT_EQ(view.plotted.back(), 0x45A0FFu);   // ... so the left lies on top
    // A held trace button is not on: no trace; the scope still fades.
    view.states[kLeftTrace] = button::kOnHeld;
    view.states[kRightTrace] = button::kOff;
    view.plotted.clear();
    controller.refresh();
    EXPECT_TRUE(view.plotted.empty());
    EXPECT_EQ(view.scopeRefreshes, 3);
    EXPECT_EQ(host.copies, 3);
}

TEST_F(Controller, ButtonsSelectTheirGroupAndSendTheirValue)
{
    controller.opened();
    view.log.clear();
    controller.buttonChanged(5, button::kOnHeld);  // middle voltage
    EXPECT_EQ(controller.selected(1), 1);
    EXPECT_EQ(view.log, (std::vector<std::string>{"set 3=0", "set 4=1"}));
    ASSERT_EQ(host.sent.size(), 1u);
    EXPECT_EQ(host.sent[0].index, 4);
    EXPECT_EQ(host.sent[0].value, 0.5f);

    // The button that is on, pressed again, turns on again and resends.
    view.states[4] = button::kOffHeld;
    controller.buttonChanged(5, button::kOffHeld);
    EXPECT_EQ(view.states[4], button::kOnHeld);
    EXPECT_EQ(host.sent.back().value, 0.5f);

    controller.buttonChanged(10, button::kOnHeld);
    controller.buttonChanged(11, button::kOffHeld);
    EXPECT_EQ(host.sent[2].index, 0);
    EXPECT_EQ(host.sent[2].value, 1.0f);
    EXPECT_EQ(host.sent[3].index, 6);
    EXPECT_EQ(host.sent[3].value, 0.0f);
    for (int32_t id : {12, 13, 0, 14, -3}) controller.buttonChanged(id, button::kOnHeld);
    EXPECT_EQ(host.sent.size(), 4u);
}

TEST_F(Controller, ClosingStopsTheScopeAndEndsAPressOrADragInProgress)
{
    controller.opened();
    view.states[kOversample] = button::kOnHeld;
    view.states[0] = button::kOffHeld;
    view.model.configure();
    view.model.buttonDown(0, 100, false);
    ASSERT_TRUE(view.model.rings[0].isDragged());
    controller.closed();
    EXPECT_EQ(host.stops, 1);
    EXPECT_EQ(view.states[kOversample], button::kOn);
    EXPECT_EQ(view.states[0], button::kOff);
    EXPECT_FALSE(view.model.rings[0].isDragged());
    // Closing what never opened only stops the scope.
    controller.closed();
    EXPECT_EQ(host.stops, 2);
}

TEST_F(Controller, UserChangesComeAsGesturesADragFromItsFirstValueUntilLetGo)
{
    using G = RecordingHost::Sent;
    auto gestures = [&] {
        std::vector<std::pair<int32_t, float>> out;
        for (const G& g : host.gestures) out.emplace_back(g.index, g.value);
        return out;
    };
    controller.opened();
    view.model.configure();
    paintDial();

    // A button: begin, its one value, end.
    controller.buttonChanged(11, button::kOnHeld);
    EXPECT_EQ(gestures(), (std::vector<std::pair<int32_t, float>>{{6, RecordingHost::kBegin}, {6, RecordingHost::kEnd}}));
    host.gestures.clear();

    // A drag of the gain ring over three refreshes: one begin, values, and
    // the end only after the mouse button is let go.
    view.model.buttonDown(0, 100, false);
    controller.refresh();
    EXPECT_TRUE(host.gestures.empty());  // held but not moved: nothing pushed yet
    view.model.mouseMove(80, false);
    controller.refresh();
    paintDial();
    view.model.mouseMove(60, false);
    controller.refresh();
    paintDial();
    EXPECT_EQ(gestures(), (std::vector<std::pair<int32_t, float>>{{1, RecordingHost::kBegin}}));
    view.model.buttonUp(0);
    controller.refresh();
    EXPECT_EQ(gestures(), (std::vector<std::pair<int32_t, float>>{{1, RecordingHost::kBegin}, {1, RecordingHost::kEnd}}));

    // Closing in the middle of a drag ends its gesture too.
    host.gestures.clear();
    view.model.buttonDown(1, 100, false);
    view.model.mouseMove(90, false);
    controller.refresh();
    controller.closed();
    EXPECT_EQ(gestures(), (std::vector<std::pair<int32_t, float>>{{2, RecordingHost::kBegin}, {2, RecordingHost::kEnd}}));
}
