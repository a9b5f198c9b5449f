// The notification-area icon of the hub: one icon whose picture and tip show the receiver's
// fix state. Windows: Shell_NotifyIconA on the hub's message window. Other editions and tests
// may have no tray at all.
#pragma once

#include <stdint.h>

namespace tavro::platform {

// Shell_NotifyIconA's operations, with their Win32 numbers.
enum class TrayOperation : uint32_t {
    Add = 0,    // NIM_ADD
    Modify = 1, // NIM_MODIFY
    Delete = 2, // NIM_DELETE
};

// Icon resource number meaning "no icon" (NIM_DELETE passes none).
inline constexpr uint32_t noTrayIcon = 0;

// The tray icon's identifier and callback message (WM_USER + 1, the hub's ToggleMainWindow).
inline constexpr uint32_t trayIconId = 1016;
inline constexpr uint32_t trayCallbackMessage = 1025;

// Longest tip text kept; longer tips are cut.
inline constexpr uint32_t trayTipMax = 127;

class Tray {
public:
    virtual ~Tray() = default;

    // Shows, changes or removes the icon: `icon` is a resource number of the hub's icons
    // (noTrayIcon for none), `tip` the tip text or null for none. Returns true when the shell
    // accepted it. A failed change is retried once as an add, so an icon lost to a restart of
    // the shell comes back at the next change.
    virtual bool ShowTrayIcon(TrayOperation operation, uint32_t icon, const char* tip) = 0;
};

// A tray that shows nothing and reports success: for editions and runs without a desktop.
class NoTray final : public Tray {
public:
    bool ShowTrayIcon(TrayOperation, uint32_t, const char*) override { return true; }
};

} // namespace tavro::platform
