#include "Host.h"

#include "Harness.h"
#include "Realtime.h"
#include "vst3/vst3abi.h"

#include <algorithm>
#include <chrono>
#include <cctype>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <time.h>
#include <unistd.h>
#endif

#if defined(__SSE__) || defined(_M_X64)
#include <xmmintrin.h>
#define VALIDATE_HAVE_MXCSR 1
#endif

namespace validate {

namespace {

// Host opcodes past the four that plugin/vst2abi.h names, by their published numbers.
enum : int32_t {
    audioMasterGetTime = 7,
    audioMasterIOChanged = 13,
    audioMasterSizeWindow = 15,
    audioMasterGetSampleRate = 16,
    audioMasterGetBlockSize = 17,
    audioMasterGetCurrentProcessLevel = 23,
    audioMasterGetAutomationState = 24,
    audioMasterGetVendorString = 32,
    audioMasterGetProductString = 33,
    audioMasterGetVendorVersion = 34,
    audioMasterCanDo = 37,
    audioMasterGetLanguage = 38,
    audioMasterUpdateDisplay = 42,
    audioMasterBeginEdit = 43,
    audioMasterEndEdit = 44,
};

constexpr unsigned kDefaultControlWord = 0x1F80;  // all exceptions masked, round to nearest, no FTZ/DAZ

Instance* instanceOf(AEffect* effect)
{
    return effect ? static_cast<Instance*>(effect->user) : nullptr;
}

}  // namespace

HostLog hostLog;

namespace {
// The instance whose processReplacing this thread is in, if any.
thread_local const Instance* processing = nullptr;
}  // namespace

intptr_t VST_CALL hostCallback(AEffect* effect, int32_t opcode, int32_t index, intptr_t, void* ptr, float)
{
    hostLog.calls.fetch_add(1, std::memory_order_relaxed);
    Instance* instance = instanceOf(effect);
    // A host answers these by stopping, re-reading and restarting the
    // plug-in, or resizing a window: never from inside its audio callback.
    if (instance && processing == instance && (opcode == audioMasterIOChanged || opcode == audioMasterSizeWindow))
        instance->setUpCallsFromProcess.fetch_add(1, std::memory_order_relaxed);
    switch (opcode) {
    case audioMasterAutomate:
        hostLog.automate.fetch_add(1, std::memory_order_relaxed);
        if (effect && (index < 0 || index >= effect->numParams))
            hostLog.badAutomateIndex.fetch_add(1, std::memory_order_relaxed);
        return 0;
    case audioMasterVersion:
        return kVstVersion;
    case audioMasterGetTime:
        return 0;  // no transport
    case audioMasterSizeWindow:
    case audioMasterUpdateDisplay:
    case audioMasterBeginEdit:
    case audioMasterEndEdit:
        return 1;
    case audioMasterGetSampleRate:
        return instance ? static_cast<intptr_t>(instance->sampleRate) : 44100;
    case audioMasterGetBlockSize:
        return instance ? instance->blockSize : 1024;
    case audioMasterGetCurrentProcessLevel:
        return rt::onAudioThread() ? 2 : 1;  // realtime / user interface
    case audioMasterGetAutomationState:
        return 1;  // off
    case audioMasterGetVendorString:
    case audioMasterGetProductString:
        if (ptr) std::strcpy(static_cast<char*>(ptr), "z5r-validate");
        return ptr ? 1 : 0;
    case audioMasterGetVendorVersion:
        return 1;
    case audioMasterGetLanguage:
        return 1;  // English
    case audioMasterIOChanged:
    case audioMasterCanDo:
    default:
        return 0;
    }
}

// --- Module ---

const char* formatName(Format format)
{
    switch (format) {
    case Format::vst3: return "VST3";
    case Format::clap: return "CLAP";
    default: return "VST 2.4";
    }
}

Format formatOfPath(const std::string& path)
{
    std::string name = path;
    while (!name.empty() && (name.back() == '/' || name.back() == '\\')) name.pop_back();
    auto endsWith = [&](const char* tail) {
        const size_t n = std::strlen(tail);
        if (name.size() < n) return false;
        for (size_t i = 0; i < n; ++i)
            if (std::tolower(static_cast<unsigned char>(name[name.size() - n + i])) != tail[i]) return false;
        return true;
    };
    if (endsWith(".vst3")) return Format::vst3;
    if (endsWith(".clap")) return Format::clap;
    return Format::vst2;
}

namespace {

// The library inside a VST3 bundle: Contents/<architecture>/<name>.so
// (.vst3 on Windows); a .vst3 that is a file is the library itself.
std::string vst3Library(const std::string& bundle, std::string& error)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path root(bundle);
    while (!root.empty() && !root.has_filename()) root = root.parent_path();
    if (!fs::is_directory(root, ec)) return bundle;
#if defined(_WIN32)
    const fs::path folder = root / "Contents" / "x86_64-win";
    const fs::path named = folder / root.filename();
#else
    const fs::path folder = root / "Contents" / "x86_64-linux";
    const fs::path named = folder / (root.stem().string() + ".so");
#endif
    if (fs::is_regular_file(named, ec)) return named.string();
    // A library named otherwise than its bundle: the only one there.
    for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator(); it.increment(ec))
        if (it->is_regular_file()) return it->path().string();
    error = "no library in " + folder.string();
    return {};
}

}  // namespace

