// The text of the about image, for every platform: title and version in
// the middle, the web address and programming credit on the left, the
// contact address and the plug-in technology credit on the right. Each row
// is centred in its box (right and bottom edges excluded) and clipped to
// it; rows that may wrap break at spaces. Drawn once onto the about skin.
#pragma once

#include <cstdint>
#include <string>

namespace about {

// Character heights, internal leading excluded, in pixels; both heavy sans-serif.
constexpr int32_t kSmallHeight = 12;
constexpr int32_t kLargeHeight = 20;

// Colours, 0x00RRGGBB.
constexpr uint32_t kBright = 0xD4D4D4;
constexpr uint32_t kAccent = 0x55B0FA;
constexpr uint32_t kDim = 0xA4A4A4;

struct Row {
    const char* text;  // null for the version row (versionText)
    bool large;
    uint32_t colour;
    int32_t left, top, right, bottom;
    bool wrap;
};

// The version row is tall enough to show the build date below an empty
// line (about 15 pixels a line at the small size).
constexpr Row kRows[] = {
    {"Virtual-analog vacuum triode", false, kBright, 0, 81, 665, 117, false},
    {nullptr, false, kBright, 0, 104, 665, 152, false},
    {"www.qmv.example", true, kAccent, 0, 98, 252, 400, true},
    {"DSP & UI programming by", false, kDim, 0, 130, 252, 400, true},
    {"the QMV sound lab", false, kBright, 0, 150, 252, 400, true},
    {"hello@qmv.example", true, kAccent, 415, 98, 665, 400, true},
    {"VST Plug-In Technology by", false, kDim, 415, 130, 665, 400, true},
    {"Steinberg", false, kBright, 415, 150, 665, 400, true},
};

// "ver. 1.0.6 / <platform>", an empty line, and the build date (as the
// compiler's __DATE__ gives it), with the line breaks of the Windows text.
std::string versionText(const char* platformWord, const char* buildDate);

}  // namespace about
