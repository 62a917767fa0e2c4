#include "PanelTestSupport.h"

#include "gui/panel/PanelLayout.h"

namespace {

SkinPicture plain(int32_t width, int32_t height, uint32_t pixel)
{
    SkinPicture picture;
    picture.width = width;
    picture.height = height;
    picture.pixels.assign(size_t(width) * height, pixel);
    return picture;
}

}  // namespace

SkinSet plainSkins()
{
    SkinSet skins;
    skins[panel::kPanelSkin] = plain(665, 178, 0xFF202020u);
    skins[panel::kAboutSkin] = plain(665, 178, 0xFF000040u);
    skins[panel::kDialUnlitSkin] = plain(144, 144, premultiply(0x40, 0x40, 0x40, 128));
    skins[panel::kDialInnerLitSkin] = plain(144, 144, premultiply(0x40, 0x80, 0xFF, 255));
    skins[panel::kDialOuterLitSkin] = plain(144, 144, premultiply(0xFF, 0xFF, 0xFF, 255));
    skins[panel::kScopeFaceSkin] = plain(142, 142, 0xFF101010u);
    skins[panel::kRadioSkin] = plain(28, 112, 0);
    skins[panel::kSwitchSkin] = plain(28, 112, 0);
    skins[panel::kLeftTraceSkin] = plain(36, 64, 0);
    skins[panel::kRightTraceSkin] = plain(36, 64, 0);
    // Button strips: each frame a colour of its own, so the frame shown can be told.
    for (int skin : {panel::kRadioSkin, panel::kSwitchSkin, panel::kLeftTraceSkin, panel::kRightTraceSkin}) {
        SkinPicture& strip = skins[skin];
        const int32_t frame = strip.height / 4;
        for (int32_t i = 0; i < strip.height; ++i)
            for (int32_t j = 0; j < strip.width; ++j)
                strip.pixels[size_t(i) * strip.width + j] = premultiply(uint8_t(0x30 + 0x40 * (i / frame)), 0x10, 0x20, 200);
    }
    return skins;
}
