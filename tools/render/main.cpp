// z5r-render: renders audio through the Korvane Z5R plug-in from the command line.
#include "args.h"
#include "demo.h"
#include "host.h"
#include "levels.h"
#include "output.h"
#include "stop.h"
#include "wavio.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace z5r {
namespace {

constexpr const char* kProgram = "z5r-render";
constexpr const char* kPluginFile = "KorvaneZ5R.so";

// Started with standard input, output or error closed, the tool would hand
// that descriptor number to the next file it opens, the temporary output say,
// and the report would be printed into the audio. Each closed one is taken by
// /dev/null opened read-only, so writes to it fail as they would have.
void takeClosedStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd)
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF)
            ::open("/dev/null", O_RDONLY);  // the lowest free descriptor: this one
}

// Where the report goes: standard output, unless the audio goes there.
std::FILE* gReport = stdout;

// What a stop signal leaves behind, for its message.
const char* gStopLeaves = "no output written";

// The output is complete and in place: the render finishes and reports
// success whatever signal arrives now.
bool gCommitted = false;

std::string defaultPluginPath(const char* argv0) {
    std::error_code ec;
    auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) self = argv0;
    return (self.parent_path() / kPluginFile).string();
}

std::string formatDb(double db) {
    if (std::isinf(db)) return "-inf";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f", db);
    return buf;
}

// A one-line bar on stderr, drawn only when stderr is a terminal.
class Progress {
public:
    Progress(std::int64_t total, int rate, bool enabled) : total_(total), rate_(rate), enabled_(enabled) {}

    void update(std::int64_t done) {
        if (!enabled_ || total_ <= 0) return;
        const int percent = static_cast<int>(std::min<std::int64_t>(100, done * 100 / total_));
        if (percent == shown_) return;
        shown_ = percent;
        constexpr int width = 40;
        char bar[width + 1];
        const int filled = percent * width / 100;
        for (int i = 0; i < width; ++i) bar[i] = i < filled ? '#' : '-';
        bar[width] = '\0';
        std::fprintf(stderr, "\r[%s] %3d%%  %.1f / %.1f s", bar, percent, static_cast<double>(done) / rate_,
                     static_cast<double>(total_) / rate_);
        std::fflush(stderr);
    }

    void finish() {
        if (enabled_ && shown_ >= 0) std::fputs("\r\033[K", stderr);
        shown_ = -1;
    }

private:
    std::int64_t total_;
    int rate_;
    bool enabled_;
    int shown_ = -1;
};

void printSettings(const Plugin& plugin) {
    std::fprintf(gReport, "program    %d \"%s\"\n", plugin.program(), plugin.programName().c_str());
    std::vector<std::string> names;
    std::size_t width = 0;
    for (int i = 0; i < plugin.numParams(); ++i) {
        names.push_back(plugin.paramName(i));
        width = std::max(width, names.back().size());
    }
    for (int i = 0; i < plugin.numParams(); ++i) {
        auto label = plugin.paramLabel(i);
        std::fprintf(gReport, "  %-*s = %s%s%s\n", static_cast<int>(width), names[static_cast<std::size_t>(i)].c_str(),
                     plugin.paramDisplay(i).c_str(), label.empty() ? "" : " ", label.c_str());
    }
}

void printLatency(int latency, int rate, const std::string& note = {}) {
    std::fprintf(gReport, "latency    %d samples (%.2f ms)%s\n", latency, 1000.0 * latency / rate, note.c_str());
}

std::vector<std::string> paramNames(const Plugin& plugin) {
    std::vector<std::string> names;
    for (int i = 0; i < plugin.numParams(); ++i) names.push_back(plugin.paramName(i));
    return names;
}

std::string joined(const std::vector<std::string>& items) {
    std::string s;
    for (const auto& item : items) s += (s.empty() ? "" : ", ") + item;
    return s;
}

