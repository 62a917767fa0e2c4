#include "gui/x11/X11TubeEditor.h"

#include "plugin/TubeEffect.h"

#include <cstdint>

EditorBase* createEditor(TubeEffect* effect) { return new X11TubeEditor(effect); }

X11TubeEditor::X11TubeEditor(TubeEffect* effect) : EditorBase(effect), host(*effect), panel(host)
{
    effect->setEditor(this);
    effect->hasEditor(true);
}

X11TubeEditor::~X11TubeEditor()
{
    effect->setEditor(nullptr);
    effect->hasEditor(false);
    X11TubeEditor::close();
}

bool X11TubeEditor::getRect(ERect** out)
{
    if (!out) return false;
    *out = &rect;
    return true;
}

bool X11TubeEditor::open(void* parentWindow)
{
    // The window id travels in the pointer's bits.
    const auto parent = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(parentWindow));
    systemWindow = panel.open(parent) ? parentWindow : nullptr;
    return false;
}

void X11TubeEditor::close()
{
    panel.close();
    systemWindow = nullptr;
}

void X11TubeEditor::idle()
{
    panel.idle();
    // The panel may have closed itself (its parent destroyed).
    if (!panel.isOpen()) systemWindow = nullptr;
}
