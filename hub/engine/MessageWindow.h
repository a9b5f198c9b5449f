// What the hub engine asks of the front end's message window: the parts of the hidden window
// that only the front end can do. Windows: dialog 107 with its title, layered style, timer 0
// and message filter. POSIX: the event loop's timer and the command socket.
#pragma once

#include <stdint.h>

namespace tavro {

class MessageWindow {
public:
    virtual ~MessageWindow() = default;

    // Makes the window findable by other programs under its name "TavroMsgWnd" (Windows: the
    // window title, and the layered style that keeps the dialog invisible).
    virtual void Publish() = 0;

    // Starts the periodic tick: HubEngine::Tick every `periodMs` milliseconds until StopTimer.
    // Ticks that fall due while the thread is busy are lost, never queued up.
    virtual void StartTimer(uint32_t periodMs) = 0;
    virtual void StopTimer() = 0;

    // Lets processes of lower integrity send commands (Windows 6.0 and later:
    // ChangeWindowMessageFilterEx for WM_COPYDATA; nothing where there is no such rule).
    virtual void AllowCommandsFromLowerIntegrity() = 0;
};

} // namespace tavro
