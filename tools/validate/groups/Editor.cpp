// The editor, where the plug-in has one (effFlagsHasEditor) and the system
// gives a parent window (Windows, and Wine with a virtual X server; Linux
// with an X display): open and close many times, open twice without close,
// close without open, idle before, during and after, open while another
// thread processes, effClose with the editor open, and two copies of the
// library with both editors open. After every close no window of the
// editor may remain. With no display the checks are skipped, not failed:
// many editors cannot start without one.
#include "Common.h"

#include "../Display.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace validate {

namespace {

const char* const kTests[] = {"editor.open-close",   "editor.open-twice",       "editor.close-without-open",
                              "editor.idle",         "editor.open-while-processing", "editor.close-effect-with-editor-open",
                              "editor.two-copies"};

#if defined(_WIN32)

const char* kParentClass = "z5rValidateParent";

bool registerParentClass()
{
    static bool registered = [] {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = kParentClass;
        wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
        return RegisterClassA(&wc) != 0;
    }();
    return registered;
}

// A top-level window standing in for the host's plug-in window.
class ParentWindow {
public:
    ParentWindow()
    {
        if (registerParentClass())
            window = CreateWindowExA(0, kParentClass, "z5r-validate", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 900, 700,
                                     nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    }
    ~ParentWindow()
    {
        if (window) DestroyWindow(window);
        pump(0);
    }
    HWND window = nullptr;
    void* handle() const { return window; }
    static std::string failure() { return "no window could be created (no display?)"; }

    int32_t children() const
    {
        int32_t count = 0;
        EnumChildWindows(
            window,
            [](HWND, LPARAM counter) -> BOOL {
                ++*reinterpret_cast<int32_t*>(counter);
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&count));
        return count;
    }

    // Dispatches this thread's messages for about `ms` milliseconds; with 0,
    // what is queued, but never longer than 100 ms (a window that never
    // stops asking to be painted would keep the queue full).
    static void pump(int32_t ms)
    {
        const ULONGLONG start = GetTickCount64();
        const ULONGLONG until = start + static_cast<ULONGLONG>(ms > 0 ? ms : 100);
        do {
            MSG msg;
            bool any = false;
            while (GetTickCount64() < until && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
                any = true;
            }
            if (ms == 0 && !any) break;
            if (ms > 0) Sleep(5);
        } while (GetTickCount64() < until);
    }
};

#else

// A top-level X window standing in for the host's plug-in window. X
// requests of the editor travel on its own connection, so what it did
// shows in the parent a moment later: the checks below wait for it.
class ParentWindow {
public:
    ParentWindow() { live().push_back(this); }
    ~ParentWindow() { live().erase(std::find(live().begin(), live().end(), this)); }
    void* handle() const { return x.handle(); }
    static std::string failure() { return "no parent window could be made: " + X11Parent::lastError(); }
    int32_t children() { return x.children(); }

    // Reads the parents' events for about `ms` milliseconds (at most 100 with 0).
    static void pump(int32_t ms)
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms > 0 ? ms : 5);
        do {
            for (ParentWindow* parent : live()) parent->x.drain();
            if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        } while (std::chrono::steady_clock::now() < until);
    }

private:
    X11Parent x;
    static std::vector<ParentWindow*>& live()
    {
        static std::vector<ParentWindow*> parents;
        return parents;
    }
};

#endif

// How long a window may take to come or go (another client's requests,
// a message queue): a second, looked at every 20 ms.
constexpr int32_t kSettleMs = 1000;

// Opens the editor into `parent`, idles it for `ms`, and checks the answer.
// A parent that could not be made ends the test as skipped: the host's
// side failed, not the plug-in.
void openEditor(Check& check, Instance& instance, ParentWindow& parent, int32_t ms)
{
    if (!parent.handle()) check.skip(ParentWindow::failure());
    // Hosts cannot rely on the answer (plug-ins answer 0 or 1 on success
    // alike); whether a window came is checked in the parent.
    check.expect(instance.editorOpen(parent.handle()), "the editor did not open (%s)",
                 instance.isVst2() ? "effEditOpen answered neither 0 nor 1" : "refused");
    int32_t width = 0, height = 0;
    if (instance.editorSize(width, height)) check.expect(width > 0 && height > 0, "empty editor rectangle");
    for (int32_t t = 0; t < ms; t += 20) {
        instance.editorIdle();
        ParentWindow::pump(20);
    }
}

// Whether the open editor made a window in the parent, idling it until one shows.
bool editorShows(Instance& instance, ParentWindow& parent)
{
    for (int32_t t = 0; t <= kSettleMs; t += 20) {
        if (parent.children() > 0) return true;
        instance.editorIdle();
        ParentWindow::pump(20);
    }
    return false;
}

// Windows left in the parent once the editor's have had time to go.
int32_t leftBehind(ParentWindow& parent)
{
    ParentWindow::pump(0);
    for (int32_t t = 0; t < kSettleMs && parent.children() > 0; t += 20) ParentWindow::pump(20);
    return parent.children();
}

