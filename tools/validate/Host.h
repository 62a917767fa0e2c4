// The validator's side of the plug-in: loading a VST 2.4 library, a VST3
// bundle or a CLAP file through its exported entry point, the VST 2.4 host
// callback, one instance of any format with the calls the groups make
// (VST3 and CLAP through the format layer, Formats.h), audio buffers and
// what is checked in them.
#pragma once

#include "Formats.h"
#include "plugin/vst2abi.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace validate {

using EntryPoint = AEffect*(VST_CALL*)(audioMasterCallback);

enum class Format { vst2, vst3, clap };
const char* formatName(Format format);
// By the name: a ".vst3" bundle (or single file), a ".clap" file, anything else VST 2.4.
Format formatOfPath(const std::string& path);

// A loaded library, entered as its format asks (VST3: ModuleEntry or
// InitDll; CLAP: clap_entry's init). Left and unloaded when destroyed.
class Module {
public:
    // Null with `error` set when the library cannot be loaded or has no entry point.
    static std::unique_ptr<Module> load(const std::string& path, std::string& error);
    ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    Format format = Format::vst2;
    EntryPoint entry = nullptr;  // VST 2.4
    void* vst3Factory = nullptr;  // VST3: the IPluginFactory
    const void* clapEntry = nullptr;  // CLAP: the clap_plugin_entry_t
    std::string entryName;  // the exported name the entry point was found under
    std::string path;
    std::string library;  // the library file itself (inside the bundle for VST3)

    // The library's own exported symbol, or null.
    void* symbol(const char* name) const;

private:
    Module() = default;
    void* handle = nullptr;
    bool entered = false;
};

// CLAP's entry: init with the file's path, and deinit (ClapHost.cpp).
bool clapEnter(const void* entry, const std::string& path, std::string& error);
void clapLeave(const void* entry);

// A copy of a library (a whole VST3 bundle) under another name in a private folder, so that
// the system loads it a second time with its own global state. Removed when
// destroyed.
class LibraryCopy {
public:
    LibraryCopy(const std::string& source, const std::string& tag);
    ~LibraryCopy();
    LibraryCopy(const LibraryCopy&) = delete;
    LibraryCopy& operator=(const LibraryCopy&) = delete;
    bool ok() const { return !path.empty(); }
    std::string path;

private:
    std::string folder;
};

// What the plug-in asked of the host, counted for all instances.
struct HostLog {
    std::atomic<int64_t> calls{0};
    std::atomic<int64_t> automate{0};
    std::atomic<int64_t> badAutomateIndex{0};
};
extern HostLog hostLog;

intptr_t VST_CALL hostCallback(AEffect* effect, int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt);

// One instance of the plug-in, of any format. Closed (effClose; VST3:
// terminated and released; CLAP: destroyed) when destroyed unless closed before.
class Instance {
public:
    // Creates an instance through the entry point and sends effOpen (VST3:
    // initialize; CLAP: init). Throws std::runtime_error when the plug-in gives none.
    explicit Instance(const Module& module, bool sendOpen = true);
    ~Instance();
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    Format format = Format::vst2;
    AEffect* effect = nullptr;             // VST 2.4 only
    std::unique_ptr<FormatInstance> other;  // VST3 and CLAP
    bool isVst2() const { return format == Format::vst2; }

    // VST 2.4 only: a dispatcher call.
    intptr_t call(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr, float opt = 0.0f);
    void close();  // effClose; the record is gone afterwards

    // Suspends, sets rate and block size, and resumes.
    void start(double sampleRate, int32_t blockSize);
    void suspend();
    void resume();

    // processReplacing, on the calling thread. Marks the call as audio work
    // for the real-time counters, and checks that the floating-point control
    // word the host set is the one it gets back.
    void process(float** inputs, float** outputs, int32_t frames);

    int32_t inputs() const { return effect ? effect->numInputs : other->inputs(); }
    int32_t outputs() const { return effect ? effect->numOutputs : other->outputs(); }
    int32_t params() const { return effect ? effect->numParams : other->params(); }
    // Programs are VST 2.4's; the other formats keep presets in their state.
    int32_t programs() const { return effect ? effect->numPrograms : 0; }
    bool hasFlag(int32_t flag) const { return effect && (effect->flags & flag) != 0; }

    void setParameter(int32_t index, float value)
    {
        if (effect)
            effect->setParameter(effect, index, value);
        else
            other->setParameter(index, value);
    }
    float getParameter(int32_t index) { return effect ? effect->getParameter(effect, index) : other->getParameter(index); }
    // Sets every parameter to `value`.
    void setAll(float value);

