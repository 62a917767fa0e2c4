// The effect's editor in the Windows VST 2.4 plug-in: the Win32 panel
// inside the host's window, over the effect object. [UI thread]
#pragma once

#include "gui/editor/EffectPanelHost.h"
#include "gui/editor/Win32Panel.h"
#include "plugin/EditorBase.h"

class TubeEffect;

class TubeEditor : public EditorBase {
public:
    explicit TubeEditor(TubeEffect* effect);
    ~TubeEditor() override;

    bool getRect(ERect** rect) override;
    // Hosts are answered 0 whether or not the window was made.
    bool open(void* parentWindow) override;
    void close() override;

    const Win32Panel& getPanel() const noexcept { return panel; }

private:
    ERect rect{};
    EffectPanelHost host;
    Win32Panel panel;
};