std::unique_ptr<Module> Module::load(const std::string& path, std::string& error)
{
    std::unique_ptr<Module> module(new Module);
    module->path = path;
    module->format = formatOfPath(path);
    module->library = path;
    if (module->format == Format::vst3) {
        module->library = vst3Library(path, error);
        if (module->library.empty()) return nullptr;
    }
#if defined(_WIN32)
    HMODULE handle = LoadLibraryA(module->library.c_str());
    if (!handle) {
        error = validate::format("LoadLibrary failed (error %lu)", GetLastError());
        return nullptr;
    }
    module->handle = handle;
#else
    std::error_code ec;
    const std::string absolute = std::filesystem::absolute(module->library, ec).string();
    void* handle = dlopen(absolute.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* message = dlerror();
        error = message ? message : "dlopen failed";
        return nullptr;
    }
    module->handle = handle;
    module->library = absolute;
#endif
    if (module->format == Format::vst3) {
#if defined(_WIN32)
        auto enter = reinterpret_cast<bool (*)()>(module->symbol("InitDll"));
        module->entryName = enter ? "InitDll, GetPluginFactory" : "GetPluginFactory (no InitDll)";
        if (enter && !enter()) {
            error = "InitDll refused";
            return nullptr;
        }
#else
        auto enter = reinterpret_cast<bool (*)(void*)>(module->symbol("ModuleEntry"));
        if (!enter) {
            error = "no ModuleEntry (Linux hosts call it before anything else)";
            return nullptr;
        }
        module->entryName = "ModuleEntry, GetPluginFactory";
        if (!enter(handle)) {
            error = "ModuleEntry refused";
            return nullptr;
        }
#endif
        module->entered = true;
        using GetFactory = void*(VST3_CALL*)();
        auto get = reinterpret_cast<GetFactory>(module->symbol("GetPluginFactory"));
        module->vst3Factory = get ? get() : nullptr;
        if (!module->vst3Factory) {
            error = get ? "GetPluginFactory gave no factory" : "no GetPluginFactory entry point";
            return nullptr;
        }
        return module;
    }
    if (module->format == Format::clap) {
        module->clapEntry = module->symbol("clap_entry");
        module->entryName = "clap_entry";
        if (!module->clapEntry) {
            error = "no clap_entry";
            return nullptr;
        }
        if (!clapEnter(module->clapEntry, path, error)) {
            module->clapEntry = nullptr;
            return nullptr;
        }
        module->entered = true;
        return module;
    }
    void* symbol = module->symbol("VSTPluginMain");
    module->entryName = symbol ? "VSTPluginMain" : "main only (no VSTPluginMain)";
    if (!symbol) symbol = module->symbol("main");
    module->entry = reinterpret_cast<EntryPoint>(symbol);
    if (!module->entry) {
        error = "no VSTPluginMain or main entry point";
        return nullptr;
    }
    return module;
}

void* Module::symbol(const char* name) const
{
#if defined(_WIN32)
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
#else
    return dlsym(handle, name);
#endif
}

Module::~Module()
{
    if (!handle) return;
    if (entered && format == Format::vst3) {
#if defined(_WIN32)
        if (auto leave = reinterpret_cast<bool (*)()>(symbol("ExitDll"))) leave();
#else
        if (auto leave = reinterpret_cast<bool (*)()>(symbol("ModuleExit"))) leave();
#endif
    }
    if (entered && format == Format::clap) clapLeave(clapEntry);
#if defined(_WIN32)
    FreeLibrary(static_cast<HMODULE>(handle));
#else
    dlclose(handle);
#endif
}

