// Dialog 107 as the hub's message window: title, layered style, timer 0 and the message
// filter that lets programs of lower integrity send commands.
#pragma once

#include "hub/engine/MessageWindow.h"

#include <windows.h>

namespace tavro::win32 {

class Win32MessageWindow final : public MessageWindow {
public:
    void Attach(HWND window) { window_ = window; }
    HWND Handle() const { return window_; }

    void Publish() override;
    void StartTimer(uint32_t periodMs) override;
    void StopTimer() override;
    void AllowCommandsFromLowerIntegrity() override;

private:
    HWND window_ = nullptr;
};

} // namespace tavro::win32
