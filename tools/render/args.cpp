#include "args.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <filesystem>

namespace z5r {
namespace {

std::string_view trim(std::string_view s) {
    const auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

template <typename T>
std::optional<T> parseNumber(std::string_view text) {
    T v{};
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, v);
    if (text.empty() || ec != std::errc{} || ptr != end) return std::nullopt;
    return v;
}

int parseInt(std::string_view option, std::string_view text, int lo, int hi) {
    auto v = parseNumber<int>(text);
    if (!v || *v < lo || *v > hi)
        throw UsageError(std::string(option) + " wants a whole number from " + std::to_string(lo) + " to " +
                         std::to_string(hi) + ", not '" + std::string(text) + "'");
    return *v;
}

ParamSetting parseSetting(std::string_view text) {
    const auto eq = text.find('=');
    if (eq == std::string_view::npos)
        throw UsageError("--set wants NAME=VALUE, not '" + std::string(text) + "'");
    const auto name = trim(text.substr(0, eq));
    const auto valueText = trim(text.substr(eq + 1));
    if (name.empty()) throw UsageError("--set '" + std::string(text) + "' names no parameter");
    const auto v = parseNumber<double>(valueText);
    // The negated comparison also rejects NaN.
    if (!v || !(*v >= 0.0 && *v <= 1.0))
        throw UsageError("value of " + std::string(name) + " must be a number from 0 to 1, not '" +
                         std::string(valueText) + "'");
    return {std::string(name), static_cast<float>(*v)};
}

}  // namespace

Options parseArgs(std::span<const char* const> args) {
    Options o;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view arg = args[i];

        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            if (!o.input.empty())
                throw UsageError("more than one input file given ('" + o.input + "', '" + std::string(arg) + "')");
            if (arg.empty()) throw UsageError("empty input file name");
            o.input = arg;
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }

        // "--name=value" and "--name value" are both accepted.
        std::string_view name = arg;
        std::optional<std::string_view> inlineValue;
        if (arg.starts_with("--")) {
            if (auto eq = arg.find('='); eq != std::string_view::npos) {
                name = arg.substr(0, eq);
                inlineValue = arg.substr(eq + 1);
            }
        }
        auto value = [&]() -> std::string_view {
            if (inlineValue) return *inlineValue;
            if (i + 1 >= args.size()) throw UsageError(std::string(name) + " needs a value");
            return args[++i];
        };
        auto noValue = [&] {
            if (inlineValue) throw UsageError(std::string(name) + " takes no value");
        };

        if (name == "-h" || name == "--help") {
            noValue();
            o.help = true;
        } else if (name == "-o" || name == "--output") {
            o.output = value();
            if (o.output.empty()) throw UsageError("empty output file name");
        } else if (name == "--plugin") {
            o.plugin = value();
            if (o.plugin.empty()) throw UsageError("empty plug-in path");
        } else if (name == "--program") {
            o.program = parseInt(name, value(), 0, 9999);
        } else if (name == "--set") {
            o.settings.push_back(parseSetting(value()));
        } else if (name == "--block") {
            o.block = parseInt(name, value(), 1, kMaxBlock);
        } else if (name == "--tail") {
            const auto text = value();
            const auto v = parseNumber<double>(text);
            if (!v || !(*v >= 0.0 && *v <= kMaxTailSeconds))
                throw UsageError("--tail wants seconds from 0 to " + std::to_string(int(kMaxTailSeconds)) +
                                 ", not '" + std::string(text) + "'");
            o.tailSeconds = *v;
        } else if (name == "--rate") {
            o.demoRate = parseInt(name, value(), kMinRate, kMaxRate);
        } else if (name == "--no-latency-compensation") {
            noValue();
            o.compensateLatency = false;
        } else if (name == "--list") {
            noValue();
            o.list = true;
        } else if (name == "-q" || name == "--quiet") {
            noValue();
            o.quiet = true;
        } else {
            throw UsageError("unknown option '" + std::string(arg) + "'");
        }
    }
    if (o.demoRate && !o.input.empty())
        throw UsageError("--rate chooses the demo signal's rate; an input file is rendered at its own rate");
    return o;
}

std::string usageText(std::string_view program) {
    std::string p(program);
    return "Usage: " + p + " [options] [INPUT.wav]\n"
           "\n"
           "Renders a WAV file (mono or stereo, 8 kHz to 1 MHz) through the Korvane Z5R plug-in\n"
           "and writes a stereo 32-bit float WAV, as long as the input and lined up with it.\n"
           "Without INPUT it renders a built-in plucked-string riff. INPUT may be any format\n"
           "libsndfile reads (FLAC, AIFF, ...); a damaged or cut-short INPUT is an error.\n"
           "\n"
           "Options:\n"
           "  -o, --output PATH    output file (default: INPUT-z5r.wav, or z5r-demo.wav);\n"
           "                       - for standard output (the report then goes to stderr)\n"
           "      --plugin PATH    plug-in library (default: KorvaneZ5R.so beside this program)\n"
           "      --program N      load factory program N (0-based) before the --set values\n"
           "      --set NAME=V     set parameter NAME to normalized value V (0..1); repeatable;\n"
           "                       names as the plug-in reports them, any letter case\n"
           "      --block N        host block size in frames (default 512, 1.." +
           std::to_string(kMaxBlock) +
           ")\n"
           "      --tail SECONDS   append this much silence so the tail is rendered (default 0)\n"
           "      --rate HZ        sample rate of the demo signal (default " +
           std::to_string(kDemoRate) + ", " + std::to_string(kMinRate) + ".." + std::to_string(kMaxRate) +
           ")\n"
           "      --no-latency-compensation\n"
           "                       keep the plug-in's delay in the output (by default it is\n"
           "                       removed, so the output lines up with the input)\n"
           "      --list           print the parameters and programs, then quit\n"
           "  -q, --quiet          no progress bar\n"
           "  -h, --help           this text\n"
           "\n"
           "Output: a file is written under a temporary name beside it and takes its place\n"
           "only when complete, keeping the old file's permissions; a symbolic link is\n"
           "followed (the link stays). A read-only file, or the input itself, is refused.\n"
           "Standard output (never a terminal), FIFOs and character devices (/dev/null)\n"
           "are written to directly, as a stream: the WAV header comes first, sized from\n"
           "the length known before rendering, so a reader of a pipe gets a whole WAV\n"
           "without seeking; if the render fails there, what was sent stays sent and the\n"
           "exit status tells.\n"
           "An output over 4 GiB is written as RF64, the WAV form with 64-bit sizes.\n"
           "SIGINT, SIGTERM, SIGHUP and SIGPIPE stop the render, remove the unfinished\n"
           "file and end the program by that signal.\n"
           "\n"
           "Example: " +
           p + " --program 3 --set Gain=0.8 --set Level=0.5 -o out.wav guitar.wav\n";
}

std::string defaultOutputPath(const std::string& input) {
    if (input.empty()) return "z5r-demo.wav";
    std::filesystem::path p(input);
    auto name = p.stem().string() + "-z5r.wav";
    return (p.parent_path() / name).string();
}

std::optional<int> findByName(const std::vector<std::string>& names, std::string_view wanted) {
    wanted = trim(wanted);
    for (std::size_t i = 0; i < names.size(); ++i)
        if (equalsNoCase(trim(names[i]), wanted)) return static_cast<int>(i);
    return std::nullopt;
}

}  // namespace z5r