#if !defined(VALIDATE_HAVE_CLAP)
bool clapEnter(const void*, const std::string&, std::string& error)
{
    error = "this z5r-validate was built without CLAP headers";
    return false;
}
void clapLeave(const void*) {}
FormatInstance* makeClapInstance(const Module&, Instance&, std::string& error)
{
    error = "built without CLAP headers";
    return nullptr;
}
#endif

// --- LibraryCopy ---

LibraryCopy::LibraryCopy(const std::string& source, const std::string& tag)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    static int counter = 0;
#if defined(_WIN32)
    const unsigned long process = GetCurrentProcessId();
#else
    const unsigned long process = static_cast<unsigned long>(getpid());
#endif
    const fs::path dir = fs::temp_directory_path(ec) / format("z5r-validate-%lu-%d-%s", process, ++counter, tag.c_str());
    if (ec) return;
    fs::remove_all(dir, ec);
    if (!fs::create_directories(dir, ec)) return;
    folder = dir.string();
    fs::path from(source);
    while (!from.empty() && !from.has_filename()) from = from.parent_path();
    if (fs::is_directory(from, ec)) {
        // A VST3 bundle: the whole folder, its library renamed with it.
        const fs::path target = dir / (tag + "-" + from.filename().string());
        fs::copy(from, target, fs::copy_options::recursive, ec);
        if (ec) return;
        std::string error;
        const std::string inner = vst3Library(target.string(), error);
        if (inner.empty()) return;
        const fs::path innerPath(inner);
        fs::path renamed = innerPath.parent_path() / (tag + "-" + from.stem().string());
        renamed += innerPath.extension();
        fs::rename(innerPath, renamed, ec);
        if (ec) return;
        path = target.string();
        return;
    }
    const fs::path target = dir / (tag + "-" + from.filename().string());
    if (!fs::copy_file(from, target, fs::copy_options::overwrite_existing, ec)) return;
    path = target.string();
}

LibraryCopy::~LibraryCopy()
{
    if (folder.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
}

// --- Instance ---

Instance::Instance(const Module& module, bool sendOpen) : format(module.format)
{
    if (format != Format::vst2) {
        std::string error;
        FormatInstance* made = format == Format::vst3 ? makeVst3Instance(module, *this, error)
                                                      : makeClapInstance(module, *this, error);
        if (!made) throw std::runtime_error(error);
        other.reset(made);
        return;
    }
    effect = module.entry(hostCallback);
    if (!effect) throw std::runtime_error("the entry point gave no instance");
    if (effect->magic != kEffectMagic) throw std::runtime_error("the instance record lacks the magic number");
    if (!effect->dispatcher) throw std::runtime_error("the instance record has no dispatcher");
    effect->user = this;
    if (sendOpen) call(effOpen);
}

Instance::~Instance() { close(); }

void Instance::close()
{
    if (closed) return;
    closed = true;
    if (other) {
        other.reset();
        return;
    }
    if (!effect) return;
    effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f);
    effect = nullptr;
}

intptr_t Instance::call(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt)
{
    if (!effect) throw std::logic_error("a VST 2.4 dispatcher call on an instance of another format");
    return effect->dispatcher(effect, opcode, index, value, ptr, opt);
}

void Instance::start(double rate, int32_t frames)
{
    suspend();
    sampleRate = rate;
    blockSize = frames;
    if (effect) {
        call(effSetSampleRate, 0, 0, nullptr, static_cast<float>(rate));
        call(effSetBlockSize, 0, frames);
    }
    resume();
}

void Instance::suspend()
{
    if (effect)
        call(effMainsChanged, 0, 0);
    else
        other->deactivate();
}

void Instance::resume()
{
    if (effect)
        call(effMainsChanged, 0, 1);
    else if (!other->active())
        other->activate(sampleRate, blockSize);
}

