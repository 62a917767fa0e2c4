// Builds without an editor: hosts show their generic controls.
#include "vst3/Vst3View.h"

namespace vst3 {

IPlugView* createEditorView(Vst3Effect&) { return nullptr; }

}  // namespace vst3
