// The tray icon through Shell_NotifyIconA on the hub's message window.
#pragma once

#include "platform/Tray.h"

namespace tavro::platform {

class Win32Tray final : public Tray {
public:
    // `window` is the message window (HWND) that receives the callback message, `module` the
    // module (HINSTANCE) whose icon resources are shown. Both must be set before the first
    // call; until then every call fails.
    void Attach(void* window, void* module) {
        window_ = window;
        module_ = module;
    }

    bool ShowTrayIcon(TrayOperation operation, uint32_t icon, const char* tip) override;

private:
    void* window_ = nullptr;
    void* module_ = nullptr;
};

} // namespace tavro::platform
