#include "setup/win32/WindowHubLink.h"

#include "platform/ErrorCodes.h"

namespace tavro::win32 {
namespace {

// The hub answers a command within one pass of its window procedure; a hub that hangs must
// not hang the dialog with it.
constexpr UINT commandTimeoutMs = 5000;

} // namespace

uint32_t WindowHubLink::FindHub() {
    window_ = FindWindowA(nullptr, hubWindowTitle);
    return window_ != nullptr ? error::success : error::fileNotFound;
}

uint32_t WindowHubLink::Send(HubCommand code, const void* payload, uint32_t length) {
    if (window_ == nullptr) {
        return error::fileNotFound;
    }
    COPYDATASTRUCT copy;
    copy.dwData = static_cast<ULONG_PTR>(code);
    copy.cbData = length;
    copy.lpData = const_cast<void*>(payload);
    DWORD_PTR result = 0;
    if (SendMessageTimeoutA(window_, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copy),
                            SMTO_NORMAL | SMTO_ABORTIFHUNG, commandTimeoutMs, &result) == 0) {
        const DWORD failure = GetLastError();
        return failure == ERROR_TIMEOUT || failure == 0 ? error::semTimeout : failure;
    }
    return error::success;
}

} // namespace tavro::win32
