#include "hub/engine/TrayStatus.h"

#include "common/GpsSharedStatus.h"

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

} // namespace tavro
