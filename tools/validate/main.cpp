// z5r-validate: loads a VST 2.4 effect library, a VST3 bundle or a CLAP file
// through its exported entry point, as a host does, and runs groups of
// host-grade checks on it: the same groups for every format (Formats.h),
// and each format's own.
#include "Display.h"
#include "Harness.h"
#include "Host.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#if !defined(_WIN32)
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace validate;

namespace {

void usage(FILE* to)
{
    std::fprintf(to,
                 "usage: z5r-validate [options] PLUGIN\n"
                 "Loads a VST 2.4 effect (.so or .dll), a VST3 bundle (.vst3) or a CLAP file (.clap) through its\n"
                 "entry point and checks it as a host would: the groups for every format, and each format's own.\n"
                 "  -g, --group LIST      run only these groups (comma-separated; see --list)\n"
                 "      --list            list the groups and exit\n"
                 "  -t, --test TEXT       run only the tests whose names contain TEXT (repeatable);\n"
                 "                        loading and a group's set-up always run\n"
                 "      --quick           shorter grids and fewer repetitions (sanitizer runs)\n"
                 "      --seed N          random seed (default 1)\n"
                 "      --no-isolate      run every group in this process (default on Linux: one child process per group)\n"
                 "      --timeout S       seconds a group may take when isolated (default 900)\n"
                 "      --bound X         largest output magnitude accepted (default: none, the peak is reported)\n"
                 "      --tolerance X     instances together vs alone, largest difference (default 1e-15); with 0,\n"
                 "                        two runs alone must also agree bit for bit\n"
                 "      --recovery-ms X   bad input: longest time until the output is back (default: none; the\n"
                 "                        output must stay finite and decay, and the time is reported)\n"
                 "      --block-time-limit F  timing group: the judged block time must stay under F times the\n"
                 "                        block's duration (default: none, the figures are reported)\n"
                 "      --wild-parameters also set parameters to values no host sends (NaN, infinite, -5, 1e30)\n"
                 "      --known-failure T a known, reported fault: test T's failure prints KNOWN and counts as\n"
                 "                        skipped (repeatable)\n"
                 "  -v, --verbose         print each test's name before it runs\n"
                 "  -h, --help\n"
                 "Prints one line per test and ends with 'N passed, N failed, N skipped';\n"
                 "exits 1 when a test failed, 2 on a usage error.\n");
}

bool parse(int argc, char** argv, Options& options, bool& list)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "z5r-validate: %s needs a value\n", arg.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        if (arg == "-g" || arg == "--group") {
            std::string groups = value();
            size_t start = 0;
            while (start <= groups.size()) {
                const size_t comma = groups.find(',', start);
                const std::string name = groups.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
                if (!name.empty()) options.groups.push_back(name);
                if (comma == std::string::npos) break;
                start = comma + 1;
            }
        } else if (arg == "-t" || arg == "--test") {
            options.testFilters.push_back(value());
        } else if (arg == "--known-failure") {
            options.knownFailures.push_back(value());
        } else if (arg == "--list") {
            list = true;
        } else if (arg == "--quick") {
            options.quick = true;
        } else if (arg == "--seed") {
            options.seed = std::strtoull(value(), nullptr, 0);
        } else if (arg == "--no-isolate") {
            options.isolate = false;
        } else if (arg == "--timeout") {
            options.timeoutSeconds = std::atoi(value());
        } else if (arg == "--bound") {
            options.bound = std::atof(value());
        } else if (arg == "--tolerance") {
            options.instanceTolerance = std::atof(value());
        } else if (arg == "--recovery-ms") {
            options.recoveryMs = std::atof(value());
        } else if (arg == "--wild-parameters") {
            options.wildParameters = true;
        } else if (arg == "--block-time-limit") {
            options.blockTimeLimit = std::atof(value());
        } else if (arg == "-v" || arg == "--verbose") {
            options.verbose = true;
        } else if (arg == "-h" || arg == "--help") {
            usage(stdout);
            std::exit(0);
        } else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "z5r-validate: unknown option %s\n", arg.c_str());
            return false;
        } else if (options.plugin.empty()) {
            options.plugin = arg;
        } else {
            std::fprintf(stderr, "z5r-validate: one plug-in at a time\n");
            return false;
        }
    }
    return true;
}