void Instance::process(float** inputs, float** outputs, int32_t frames)
{
    if (other) other->prepare(frames);
    setDefaultControlWord();
    rt::enterAudio();
    processing = this;
    if (effect)
        effect->processReplacing(effect, inputs, outputs, frames);
    else
        other->process(inputs, outputs, frames);
    processing = nullptr;
    rt::leaveAudio();
    if (controlWord() != kDefaultControlWord) {
        controlWordChanges.fetch_add(1, std::memory_order_relaxed);
        setDefaultControlWord();
    }
    if (other) other->finish();
}

bool Instance::inProcess() const { return processing == this; }

void Instance::setAll(float value)
{
    for (int32_t i = 0; i < params(); ++i) setParameter(i, value);
}

std::string Instance::text(int32_t opcode, int32_t index)
{
    char buffer[512] = {};
    call(opcode, index, 0, buffer);
    buffer[sizeof(buffer) - 1] = '\0';
    return buffer;
}

int32_t Instance::latency() const
{
    if (other) return other->latency();
    return __atomic_load_n(&effect->initialDelay, __ATOMIC_RELAXED);
}

bool Instance::hasEditor() { return effect ? hasFlag(effFlagsHasEditor) : other->hasEditor(); }

bool Instance::editorOpen(void* parent)
{
    if (other) return other->editorOpen(parent);
    const intptr_t opened = call(effEditOpen, 0, 0, parent);
    // Plug-ins answer 0 or 1 on success alike.
    return opened == 0 || opened == 1;
}

bool Instance::editorSize(int32_t& width, int32_t& height)
{
    if (other) return other->editorSize(width, height);
    ERect* rect = nullptr;
    if (call(effEditGetRect, 0, 0, &rect) != 1 || !rect) return false;
    width = rect->right - rect->left;
    height = rect->bottom - rect->top;
    return true;
}

void Instance::editorIdle()
{
    if (other)
        other->editorIdle();
    else
        call(effEditIdle);
}

void Instance::editorClose()
{
    if (other)
        other->editorClose();
    else
        call(effEditClose);
}

int64_t Instance::setUpFromProcess() const
{
    return setUpCallsFromProcess.load() + (other ? other->threads.setUpFromProcess : 0);
}

std::string Instance::threadProblems() const
{
    if (!other || (other->threads.wrongThread == 0 && other->threads.setUpFromProcess == 0)) return {};
    return validate::format("%lld host calls from a thread the format does not allow them on, %lld set-up requests from "
                  "process (first: %s)",
                  static_cast<long long>(other->threads.wrongThread),
                  static_cast<long long>(other->threads.setUpFromProcess), other->threads.first.c_str());
}

std::string slug(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
            out += c;
        else if (!out.empty() && out.back() != '-')
            out += '-';
    }
    while (!out.empty() && out.back() == '-') out.pop_back();
    return out.empty() ? "unnamed" : out;
}

// --- AudioBuffers ---

AudioBuffers::AudioBuffers(int32_t inputs, int32_t outputs, int32_t frames)
    : in(static_cast<size_t>(std::max(inputs, 0)), std::vector<float>(static_cast<size_t>(std::max(frames, 1)))),
      out(static_cast<size_t>(std::max(outputs, 0)), std::vector<float>(static_cast<size_t>(std::max(frames, 1))))
{
    for (auto& channel : in) inPtrs.push_back(channel.data());
    for (auto& channel : out) outPtrs.push_back(channel.data());
    for (size_t i = 0; i < out.size(); ++i) inPlacePtrs.push_back(i < in.size() ? in[i].data() : out[i].data());
    // Hosts hand at least one pointer each way.
    if (inPtrs.empty()) inPtrs.push_back(nullptr);
    if (outPtrs.empty()) outPtrs.push_back(nullptr);
    if (inPlacePtrs.empty()) inPlacePtrs.push_back(nullptr);
}

void AudioBuffers::markOutputs(int32_t frames)
{
    for (auto& channel : out) std::fill(channel.begin(), channel.begin() + frames, unwrittenMarker());
}

namespace {
constexpr uint32_t kMarkerBits = 0x7FC0BEEFu;
}

float unwrittenMarker()
{
    float v;
    std::memcpy(&v, &kMarkerBits, sizeof(v));
    return v;
}

bool isUnwrittenMarker(float v)
{
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof(bits));
    return bits == kMarkerBits;
}

