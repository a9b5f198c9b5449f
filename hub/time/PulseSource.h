// What the engine asks of a pulse-per-second watch ("PPS"; PulsePerSecond.h is the one there
// is). A front end that has one passes it in HubServices; the engine reaches it only through
// this interface, so an edition without it does not carry its code.
#pragma once

#include "hub/input/SerialLine.h"

#include <stdint.h>

namespace tavro {

class PulseSource {
public:
    virtual ~PulseSource() = default;

    // Once a tick: the open input port's serial line (null: none) and the time unit its pulses go
    // to (ntpUnitNone: "PPS" off). A change stops the watch and starts one on the new line; a line
    // tried once is not tried again until either changes.
    virtual void Follow(SerialLine* line, uint32_t unit) = 0;
    // A fix's time (ns since 1970, UTC) and the system clock at its arrival.
    virtual void FixSeen(int64_t clockNs, int64_t receiveNs) = 0;

    virtual uint64_t Edges() const = 0;   // assert edges seen
    virtual bool Unavailable() const = 0; // the line reports no carrier changes
    // True once, the first time the line was found without carrier changes.
    virtual bool TakeUnavailableNotice() = 0;
};

} // namespace tavro
