// The effect's editor in the Linux VST 2.4 plug-in: the X11 panel inside
// the host's window. effEditOpen's pointer carries the parent X window id
// (its value may carry the host's Display, which is left alone: the panel
// has a connection of its own); the host's effEditIdle drives it.
// [UI thread]
#pragma once

#include "gui/editor/EffectPanelHost.h"
#include "gui/x11/X11Editor.h"
#include "plugin/EditorBase.h"

class TubeEffect;

class X11TubeEditor : public EditorBase {
public:
    explicit X11TubeEditor(TubeEffect* effect);
    ~X11TubeEditor() override;

    // 665 x 178, before any open too.
    bool getRect(ERect** rect) override;
    // Answered as on Windows: false (the host reads 0), window or not.
    bool open(void* parentWindow) override;
    void close() override;
    void idle() override;
    bool isOpen() override { return panel.isOpen(); }

    const X11Editor& getPanel() const noexcept { return panel; }

private:
    ERect rect{0, 0, panel::kHeight, panel::kWidth};
    EffectPanelHost host;
    X11Editor panel;
};
