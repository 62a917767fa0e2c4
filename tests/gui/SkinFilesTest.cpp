// The committed skin images as a decoder sees them: size, kind (RGBA with
// alpha or opaque RGB), frame layout, and the two identical dial layers.
#include <gtest/gtest.h>

#include <png.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct PngInfo {
    bool read = false;
    uint32_t width = 0, height = 0;
    bool alpha = false;
    bool eightBit = false;
    std::vector<uint8_t> rows;  // RGBA, 4 bytes a pixel
};

PngInfo readPng(const std::string& path)
{
    PngInfo info;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return info;
    info.width = image.width;
    info.height = image.height;
    info.alpha = (image.format & PNG_FORMAT_FLAG_ALPHA) != 0;
    info.eightBit = (image.format & PNG_FORMAT_FLAG_LINEAR) == 0;
    image.format = PNG_FORMAT_RGBA;
    info.rows.resize(PNG_IMAGE_SIZE(image));
    info.read = png_image_finish_read(&image, nullptr, info.rows.data(), 0, nullptr) != 0;
    png_image_free(&image);
    return info;
}

std::string resource(const char* name) { return std::string(Z5R_RESOURCE_DIR) + "/" + name; }

}  // namespace

TEST(SkinFiles, EveryImageHasItsSizeKindAndFrames)
{
    struct Expected {
        const char* file;
        uint32_t width, height;
        bool alpha;
        uint32_t frames;
    };
    const Expected images[] = {
        {"dial_unlit_124.png", 144, 144, true, 1},   {"dial_lit_inner_125.png", 144, 144, true, 1},
        {"dial_lit_outer_126.png", 144, 144, true, 1}, {"button_blue_134.png", 28, 112, true, 4},
        {"scope_face_137.png", 142, 142, false, 1},  {"button_white_138.png", 28, 112, true, 4},
        {"trace_left_140.png", 36, 64, true, 4},     {"trace_right_141.png", 36, 64, true, 4},
        {"panel_144.png", 665, 178, false, 1},       {"about_146.png", 665, 178, false, 1},
    };
    for (const Expected& e : images) {
        const PngInfo png = readPng(resource(e.file));
        ASSERT_TRUE(png.read) << e.file;
        EXPECT_EQ(png.width, e.width) << e.file;
        EXPECT_EQ(png.height, e.height) << e.file;
        EXPECT_TRUE(png.eightBit) << e.file;
        EXPECT_EQ(png.alpha, e.alpha) << e.file;
        EXPECT_EQ(png.height % e.frames, 0u) << e.file;
        if (e.frames == 4) {
            // The four frames differ: off, off held, on, on held.
            const size_t frameBytes = png.rows.size() / 4;
            for (int32_t a = 0; a < 4; ++a)
                for (int32_t b = a + 1; b < 4; ++b)
                    EXPECT_FALSE(std::equal(png.rows.begin() + a * frameBytes, png.rows.begin() + (a + 1) * frameBytes,
                                            png.rows.begin() + b * frameBytes))
                        << e.file << " frames " << a << " and " << b;
        }
    }
}

TEST(SkinFiles, BothLitDialLayersAreTheSameFile)
{
    std::ifstream a(resource("dial_lit_inner_125.png"), std::ios::binary);
    std::ifstream b(resource("dial_lit_outer_126.png"), std::ios::binary);
    const std::vector<char> first{std::istreambuf_iterator<char>(a), {}};
    const std::vector<char> second{std::istreambuf_iterator<char>(b), {}};
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(first, second);
}

TEST(SkinFiles, LitDialLayerIsOpaqueOnlyOnTheRings)
{
    // The lit layer is only ever copied at ring pixels; off the rings it is
    // transparent, on them the segments are solid.
    const PngInfo lit = readPng(resource("dial_lit_inner_125.png"));
    ASSERT_TRUE(lit.read);
    int32_t solidOnRings = 0, visibleOffRings = 0;
    for (int32_t i = 0; i < 144; ++i)
        for (int32_t j = 0; j < 144; ++j) {
            const float dx = j - 72.0f, dy = i - 72.0f, d2 = dx * dx + dy * dy;
            const uint8_t alpha = lit.rows[(size_t(i) * 144 + j) * 4 + 3];
            if (d2 >= 2916.0f && d2 <= 5184.0f)
                solidOnRings += alpha == 255;
            else
                visibleOffRings += alpha != 0;
        }
    EXPECT_GT(solidOnRings, 5000);  // of about 9900 pixels in the two annuli
    EXPECT_EQ(visibleOffRings, 0);
}
