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

} // namespace tavro::platform
