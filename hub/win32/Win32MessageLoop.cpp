#include "hub/win32/Win32MessageLoop.h"

#include "common/HubCommand.h"
#include "hub/win32/GdiplusLamps.h"

#include <commctrl.h>

#include <stdint.h>

namespace tavro::win32 {

void Win32MessageLoop::Run(HubEngine& engine) {
    engine_ = &engine;
    // The present-USB device set of the power handling is made by HubMain around this call.
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL);
    // The main window's device list is a list view; its lamps are drawn with GDI+.
    InitCommonControls();
    const GdiplusSession gdiplus;
    const HWND window = CreateDialogParamA(instance_, MAKEINTRESOURCEA(messageWindowDialog),
                                           nullptr, Procedure, reinterpret_cast<LPARAM>(this));
    if (window != nullptr) {
        RunMessages(window);
    }
    engine_ = nullptr;
}

void Win32MessageLoop::RunMessages(HWND window) {
    // MAXIMUM_WAIT_OBJECTS less the slot of the message queue.
    constexpr uint32_t waitCapacity = MAXIMUM_WAIT_OBJECTS - 1;
    platform::WaitEntry waits[waitCapacity];
    HANDLE handles[waitCapacity];
    bool waitFailedSaid = false;
    for (;;) {
        const uint32_t count = engine_ != nullptr ? engine_->CollectWaits(waits, waitCapacity) : 0;
        for (uint32_t i = 0; i < count; ++i) {
            handles[i] = reinterpret_cast<HANDLE>(waits[i].object);
        }
        const DWORD woken =
            MsgWaitForMultipleObjectsEx(count, handles, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (woken == WAIT_FAILED) {
            // A handle went stale between collecting and waiting: said once, then a tick's
            // pause, so that the loop cannot spin; the next round collects afresh.
            if (!waitFailedSaid) {
                waitFailedSaid = true;
                OutputDebugStringA("Tavro: waiting for the receiver failed; retrying\n");
            }
            Sleep(hubTickPeriodMs);
        } else if (woken < WAIT_OBJECT_0 + count && engine_ != nullptr) {
            // Every handle that is signalled now, not only the first: a busy receiver must not
            // keep a waiting write (or a network client) from its turn.
            for (uint32_t i = woken - WAIT_OBJECT_0; i < count; ++i) {
                if (i == woken - WAIT_OBJECT_0 ||
                    WaitForSingleObject(handles[i], 0) == WAIT_OBJECT_0) {
                    engine_->WaitReady(waits[i].token, waits[i].events);
                }
            }
        }
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                // What the modal loop of DialogBoxParamA did: the window goes, and with it
                // (WM_DESTROY) the hub.
                DestroyWindow(window);
                return;
            }
            // The message filter hook (the main window's keys), then the dialog manager.
            if (CallMsgFilterA(&message, MSGF_DIALOGBOX) || IsDialogMessageA(window, &message)) {
                continue;
            }
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (!IsWindow(window)) {
            return; // destroyed without a quit message: the hub has ended all the same
        }
    }
}

INT_PTR CALLBACK Win32MessageLoop::Procedure(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(window, DWLP_USER, lParam);
    }
    auto* loop = reinterpret_cast<Win32MessageLoop*>(GetWindowLongPtrA(window, DWLP_USER));
    if (loop == nullptr || loop->engine_ == nullptr) {
        // Messages that come before WM_INITDIALOG (WM_SETFONT and the like).
        return FALSE;
    }
    return loop->Handle(window, message, wParam, lParam);
}

INT_PTR Win32MessageLoop::Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    HubEngine& engine = *engine_;
    if (message == tray_.ShellRestartMessage() && message != 0) {
        tray_.ShowAgain(); // the restarted shell knows no icon
        return FALSE;
    }
    switch (message) {
    case WM_INITDIALOG:
        window_.Attach(window);
        tray_.Attach(window, instance_);
        return engine.InitDialog();
    case WM_TIMER:
        if (wParam == 0) {
            engine.Tick();
        }
        return FALSE;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        EndPaint(window, &paint);
        return FALSE;
    }
    case WM_COPYDATA: {
        const auto* copy = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        // A code that does not fit 32 bits is no HubCommand; cut, it could pass for one.
        if (copy != nullptr && copy->dwData == static_cast<ULONG_PTR>(HubCommand::ReportStatus)) {
            reporter_.Answer(copy->lpData, copy->cbData);
        } else if (copy != nullptr && copy->dwData <= UINT32_MAX) {
            engine.CopyData(static_cast<uint32_t>(copy->dwData), copy->lpData, copy->cbData);
        }
        return FALSE;
    }
    case toggleMainWindowMessage:
        engine.ToggleMainWindow(static_cast<intptr_t>(lParam));
        return FALSE;
    case WM_POWERBROADCAST:
        // Answered with 0: the hub never refuses a suspend.
        engine.PowerBroadcast(static_cast<uintptr_t>(wParam));
        return FALSE;
    case WM_DEVICECHANGE:
        // A receiver plugged in while the input port is closed: a search after 0.5 s.
        engine.DeviceChanged();
        return FALSE;
    case WM_DESTROY:
        engine.Destroy();
        return FALSE;
    default:
        return FALSE;
    }
}

} // namespace tavro::win32