void closeEditor(Check& check, Instance& instance, ParentWindow& parent, const char* when)
{
    instance.editorClose();
    const int32_t left = leftBehind(parent);
    check.expect(left == 0, "%s: %d windows remain in the parent after the editor closed", when, left);
}

}  // namespace

void editorGroup(Runner& runner)
{
    auto module = loadForGroup(runner, "editor");
    if (!module) return;
    bool hasEditor = false;
    {
        Instance probe(*module);
        hasEditor = probe.hasEditor();
    }
    if (!hasEditor) {
        for (const char* name : kTests)
            runner.skip(name, module->format == Format::vst2 ? "no editor (effFlagsHasEditor is clear)"
                                                            : "no editor for this system's windows");
        return;
    }
    std::string why;
    if (!displayAvailable(why)) {
        for (const char* name : kTests) runner.skip(name, why + ": editor checks skipped");
        return;
    }
    const Options& options = runner.options;
    {
        ParentWindow probe;
        if (!probe.handle()) {
            for (const char* name : kTests) runner.skip(name, ParentWindow::failure());
            return;
        }
    }
    const int32_t cycles = options.quick ? 10 : 50;

    runner.run(kTests[0], [&](Check& check) {
        Instance instance(*module);
        ParentWindow parent;
        for (int32_t i = 0; i < cycles; ++i) {
            openEditor(check, instance, parent, i % 5 == 0 ? 60 : 0);
            check.expect(editorShows(instance, parent), "cycle %d: the open editor made no window in the parent", i);
            closeEditor(check, instance, parent, "open and close");
        }
        check.note("%d times", cycles);
    });

    runner.run(kTests[1], [&](Check& check) {
        Instance instance(*module);
        ParentWindow parent;
        openEditor(check, instance, parent, 40);
        if (instance.isVst2()) {
            const intptr_t again = instance.call(effEditOpen, 0, 0, parent.handle());
            check.expect(again == 0 || again == 1, "the second effEditOpen answered %lld", static_cast<long long>(again));
        }
        ParentWindow::pump(40);
        closeEditor(check, instance, parent, "opened twice, closed once");
        instance.editorClose();
        openEditor(check, instance, parent, 40);
        closeEditor(check, instance, parent, "opened again");
    });

    runner.run(kTests[2], [&](Check& check) {
        Instance instance(*module);
        ParentWindow parent;
        for (int32_t i = 0; i < 3; ++i) instance.editorClose();
        openEditor(check, instance, parent, 40);
        closeEditor(check, instance, parent, "after closing unopened");
    });

    runner.run(kTests[3], [&](Check& check) {
        Instance instance(*module);
        ParentWindow parent;
        for (int32_t i = 0; i < 10; ++i) instance.editorIdle();
        openEditor(check, instance, parent, 200);
        closeEditor(check, instance, parent, "idle");
        for (int32_t i = 0; i < 10; ++i) instance.editorIdle();
        ParentWindow::pump(40);
    });

    runner.run(kTests[4], [&](Check& check) {
        Instance instance(*module);
        instance.start(44100.0, 128);
        ParentWindow parent;
        std::atomic<bool> done{false};
        Scan scan;
        std::thread audio([&] {
            AudioBuffers buffers(instance.inputs(), instance.outputs(), 128);
            Scan mine;
            int64_t position = 0;
            while (!done.load()) {
                fillSignal(buffers, position, 128, 44100.0);
                buffers.markOutputs(128);
                instance.process(buffers.inputs(), buffers.outputs(), 128);
                mine.add(buffers, instance.outputs(), 128, options.bound);
                position += 128;
            }
            scan = mine;
        });
        for (int32_t i = 0; i < cycles / 5 + 2; ++i) {
            openEditor(check, instance, parent, 100);
            closeEditor(check, instance, parent, "while processing");
        }
        done.store(true);
        audio.join();
        check.expect(scan.clean(), "audio: %s", scan.describe().c_str());
    });

    runner.run(kTests[5], [&](Check& check) {
        ParentWindow parent;
        {
            Instance instance(*module);
            openEditor(check, instance, parent, 60);
            instance.close();  // effClose with the editor open
        }
        const int32_t left = leftBehind(parent);
        check.expect(left == 0, "%d windows remain after effClose with the editor open", left);
    });

    runner.run(kTests[6], [&](Check& check) {
        TwoCopies copies(options, "one", "two", check);
        {
            Instance a(*copies.a), b(*copies.b);
            ParentWindow parentA, parentB;
            openEditor(check, a, parentA, 0);
            openEditor(check, b, parentB, 0);
            for (int32_t t = 0; t < 200; t += 20) {
                a.editorIdle();
                b.editorIdle();
                ParentWindow::pump(20);
            }
            closeEditor(check, a, parentA, "first copy");
            closeEditor(check, b, parentB, "second copy");
        }
    });
}

}  // namespace validate
