// The hub's modal message window: dialog 107 run with DialogBoxParamA, its window procedure
// forwarding each message to the engine.
#pragma once

#include "hub/engine/HubEngine.h"
#include "hub/win32/Win32MessageWindow.h"
#include "platform/win32/Win32Tray.h"

#include <windows.h>

namespace tavro::win32 {

// Resource number of the message window's dialog.
inline constexpr int messageWindowDialog = 107;

class Win32MessageLoop final : public MessageLoop {
public:
    Win32MessageLoop(HINSTANCE instance, Win32MessageWindow& window, platform::Win32Tray& tray)
        : instance_(instance), window_(window), tray_(tray) {}

    // Raises the thread's priority and runs the dialog until the hub ends.
    void Run(HubEngine& engine) override;

private:
    static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HINSTANCE instance_;
    Win32MessageWindow& window_;
    platform::Win32Tray& tray_;
    HubEngine* engine_ = nullptr;
};

} // namespace tavro::win32
