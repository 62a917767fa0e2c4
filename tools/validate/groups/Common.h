// Helpers shared by the test groups.
#pragma once

#include "../Harness.h"
#include "../Host.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace validate {

// Loads the library under test; ends the test when it cannot.
std::unique_ptr<Module> requireModule(const Options& options, Check& check);

// Loads the library under test for a whole group; when it cannot, reports
// the failure as the test "<group>.load" and gives null.
std::unique_ptr<Module> loadForGroup(Runner& runner, const char* group);

// Two copies of the library under test, each loaded on its own, so that the
// system keeps two sets of the library's global state. Ends the test when
// either copy cannot be made or loaded. The modules go before the files.
struct TwoCopies {
    TwoCopies(const Options& options, const char* firstTag, const char* secondTag, Check& check);
    LibraryCopy first, second;
    std::unique_ptr<Module> a, b;
};

// Every parameter at one normalized value: the grid's plug-in settings.
// "min" and "max" put every switch (an oversampling switch among them) to
// both ends; "mid" puts choices among three or more in the middle.
struct Setting {
    const char* name;
    float value;
};
const std::vector<Setting>& gridSettings();

// Parameter values at and just past the edges of 0..1 that hosts send
// (an automation curve's overshoot by a float's step, -0, subnormals),
// and, with Options::wildParameters, values no host sends.
const std::vector<float>& edgeValues(const Options& options);

// What a run of blocks produced: every output channel, and its scan.
struct Render {
    std::vector<std::vector<float>> out;
    Scan scan;
};

// Input for one block: fills buffers.in for `frames` frames starting at
// stream position `first`.
using InputSource = std::function<void(AudioBuffers& buffers, int64_t first, int32_t frames)>;

// The test signal at the instance's rate.
InputSource signalSource(double sampleRate, float amplitude = 0.5f);

// Runs `total` frames through the instance in blocks chosen by `nextBlock`
// (called with the frames left), out of place or in place, and scans the
// output against `bound`.
Render render(Instance& instance, int64_t total, const std::function<int32_t(int64_t left)>& nextBlock, bool inPlace,
              const InputSource& source, double bound);

// Largest absolute difference between two renders (infinity when their
// shapes differ or a sample is not finite in one and finite in the other).
double largestDifference(const Render& a, const Render& b);
// Whether two renders are equal bit for bit.
bool bitExact(const Render& a, const Render& b);

// The groups.
void lifecycleGroup(Runner& runner);
void dispatcherGroup(Runner& runner);
void processingGroup(Runner& runner);
void badAudioGroup(Runner& runner);
void parametersGroup(Runner& runner);
void programsGroup(Runner& runner);
void instancesGroup(Runner& runner);
void realtimeGroup(Runner& runner);
void timingGroup(Runner& runner);
void editorGroup(Runner& runner);
void vst3Group(Runner& runner);
void clapGroup(Runner& runner);

}  // namespace validate
