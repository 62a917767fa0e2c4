// The golden-output test's plug-in, for its build against the VST3 bundle:
// the same scenes, driven as a VST3 host drives the bundle, must give the
// checksums recorded from the VST 2.4 build. Values set between blocks
// reach it as parameter points at the next block's first frame; programs
// through the program parameter; a rate change between setActive(0) and
// setActive(1); mono as a mono-to-stereo bus arrangement. It runs as an
// offline render, for which the bundle makes every table set at activation,
// so that each change lands at its first block, as recorded.
#pragma once

#include "Vst3Host.h"
#include "vst3/Vst3Effect.h"

#include <cstdint>

class GoldenPlugin {
public:
    explicit GoldenPlugin(float rate) : rate(rate), instance(rate, 1024, false) { instance.start(rate, 1024, vst3::kOffline); }
    GoldenPlugin(const GoldenPlugin&) = delete;
    GoldenPlugin& operator=(const GoldenPlugin&) = delete;

    bool ok() const { return instance.ok(); }
    void program(int32_t program)
    {
        instance.controller->setParamNormalized(vst3::kProgramId, static_cast<double>(program) / (kNumPrograms - 1));
    }
    void set(int32_t index, float value) { changes.add(static_cast<vst3::ParamID>(index), 0, value); }
    void changeRate(float newRate)
    {
        rate = newRate;
        instance.stop();
        instance.start(rate, 1024, vst3::kOffline);
    }
    void mono()
    {
        vst3::SpeakerArrangement in = vst3::kArrMono, out = vst3::kArrStereo;
        instance.stop();
        instance.processor->setBusArrangements(&in, 1, &out, 1);
        instance.start(rate, 1024, vst3::kOffline);
        channelsIn = 1;
    }
    void process(float** in, float** out, int32_t frames)
    {
        instance.process(std::vector<float*>(in, in + channelsIn), {out[0], out[1]}, frames,
                         changes.queues.empty() ? nullptr : &changes);
        changes.queues.clear();
    }

private:
    float rate;
    testhost::Instance instance;
    testhost::Changes changes;
    int32_t channelsIn = 2;
};
