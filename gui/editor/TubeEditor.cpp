#include "gui/editor/TubeEditor.h"

#include "plugin/TubeEffect.h"

EditorBase* createEditor(TubeEffect* effect) { return new TubeEditor(effect); }

TubeEditor::TubeEditor(TubeEffect* effect) : EditorBase(effect), host(*effect), panel(host)
{
    rect.right = static_cast<int16_t>(panel.width());
    rect.bottom = static_cast<int16_t>(panel.height());
    effect->setEditor(this);
    effect->hasEditor(true);
}

TubeEditor::~TubeEditor()
{
    effect->setEditor(nullptr);
    effect->hasEditor(false);
    TubeEditor::close();
}

bool TubeEditor::getRect(ERect** out)
{
    if (!out) return false;
    *out = &rect;
    return true;
}

bool TubeEditor::open(void* parentWindow)
{
    systemWindow = parentWindow;
    if (!panel.open(static_cast<HWND>(parentWindow))) systemWindow = nullptr;
    return false;
}

void TubeEditor::close()
{
    systemWindow = nullptr;
    panel.close();
}
