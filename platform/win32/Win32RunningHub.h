// The running hub as a second start finds it: the window titled "TavroMsgWnd".
#pragma once

#include "platform/RunningHub.h"

namespace tavro::platform {

class Win32RunningHub final : public RunningHub {
public:
    // FindWindowA with no class name and the title "TavroMsgWnd", then SendMessageA.
    bool SendToRunningHub(uint32_t message, uintptr_t wParam, intptr_t lParam) override;

    enum class Presence { absent, responding, notResponding };
    // Whether the hub's window exists and its thread takes a message (WM_NULL, which asks
    // nothing of it) within `timeoutMs`.
    static Presence Probe(uint32_t timeoutMs);
    // The same, asking it a HubCommand with `size` payload bytes (WM_COPYDATA): `responding`
    // once the hub has handled it.
    static Presence SendCommand(uint32_t code, const void* data, uint32_t size, uint32_t timeoutMs);
};

} // namespace tavro::platform