    // A text opcode's answer read from a roomy buffer (VST 2.4).
    std::string text(int32_t opcode, int32_t index = 0);
    std::string paramName(int32_t index) { return effect ? text(effGetParamName, index) : other->paramName(index); }
    std::string paramDisplay(int32_t index) { return effect ? text(effGetParamDisplay, index) : other->paramDisplay(index); }
    std::string programName() { return effect ? text(effGetProgramName) : std::string(); }
    int32_t program() { return effect ? static_cast<int32_t>(call(effGetProgram)) : 0; }
    void setProgram(int32_t p)
    {
        if (effect) call(effSetProgram, 0, p);
    }
    int32_t latency() const;

    // The editor, whatever the format (VST 2.4: effEditOpen and friends).
    bool hasEditor();
    bool editorOpen(void* parent);
    bool editorSize(int32_t& width, int32_t& height);
    void editorIdle();
    void editorClose();

    // Calls from inside process a host answers with set-up work, and main-thread
    // calls from other threads (VST3 and CLAP), with the first one's name.
    int64_t setUpFromProcess() const;
    std::string threadProblems() const;

    double sampleRate = 44100.0;  // as last set by start(), answered to the plug-in
    int32_t blockSize = 1024;
    std::atomic<int64_t> controlWordChanges{0};  // blocks that changed the host's FP control word
    // Calls from inside processReplacing that a host answers with work not
    // fit for the audio thread (audioMasterIOChanged, audioMasterSizeWindow).
    std::atomic<int64_t> setUpCallsFromProcess{0};
    // Whether this thread is inside this instance's process call.
    bool inProcess() const;

private:
    bool closed = false;
};

// A test name part from a plug-in's text: letters, digits and '-' only.
std::string slug(const std::string& text);

// Input and output channels for one instance, sized for the largest block.
class AudioBuffers {
public:
    AudioBuffers(int32_t inputs, int32_t outputs, int32_t frames);
    std::vector<std::vector<float>> in;
    std::vector<std::vector<float>> out;
    float** inputs() { return inPtrs.data(); }
    float** outputs() { return outPtrs.data(); }
    // Outputs pointing at the input channels (in place); needs as many
    // inputs as outputs.
    float** inPlace() { return inPlacePtrs.data(); }
    // Fills the outputs with the marker that shows an unwritten frame.
    void markOutputs(int32_t frames);

private:
    std::vector<float*> inPtrs, outPtrs, inPlacePtrs;
};

// The marker written into outputs before a block: a NaN with a payload no
// arithmetic produces.
float unwrittenMarker();
bool isUnwrittenMarker(float v);

// A deterministic music-like test signal: two detuned tones, a slow swell
// and a little noise, peak `amplitude`, per channel and frame.
float testSignal(int32_t channel, int64_t frame, double sampleRate, float amplitude = 0.5f);
void fillSignal(AudioBuffers& buffers, int64_t firstFrame, int32_t frames, double sampleRate, float amplitude = 0.5f);

// What was found in some output samples.
struct Scan {
    int64_t nonFinite = 0;
    int64_t subnormal = 0;
    int64_t unwritten = 0;
    int64_t overBound = 0;
    double peak = 0.0;
    void add(const float* samples, int32_t frames, double bound);
    void add(AudioBuffers& buffers, int32_t channels, int32_t frames, double bound);
    bool clean() const { return nonFinite == 0 && subnormal == 0 && unwritten == 0 && overBound == 0; }
    std::string describe() const;
};

// A buffer with guard bytes on both sides, to catch writes outside it.
class GuardedBuffer {
public:
    explicit GuardedBuffer(size_t size, unsigned char fill = 0);
    char* data() { return reinterpret_cast<char*>(storage.data() + kGuard); }
    size_t size() const { return length; }
    void reset();  // back to the fill byte, guards restored
    bool guardsIntact() const;
    // The highest offset written (not equal to the fill byte) plus one; 0 when untouched.
    size_t writtenExtent() const;
    // Whether a terminator lies within the first `limit` bytes.
    bool terminatedWithin(size_t limit) const;

private:
    static constexpr size_t kGuard = 64;
    static constexpr unsigned char kGuardByte = 0xA5;
    std::vector<unsigned char> storage;
    size_t length;
    unsigned char fillByte;
};

// Thread CPU time in seconds (wall time where the system gives no per-thread clock).
double threadSeconds();
// Monotonic wall time in seconds.
double wallSeconds();
// Sets the host's floating-point control word (the default one) and reads it.
void setDefaultControlWord();
unsigned controlWord();

// Median of some values (copied).
double median(std::vector<double> values);

}  // namespace validate
