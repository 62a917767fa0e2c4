#include "jack/Options.h"

#include "engine/ParameterInfo.h"

#include <charconv>

namespace jackapp {
namespace {

std::string quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

bool isOurPort(std::string_view name)
{
    for (const char* port : kPortNames)
        if (name == port) return true;
    return false;
}

}  // namespace

ParseResult parseOptions(std::span<const char* const> args)
{
    ParseResult result;
    Options& o = result.options;
    auto fail = [&result](std::string message) {
        result.error = std::move(message);
        return result;
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i] ? args[i] : "";
        // "--name=value" and "--name value" mean the same.
        std::string_view name = arg;
        std::optional<std::string_view> attached;
        if (arg.starts_with("--"))
            if (const size_t eq = arg.find('='); eq != std::string_view::npos) {
                name = arg.substr(0, eq);
                attached = arg.substr(eq + 1);
            }
        const bool wantsValue = name == "--connect" || name == "--program" || name == "--set" || name == "--state";
        std::string_view value;
        if (wantsValue) {
            if (attached)
                value = *attached;
            else if (i + 1 < args.size() && args[i + 1])
                value = args[++i];
            else
                return fail(std::string(name) + " needs a value");
        } else if (attached) {
            return fail(std::string(name) + " takes no value");
        }

        if (name == "--help" || name == "-h") {
            o.help = true;
        } else if (name == "--no-gui") {
            o.gui = false;
        } else if (name == "--auto-connect") {
            o.autoConnect = true;
        } else if (name == "--connect") {
            // PORT=OTHER: one of ours, then the other client's full port name.
            const size_t eq = value.find('=');
            const std::string_view ours = eq == std::string_view::npos ? value : value.substr(0, eq);
            const std::string_view other = eq == std::string_view::npos ? "" : value.substr(eq + 1);
            if (eq == std::string_view::npos || !isOurPort(ours) || other.empty())
                return fail("--connect wants PORT=OTHER with PORT one of in_L, in_R, out_L, out_R, not " +
                            quoted(value));
            o.links.push_back({std::string(ours), std::string(other)});
        } else if (name == "--program") {
            int32_t program = -1;
            const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), program);
            if (value.empty() || error != std::errc{} || end != value.data() + value.size() || program < 0 ||
                program >= kNumPrograms)
                return fail("--program wants a number from 0 to " + std::to_string(kNumPrograms - 1) + ", not " +
                            quoted(value));
            o.program = program;
        } else if (name == "--set") {
            const size_t eq = value.find('=');
            if (eq == std::string_view::npos) return fail("--set wants NAME=VALUE, not " + quoted(value));
            const std::string_view parameter = value.substr(0, eq);
            const std::string_view text = value.substr(eq + 1);
            const int32_t index = findParameter(parameter);
            if (index < 0) return fail("--set: no parameter is called " + quoted(parameter));
            float normalized = 0.0f;
            if (!parseParameterText(index, text, normalized))
                return fail(std::string("--set: ") + quoted(text) + " is no value of " + kParameterInfo[index].name);
            o.settings.push_back({index, normalized});
        } else if (name == "--state") {
            if (value.empty()) return fail("--state wants a file name");
            o.statePath = value;
        } else {
            return fail("unknown option " + quoted(arg) + " (--help lists them)");
        }
    }
    if (o.autoConnect && !o.links.empty()) return fail("--auto-connect and --connect do not go together");
    return result;
}

std::string usageText(std::string_view program)
{
    std::string parameters;
    for (const ParameterInfo& info : kParameterInfo) {
        if (!parameters.empty()) parameters += ", ";
        parameters += info.shortName;
    }
    const std::string p(program);
    return "Usage: " + p + " [options]\n"
           "\n"
           "Korvane Z5R as a JACK client, with its panel in a window of its own: ports in_L,\n"
           "in_R (inputs) and out_L, out_R (outputs) of the client \"Korvane Z5R\".\n"
           "\n"
           "Options:\n"
           "  --no-gui               no window: play until SIGINT or SIGTERM\n"
           "  --auto-connect         the first physical capture port into both inputs, the\n"
           "                         first two physical playback ports from the outputs\n"
           "  --connect PORT=OTHER   connect our PORT (in_L, in_R, out_L, out_R) with\n"
           "                         another client's port OTHER; repeatable\n"
           "  --program N            switch to program N (0 to " +
           std::to_string(kNumPrograms - 1) +
           ") after restoring the state\n"
           "  --set NAME=VALUE       set a parameter in its own units, after --program:\n"
           "                         Gain=24, Level=-3dB, Triode=12AT7, Voltage=350V,\n"
           "                         Cap=1uF, Oversmpl=16, Normaliz=On; repeatable\n"
           "                         (parameters: " +
           parameters +
           ")\n"
           "  --state FILE           where the settings are kept (default:\n"
           "                         $XDG_CONFIG_HOME/korvane-z5r/state, or\n"
           "                         ~/.config/korvane-z5r/state)\n"
           "  --help                 this text\n"
           "\n"
           "The settings, the program and the program names are restored at start and saved\n"
           "at exit. Closing the window, SIGINT or SIGTERM end the program (status 0); the\n"
           "JACK server going away ends it with status 1, its settings saved; bad options\n"
           "end it with status 2.\n"
           "\n"
           "Example: jackd -d alsa & " +
           p + " --auto-connect --program 2\n";
}

}  // namespace jackapp
