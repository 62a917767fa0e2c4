// The editor behind the CLAP gui extension. On Linux it is the X11 panel,
// embedded in the host's window and driven only by the host's run loop: a
// 20 ms timer (timer-support) and the panel's X connection watched for
// input (posix-fd-support). A host without both is told the editor cannot
// open. On Windows it is the Win32 panel, which refreshes on its own timer.
// The gui extension itself is shared; each platform's file supplies the
// editor. [main thread]
#pragma once

#include "clap/ext/gui.h"

#include <cstdint>
#include <memory>
#include <string_view>

class ClapEffect;

// The gui extension for `effect`, or null when the id is another one or the
// platform has no editor.
const void* clapEditorExtension(ClapEffect& effect, std::string_view id) noexcept;

// The editor of an instance.
class ClapEditor {
public:
    virtual ~ClapEditor() = default;
    // Into the host's window, of the platform's API.
    virtual bool open(const clap_window_t& parent) = 0;
    virtual bool show() = 0;
    virtual bool hide() = 0;
};

// What each platform's file defines: its window API, whether the host can
// drive an editor there, the editor, and the extensions the editor needs
// besides gui (null for any other id).
namespace clapPlatform {
extern const char* const kWindowApi;
bool hostCanDriveEditor(const ClapEffect& effect) noexcept;
std::unique_ptr<ClapEditor> makeEditor(ClapEffect& effect);
const void* editorExtension(std::string_view id) noexcept;
}  // namespace clapPlatform
