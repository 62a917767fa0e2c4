#include "Harness.h"

#include <cstdio>
#include <exception>

#if !defined(_WIN32)
#include <signal.h>
#include <string.h>
#include <unistd.h>
#endif

namespace validate {

namespace {

constexpr size_t kProblemsShown = 4;

std::string vformat(const char* format, va_list args)
{
    char buffer[1024];
    std::vsnprintf(buffer, sizeof(buffer), format, args);
    return buffer;
}

}  // namespace

std::string format(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = vformat(format, args);
    va_end(args);
    return text;
}

namespace {
char activity[256] = "";

#if !defined(_WIN32)
int crashFd = -1;

void onFatalSignal(int sig)
{
    if (crashFd >= 0) {
        char record[300] = "C ";
        size_t n = 2;
        for (size_t i = 0; activity[i] && n < sizeof(record) - 2; ++i) record[n++] = activity[i];
        record[n++] = '\n';
        [[maybe_unused]] ssize_t w = write(crashFd, record, n);
    }
    signal(sig, SIG_DFL);
    raise(sig);
}
#endif
}  // namespace

void setActivity(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vsnprintf(activity, sizeof(activity), format, args);
    va_end(args);
}

void installCrashReporter(int fd)
{
#if !defined(_WIN32) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    // Sanitizers report crashes themselves, with more detail.
    crashFd = fd;
    for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) signal(sig, onFatalSignal);
#else
    (void)fd;
#endif
}

void Check::record(const char* format, va_list args)
{
    ++problemCount;
    if (problems.size() < kProblemsShown) problems.push_back(vformat(format, args));
}

bool Check::expect(bool ok, const char* format, ...)
{
    if (!ok) {
        va_list args;
        va_start(args, format);
        record(format, args);
        va_end(args);
    }
    return ok;
}

void Check::require(bool ok, const char* format, ...)
{
    if (ok) return;
    va_list args;
    va_start(args, format);
    record(format, args);
    va_end(args);
    throw TestAborted{};
}

void Check::note(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    if (!notes.empty()) notes += ", ";
    notes += vformat(format, args);
    va_end(args);
}

std::string Check::summary() const
{
    std::string text;
    for (const std::string& p : problems) {
        if (!text.empty()) text += "; ";
        text += p;
    }
    if (problemCount > static_cast<int>(problems.size()))
        text += format(" (+%d more)", problemCount - static_cast<int>(problems.size()));
    return text;
}

void Runner::begin(const std::string& name)
{
#if !defined(_WIN32)
    if (resultFd >= 0) {
        const std::string record = "B " + name + "\n";
        [[maybe_unused]] ssize_t n = write(resultFd, record.data(), record.size());
    }
#endif
    if (options.verbose) {
        std::printf("....  %s\n", name.c_str());
        std::fflush(stdout);
    }
}

void Runner::report(char kind, const std::string& line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    if (kind == 'P') ++passed;
    if (kind == 'F') ++failed;
    if (kind == 'S') ++skipped;
#if !defined(_WIN32)
    if (resultFd >= 0) {
        const char record[2] = {kind, '\n'};
        [[maybe_unused]] ssize_t n = write(resultFd, record, 2);
    }
#endif
}

bool Runner::passOver(const std::string& name)
{
    if (!options.testFilters.empty()) {
        bool wanted = false;
        for (const std::string& part : options.testFilters) wanted = wanted || name.find(part) != std::string::npos;
        if (!wanted) return true;
    }
    if (resumeAfter.empty()) return false;
    if (name == resumeAfter) resumeAfter.clear();
    return true;
}

void Runner::run(const std::string& name, const std::function<void(Check&)>& body)
{
    if (!passOver(name)) execute(name, body);
}

void Runner::setup(const std::string& name, const std::function<void(Check&)>& body)
{
    if (resumeAfter.empty()) {
        execute(name, body);
        return;
    }
    if (name == resumeAfter) {
        // It crashed itself: not again.
        resumeAfter.clear();
        return;
    }
    Check check;
    try {
        body(check);
    } catch (...) {
        // Its failure was reported the first time.
    }
}

void Runner::execute(const std::string& name, const std::function<void(Check&)>& body)
{
    begin(name);
    setActivity("%s", "");
    Check check;
    try {
        body(check);
    } catch (const TestSkipped& skipped) {
        report('S', "SKIP  " + name + ": " + skipped.reason);
        return;
    } catch (const TestAborted&) {
        // The problem is recorded.
    } catch (const std::exception& e) {
        check.expect(false, "exception: %s", e.what());
    } catch (...) {
        check.expect(false, "unknown exception");
    }
    bool known = false;
    for (const std::string& k : options.knownFailures) known = known || k == name;
    if (check.failed() && known)
        report('S', "KNOWN " + name + ": " + check.summary());
    else if (check.failed())
        report('F', "FAIL  " + name + ": " + check.summary());
    else if (known)
        report('P', "PASS  " + name + "  (listed as a known failure, but passes now)");
    else
        report('P', "PASS  " + name + (check.noteText().empty() ? "" : "  (" + check.noteText() + ")"));
}

void Runner::skip(const std::string& name, const std::string& reason)
{
    if (passOver(name)) return;
    begin(name);
    report('S', "SKIP  " + name + ": " + reason);
}

}  // namespace validate
