// The panel's host inside a VST3 plug-in: the effect object, with the
// user's gestures reported to the host's component handler as
// beginEdit / performEdit / endEdit. [UI thread]
#pragma once

#include "gui/panel/PanelHost.h"
#include "vst3/Vst3Effect.h"

namespace vst3 {

class Vst3PanelHost final : public PanelHost {
public:
    explicit Vst3PanelHost(Vst3Effect& effect) noexcept : effect(effect) {}

    float getParameter(int32_t index) override { return effect.getEngine().getParameter(index); }
    void setParameterFromUser(int32_t index, float value) override
    {
        effect.editFromUser(static_cast<ParamID>(index), value);
    }
    void beginEdit(int32_t index) override { effect.beginUserEdit(static_cast<ParamID>(index)); }
    void endEdit(int32_t index) override { effect.endUserEdit(static_cast<ParamID>(index)); }
    void copyScope(ScopePoint (&ring)[kScopeRingSize]) override { effect.getEngine().scope().copy(ring); }
    void startScope() override { effect.getEngine().startScopeFeed(); }
    void stopScope() override { effect.getEngine().stopScopeFeed(); }

private:
    Vst3Effect& effect;
};

}  // namespace vst3
