// The format layer: what the groups ask of an instance of any format, and
// the VST3 and CLAP sides of it. A VST 2.4 instance is driven directly by
// Instance (Host.cpp); a VST3 or CLAP one through a FormatInstance, which
// speaks its format as hosts do: parameter changes delivered with the next
// block, activation with a rate and a largest block, state through streams.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace validate {

class Module;
class Instance;

// What the plug-in asked of the host that hosts do not do from the audio
// thread, and calls made from a thread the format does not allow them on.
struct ThreadFindings {
    int64_t setUpFromProcess = 0;  // restartComponent, request of a rescan, ... from inside process
    int64_t wrongThread = 0;       // a main-thread host call from another thread
    std::string first;             // the first such call, for the report
};

class FormatInstance {
public:
    virtual ~FormatInstance() = default;

    virtual int32_t inputs() const = 0;   // channels of the main input
    virtual int32_t outputs() const = 0;  // channels of the main output
    virtual int32_t params() const = 0;

    // Ready to process at `rate` with blocks of at most `maxBlock` frames.
    virtual void activate(double rate, int32_t maxBlock) = 0;
    virtual void deactivate() = 0;
    virtual bool active() const = 0;

    // Host bookkeeping before a block (pending parameter changes into the
    // block's event list), outside the audio work the real-time counters judge.
    virtual void prepare(int32_t frames) = 0;
    // The block itself; `inputs` and `outputs` hold inputs()/outputs() pointers.
    virtual void process(float** inputs, float** outputs, int32_t frames) = 0;
    // After the block, outside the judged audio work.
    virtual void finish() = 0;

    // Normalized 0..1 values, as the groups think of parameters.
    virtual void setParameter(int32_t index, float value) = 0;
    virtual float getParameter(int32_t index) = 0;
    virtual std::string paramName(int32_t index) = 0;
    virtual std::string paramDisplay(int32_t index) = 0;
    virtual std::string paramUnit(int32_t index) = 0;
    virtual bool automatable(int32_t index) = 0;

    virtual int32_t latency() = 0;

    // The plug-in's whole state as the format saves it.
    virtual bool saveState(std::vector<uint8_t>& bytes) = 0;
    virtual bool loadState(const std::vector<uint8_t>& bytes) = 0;

    // The editor, embedded in a system window `parent`.
    virtual bool hasEditor() = 0;
    virtual bool editorOpen(void* parent) = 0;
    virtual bool editorSize(int32_t& width, int32_t& height) = 0;
    virtual void editorIdle() = 0;  // the host's run loop: timers and descriptors
    virtual void editorClose() = 0;

    ThreadFindings threads;
};

// Made by Instance for a VST3 or CLAP module; null with `error` set when
// the plug-in gives no instance.
FormatInstance* makeVst3Instance(const Module& module, Instance& owner, std::string& error);
FormatInstance* makeClapInstance(const Module& module, Instance& owner, std::string& error);

}  // namespace validate
