// Blocking waits of the calling thread (Sleep). Tests replace it with a recorder, so a wait in
// the logic costs them nothing.
#pragma once

#include <stdint.h>

namespace tavro::platform {

class Sleeper {
public:
    virtual ~Sleeper() = default;

    // Blocks the calling thread for `milliseconds`.
    virtual void Sleep(uint32_t milliseconds) = 0;
};

// The adapter of the edition this program was built for.
Sleeper& SystemSleeper();

} // namespace tavro::platform
