#include "platform/win32/Win32RunningHub.h"

#include "common/HubCommand.h"

#include <windows.h>

namespace tavro::platform {

bool Win32RunningHub::SendToRunningHub(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    HWND window = FindWindowA(nullptr, hubWindowTitle);
    if (window == nullptr) {
        return false;
    }
    SendMessageA(window, message, static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam));
    return true;
}

Win32RunningHub::Presence Win32RunningHub::Probe(uint32_t timeoutMs) {
    HWND window = FindWindowA(nullptr, hubWindowTitle);
    if (window == nullptr) {
        return Presence::absent;
    }
    DWORD_PTR ignored = 0;
    return SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, timeoutMs,
                               &ignored) != 0
               ? Presence::responding
               : Presence::notResponding;
}

} // namespace tavro::platform
