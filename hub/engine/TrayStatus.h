// What the tray shows for a fix status: icon, tip text and fix class (whether a fix is shown,
// which decides the fix and no-fix sounds).
#pragma once

#include "platform/Tray.h"

#include <stdint.h>

namespace tavro {

// Icon resources of the hub.
inline constexpr uint32_t programIcon = 101;
inline constexpr uint32_t noFixIcon = 139;
inline constexpr uint32_t noDataIcon = 140;
inline constexpr uint32_t fix2DIcon = 141;
inline constexpr uint32_t fix3DIcon = 142;

inline constexpr char fixSoundFile[] = "GPS_Fix.wav";
inline constexpr char noFixSoundFile[] = "GPS_NoFix.wav";

struct TrayStatus {
    bool keepsIcon; // the status has no icon of its own: the one shown stays
    uint32_t icon;  // when !keepsIcon
    const char* tip;
    bool keepsFixClass; // the status says nothing about the fix: class and sound stay
    uint32_t fixClass;  // when !keepsFixClass: 1 for a 2D or 3D fix, else 0
};

// The row for `fixStatus` (byte 78 of the status block); while the input port is closed the
// "Not connected" row wins whatever the status says.
TrayStatus TrayStatusFor(uint32_t fixStatus, bool portOpen);

inline constexpr uint32_t trayTipSize = platform::trayTipMax + 1;

// The tray's tip for a row's `statusTip`: the tip itself while the receiver is on the serial
// port, "<tip> - <source>" while "Source" names one on the network. A source too long for the tray
// gives up its middle to "...": its scheme and host at the front and its port or device at the end
// say the most.
void FormatTrayTip(const char* statusTip, const char* source, char (&tip)[trayTipSize]);

} // namespace tavro
