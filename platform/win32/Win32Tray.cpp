// Shell_NotifyIconA with the hub's notification data: identifier 1016, callback message 1025,
// the icon loaded at 16 x 16 from the hub's resources.
#include "platform/win32/Win32Tray.h"

#include <string.h>
#include <windows.h>

#include <shellapi.h>

namespace tavro::platform {

void Win32Tray::Attach(void* window, void* module) {
    window_ = window;
    module_ = module;
    shellRestartMessage_ = RegisterWindowMessageA("TaskbarCreated");
}

void Win32Tray::ShowAgain() {
    if (shown_) {
        ShowTrayIcon(TrayOperation::Add, shownIcon_, shownTip_);
    }
}

bool Win32Tray::ShowTrayIcon(TrayOperation operation, uint32_t icon, const char* tip) {
    if (window_ == nullptr) {
        return false;
    }
    HICON loaded = nullptr;
    if (icon != noTrayIcon) {
        loaded =
            static_cast<HICON>(LoadImageA(static_cast<HINSTANCE>(module_), MAKEINTRESOURCEA(icon),
                                          IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
    }

    NOTIFYICONDATAA data;
    memset(&data, 0, sizeof data);
    data.cbSize = sizeof data;
    data.hWnd = static_cast<HWND>(window_);
    data.uID = trayIconId;
    data.uFlags = NIF_ICON;
    if (operation == TrayOperation::Add) {
        data.uFlags |= NIF_MESSAGE;
    }
    data.uCallbackMessage = trayCallbackMessage;
    data.hIcon = loaded;
    if (tip != nullptr) {
        data.uFlags |= NIF_TIP;
        static_assert(sizeof data.szTip > trayTipMax);
        strncpy(data.szTip, tip, trayTipMax);
        data.szTip[trayTipMax] = 0;
    }

    BOOL result = Shell_NotifyIconA(static_cast<DWORD>(operation), &data);
    if (!result && operation != TrayOperation::Add) {
        // The shell may have restarted and lost the icon: add it again.
        data.uFlags |= NIF_MESSAGE;
        result = Shell_NotifyIconA(NIM_ADD, &data);
    }
    if (loaded != nullptr) {
        DestroyIcon(loaded);
    }
    // What the hub wants shown, whether the shell took it or not: a shell that starts after the
    // hub (at logon) announces itself with the same message as one that restarted.
    if (operation == TrayOperation::Delete) {
        shown_ = false;
    } else {
        shown_ = true;
        shownIcon_ = icon;
        // A change without a tip keeps the tip shown.
        if (tip != nullptr || operation == TrayOperation::Add) {
            memcpy(shownTip_, data.szTip, sizeof shownTip_);
        }
    }
    return result != FALSE;
}

} // namespace tavro::platform
