#include "hub/engine/TrayStatus.h"

#include "common/GpsSharedStatus.h"
#include "platform/TextBuilder.h"

#include <string.h>

namespace tavro {

TrayStatus TrayStatusFor(uint32_t fixStatus, bool portOpen) {
    if (!portOpen) {
        return {false, programIcon, "Not connected", false, 0};
    }
    switch (fixStatus) {
    case static_cast<uint32_t>(FixState::NoData):
        return {false, noDataIcon, "No Data", false, 0};
    case static_cast<uint32_t>(FixState::NoFix):
        return {false, noFixIcon, "No Fix", false, 0};
    case static_cast<uint32_t>(FixState::Fix2D):
        return {false, fix2DIcon, "2D Fix", false, 1};
    case static_cast<uint32_t>(FixState::Fix3D):
        return {false, fix3DIcon, "3D Fix", false, 1};
    case static_cast<uint32_t>(FixState::Invalid):
        return {false, noDataIcon, "Invalid", false, 0};
    default:
        // 4 is never produced, values above 5 are not states: name the program, change
        // nothing else.
        return {true, 0, "Tavro", true, 0};
    }
}

void FormatTrayTip(const char* statusTip, const char* source, char (&tip)[trayTipSize]) {
    platform::TextBuilder text(tip, sizeof tip);
    text.Append(statusTip);
    if (source[0] == '\0') {
        return;
    }
    text.Append(" - ");
    const size_t room = sizeof tip - 1 - text.Length(); // the status tips are short: room > 3
    const size_t length = strlen(source);
    if (length <= room) {
        text.Append(source);
        return;
    }
    const size_t tail = (room - 3) / 2;
    text.Append(source, room - 3 - tail).Append("...").Append(source + length - tail);
}

} // namespace tavro
