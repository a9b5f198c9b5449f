// Line speeds tried by the GPS search and offered by the main window, in this order.
#pragma once

#include <stdint.h>

namespace tavro {

inline constexpr uint32_t speedTable[] = {4800, 9600, 19200, 38400, 57600, 115200, 187500};
inline constexpr uint32_t speedTableCount = sizeof(speedTable) / sizeof(speedTable[0]);

static_assert(speedTableCount == 7);

} // namespace tavro
