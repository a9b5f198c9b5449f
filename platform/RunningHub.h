// The hub that is already running, as a second start sees it. Windows: the window titled
// "TavroMsgWnd" (FindWindowA with no class), to which the message is sent with SendMessageA.
// POSIX: the running hub's command socket.
#pragma once

#include <stdint.h>

namespace tavro::platform {

class RunningHub {
public:
    virtual ~RunningHub() = default;

    // Looks for a running hub and, when there is one, sends it `message` with `wParam` and
    // `lParam` and waits until it has been handled. Returns true when a running hub was found
    // (whatever it did with the message), false when there is none.
    virtual bool SendToRunningHub(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
};

} // namespace tavro::platform
