// The platform-neutral panel drawing, run on Windows against the Windows
// editor itself: the neutral premultiplication against the imaging
// component's, the neutral composition against GDI's alpha blend, and the
// whole neutral picture, built from the library's own decoded skins,
// against the committed pictures of the Windows editor.
#include "WindowTestSupport.h"

#include "../gui/GoldenFrames.h"
#include "../gui/PanelTestSupport.h"
#include "gui/controls/LedButton.h"
#include "gui/controls/SkinImage.h"
#include "gui/panel/PanelCanvas.h"

#include <gtest/gtest.h>

#include <wincodec.h>

namespace {

template <class T>
void release(T*& object)
{
    if (object) object->Release();
    object = nullptr;
}

// A skin resource decoded to straight (not premultiplied) 8-bit BGRA.
std::vector<uint32_t> straightPixels(int id, UINT* width, UINT* height)
{
    std::vector<uint32_t> pixels;
    HRSRC resource = FindResourceA(pluginModule(), MAKEINTRESOURCEA(id), kPngResourceType);
    IStream* stream = resource ? CreateResourceStream(pluginModule(), resource) : nullptr;
    IWICImagingFactory* factory = nullptr;
    IWICBitmapDecoder* decoder = nullptr;
    IWICBitmapFrameDecode* frame = nullptr;
    IWICBitmapSource* converted = nullptr;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (stream &&
        SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                   reinterpret_cast<void**>(&factory))) &&
        SUCCEEDED(factory->CreateDecoderFromStream(stream, nullptr, WICDecodeMetadataCacheOnLoad, &decoder)) &&
        SUCCEEDED(decoder->GetFrame(0, &frame)) &&
        SUCCEEDED(WICConvertBitmapSource(GUID_WICPixelFormat32bppBGRA, frame, &converted)) &&
        SUCCEEDED(converted->GetSize(width, height))) {
        pixels.resize(size_t(*width) * *height);
        converted->CopyPixels(nullptr, *width * 4, static_cast<UINT>(pixels.size() * 4),
                              reinterpret_cast<BYTE*>(pixels.data()));
    }
    release(converted);
    release(frame);
    release(decoder);
    release(factory);
    release(stream);
    return pixels;
}

// A skin as the Windows editor holds it: the decoder's premultiplied DIB.
SkinPicture windowsSkin(int id)
{
    SkinPicture picture;
    HBITMAP bitmap = LoadPngResource(pluginModule(), id);
    DIBSECTION section{};
    if (bitmap && GetObjectA(bitmap, sizeof(section), &section) == int(sizeof(section))) {
        picture.width = section.dsBm.bmWidth;
        picture.height = section.dsBm.bmHeight;
        const auto* bits = static_cast<const uint32_t*>(section.dsBm.bmBits);
        picture.pixels.assign(bits, bits + size_t(picture.width) * picture.height);
    }
    if (bitmap) DeleteObject(bitmap);
    return picture;
}

}  // namespace

TEST(PanelOnWindows, PremultiplicationIsTheDecodersToTheLastBit)
{
    ASSERT_NE(pluginModule(), nullptr);
    for (int id : panel::kSkinIds) {
        UINT width = 0, height = 0;
        const std::vector<uint32_t> straight = straightPixels(id, &width, &height);
        const SkinPicture decoded = windowsSkin(id);
        ASSERT_FALSE(straight.empty()) << id;
        ASSERT_EQ(decoded.pixels.size(), straight.size()) << id;
        for (size_t i = 0; i < straight.size(); ++i) {
            const uint32_t s = straight[i];
            ASSERT_EQ(premultiply(uint8_t(s >> 16), uint8_t(s >> 8), uint8_t(s), uint8_t(s >> 24)), decoded.pixels[i])
                << id << " pixel " << i;
        }
    }
}

TEST(PanelOnWindows, CompositionIsTheAlphaBlendsToTheLastBit)
{
    TestParent parent;
    ASSERT_NE(parent.hwnd, nullptr) << "no display";
    const SkinPicture backdrop = windowsSkin(panel::kPanelSkin);
    HBITMAP panelBitmap = LoadPngResource(pluginModule(), panel::kPanelSkin);
    for (int32_t b = 0; b < panel::kButtonCount; ++b) {
        CLedButton button;
        button.Create(pluginModule(), parent.hwnd, panelBitmap, panel::kButtons[b].left, panel::kButtons[b].top,
                      panel::kButtons[b].skin, b + 1);
        ASSERT_NE(button.strip, nullptr);
        const SkinPicture strip = windowsSkin(panel::kButtons[b].skin);
        const std::vector<uint32_t> gdi = bitmapPixels(button.strip, button.GetWidth(), button.GetHeight() * 4);
        std::vector<uint32_t> neutral = composeOverBackdrop(backdrop, panel::kButtons[b].left, panel::kButtons[b].top,
                                                            button.GetWidth(), button.GetHeight(), &strip, 4);
        for (uint32_t& p : neutral) p &= 0xFFFFFFu;
        EXPECT_EQ(neutral, gdi) << "button " << b;
    }
    DeleteObject(panelBitmap);
}

// The neutral picture of each committed state, drawn on Windows from the
// Windows decoder's skins, is the Windows editor's picture (its text in
// the neutral faces lies where GDI puts it, within two pixels).
TEST(PanelOnWindows, NeutralPictureIsTheWindowsEditors)
{
    SkinSet skins;
    for (int id : panel::kSkinIds) skins[id] = windowsSkin(id);
    for (const golden::State& state : golden::kStates) {
        SCOPED_TRACE(state.file);
        RecordingHost host;
        std::copy(state.values, state.values + 7, host.values);
        PanelCanvas canvas;
        PanelController controller(host, canvas);
        canvas.build(skins, "Win64", __DATE__);
        controller.opened();
        canvas.paint();
        for (int32_t pass = 0; pass < 3; ++pass) {
            controller.refresh();
            canvas.paint();
        }
        if (state.about) {
            canvas.press(controller, PanelCanvas::Pointer::left, 300, 60, false);
            canvas.paint();
        }
        std::vector<uint32_t> frame(canvas.pixels(), canvas.pixels() + size_t(panel::kWidth) * panel::kHeight);
        for (uint32_t& p : frame) p &= 0xFFFFFFu;
        int32_t width = 0, height = 0;
        const std::vector<uint32_t> reference = readPng(golden::path(state.file).c_str(), &width, &height);
        ASSERT_EQ(width, golden::kWidth);
        const golden::Box* skipped = state.about ? golden::kAboutTextAreas : nullptr;
        const int32_t skippedCount = state.about ? 3 : 0;
        EXPECT_EQ(golden::pixelsBeyondTolerance(frame, reference, skipped, skippedCount), 0)
            << golden::describeDifferences(frame, reference, skipped, skippedCount);
        if (!state.about) continue;
        for (const golden::Box& line : golden::kComparedTextLines) {
            const golden::Box ink = golden::inkWithin(frame, line), expected = golden::inkWithin(reference, line);
            EXPECT_NEAR(ink.left, expected.left, 2) << line.left << "," << line.top;
            EXPECT_NEAR(ink.right, expected.right, 2) << line.left << "," << line.top;
            EXPECT_NEAR(ink.top, expected.top, 2) << line.left << "," << line.top;
            EXPECT_NEAR(ink.bottom, expected.bottom, 2) << line.left << "," << line.top;
        }
    }
}
