#include "hub/win32/Win32MessageWindow.h"

#include "common/HubCommand.h"

namespace tavro::win32 {
namespace {

// The message window's only timer.
constexpr UINT_PTR tickTimerId = 0;

// Not in every SDK's headers; the values are fixed.
constexpr DWORD layeredStyle = 0x80000; // WS_EX_LAYERED
constexpr DWORD messageFilterAllow = 1; // MSGFLT_ALLOW
constexpr UINT copyDataMessage = 74;    // WM_COPYDATA

using ChangeWindowMessageFilterExFunction = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);

} // namespace

void Win32MessageWindow::Publish() {
    SetWindowTextA(window_, hubWindowTitle);
    // A modal dialog is shown whatever its style; layered without attributes, it stays unseen.
    SetWindowLongA(window_, GWL_EXSTYLE, GetWindowLongA(window_, GWL_EXSTYLE) | layeredStyle);
}

void Win32MessageWindow::StartTimer(uint32_t periodMs) {
    SetTimer(window_, tickTimerId, periodMs, nullptr);
}

void Win32MessageWindow::StopTimer() {
    KillTimer(window_, tickTimerId);
}

void Win32MessageWindow::AllowCommandsFromLowerIntegrity() {
    // The filter exists from Windows 7 on (earlier systems need no rule, or have none); its
    // presence in User32.dll is the test, which also spares a version query.
    HMODULE user32 = LoadLibraryA("User32.dll");
    if (user32 == nullptr) {
        return;
    }
    auto change = reinterpret_cast<ChangeWindowMessageFilterExFunction>(
        reinterpret_cast<void*>(GetProcAddress(user32, "ChangeWindowMessageFilterEx")));
    if (change != nullptr) {
        change(window_, copyDataMessage, messageFilterAllow, nullptr);
        // The shell's restart notice too: an elevated hub would not get it otherwise.
        change(window_, RegisterWindowMessageA("TaskbarCreated"), messageFilterAllow, nullptr);
    }
    FreeLibrary(user32);
}

} // namespace tavro::win32
