// z5r-jack's command line, read by a pure function so that every option and
// every refusal is tested without a JACK server or a display.
#pragma once

#include "engine/Parameters.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace jackapp {

// One of our ports and the port of another client it connects to.
struct PortLink {
    std::string ours;   // "in_L", "in_R", "out_L" or "out_R"
    std::string other;  // a full JACK port name, "system:capture_1"
};

// A parameter and the normalized value its --set text stands for.
struct Setting {
    int32_t index = 0;
    float value = 0.0f;
};

struct Options {
    bool help = false;
    bool gui = true;
    bool autoConnect = false;
    std::vector<PortLink> links;
    std::optional<int32_t> program;  // 0 to 7
    std::vector<Setting> settings;   // applied in order, after the program
    std::string statePath;           // empty: the default place
};

// The parse's outcome: options, or the one line that says what is wrong.
struct ParseResult {
    Options options;
    std::string error;  // empty when the arguments were good
    bool ok() const noexcept { return error.empty(); }
};

// Our port names, in registration order: inputs left, right, outputs left, right.
inline constexpr const char* kPortNames[4] = {"in_L", "in_R", "out_L", "out_R"};

// The arguments after the program's name.
ParseResult parseOptions(std::span<const char* const> args);

std::string usageText(std::string_view program);

}  // namespace jackapp