// Applies --program and the --set values, refusing anything the plug-in does not have.
void applySettings(Plugin& plugin, const Options& opts) {
    if (opts.program) {
        if (plugin.numPrograms() <= 0) throw UsageError("the plug-in has no programs to choose from");
        if (*opts.program >= plugin.numPrograms())
            throw UsageError("program " + std::to_string(*opts.program) + " does not exist; the plug-in has 0 to " +
                             std::to_string(plugin.numPrograms() - 1));
        plugin.setProgram(*opts.program);
    }
    const auto names = paramNames(plugin);
    for (const auto& s : opts.settings) {
        const auto index = findByName(names, s.name);
        if (!index) throw UsageError("unknown parameter '" + s.name + "'; the plug-in has " + joined(names));
        plugin.setParam(*index, s.value);
    }
}

// Processes one frame of silence so the plug-in applies its parameters, then
// lists what it reports. Nothing is rendered, so programs may be switched to read their names.
void listPlugin(Plugin& plugin, int rate) {
    plugin.start(rate, 1);
    std::vector<float> buffers(static_cast<std::size_t>(std::max(plugin.numInputs(), 0) + plugin.numOutputs()), 0.0f);
    std::vector<float*> ptrs;
    for (auto& v : buffers) ptrs.push_back(&v);
    plugin.process(ptrs.data(), ptrs.data() + std::max(plugin.numInputs(), 0), 1);
    printSettings(plugin);
    printLatency(plugin.latency(), rate);
    std::fprintf(gReport, "programs\n");
    const int current = plugin.program();
    for (int i = 0; i < plugin.numPrograms(); ++i) {
        auto name = plugin.programName(i);
        if (name.empty()) {  // no indexed names: switch to the program and ask
            plugin.setProgram(i);
            name = plugin.programName();
        }
        std::fprintf(gReport, "  %d  %s\n", i, name.c_str());
    }
    plugin.setProgram(current);
}

struct Levels {
    Level in[2];
    Level out[2];
};

void printLevels(const Levels& levels) {
    std::fprintf(gReport, "levels     peak dBFS   RMS dBFS\n");
    const char* side[2] = {"L", "R"};
    for (int io = 0; io < 2; ++io)
        for (int ch = 0; ch < 2; ++ch) {
            const Level& l = io == 0 ? levels.in[ch] : levels.out[ch];
            std::fprintf(gReport, "  %-3s %s  %9s  %9s\n", io == 0 ? "in" : "out", side[ch],
                         formatDb(l.peakDbfs()).c_str(), formatDb(l.rmsDbfs()).c_str());
        }
    const auto bad = levels.out[0].nonFinite + levels.out[1].nonFinite;
    if (bad > 0)
        std::fprintf(gReport, "warning    the plug-in produced %llu non-finite samples\n",
                     static_cast<unsigned long long>(bad));
}

