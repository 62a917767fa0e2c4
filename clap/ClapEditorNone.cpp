// The adapter without an editor, for the test host that links the adapter
// itself to drive an instance as its editor does.
#include "clap/ClapEditor.h"

const void* clapEditorExtension(ClapEffect&, std::string_view) noexcept { return nullptr; }
