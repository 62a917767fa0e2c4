// The editor behind the CLAP gui extension. On Linux it is the X11 panel,
// embedded in the host's window and driven only by the host's run loop: a
// 20 ms timer (timer-support) and the panel's X connection watched for
// input (posix-fd-support). A host without both is told the editor cannot
// open. On Windows it is the Win32 panel, which refreshes on its own timer.
// [main thread]
#pragma once

#include <cstdint>
#include <string_view>

class ClapEffect;

// The gui extension for `effect`, or null when the id is another one or the
// platform has no editor.
const void* clapEditorExtension(ClapEffect& effect, std::string_view id) noexcept;

// The editor of an instance; defined per platform.
class ClapEditor {
public:
    virtual ~ClapEditor() = default;
};
