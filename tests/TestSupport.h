// Helpers shared by the tests of the effect: a stand-in editor, and a block
// runner over plain sample vectors.
#pragma once

#include "engine/TableBuilder.h"
#include "plugin/EditorBase.h"
#include "plugin/TubeEffect.h"

#include <cmath>
#include <vector>

// Attaches itself to the effect as the real editor does; the effect deletes it.
class StandInEditor : public EditorBase {
public:
    explicit StandInEditor(TubeEffect* effect, bool* destroyed = nullptr)
        : EditorBase(effect), tube(effect), destroyed(destroyed)
    {
        tube->setEditor(this);
        tube->hasEditor(true);
    }
    ~StandInEditor() override
    {
        tube->setEditor(nullptr);
        tube->hasEditor(false);
        if (destroyed) *destroyed = true;
    }
private:
    TubeEffect* tube;
    bool* destroyed;
};

struct Stereo {
    std::vector<float> left;
    std::vector<float> right;
};

// Runs one block through the effect, out of place, every table set of the
// rates in use ready (as they are a few milliseconds after a new rate).
inline Stereo processBlock(TubeEffect& effect, const Stereo& input)
{
    tableBuilder::waitUntilIdle();
    Stereo output{std::vector<float>(input.left.size()), std::vector<float>(input.right.size())};
    float* in[2] = {const_cast<float*>(input.left.data()), const_cast<float*>(input.right.data())};
    float* out[2] = {output.left.data(), output.right.data()};
    effect.processReplacing(in, out, static_cast<int32_t>(input.left.size()));
    return output;
}

// A stereo test signal: two detuned tones with a slow swell, in -amplitude..amplitude.
inline Stereo testSignal(size_t frames, float amplitude = 0.5f, size_t offset = 0)
{
    Stereo s{std::vector<float>(frames), std::vector<float>(frames)};
    for (size_t i = 0; i < frames; ++i) {
        const double n = static_cast<double>(i + offset);
        const double swell = 0.6 + 0.4 * std::sin(n * 0.0003);
        s.left[i] = static_cast<float>(amplitude * swell * std::sin(n * 0.0571));
        s.right[i] = static_cast<float>(amplitude * swell * std::sin(n * 0.0383 + 1.0));
    }
    return s;
}

// The scope ring as an editor sees it.
struct ScopeRing {
    ScopePoint points[kScopeRingSize];
    explicit ScopeRing(TubeEffect& effect) { effect.getEngine().scope().copy(points); }
    const ScopePoint& operator[](size_t i) const { return points[i]; }
    const ScopePoint* begin() const { return points; }
    const ScopePoint* end() const { return points + kScopeRingSize; }
};