#if !defined(_WIN32)
// Runs one group in a child process, so that a crash or a hang of the
// plug-in is reported as the failure of the test it happened in and the
// other tests still run. The child reports each test's start and result
// (and, on a crash, the call it crashed in) through a pipe. After a crash
// in a test, a new child goes on with the tests after it.
// Returns false when the group could not be isolated.
bool runChild(Runner& runner, const Group& group, const std::string& resumeAfter, std::string& crashedIn)
{
    crashedIn.clear();
    int fds[2];
    if (pipe(fds) != 0) return false;
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t child = fork();
    if (child < 0) {
        close(fds[0]);
        close(fds[1]);
        return false;
    }
    if (child == 0) {
        close(fds[0]);
        Runner own(runner.options);
        own.rng = runner.rng;
        own.resultFd = fds[1];
        own.resumeAfter = resumeAfter;
        installCrashReporter(fds[1]);
        alarm(static_cast<unsigned>(runner.options.timeoutSeconds));
        group.run(own);
        std::fflush(stdout);
        // exit, not _exit: a leak checker that runs at exit reports through the status.
        std::exit(0);
    }
    close(fds[1]);
    std::string current;
    std::string crashActivity;
    bool open = false;
    std::string pending;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fds[0], buffer, sizeof(buffer));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        pending.append(buffer, static_cast<size_t>(n));
        size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            const std::string record = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (record.size() > 2 && record[0] == 'B') {
                current = record.substr(2);
                open = true;
            } else if (record.size() > 2 && record[0] == 'C') {
                crashActivity = record.substr(2);
            } else if (record == "P") {
                ++runner.passed;
                open = false;
            } else if (record == "F") {
                ++runner.failed;
                open = false;
            } else if (record == "S") {
                ++runner.skipped;
                open = false;
            }
        }
    }
    close(fds[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    std::string what;
    if (WIFSIGNALED(status)) {
        const int sig = WTERMSIG(status);
        what = sig == SIGALRM ? format("timed out after %d s", runner.options.timeoutSeconds)
                              : format("crashed (signal %d, %s)", sig, strsignal(sig));
    } else if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
        what = format("the process exited with status %d (the plug-in or a library it uses ended the process, or a "
                      "sanitizer report)", WEXITSTATUS(status));
    }
    if (what.empty()) return true;
    if (!crashActivity.empty()) what += ", in " + crashActivity;
    const std::string name = open ? current : std::string(group.name) + ".process";
    std::printf("FAIL  %s: %s\n", name.c_str(), what.c_str());
    std::fflush(stdout);
    ++runner.failed;
    // A crash inside a test: the tests after it still get their turn.
    if (open && WIFSIGNALED(status) && WTERMSIG(status) != SIGALRM) crashedIn = current;
    return true;
}

void runIsolated(Runner& runner, const Group& group)
{
    std::string resumeAfter;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        std::string crashedIn;
        if (!runChild(runner, group, resumeAfter, crashedIn)) {
            runner.resumeAfter = resumeAfter;
            group.run(runner);
            return;
        }
        if (crashedIn.empty()) return;
        resumeAfter = crashedIn;
    }
}
#endif

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    bool list = false;
    if (!parse(argc, argv, options, list)) {
        usage(stderr);
        return 2;
    }
    if (list) {
        for (const Group& group : allGroups()) std::printf("%-12s %s\n", group.name, group.summary);
        return 0;
    }
    if (options.plugin.empty()) {
        usage(stderr);
        return 2;
    }
    for (const std::string& name : options.groups) {
        bool known = false;
        for (const Group& group : allGroups()) known = known || name == group.name;
        if (!known) {
            std::fprintf(stderr, "z5r-validate: no group named %s (see --list)\n", name.c_str());
            return 2;
        }
    }

    holdDisplayOpen();
    const Format format = formatOfPath(options.plugin);
    const unsigned formatBit = format == Format::vst3 ? kVst3 : format == Format::clap ? kClap : kVst2;
    std::printf("z5r-validate: %s (%s), seed %llu%s\n", options.plugin.c_str(), formatName(format),
                static_cast<unsigned long long>(options.seed), options.quick ? ", quick" : "");
    std::fflush(stdout);
    Runner runner(options);
    {
        // The library must load at all before any group can run.
        std::string error;
        bool loaded = false;
        runner.setup("load.entry-point", [&](Check& check) {
            auto module = Module::load(options.plugin, error);
            check.require(module != nullptr, "%s", error.c_str());
            check.note("%s", module->entryName.c_str());
            loaded = true;
        });
        if (!loaded) {
            std::printf("%d passed, %d failed, %d skipped\n", runner.passed, runner.failed, runner.skipped);
            return 1;
        }
    }
    uint64_t groupIndex = 0;
    for (const Group& group : allGroups()) {
        // Each group draws from its own sequence, the same however groups are chosen.
        runner.rng = Rng(options.seed * 0x100000001B3ull + ++groupIndex);
        if (!options.groups.empty()) {
            bool chosen = false;
            for (const std::string& name : options.groups) chosen = chosen || name == group.name;
            if (!chosen) continue;
        }
        if (!(group.formats & formatBit)) {
            // Another format's own group: left out, unless asked for by name.
            if (!options.groups.empty())
                runner.skip(std::string(group.name) + ".all", std::string("not a group for ") + formatName(format));
            continue;
        }
#if defined(_WIN32)
        group.run(runner);
#else
        if (options.isolate)
            runIsolated(runner, group);
        else
            group.run(runner);
#endif
    }
    std::printf("%d passed, %d failed, %d skipped\n", runner.passed, runner.failed, runner.skipped);
    return runner.failed ? 1 : 0;
}
