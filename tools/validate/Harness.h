// The validator's test runner: named tests grouped by topic, one result line
// per test ("PASS name  (note)", "FAIL name: problems", "SKIP name: reason"),
// a closing "N passed, N failed, N skipped" line, options and a seeded
// random source.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

// printf-style checking; MinGW's C99 printf (see CMakeLists.txt) is the GNU kind.
#if defined(__MINGW32__)
#define VALIDATE_PRINTF(f, a) __attribute__((format(gnu_printf, f, a)))
#else
#define VALIDATE_PRINTF(f, a) __attribute__((format(printf, f, a)))
#endif

namespace validate {

struct Options {
    std::string plugin;               // path of the library under test
    std::vector<std::string> groups;  // empty: every group
    bool quick = false;               // shorter grids (sanitizer runs)
    uint64_t seed = 1;
    bool isolate = true;              // each group in its own process where the system can fork
    int timeoutSeconds = 900;         // per group, when isolated
    // Largest output magnitude accepted. None by default: a plug-in set to
    // +48 dB of gain rightly gives a loud output, so the peak is reported
    // instead; a plug-in's own tests can hold it to its own figure.
    double bound = std::numeric_limits<double>::infinity();
    double instanceTolerance = 1e-15; // instances together vs alone
    // Bad input: longest time until the output is back to normal. None by
    // default: reverbs and slow compressors legitimately take seconds, so
    // what is required is a finite, decaying output, and the time is reported.
    double recoveryMs = 0.0;
    // Real-time timing: the judged block time (see the timing group) as a
    // fraction of the block's duration; 0 reports the figures only.
    double blockTimeLimit = 0.0;
    // Parameter values beyond any a host sends (NaN, infinities, -5, 1e30)
    // in the parameter and real-time groups. Off by default: hosts send 0
    // to 1, give or take an automation curve's overshoot of a float's step,
    // so only those edges are tried; a plug-in's own tests can ask for more.
    bool wildParameters = false;
    // Only the tests whose names contain one of these (empty: all).
    std::vector<std::string> testFilters;
    bool verbose = false;
    // Tests whose failure is a known, reported fault: printed as KNOWN and
    // counted as skipped, so that the run can stay green until it is fixed.
    std::vector<std::string> knownFailures;
};

// 64-bit generator (splitmix64): the same sequence on every system.
class Rng {
public:
    explicit Rng(uint64_t seed) : state(seed) {}
    uint64_t next()
    {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in [0, n).
    uint32_t below(uint32_t n) { return n ? static_cast<uint32_t>(next() % n) : 0; }
    // Uniform in [lo, hi].
    int32_t range(int32_t lo, int32_t hi)
    {
        return lo + static_cast<int32_t>(next() % (static_cast<uint64_t>(static_cast<int64_t>(hi) - lo) + 1));
    }
    // Uniform in [0, 1).
    double unit() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }
    bool chance(double p) { return unit() < p; }

private:
    uint64_t state;
};

// Thrown by Check::skip and Check::require to end a test early.
struct TestSkipped {
    std::string reason;
};
struct TestAborted {};

// What one test found. A test fails when it recorded any problem.
class Check {
public:
    // Records a problem when `ok` is false; returns `ok`.
    bool expect(bool ok, const char* format, ...) VALIDATE_PRINTF(3, 4);
    // As expect, and ends the test when `ok` is false.
    void require(bool ok, const char* format, ...) VALIDATE_PRINTF(3, 4);
    [[noreturn]] void skip(const std::string& reason) { throw TestSkipped{reason}; }
    // Adds to the note printed after a passing test.
    void note(const char* format, ...) VALIDATE_PRINTF(2, 3);

    bool failed() const { return problemCount > 0; }
    std::string summary() const;
    const std::string& noteText() const { return notes; }

private:
    std::vector<std::string> problems;  // the first few, verbatim
    int problemCount = 0;
    std::string notes;
    void record(const char* format, va_list args);
};

std::string format(const char* format, ...) VALIDATE_PRINTF(1, 2);

class Runner {
public:
    explicit Runner(const Options& options) : options(options), rng(options.seed) {}

    const Options& options;
    Rng rng;

    // Runs one test and prints its line.
    void run(const std::string& name, const std::function<void(Check&)>& body);
    // Runs a test whose work the tests after it need: loading the library,
    // a group's set-up. A test filter never leaves it out; after a crash,
    // the resumed run does its work again without printing it twice.
    void setup(const std::string& name, const std::function<void(Check&)>& body);
    void skip(const std::string& name, const std::string& reason);

    int passed = 0;
    int failed = 0;
    int skipped = 0;

    // Where results go besides stdout: the parent of an isolated group
    // reads them from this descriptor (-1: none).
    int resultFd = -1;
    // When set, tests are passed over silently up to and including this
    // one: how a group goes on after a test that crashed its process.
    std::string resumeAfter;

private:
    void report(char kind, const std::string& line);
    void begin(const std::string& name);
    bool passOver(const std::string& name);
    void execute(const std::string& name, const std::function<void(Check&)>& body);
};

// A named group of tests, and the formats it applies to.
enum : unsigned { kVst2 = 1, kVst3 = 2, kClap = 4, kAllFormats = 7 };
struct Group {
    const char* name;
    const char* summary;
    void (*run)(Runner&);
    unsigned formats = kAllFormats;
};

const std::vector<Group>& allGroups();

// What the plug-in is being asked to do right now, for the report when it
// crashes (kept in a fixed buffer; printed by the crash handler).
void setActivity(const char* format, ...) VALIDATE_PRINTF(1, 2);
// In a child process of an isolated group: on a fatal signal, send the
// activity to the parent through `fd`, then die of the signal.
void installCrashReporter(int fd);

}  // namespace validate
