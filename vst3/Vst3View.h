// The effect's editor as a VST3 view: the shared panel in the host's
// window. Each platform's file builds it; null where there is none.
// [UI thread]
#pragma once

#include "vst3/vst3abi.h"

namespace vst3 {

class Vst3Effect;

// A new view holding one reference to `effect`, or null.
IPlugView* createEditorView(Vst3Effect& effect);

}  // namespace vst3
