// Draws the signal graph's shape with GDI.
#pragma once

#include "common/GpsSharedStatus.h"

#include <windows.h>

namespace tavro::win32 {

// Draws the graph for `block` into `dc` over `client` (the control's client rectangle). The
// picture is composed off screen and copied in one piece, so it does not flicker at 5 Hz.
void DrawSignalGraph(HDC dc, const RECT& client, const GpsSharedStatus& block);

} // namespace tavro::win32
