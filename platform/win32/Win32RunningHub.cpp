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

namespace {

Win32RunningHub::Presence Send(UINT message, LPARAM lParam, uint32_t timeoutMs) {
    HWND window = FindWindowA(nullptr, hubWindowTitle);
    if (window == nullptr) {
        return Win32RunningHub::Presence::absent;
    }
    DWORD_PTR ignored = 0;
    return SendMessageTimeoutA(window, message, 0, lParam, SMTO_ABORTIFHUNG | SMTO_BLOCK, timeoutMs,
                               &ignored) != 0
               ? Win32RunningHub::Presence::responding
               : Win32RunningHub::Presence::notResponding;
}

} // namespace

Win32RunningHub::Presence Win32RunningHub::Probe(uint32_t timeoutMs) {
    return Send(WM_NULL, 0, timeoutMs);
}

Win32RunningHub::Presence Win32RunningHub::SendCommand(uint32_t code, const void* data,
                                                       uint32_t size, uint32_t timeoutMs) {
    COPYDATASTRUCT copy;
    copy.dwData = code;
    copy.cbData = size;
    copy.lpData = const_cast<void*>(data);
    return Send(WM_COPYDATA, reinterpret_cast<LPARAM>(&copy), timeoutMs);
}

} // namespace tavro::platform
