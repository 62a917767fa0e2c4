// The panel's host inside a VST 2.4 plug-in: the effect object itself.
// [UI thread]
#pragma once

#include "gui/panel/PanelHost.h"
#include "plugin/TubeEffect.h"

class EffectPanelHost final : public PanelHost {
public:
    explicit EffectPanelHost(TubeEffect& effect) noexcept : effect(effect) {}

    float getParameter(int32_t index) override { return effect.getParameter(index); }
    void setParameterFromUser(int32_t index, float value) override { effect.setParameterAutomated(index, value); }
    void copyScope(ScopePoint (&ring)[kScopeRingSize]) override { effect.getEngine().scope().copy(ring); }
    void startScope() override { effect.startScopeFeed(); }
    void stopScope() override { effect.stopScopeFeed(); }

private:
    TubeEffect& effect;
};
