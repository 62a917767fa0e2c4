// Stand-ins for the panel's surroundings in tests without windows: a host
// that records what the panel sends it, and skins of plain colours in the
// real pictures' sizes.
#pragma once

#include "gui/panel/PanelHost.h"
#include "engine/Parameters.h"
#include "gui/panel/SkinPicture.h"

#include <cstdint>
#include <vector>

class RecordingHost : public PanelHost {
public:
    // A value sent, or a gesture's begin (kBegin) or end (kEnd).
    static constexpr float kBegin = -100.0f, kEnd = -200.0f;
    struct Sent {
        int32_t index;
        float value;
    };
    float values[kNumParams] = {};  // factory program 0, set by the constructor

    RecordingHost()
    {
        for (int32_t i = 0; i < kNumParams; ++i) values[i] = kFactoryPrograms[0].values[i];
    }
    std::vector<Sent> sent;
    std::vector<Sent> gestures;  // begins and ends, in order
    ScopePoint ring[kScopeRingSize] = {};
    int32_t starts = 0, stops = 0, copies = 0;

    float getParameter(int32_t index) override { return values[index]; }
    void setParameterFromUser(int32_t index, float value) override
    {
        values[index] = value;
        sent.push_back({index, value});
    }
    void beginEdit(int32_t index) override { gestures.push_back({index, kBegin}); }
    void endEdit(int32_t index) override { gestures.push_back({index, kEnd}); }
    void copyScope(ScopePoint (&out)[kScopeRingSize]) override
    {
        ++copies;
        for (int32_t i = 0; i < kScopeRingSize; ++i) out[i] = ring[i];
    }
    void startScope() override { ++starts; }
    void stopScope() override { ++stops; }
};

// Opaque or see-through pictures of one colour each, sized as the real
// skins: the panel dark grey, the about image dark blue, every other
// picture half-transparent in a colour of its own (premultiplied).
SkinSet plainSkins();