// Feeds the source, then `tailFrames` of silence, through the running plug-in
// block by block into the writer. Nothing is allocated once the loop runs.
//
// With `compensateLatency`, as a DAW does, the latency the plug-in reports
// after its first block is rendered on as further silence at the end, and as
// many frames are dropped from the start of the output: the file written then
// has the input's length plus the tail and lines up with the input.
Levels renderAll(Plugin& plugin, Source& source, std::int64_t tailFrames, bool compensateLatency, WavWriter& writer,
                 Progress& progress, std::size_t block) {
    const int numInputs = std::max(plugin.numInputs(), 0);
    const int numOutputs = plugin.numOutputs();
    std::vector<float> inL(block), inR(block), silence(block, 0.0f);
    std::vector<std::vector<float>> outBuffers(static_cast<std::size_t>(numOutputs), std::vector<float>(block));
    std::vector<float*> inPtrs, outPtrs;
    for (int i = 0; i < numInputs; ++i) inPtrs.push_back(i == 0 ? inL.data() : i == 1 ? inR.data() : silence.data());
    for (auto& b : outBuffers) outPtrs.push_back(b.data());
    const float* outL = outPtrs[0];
    const float* outR = outPtrs[numOutputs > 1 ? 1 : 0];

    Levels levels;
    bool first = true;
    std::int64_t written = 0;
    std::int64_t silenceLeft = tailFrames;  // to feed once the source has ended
    std::int64_t dropLeft = 0;              // output frames still to drop
    bool sourceEnded = false;
    for (;;) {
        if (stopSignal() != 0) {
            progress.finish();
            throwIfStopped();
        }
        std::size_t fromSource = 0;
        while (!sourceEnded && fromSource < block) {
            const std::size_t got = source.read(inL.data() + fromSource, inR.data() + fromSource, block - fromSource);
            sourceEnded = got == 0;
            fromSource += got;
        }
        std::size_t n = fromSource;
        if (n < block && silenceLeft > 0) {
            const auto pad = static_cast<std::size_t>(std::min(silenceLeft, static_cast<std::int64_t>(block - n)));
            std::fill_n(inL.begin() + static_cast<std::ptrdiff_t>(n), pad, 0.0f);
            std::fill_n(inR.begin() + static_cast<std::ptrdiff_t>(n), pad, 0.0f);
            n += pad;
            silenceLeft -= static_cast<std::int64_t>(pad);
        }
        if (n == 0) return levels;

        // The input levels are those of the input alone, without the silence after it.
        levels.in[0].add(inL.data(), fromSource);
        levels.in[1].add(inR.data(), fromSource);
        plugin.process(inPtrs.data(), outPtrs.data(), static_cast<int>(n));

        if (first) {
            // Only now has the plug-in applied its parameters and set its latency.
            first = false;
            const int latency = plugin.latency();
            const auto samples = std::to_string(latency) + (latency == 1 ? " sample" : " samples");
            std::string note;
            if (latency < 0) {
                note = ", not a valid latency: left alone";
            } else if (latency > 0 && !compensateLatency) {
                note = ", not compensated: the output is " + samples + " late";
            } else if (latency > 0) {
                note = ", compensated: the output is moved " + samples + " earlier to line up with the input";
                silenceLeft += latency;
                dropLeft = latency;
            }
            printSettings(plugin);
            printLatency(latency, source.rate(), note);
            std::fflush(gReport);
        }

        const auto drop = static_cast<std::size_t>(std::min(dropLeft, static_cast<std::int64_t>(n)));
        dropLeft -= static_cast<std::int64_t>(drop);
        const std::size_t keep = n - drop;
        levels.out[0].add(outL + drop, keep);
        levels.out[1].add(outR + drop, keep);
        writer.write(outL + drop, outR + drop, keep);
        written += static_cast<std::int64_t>(keep);
        progress.update(written);
    }
}

