// Platforms without a CLAP editor: the gui extension is not offered.
#include "clap/ClapEditor.h"

const void* clapEditorExtension(ClapEffect&, std::string_view) noexcept { return nullptr; }
