// The about image's text on Windows, drawn once when the editor is made
// with the platform's heavy sans-serif fonts (rows in gui/panel/AboutText.h).
#include "gui/editor/Win32Panel.h"
#include "gui/panel/AboutText.h"

#include <cstdio>

namespace {

constexpr const char* kPlatformWord = "Win64";
constexpr UINT kCentred = DT_CENTER | DT_NOPREFIX;
constexpr UINT kCentredWrapped = DT_CENTER | DT_NOPREFIX | DT_WORDBREAK;

HFONT heavySans(LONG height)
{
    LOGFONTA font{};
    font.lfHeight = height;
    font.lfWeight = FW_HEAVY;
    font.lfCharSet = ANSI_CHARSET;
    font.lfQuality = CLEARTYPE_QUALITY;
    font.lfPitchAndFamily = FF_SWISS | DEFAULT_PITCH;
    return CreateFontIndirectA(&font);
}

COLORREF colourOf(uint32_t rgb) { return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF); }

}  // namespace

void Win32Panel::drawAboutText()
{
    HDC screen = GetWindowDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    ReleaseDC(nullptr, screen);
    if (!memory) return;
    HGDIOBJ initialImage = GetCurrentObject(memory, OBJ_BITMAP);
    if (aboutImage) SelectObject(memory, aboutImage);

    HFONT small = heavySans(-about::kSmallHeight);
    HFONT large = heavySans(-about::kLargeHeight);
    if (small && large) {
        SetTextAlign(memory, TA_LEFT | TA_TOP | TA_NOUPDATECP);
        SetBkMode(memory, TRANSPARENT);
        HGDIOBJ initialFont = SelectObject(memory, small);
        const std::string version = about::versionText(kPlatformWord, __DATE__);
        for (const about::Row& row : about::kRows) {
            char text[1024];
            std::snprintf(text, sizeof(text), "%s", row.text ? row.text : version.c_str());
            SelectObject(memory, row.large ? large : small);
            SetTextColor(memory, colourOf(row.colour));
            RECT box{row.left, row.top, row.right, row.bottom};
            DrawTextExA(memory, text, -1, &box, row.wrap ? kCentredWrapped : kCentred, nullptr);
        }
        SelectObject(memory, initialFont);
    }
    if (small) DeleteObject(small);
    if (large) DeleteObject(large);

    SelectObject(memory, initialImage);
    DeleteDC(memory);
}
