// The editor's whole picture in a few fixed states, as committed PNG files
// taken from the Windows editor: the Windows tests hold their editor to
// them, and the Linux tests hold theirs to the same files, within two steps
// per colour channel. The about image's text is drawn with each platform's
// own fonts, so its lines are compared by where their ink lies, not by pixel.
#pragma once

#include "engine/Parameters.h"

#include <cstdint>
#include <string>
#include <vector>

namespace golden {

constexpr int32_t kWidth = 665;
constexpr int32_t kHeight = 178;
// The largest difference of one colour channel that still counts as the same.
constexpr int32_t kTolerance = 2;

struct State {
    const char* file;
    float values[kNumParams];  // the seven parameters, set by the host before the editor opens
    bool about;       // the logo clicked after opening
};

// The default program; every switch and radio group moved off its default;
// the about image over the default program.
constexpr State kStates[] = {
    {"panel-default.png", {0.0f, 0.5f, 0.5f, 0.0f, 0.0f, 0.0f, 0.0f}, false},
    {"panel-settings.png", {1.0f, 0.83f, 0.27f, 1.0f, 0.5f, 0.0f, 1.0f}, false},
    {"panel-about.png", {0.0f, 0.5f, 0.5f, 0.0f, 0.0f, 0.0f, 0.0f}, true},
};

// A rectangle of the editor, right and bottom edges excluded.
struct Box {
    int32_t left, top, right, bottom;
};

// Where the about image carries text: the centred title and version, the
// left and the right column.
constexpr Box kAboutTextAreas[] = {{0, 81, 665, 152}, {0, 98, 252, 178}, {415, 98, 665, 178}};

// Lines of the about text whose ink must lie in the same place on every
// platform: the title, and the two columns' three lines each. The version
// line names the platform and the date line the day of the build, so those
// two are left out.
constexpr Box kComparedTextLines[] = {
    {0, 81, 665, 98},     // title
    {0, 98, 252, 126},    // web address
    {0, 128, 252, 148},   // programming credit
    {0, 148, 252, 170},   // author
    {415, 98, 665, 126},  // contact address
    {415, 128, 665, 148}, // technology credit
    {415, 148, 665, 170}, // maker
};

std::string path(const char* file);

// Pixels (0x00RRGGBB, rows top first) whose colour differs from the
// reference by more than the tolerance in a channel, outside the skipped areas.
int32_t pixelsBeyondTolerance(const std::vector<uint32_t>& frame, const std::vector<uint32_t>& reference,
                              const Box* skipped = nullptr, int32_t skippedCount = 0);

// The bounding box of a line's ink (text is light on the dark ground), or
// an empty box when the line has none.
Box inkWithin(const std::vector<uint32_t>& frame, const Box& line);

// What differs between a frame and the reference, for a failure message:
// the first few pixels beyond the tolerance.
std::string describeDifferences(const std::vector<uint32_t>& frame, const std::vector<uint32_t>& reference,
                                const Box* skipped = nullptr, int32_t skippedCount = 0);

}  // namespace golden
