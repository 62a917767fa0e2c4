// Platforms without an editor: the effect runs with none, and hosts show
// their own generic parameter view.
#include "plugin/TubeEffect.h"

EditorBase* createEditor(TubeEffect*) { return nullptr; }
