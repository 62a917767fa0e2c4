// The Linux editor's pieces that need no X server: pixels turned into what
// a visual wants, and the embedded skins decoded as the Windows decoder
// decodes them.
#include "gui/panel/PanelLayout.h"
#include "gui/x11/EmbeddedFiles.h"
#include "gui/x11/PixelFormat.h"
#include "gui/x11/SkinDecoder.h"

#include <gtest/gtest.h>

#include <vector>

TEST(PixelFormat, TrueColourVisualsOfEveryCommonDepth)
{
    const uint32_t pixels[3] = {0x123456, 0xFF8000, 0x0000FF};
    PixelFormat deep;  // 24 bits in 32, blue first in memory
    ASSERT_TRUE(deep.supported());
    EXPECT_EQ(deep.stride(3), 12);
    std::vector<uint8_t> out(12);
    deep.convert(pixels, 3, 3, 1, out.data());
    EXPECT_EQ(out, (std::vector<uint8_t>{0x56, 0x34, 0x12, 0x00, 0x00, 0x80, 0xFF, 0x00, 0xFF, 0x00, 0x00, 0x00}));

    PixelFormat argb = deep;  // a 32-bit visual: the bits beyond the colour say opaque
    argb.depth = 32;
    EXPECT_EQ(argb.pixelOf(0x123456), 0xFF123456u);
    // Whatever the panel's top byte holds, a whole row says what pixelOf says.
    const uint32_t noisy[2] = {0xAB123456u, 0x00FF8000u};
    for (const PixelFormat& format : {deep, argb}) {
        uint8_t bytes[8];
        format.convert(noisy, 2, 2, 1, bytes);
        for (int32_t i = 0; i < 2; ++i)
            for (int32_t b = 0; b < 4; ++b)
                EXPECT_EQ(bytes[4 * i + b], static_cast<uint8_t>(format.pixelOf(noisy[i]) >> (8 * b)));
    }

    PixelFormat big = deep;  // a server that wants the most significant byte first
    big.leastSignificantFirst = false;
    big.convert(pixels, 3, 1, 1, out.data());
    EXPECT_EQ(out[0], 0x00);
    EXPECT_EQ(out[1], 0x12);
    EXPECT_EQ(out[3], 0x56);

    PixelFormat high;  // 5-6-5, rows padded to 32 bits
    high.depth = 16;
    high.bitsPerPixel = 16;
    high.redMask = 0xF800;
    high.greenMask = 0x07E0;
    high.blueMask = 0x001F;
    ASSERT_TRUE(high.supported());
    EXPECT_EQ(high.stride(3), 8);
    EXPECT_EQ(high.pixelOf(0xFFFFFF), 0xFFFFu);
    EXPECT_EQ(high.pixelOf(0xFF8000), 0xFC00u);  // 31 << 11 | 32 << 5
    std::vector<uint8_t> rows(16, 0xAA);
    high.convert(pixels, 0, 3, 2, rows.data());  // the same row twice
    EXPECT_EQ(rows[0], 0xAA);  // 2 << 11 | 13 << 5 | 10, low byte first
    EXPECT_EQ(rows[1], 0x11);
    EXPECT_EQ(rows[6], 0);  // padding is cleared
    EXPECT_EQ(rows[8], rows[0]);  // the second row starts at the stride

    PixelFormat packed = deep;  // three bytes a pixel
    packed.bitsPerPixel = 24;
    EXPECT_EQ(packed.stride(3), 12);
    EXPECT_EQ(packed.stride(4), 12);
}

TEST(PixelFormat, VisualsItCannotDrawIntoAreRefused)
{
    PixelFormat format;
    format.bitsPerPixel = 4;
    EXPECT_FALSE(format.supported());
    format = PixelFormat{};
    format.redMask = 0xF0F000;  // not one run of bits
    EXPECT_FALSE(format.supported());
    format = PixelFormat{};
    format.bitsPerPixel = 16;
    format.depth = 16;  // masks beyond 16 bits
    EXPECT_FALSE(format.supported());
    format = PixelFormat{};
    format.depth = 33;
    EXPECT_FALSE(format.supported());
}

TEST(EmbeddedSkins, EveryPictureIsCarriedAndDecodesPremultiplied)
{
    EXPECT_EQ(kEmbeddedFileCount, panel::kSkinCount);
    const SkinSet& skins = embeddedSkins();
    struct Size {
        int id, width, height;
        bool opaque;
    };
    const Size sizes[] = {{124, 144, 144, false}, {125, 144, 144, false}, {126, 144, 144, false},
                          {134, 28, 112, false},  {137, 142, 142, true},  {138, 28, 112, false},
                          {140, 36, 64, false},   {141, 36, 64, false},   {144, 665, 178, true},
                          {146, 665, 178, true}};
    for (const Size& s : sizes) {
        const SkinPicture& picture = skins[s.id];
        ASSERT_FALSE(picture.empty()) << s.id;
        EXPECT_EQ(picture.width, s.width) << s.id;
        EXPECT_EQ(picture.height, s.height) << s.id;
        bool seeThrough = false;
        for (uint32_t p : picture.pixels) {
            const uint32_t a = p >> 24;
            ASSERT_LE((p >> 16) & 0xFF, a) << s.id;
            ASSERT_LE((p >> 8) & 0xFF, a) << s.id;
            ASSERT_LE(p & 0xFF, a) << s.id;
            seeThrough |= a != 255;
        }
        EXPECT_EQ(seeThrough, !s.opaque) << s.id;
    }
    // Decoded once: the same pictures every time.
    EXPECT_EQ(&embeddedSkins(), &skins);
    EXPECT_EQ(skins[125].pixels, skins[126].pixels);
}

TEST(EmbeddedSkins, BytesThatAreNoPngDecodeToNothing)
{
    SkinPicture picture;
    picture.width = 3;
    const unsigned char junk[] = {0x89, 'P', 'N', 'G', 1, 2, 3};
    EXPECT_FALSE(decodePng(junk, sizeof(junk), picture));
    EXPECT_TRUE(picture.empty());
    EXPECT_FALSE(decodePng(junk, 0, picture));
    // A real file cut short.
    EXPECT_FALSE(decodePng(kEmbeddedFiles[0].data, kEmbeddedFiles[0].size / 2, picture));
    EXPECT_TRUE(picture.empty());
}
