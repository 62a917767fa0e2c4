// The panel drawn as one picture and its pointer input, without windows:
// what each control shows where, which area a change repaints, and how a
// press, a move and a release reach the controls as the Windows controls'
// windows receive them (a pressed control keeps the mouse until released).
#include "PanelTestSupport.h"

#include "gui/panel/PanelCanvas.h"

#include <gtest/gtest.h>

namespace {

using Pointer = PanelCanvas::Pointer;

class Canvas : public ::testing::Test {
protected:
    void SetUp() override
    {
        canvas.build(skins, "Test", "Jan  1 2000");
        controller.opened();
        canvas.paint();
    }
    uint32_t at(int32_t x, int32_t y) const { return canvas.pixels()[size_t(y) * panel::kWidth + x] & 0xFFFFFFu; }
    void click(int32_t x, int32_t y, Pointer pointer = Pointer::left)
    {
        canvas.press(controller, pointer, x, y, false);
        canvas.release(pointer, x, y);
    }
    // The colour of frame `state` of a plain strip over the panel's grey.
    static uint32_t frameColour(int32_t state)
    {
        return blendOver(0xFF202020u, premultiply(uint8_t(0x30 + 0x40 * state), 0x10, 0x20, 200)) & 0xFFFFFFu;
    }

    SkinSet skins = plainSkins();
    RecordingHost host;
    PanelCanvas canvas;
    PanelController controller{host, canvas};
};

}  // namespace

TEST_F(Canvas, PaintReturnsOnlyWhatChanged)
{
    EXPECT_TRUE(canvas.paint().empty());
    canvas.setButtonValue(1, 1);
    PanelCanvas::Rect changed = canvas.paint();
    EXPECT_EQ(changed.left, 207);
    EXPECT_EQ(changed.top, 122);
    EXPECT_EQ(changed.right, 235);
    EXPECT_EQ(changed.bottom, 150);
    EXPECT_EQ(at(207, 122), frameColour(button::kOn));

    canvas.dial().rings[1].value = 90;
    canvas.dialMayHaveChanged();
    changed = canvas.paint();
    EXPECT_EQ(changed.left, 15);
    EXPECT_EQ(changed.right, 159);
    EXPECT_FALSE(canvas.dial().isChanged(1));

    canvas.plotScope(0.0f, 0.0f, 0xFFFFFF);
    canvas.refreshScope();
    changed = canvas.paint();
    EXPECT_EQ(changed.left, 507);
    EXPECT_EQ(changed.bottom, 160);
    EXPECT_EQ(at(507 + 71, 18 + 71), 0xFFFFFFu);
    canvas.refreshScope();  // faded once
    canvas.paint();
    EXPECT_NE(at(507 + 71, 18 + 71), 0xFFFFFFu);
}

TEST_F(Canvas, DialDragsRouteToTheDialWhereverThePointerGoes)
{
    // Left press at y 100 in the dial (panel y 115), ring 0 at 50.
    canvas.press(controller, Pointer::left, 85, 115, false);
    canvas.move(600, 15 + 80, false);  // far right, 10 steps up
    EXPECT_EQ(canvas.dial().rings[0].value, 60);
    // The right button joins the drag wherever it is pressed.
    canvas.press(controller, Pointer::right, 600, 150, false);
    canvas.move(600, 15 + 100, false);
    EXPECT_EQ(canvas.dial().rings[0].value, 50);
    EXPECT_EQ(canvas.dial().rings[1].value, 50);
    canvas.release(Pointer::left, 600, 115);
    canvas.move(600, 15 + 90, true);  // Shift: 55 is not a multiple of 10
    EXPECT_EQ(canvas.dial().rings[1].value, 50);
    canvas.move(600, 15 + 80, true);
    EXPECT_EQ(canvas.dial().rings[1].value, 60);
    canvas.release(Pointer::right, 600, 95);
    // Released: moves over the dial change nothing; a press elsewhere is its own.
    canvas.move(85, 20, false);
    EXPECT_EQ(canvas.dial().rings[1].value, 60);
    click(200 + 5, 4 + 5);
    EXPECT_EQ(host.sent.back().index, 0);
    // Ctrl with the left button: the middle, no drag.
    canvas.press(controller, Pointer::left, 85, 115, true);
    canvas.move(85, 15, false);
    EXPECT_EQ(canvas.dial().rings[0].value, 50);
    canvas.release(Pointer::left, 85, 15);
}

TEST_F(Canvas, PicturesGoWithReleaseAndStatesStay)
{
    canvas.setButtonValue(9, 1);
    canvas.dial().rings[0].value = 77;
    canvas.release();
    EXPECT_FALSE(canvas.built());
    EXPECT_TRUE(canvas.paint().empty());
    EXPECT_EQ(canvas.buttonState(9), button::kOn);
    canvas.build(skins, "Test", "Jan  1 2000");
    EXPECT_EQ(canvas.dial().rings[0].value, 77);
    EXPECT_EQ(canvas.paint().right, panel::kWidth);
    EXPECT_EQ(at(200, 4), frameColour(button::kOn));
}

TEST_F(Canvas, MissingPicturesLeaveTheirControlsOff)
{
    SkinSet partial = plainSkins();
    partial[panel::kSwitchSkin] = SkinPicture{};
    partial[panel::kDialUnlitSkin] = SkinPicture{};
    PanelCanvas sparse;
    PanelController other{host, sparse};
    sparse.build(partial, "Test", "Jan  1 2000");
    other.opened();
    sparse.paint();
    const uint32_t* pixels = sparse.pixels();
    EXPECT_EQ(pixels[4 * panel::kWidth + 200] & 0xFFFFFFu, 0x202020u);
    EXPECT_EQ(pixels[87 * panel::kWidth + 87] & 0xFFFFFFu, 0x202020u);
    // Clicks where they would be reach the panel, and the rest still works.
    sparse.press(other, Pointer::left, 205, 9, false);
    sparse.press(other, Pointer::left, 80, 80, false);
    EXPECT_TRUE(host.sent.empty());
    sparse.press(other, Pointer::left, 207 + 5, 122 + 5, false);
    ASSERT_EQ(host.sent.size(), 1u);
    EXPECT_EQ(host.sent[0].index, 3);
}
