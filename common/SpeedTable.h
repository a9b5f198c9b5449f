// Line speeds tried by the GPS search and offered by the main window, in this order.
#pragma once

#include <stdint.h>

namespace tavro {

// Not inline (a copy per file): the shared section of an inline variable whose address is
// taken draws a false warning from the mingw-w64 linker under link-time optimisation.
constexpr uint32_t speedTable[] = {4800, 9600, 19200, 38400, 57600, 115200, 187500};
inline constexpr uint32_t speedTableCount = sizeof(speedTable) / sizeof(speedTable[0]);

static_assert(speedTableCount == 7);

// The speeds "Baud" may hold.
constexpr bool IsTableSpeed(uint32_t speed) {
    for (const uint32_t listed : speedTable) {
        if (listed == speed) {
            return true;
        }
    }
    return false;
}

} // namespace tavro
