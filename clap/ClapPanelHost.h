// What the editor's panel needs of the effect, the CLAP way: a user's change
// is stored at once and goes to the host as a parameter event, inside the
// gesture around it. [main thread]
#pragma once

#include "clap/ClapEffect.h"
#include "gui/panel/PanelHost.h"

class ClapPanelHost final : public PanelHost {
public:
    explicit ClapPanelHost(ClapEffect& effect) noexcept : effect(effect) {}

    float getParameter(int32_t index) override { return effect.getEngine().getParameter(index); }
    void setParameterFromUser(int32_t index, float value) override { effect.setFromUser(index, value); }
    void beginEdit(int32_t index) override { effect.gesture(index, true); }
    void endEdit(int32_t index) override { effect.gesture(index, false); }
    void copyScope(ScopePoint (&ring)[kScopeRingSize]) override { effect.getEngine().scope().copy(ring); }
    void startScope() override { effect.getEngine().startScopeFeed(); }
    void stopScope() override { effect.getEngine().stopScopeFeed(); }

private:
    ClapEffect& effect;
};
