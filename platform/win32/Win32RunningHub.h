// The running hub as a second start finds it: the window titled "TavroMsgWnd".
#pragma once

#include "platform/RunningHub.h"

namespace tavro::platform {

class Win32RunningHub final : public RunningHub {
public:
    // FindWindowA with no class name and the title "TavroMsgWnd", then SendMessageA.
    bool SendToRunningHub(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
};

} // namespace tavro::platform
