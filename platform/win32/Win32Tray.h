// The tray icon through Shell_NotifyIconA on the hub's message window. It remembers what it
// shows, so that the icon can be added again when the shell restarts (the shell then
// broadcasts "TaskbarCreated" and has forgotten every icon).
#pragma once

#include "platform/Tray.h"

namespace tavro::platform {

class Win32Tray final : public Tray {
public:
    // `window` is the message window (HWND) that receives the callback message, `module` the
    // module (HINSTANCE) whose icon resources are shown. Both must be set before the first
    // call; until then every call fails.
    void Attach(void* window, void* module);

    bool ShowTrayIcon(TrayOperation operation, uint32_t icon, const char* tip) override;

    // The shell's "TaskbarCreated" message (0 before Attach).
    unsigned ShellRestartMessage() const { return shellRestartMessage_; }
    // Adds the icon the hub last asked for again, unless it was removed.
    void ShowAgain();

private:
    void* window_ = nullptr;
    void* module_ = nullptr;
    unsigned shellRestartMessage_ = 0;
    bool shown_ = false;
    uint32_t shownIcon_ = 0;
    char shownTip_[trayTipMax + 1] = {};
};

} // namespace tavro::platform
