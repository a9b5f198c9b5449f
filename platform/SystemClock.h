// Setting the operating system's clock.
#pragma once

#include "common/SystemTime.h"

#include <stdint.h>

namespace tavro::platform {

class SystemClock {
public:
    virtual ~SystemClock() = default;

    // Sets the system clock to the UTC time `utc` (wDayOfWeek is ignored). Returns
    // error::success, error::privilegeNotHeld when this account may not set the clock, or
    // error::invalidParameter for a time that is not a valid calendar time (as SetSystemTime
    // refuses it). Nothing is reported to the user: the caller decides what a failure means.
    virtual uint32_t SetSystemTime(const SystemTime& utc) = 0;
};

// The adapter of the edition this program was built for.
SystemClock& RealSystemClock();

} // namespace tavro::platform
