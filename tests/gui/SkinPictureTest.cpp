// Premultiplication and blending as the Windows decoder and blend do them,
// composition of strips over the backdrop, and the about text's layout.
#include "gui/panel/AboutText.h"
#include "gui/panel/SkinPicture.h"
#include "gui/panel/TextDraw.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

TEST(SkinPicture, PremultiplyAndBlendRoundToNearest)
{
    EXPECT_EQ(premultiply(255, 128, 1, 255), 0xFFFF8001u);
    EXPECT_EQ(premultiply(255, 255, 255, 0), 0x00000000u);
    // 200 x 128 / 255 = 100.39; 1 x 128 / 255 = 0.502 rounds up.
    EXPECT_EQ(premultiply(200, 1, 0, 128), 0x80640100u);
    // Over opaque: source + under x (255 - alpha) / 255, to nearest.
    EXPECT_EQ(blendOver(0xFF808080u, 0x00000000u), 0xFF808080u);
    EXPECT_EQ(blendOver(0xFF808080u, 0xFF102030u), 0xFF102030u);
    // 200 x 128 / 255 = 100.4, then 100 + 100 x 127 / 255 = 149.8 and 0 + 49.8.
    EXPECT_EQ(blendOver(0xFF646464u, premultiply(200, 0, 0, 128)), 0xFF963232u);
    // Every premultiplied pixel over every grey stays within a byte.
    for (uint32_t a = 0; a < 256; a += 15)
        for (uint32_t c = 0; c <= a; c += 5) {
            const uint32_t over = blendOver(0xFFFFFFFFu, a << 24 | c << 16 | c << 8 | c);
            EXPECT_EQ(over, 0xFF000000u | (c + 255 - a) * 0x010101u) << a << " " << c;
        }
}

TEST(SkinPicture, StripsRepeatTheBackdropUnderEveryFrame)
{
    SkinPicture backdrop;
    backdrop.width = 10;
    backdrop.height = 6;
    for (int32_t i = 0; i < 60; ++i) backdrop.pixels.push_back(0xFF000000u | uint32_t(i));
    SkinPicture strip;
    strip.width = 2;
    strip.height = 4;  // two frames of 2 x 2
    strip.pixels = {0, 0, 0, 0, 0xFF00FF00u, 0, 0, 0};
    const std::vector<uint32_t> out = composeOverBackdrop(backdrop, 3, 2, 2, 2, &strip, 2);
    ASSERT_EQ(out.size(), 8u);
    EXPECT_EQ(out[0], 0xFF000000u | 23);
    EXPECT_EQ(out[3], 0xFF000000u | 34);
    EXPECT_EQ(out[4], 0xFF00FF00u);       // frame 1 carries the picture
    EXPECT_EQ(out[5], 0xFF000000u | 24);  // over the same backdrop
    // Beyond the backdrop: black; without a picture: bare backdrop.
    const std::vector<uint32_t> edge = composeOverBackdrop(backdrop, 9, 5, 2, 2, nullptr, 1);
    EXPECT_EQ(edge[0], 0xFF000000u | 59);
    EXPECT_EQ(edge[1], 0xFF000000u);
    EXPECT_EQ(edge[3], 0xFF000000u);
    EXPECT_TRUE(composeOverBackdrop(backdrop, 0, 0, 0, 2, nullptr, 1).empty());

    SkinSet skins;
    skins[panel::kPanelSkin] = backdrop;
    EXPECT_EQ(skins[panel::kPanelSkin].width, 10);
    EXPECT_TRUE(skins[999].empty());
    skins[999].width = 5;  // written to nothing that lasts
    EXPECT_TRUE(skins[999].empty());
}

TEST(AboutText, LinesBreakAsTheWindowsTextDrawingBreaksThem)
{
    const about::GlyphFace& face = about::kSmallFace;
    // CR LF, LF and CR each end a line: the version row has an empty line.
    EXPECT_EQ(about::breakLines(face, "a\n\r\nb", 665, false), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(about::breakLines(face, "a\rb\r\n", 665, false), (std::vector<std::string>{"a", "b", ""}));
    // Wrapping between words where a line would pass the width; a word
    // wider than the box stays whole.
    const int32_t width = std::max(about::textWidth(face, "DSP & UI"), about::textWidth(face, "programming by"));
    EXPECT_EQ(about::breakLines(face, "DSP & UI programming by", width, true),
              (std::vector<std::string>{"DSP & UI", "programming by"}));
    EXPECT_EQ(about::breakLines(face, "programming", 5, true), (std::vector<std::string>{"programming"}));
    EXPECT_EQ(about::breakLines(face, "DSP & UI programming by", 665, true),
              (std::vector<std::string>{"DSP & UI programming by"}));
    // Widths are advances added up; characters the face lacks add nothing.
    EXPECT_EQ(about::textWidth(face, "ab"), about::textWidth(face, "a") + about::textWidth(face, "b"));
    EXPECT_EQ(about::textWidth(face, "a\xE9"), about::textWidth(face, "a"));
}

TEST(AboutText, EveryCharacterOfTheTextHasAGlyph)
{
    std::string all = about::versionText("Linux64", "Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec 0123456789");
    for (const about::Row& row : about::kRows)
        if (row.text) all += row.text;
    for (unsigned char c : all) {
        if (c == '\n' || c == '\r') continue;
        const about::Glyph* small = about::kSmallFace.find(c);
        const about::Glyph* large = about::kLargeFace.find(c);
        ASSERT_TRUE(small && large) << c;
        EXPECT_GT(small->advance, 0) << c;
        EXPECT_GT(large->advance, small->advance) << c;
    }
    EXPECT_EQ(about::kSmallFace.lineHeight, 14);
    EXPECT_EQ(about::kLargeFace.ascent, 19);
}

TEST(AboutText, RowsAreCentredAndClippedToTheirBoxes)
{
    SkinPicture picture;
    picture.width = 100;
    picture.height = 40;
    picture.pixels.assign(100 * 40, 0xFF000000u);
    about::drawRow(picture, about::kSmallFace, "HOH\nHOHOHOHOHOHOHOHOH", 0xFFFFFF, 20, 5, 80, 30, false);
    int32_t left = 100, right = -1, top = 40, bottom = -1;
    for (int32_t y = 0; y < 40; ++y)
        for (int32_t x = 0; x < 100; ++x) {
            if (picture.pixels[size_t(y) * 100 + x] == 0xFF000000u) continue;
            left = std::min(left, x);
            right = std::max(right, x);
            top = std::min(top, y);
            bottom = std::max(bottom, y);
        }
    // The long second line is wider than the box: clipped at both sides.
    EXPECT_EQ(left, 20);
    EXPECT_EQ(right, 79);
    EXPECT_GE(top, 5);
    EXPECT_LT(bottom, 30);
    // The first line alone sits in the middle of the box, a pixel either way.
    SkinPicture one = picture;
    one.pixels.assign(100 * 40, 0xFF000000u);
    about::drawRow(one, about::kSmallFace, "HOH", 0xFFFFFF, 20, 5, 80, 30, false);
    left = 100, right = -1;
    for (int32_t y = 0; y < 40; ++y)
        for (int32_t x = 0; x < 100; ++x)
            if (one.pixels[size_t(y) * 100 + x] != 0xFF000000u) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
    EXPECT_NEAR(left - 20, 79 - right, 2);
    // The colour is blended by coverage: full coverage gives the colour itself.
    bool full = false;
    for (uint32_t p : one.pixels) full |= p == 0xFFFFFFFFu;
    EXPECT_TRUE(full);
}
