// The validator's side of the VST 2.4 interface: loading a library through
// its exported entry point, the host callback, one instance with its
// dispatcher and audio entries, audio buffers and what is checked in them.
#pragma once

#include "plugin/vst2abi.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace validate {

using EntryPoint = AEffect*(VST_CALL*)(audioMasterCallback);

// A loaded library. Unloaded when destroyed.
class Module {
public:
    // Null with `error` set when the library cannot be loaded or has no entry point.
    static std::unique_ptr<Module> load(const std::string& path, std::string& error);
    ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    EntryPoint entry = nullptr;
    std::string entryName;  // the exported name the entry point was found under
    std::string path;

private:
    Module() = default;
    void* handle = nullptr;
};

// A copy of a library under another file name in a private folder, so that
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

// One instance of the plug-in. Closed (effClose) when destroyed unless
// closed before.
class Instance {
public:
    // Creates an instance through the entry point and sends effOpen.
    // Throws std::runtime_error when the plug-in gives none.
    explicit Instance(const Module& module, bool sendOpen = true);
    ~Instance();
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    AEffect* effect = nullptr;

    intptr_t call(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr, float opt = 0.0f);
    void close();  // effClose; the record is gone afterwards

    // Suspends, sets rate and block size, and resumes.
    void start(double sampleRate, int32_t blockSize);
    void suspend() { call(effMainsChanged, 0, 0); }
    void resume() { call(effMainsChanged, 0, 1); }

    // processReplacing, on the calling thread. Marks the call as audio work
    // for the real-time counters, and checks that the floating-point control
    // word the host set is the one it gets back.
    void process(float** inputs, float** outputs, int32_t frames);

    int32_t inputs() const { return effect->numInputs; }
    int32_t outputs() const { return effect->numOutputs; }
    int32_t params() const { return effect->numParams; }
    int32_t programs() const { return effect->numPrograms; }
    bool hasFlag(int32_t flag) const { return (effect->flags & flag) != 0; }

    void setParameter(int32_t index, float value) { effect->setParameter(effect, index, value); }
    float getParameter(int32_t index) { return effect->getParameter(effect, index); }
    // Sets every parameter to `value`.
    void setAll(float value);

    // A text opcode's answer read from a roomy buffer.
    std::string text(int32_t opcode, int32_t index = 0);
    std::string paramName(int32_t index) { return text(effGetParamName, index); }
    std::string programName() { return text(effGetProgramName); }
    int32_t latency() const;

    double sampleRate = 44100.0;  // as last set by start(), answered to the plug-in
    int32_t blockSize = 1024;
    std::atomic<int64_t> controlWordChanges{0};  // blocks that changed the host's FP control word
    // Calls from inside processReplacing that a host answers with work not
    // fit for the audio thread (audioMasterIOChanged, audioMasterSizeWindow).
    std::atomic<int64_t> setUpCallsFromProcess{0};

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
