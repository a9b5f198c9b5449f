// The hub's message window: dialog 107, its window procedure forwarding each message to the
// engine, and the thread's message loop. The loop is the hub's own (MsgWaitForMultipleObjects)
// rather than a modal dialog's, so that it can wait for the engine's objects too: with
// "Immediate Relay" the receiver's overlapped read and write, whose events wake it as soon as
// bytes arrive or the line takes more. It does what the modal loop did: the dialog manager
// sees the dialog's keys (and, through the message filter hook, the main window's), and
// WM_QUIT ends the hub by destroying the message window.
#pragma once

#include "hub/engine/HubEngine.h"
#include "hub/ui/HubReporter.h"
#include "hub/win32/Win32MessageWindow.h"
#include "platform/win32/Win32Tray.h"

#include <windows.h>

namespace tavro::win32 {

// Resource number of the message window's dialog.
inline constexpr int messageWindowDialog = 107;

class Win32MessageLoop final : public MessageLoop {
public:
    Win32MessageLoop(HINSTANCE instance, Win32MessageWindow& window, platform::Win32Tray& tray,
                     HubReporter& reporter)
        : instance_(instance), window_(window), tray_(tray), reporter_(reporter) {}

    // Raises the thread's priority and runs the dialog until the hub ends.
    void Run(HubEngine& engine) override;

private:
    void RunMessages(HWND window);

    static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HINSTANCE instance_;
    Win32MessageWindow& window_;
    platform::Win32Tray& tray_;
    HubReporter& reporter_; // answers HubCommand::ReportStatus
    HubEngine* engine_ = nullptr;
};

} // namespace tavro::win32
