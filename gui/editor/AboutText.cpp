// The about image's text, drawn once when the editor is made: title and
// version in the middle, the web address and programming credit on the
// left, the contact address and the plug-in technology credit on the right.
#include "gui/editor/TubeEditor.h"

#include <cstdio>

namespace {

constexpr int kVersionMajor = 1;
constexpr int kVersionMinor = 0;
constexpr int kVersionBuild = 6;
constexpr const char* kPlatformWord = "Win64";

constexpr COLORREF kBright = RGB(212, 212, 212);
constexpr COLORREF kAccent = RGB(85, 176, 250);
constexpr COLORREF kDim = RGB(164, 164, 164);
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

struct AboutRow {
    const char* text;
    bool large;
    COLORREF colour;
    RECT box;
    UINT flags;
};

}  // namespace

void TubeEditor::drawAboutText()
{
    HDC screen = GetWindowDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    ReleaseDC(nullptr, screen);
    if (!memory) return;
    HGDIOBJ initialImage = GetCurrentObject(memory, OBJ_BITMAP);
    if (aboutImage) SelectObject(memory, aboutImage);

    HFONT small = heavySans(-12);
    HFONT large = heavySans(-20);
    if (small && large) {
        SetTextAlign(memory, TA_LEFT | TA_TOP | TA_NOUPDATECP);
        SetBkMode(memory, TRANSPARENT);
        HGDIOBJ initialFont = SelectObject(memory, small);

        char version[1024];
        std::snprintf(version, sizeof(version), "ver. %d.%d.%d / %s\n\r\n%s", kVersionMajor, kVersionMinor,
                      kVersionBuild, kPlatformWord, __DATE__);
        // The version row is tall enough to show the build date below an
        // empty line (about 15 pixels a line at this size).
        const AboutRow rows[] = {
            {"Virtual-analog vacuum triode", false, kBright, {0, 81, 665, 117}, kCentred},
            {version, false, kBright, {0, 104, 665, 152}, kCentred},
            {"www.qmv.example", true, kAccent, {0, 98, 252, 400}, kCentredWrapped},
            {"DSP & UI programming by", false, kDim, {0, 130, 252, 400}, kCentredWrapped},
            {"the QMV sound lab", false, kBright, {0, 150, 252, 400}, kCentredWrapped},
            {"hello@qmv.example", true, kAccent, {415, 98, 665, 400}, kCentredWrapped},
            {"VST Plug-In Technology by", false, kDim, {415, 130, 665, 400}, kCentredWrapped},
            {"Steinberg", false, kBright, {415, 150, 665, 400}, kCentredWrapped},
        };
        for (const AboutRow& row : rows) {
            char text[1024];
            std::snprintf(text, sizeof(text), "%s", row.text);
            SelectObject(memory, row.large ? large : small);
            SetTextColor(memory, row.colour);
            RECT box = row.box;
            DrawTextExA(memory, text, -1, &box, row.flags, nullptr);
        }
        SelectObject(memory, initialFont);
    }
    if (small) DeleteObject(small);
    if (large) DeleteObject(large);

    SelectObject(memory, initialImage);
    DeleteDC(memory);
}
