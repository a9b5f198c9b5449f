// Waiting and the millisecond tick count, as the hub uses them (Sleep and GetTickCount).
// Behind an interface so that the hub's fixed waits (100 ms, 200 ms) cost nothing in tests
// and the time-outs that depend on the tick count can be driven by hand.
#pragma once

#include <stdint.h>

namespace tavro::platform {

class Timing {
public:
    virtual ~Timing() = default;

    // Milliseconds since some fixed moment; wraps after 2^32 ms like GetTickCount.
    virtual uint32_t GetTickCount() = 0;

    // Microseconds since some fixed moment, for measuring short spans (when bytes arrived).
    // The default is the tick count's resolution.
    virtual uint64_t Microseconds() { return uint64_t{GetTickCount()} * 1000u; }

    // Blocks the calling thread for about `milliseconds`.
    virtual void Sleep(uint32_t milliseconds) = 0;
};

// The adapter of the edition this program was built for.
Timing& SystemTiming();

} // namespace tavro::platform
