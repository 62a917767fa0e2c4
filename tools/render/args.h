// Command-line options of z5r-render and the small helpers that interpret them.
#pragma once

#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace z5r {

// A request to set one parameter, by the name the plug-in reports for it.
struct ParamSetting {
    std::string name;
    float value = 0.0f;  // normalized, 0..1
};

struct Options {
    std::string input;   // empty: render the built-in demo signal
    std::string output;  // empty: derived from the input (see defaultOutputPath)
    std::string plugin;  // empty: KorvaneZ5R.so beside the executable
    std::optional<int> program;
    std::vector<ParamSetting> settings;  // applied in order, after the program
    int block = 512;
    double tailSeconds = 0.0;
    std::optional<int> demoRate;  // only meaningful without an input file
    bool compensateLatency = true;  // drop the plug-in's delay so the output lines up with the input
    bool list = false;            // print parameters and programs, render nothing
    bool quiet = false;           // no progress bar
    bool help = false;
};

// Bad command-line usage; the message is one line.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

inline constexpr int kMaxBlock = 65536;
inline constexpr double kMaxTailSeconds = 3600.0;
// The sample rates the plug-in runs at; it ignores any other and stays at its
// previous rate, so the tool refuses them (for --rate and for input files).
inline constexpr int kMinRate = 8000;
inline constexpr int kMaxRate = 1000000;
inline constexpr int kDemoRate = 48000;

// Parses the arguments after the program name. Throws UsageError.
Options parseArgs(std::span<const char* const> args);

std::string usageText(std::string_view program);

// "dir/take.wav" -> "dir/take-z5r.wav"; no input -> "z5r-demo.wav".
std::string defaultOutputPath(const std::string& input);

// Index of the name matching `wanted` case-insensitively, ignoring surrounding
// blanks on either side; nullopt when none matches.
std::optional<int> findByName(const std::vector<std::string>& names, std::string_view wanted);

}  // namespace z5r
