// What the editor's panel needs of the effect it edits, whatever carries
// the two to each other: the VST 2.4 editors implement it over the effect
// object; a UI in another process implements it over port events and
// messages. Every call comes from the UI thread that drives the panel.
#pragma once

#include "engine/ScopeFeed.h"

#include <cstdint>

class PanelHost {
public:
    virtual ~PanelHost() = default;

    // A parameter's normalized value as the effect holds it now.
    virtual float getParameter(int32_t index) = 0;
    // The user moved a control: store the value and tell the host, which
    // records it as automation (VST 2.4's setParameterAutomated).
    virtual void setParameterFromUser(int32_t index, float value) = 0;
    // A user's gesture on a parameter begins and ends around its changes: a
    // dial drag from the first value it pushes until it is let go, a button
    // around its one change. Hosts that record automation by gestures
    // (VST3, CLAP) are told; others need not listen.
    virtual void beginEdit(int32_t /*index*/) {}
    virtual void endEdit(int32_t /*index*/) {}
    // The scope's latest points: the whole ring, oldest slot first as it
    // lies, the points the panel has not drawn yet among them.
    virtual void copyScope(ScopePoint (&ring)[kScopeRingSize]) = 0;
    // The panel opened or closed: the effect feeds the scope only while
    // someone looks at it.
    virtual void startScope() = 0;
    virtual void stopScope() = 0;
};