float testSignal(int32_t channel, int64_t frame, double sampleRate, float amplitude)
{
    constexpr double kTwoPi = 6.283185307179586;
    const double t = static_cast<double>(frame) / sampleRate;
    const double f1 = channel == 0 ? 220.0 : 221.3;
    const double f2 = channel == 0 ? 331.7 : 329.9;
    const double swell = 0.7 + 0.3 * std::sin(kTwoPi * 0.7 * t);
    // A hash of the frame for a little deterministic noise.
    uint64_t h = static_cast<uint64_t>(frame) * 0x9E3779B97F4A7C15ull + static_cast<uint64_t>(channel) * 0xBF58476D1CE4E5B9ull;
    h ^= h >> 29;
    h *= 0x94D049BB133111EBull;
    h ^= h >> 32;
    const double noise = (static_cast<double>(h & 0xFFFF) / 65535.0 - 0.5) * 0.04;
    const double v = swell * (0.6 * std::sin(kTwoPi * f1 * t) + 0.3 * std::sin(kTwoPi * f2 * t)) + noise;
    return static_cast<float>(amplitude * v);
}

void fillSignal(AudioBuffers& buffers, int64_t firstFrame, int32_t frames, double sampleRate, float amplitude)
{
    for (size_t c = 0; c < buffers.in.size(); ++c)
        for (int32_t k = 0; k < frames; ++k)
            buffers.in[c][static_cast<size_t>(k)] = testSignal(static_cast<int32_t>(c), firstFrame + k, sampleRate, amplitude);
}

// --- Scan ---

void Scan::add(const float* samples, int32_t frames, double bound)
{
    for (int32_t k = 0; k < frames; ++k) {
        const float v = samples[k];
        if (isUnwrittenMarker(v)) {
            ++unwritten;
        } else if (!std::isfinite(v)) {
            ++nonFinite;
        } else {
            if (std::fpclassify(v) == FP_SUBNORMAL) ++subnormal;
            const double a = std::fabs(static_cast<double>(v));
            if (a > bound) ++overBound;
            peak = std::max(peak, a);
        }
    }
}

void Scan::add(AudioBuffers& buffers, int32_t channels, int32_t frames, double bound)
{
    for (int32_t c = 0; c < channels && c < static_cast<int32_t>(buffers.out.size()); ++c)
        add(buffers.out[static_cast<size_t>(c)].data(), frames, bound);
}

std::string Scan::describe() const
{
    std::string text;
    auto part = [&](int64_t count, const char* what) {
        if (!count) return;
        if (!text.empty()) text += ", ";
        text += format("%lld %s", static_cast<long long>(count), what);
    };
    part(nonFinite, "non-finite samples");
    part(subnormal, "subnormal samples");
    part(unwritten, "frames left unwritten");
    part(overBound, "samples over the bound");
    return text.empty() ? "clean" : text;
}

// --- GuardedBuffer ---

GuardedBuffer::GuardedBuffer(size_t size, unsigned char fill) : storage(size + 2 * kGuard), length(size), fillByte(fill)
{
    reset();
}

void GuardedBuffer::reset()
{
    std::fill(storage.begin(), storage.begin() + kGuard, kGuardByte);
    std::fill(storage.begin() + kGuard, storage.begin() + kGuard + length, fillByte);
    std::fill(storage.begin() + kGuard + length, storage.end(), kGuardByte);
}

bool GuardedBuffer::guardsIntact() const
{
    for (size_t i = 0; i < kGuard; ++i)
        if (storage[i] != kGuardByte || storage[kGuard + length + i] != kGuardByte) return false;
    return true;
}

size_t GuardedBuffer::writtenExtent() const
{
    for (size_t i = length; i > 0; --i)
        if (storage[kGuard + i - 1] != fillByte) return i;
    return 0;
}

bool GuardedBuffer::terminatedWithin(size_t limit) const
{
    for (size_t i = 0; i < limit && i < length; ++i)
        if (storage[kGuard + i] == 0) return true;
    return false;
}

// --- time and control word ---

double threadSeconds()
{
#if defined(_WIN32)
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
#else
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
#endif
}

double wallSeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void setDefaultControlWord()
{
#ifdef VALIDATE_HAVE_MXCSR
    _mm_setcsr(kDefaultControlWord);
#endif
}

unsigned controlWord()
{
#ifdef VALIDATE_HAVE_MXCSR
    return _mm_getcsr() & ~0x3Fu;  // without the sticky exception flags
#else
    return kDefaultControlWord;
#endif
}

double median(std::vector<double> values)
{
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

}  // namespace validate
