#include "host.h"

#include <dlfcn.h>

#include <array>
#include <filesystem>
#include <system_error>
#include <utility>

namespace z5r {
namespace {

using EntryPoint = AEffect* (*)(audioMasterCallback);

intptr_t VST_CALL hostCallback(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
    switch (opcode) {
    case audioMasterVersion:
        return kVstVersion;
    default:  // audioMasterAutomate and everything else: nothing to answer
        return 0;
    }
}

std::string lastDlError() {
    const char* e = dlerror();
    return e != nullptr ? e : "unknown error";
}

// Owns a dlopen() handle until released.
struct Library {
    void* handle = nullptr;
    ~Library() {
        if (handle != nullptr) dlclose(handle);
    }
    void* release() { return std::exchange(handle, nullptr); }
};

// An instance the host has not accepted: closed again (before the library goes)
// unless released, and only if it looks enough like a VST instance to call into.
struct Instance {
    AEffect* fx = nullptr;
    ~Instance() {
        if (fx != nullptr && fx->magic == kEffectMagic && fx->dispatcher != nullptr)
            fx->dispatcher(fx, effClose, 0, 0, nullptr, 0.0f);
    }
    AEffect* release() { return std::exchange(fx, nullptr); }
};

}  // namespace

std::unique_ptr<Plugin> Plugin::load(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (!fs::exists(path, ec)) throw HostError("plug-in not found: " + path);
    if (fs::is_directory(path, ec)) throw HostError("plug-in path is a directory: " + path);

    // An absolute path keeps dlopen() from searching the library path instead.
    const auto absolute = fs::absolute(path, ec).string();
    Library lib{dlopen(absolute.c_str(), RTLD_NOW | RTLD_LOCAL)};
    if (lib.handle == nullptr) throw HostError("cannot load plug-in: " + lastDlError());

    void* sym = dlsym(lib.handle, "VSTPluginMain");
    if (sym == nullptr) sym = dlsym(lib.handle, "main");
    if (sym == nullptr) throw HostError("not a VST 2.4 plug-in (no VSTPluginMain entry point): " + path);

    auto entry = reinterpret_cast<EntryPoint>(sym);
    Instance instance{entry(hostCallback)};  // declared after `lib`, so closed before the library is unloaded
    AEffect* fx = instance.fx;
    if (fx == nullptr) throw HostError("plug-in refused to create an instance: " + path);
    if (fx->magic != kEffectMagic) throw HostError("plug-in returned an instance without the VST magic: " + path);
    if (fx->dispatcher == nullptr || fx->processReplacing == nullptr)
        throw HostError("plug-in has no dispatcher or processReplacing: " + path);
    if (fx->numOutputs < 1) throw HostError("plug-in has no audio outputs: " + path);

    std::unique_ptr<Plugin> plugin(new Plugin(lib.handle, fx));
    lib.release();
    instance.release();
    plugin->dispatch(effOpen);
    return plugin;
}

Plugin::~Plugin() {
    stop();
    dispatch(effClose);  // the instance is gone after this
    dlclose(lib_);
}

intptr_t Plugin::dispatch(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) const {
    return fx_->dispatcher(fx_, opcode, index, value, ptr, opt);
}

std::string Plugin::text(int32_t opcode, int32_t index) const {
    // Far larger than the published 8..65 byte limits, for plug-ins that overrun them.
    std::array<char, 256> buf{};
    dispatch(opcode, index, 0, buf.data());
    buf.back() = '\0';
    std::string s(buf.data());
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.pop_back();
    while (!s.empty() && s.front() == ' ') s.erase(0, 1);
    return s;
}

std::string Plugin::paramName(int index) const { return text(effGetParamName, index); }
std::string Plugin::paramDisplay(int index) const { return text(effGetParamDisplay, index); }
std::string Plugin::paramLabel(int index) const { return text(effGetParamLabel, index); }
float Plugin::param(int index) const { return fx_->getParameter != nullptr ? fx_->getParameter(fx_, index) : 0.0f; }

void Plugin::setParam(int index, float value) {
    if (fx_->setParameter != nullptr) fx_->setParameter(fx_, index, value);
}

int Plugin::program() const { return static_cast<int>(dispatch(effGetProgram)); }
std::string Plugin::programName() const { return text(effGetProgramName); }

std::string Plugin::programName(int index) const {
    std::array<char, 256> buf{};
    if (dispatch(effGetProgramNameIndexed, index, -1, buf.data()) == 0) return {};
    buf.back() = '\0';
    return buf.data();
}

void Plugin::setProgram(int index) { dispatch(effSetProgram, 0, index); }

std::string Plugin::effectName() const { return text(effGetEffectName); }
std::string Plugin::vendor() const { return text(effGetVendorString); }

void Plugin::start(double sampleRate, int maxBlock) {
    stop();
    dispatch(effSetSampleRate, 0, 0, nullptr, static_cast<float>(sampleRate));
    dispatch(effSetBlockSize, 0, maxBlock);
    dispatch(effMainsChanged, 0, 1);
    running_ = true;
}

void Plugin::stop() {
    if (!running_) return;
    dispatch(effMainsChanged, 0, 0);
    running_ = false;
}

}  // namespace z5r
