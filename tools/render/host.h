// A minimal VST 2.4 host: loads a plug-in library through its exported entry
// point and drives one instance the way a host does.
#pragma once

#include "plugin/vst2abi.h"

#include <memory>
#include <stdexcept>
#include <string>

namespace z5r {

// The plug-in could not be loaded or misbehaves; the message is one line.
class HostError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Plugin {
public:
    // dlopen()s `path`, calls "VSTPluginMain" (or the older "main") and opens the instance.
    static std::unique_ptr<Plugin> load(const std::string& path);

    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;
    ~Plugin();  // stops processing, closes the instance, unloads the library

    int numParams() const { return fx_->numParams; }
    int numPrograms() const { return fx_->numPrograms; }
    int numInputs() const { return fx_->numInputs; }
    int numOutputs() const { return fx_->numOutputs; }
    int latency() const { return fx_->initialDelay; }

    std::string paramName(int index) const;
    std::string paramDisplay(int index) const;
    std::string paramLabel(int index) const;
    float param(int index) const;
    void setParam(int index, float value);

    int program() const;
    std::string programName() const;
    std::string programName(int index) const;  // without switching programs; may be empty
    void setProgram(int index);

    std::string effectName() const;
    std::string vendor() const;

    // effSetSampleRate, effSetBlockSize, then effMainsChanged(1).
    void start(double sampleRate, int maxBlock);
    // effMainsChanged(0); also done by the destructor.
    void stop();
    // One block through processReplacing: numInputs() inputs, numOutputs() outputs.
    void process(float** inputs, float** outputs, int frames) { fx_->processReplacing(fx_, inputs, outputs, frames); }

private:
    Plugin(void* library, AEffect* effect) : lib_(library), fx_(effect) {}
    intptr_t dispatch(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                      float opt = 0.0f) const;
    std::string text(int32_t opcode, int32_t index = 0) const;

    void* lib_;
    AEffect* fx_;
    bool running_ = false;
};

}  // namespace z5r