int run(int argc, char** argv) {
    const Options opts = parseArgs(std::span<const char* const>(argv + 1, static_cast<std::size_t>(argc - 1)));
    if (opts.help) {
        std::fputs(usageText(kProgram).c_str(), stdout);
        return 0;
    }

    const auto block = static_cast<std::size_t>(opts.block);
    std::unique_ptr<Source> source;
    if (opts.input.empty())
        source = std::make_unique<SignalSource>(makeDemoSignal(opts.demoRate.value_or(kDemoRate)),
                                                "built-in plucked-string riff");
    else
        source = std::make_unique<WavReader>(opts.input, block);
    const int rate = source->rate();
    // Outside these rates the plug-in would quietly keep running at another one.
    if (rate < kMinRate || rate > kMaxRate)
        throw FileError((opts.input.empty() ? std::string("the demo") : opts.input) + " has a sample rate of " +
                        std::to_string(rate) + " Hz; the plug-in runs at " + std::to_string(kMinRate) + " to " +
                        std::to_string(kMaxRate) + " Hz only");

    std::optional<OutputTarget> target;
    if (!opts.list) {
        target = resolveOutput(opts.output.empty() ? defaultOutputPath(opts.input) : opts.output);
        if (!opts.input.empty() && writesInto(*target, opts.input))
            throw FileError("refusing to overwrite the input file " + opts.input + " (output names the same file)");
        if (target->standardOutput) gReport = stderr;
    }
    const std::int64_t tailFrames = std::llround(opts.tailSeconds * rate);
    const std::int64_t total = source->frames() + tailFrames;
    if (!opts.list && total <= 0) throw FileError("nothing to render: " + opts.input + " has no audio frames");

    const std::string pluginPath = opts.plugin.empty() ? defaultPluginPath(argv[0]) : opts.plugin;
    auto plugin = Plugin::load(pluginPath);
    applySettings(*plugin, opts);

    std::fprintf(gReport, "plug-in    %s (%s)  %s\n", plugin->effectName().c_str(), plugin->vendor().c_str(),
                 pluginPath.c_str());
    if (opts.list) {
        listPlugin(*plugin, rate);
        return 0;
    }

    std::fprintf(gReport, "input      %s, %d Hz, %s, %.2f s\n", source->describe().c_str(), rate,
                 source->channels() == 1 ? "mono" : "stereo", static_cast<double>(source->frames()) / rate);
    const bool rf64 = containerFor(total) == Container::Rf64;
    std::fprintf(gReport, "output     %s%s, 32-bit float %s, stereo, %.2f s\n", target->name.c_str(),
                 target->standardOutput ? " (standard output)" : "", rf64 ? "RF64 (a WAV over 4 GiB)" : "WAV",
                 static_cast<double>(total) / rate);
    std::fflush(gReport);

    WavWriter writer(*target, rate, total, block);
    if (target->kind == OutputTarget::Kind::Stream) gStopLeaves = "the output stream is incomplete";
    Progress progress(total, rate, !opts.quiet && ::isatty(STDERR_FILENO) != 0);

    const auto started = std::chrono::steady_clock::now();
    plugin->start(rate, opts.block);
    const Levels levels = renderAll(*plugin, *source, tailFrames, opts.compensateLatency, writer, progress, block);
    plugin->stop();
    progress.finish();
    // One or the other: a stop signal before this point keeps the old file
    // (or none) and ends the render by that signal; one after it is held
    // back, and the new file is put in place and reported.
    holdStopSignals();
    throwIfStopped();
    writer.commit();
    gCommitted = true;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    printLevels(levels);
    const double audioSeconds = static_cast<double>(levels.out[0].samples) / rate;
    std::fprintf(gReport, "rendered   %.2f s of audio in %.2f s (%.1fx real time)\n", audioSeconds, seconds,
                 seconds > 0.0 ? audioSeconds / seconds : 0.0);
    return 0;
}

// Error messages are one line: whatever the plug-in or a library says is joined up.
std::string oneLine(std::string s) {
    std::ranges::replace(s, '\n', ' ');
    std::ranges::replace(s, '\r', ' ');
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

}  // namespace
}  // namespace z5r

int main(int argc, char** argv) {
    using namespace z5r;
    takeClosedStandardDescriptors();
    catchStopSignals();
    int status = 0;
    std::string error;
    try {
        status = run(argc, argv);
    } catch (const UsageError& e) {
        error = oneLine(e.what()) + " (see --help)";
        status = 2;
    } catch (const std::exception& e) {
        error = oneLine(e.what());
        status = 1;
    }
    std::fflush(stdout);
    // A stop signal ends the process by that signal, as its sender expects,
    // whatever failed on the way out because of it (a write to a closed pipe).
    // Everything is cleaned up by now: the temporary file is gone.
    if (const int sig = stopSignal(); sig != 0 && !gCommitted) {
        if (status != 0) std::fprintf(stderr, "%s: stopped by %s; %s\n", kProgram, signalName(sig), gStopLeaves);
        endBySignal(sig);
        return 128 + sig;
    }
    if (!error.empty()) std::fprintf(stderr, "%s: %s\n", kProgram, error.c_str());
    return status;
}
