// The state of one open handle of a virtual port: its read position and its own settings.
#pragma once

#include <stdint.h>

#include "sys/core/SerialDefinitions.h"

namespace tavro::driver {

struct Request;

// Allocated from non-paged memory at open and attached to the file object. Every field is
// guarded by the port lock: the handle's own requests may run in several threads of the
// application while the hub's checks read the same fields.
//
// Values at open that are otherwise unsettled: waitMask, timeouts, lastCharTime, readStartTime
// and eofReceived start at 0, so with nothing set a read waits until its length is satisfied.
struct PortHandleState {
    uint32_t readIndex;     // this handle's tail in the receive ring
    Request* pendingRead;   // most recently queued read of this handle, if still queued
    Request* pendingWait;   // the handle's queued wait-on-mask (at most one)
    uint32_t waitMask;      // from IOCTL_SERIAL_SET_WAIT_MASK
    uint32_t baudRate;      // stored and echoed, 4800 at open
    uint64_t lastCharTime;  // last byte that arrived while a read of this handle was queued
    uint64_t readStartTime; // when the most recent read of this handle was queued
    SERIAL_TIMEOUTS timeouts;
    SERIAL_HANDFLOW handFlow;
    SERIAL_CHARS chars;
    SERIAL_LINE_CONTROL lineControl;
    uint8_t eofReceived; // EofChar arrived while EV_RXFLAG was in the mask

    // Set by cleanup: the handle is closing, so a read or wait that still arrives is cancelled
    // at once instead of being queued where nobody would cancel it.
    uint8_t cleanedUp;
    // The port's list of open handles, so that a ring replacement can move every handle to the
    // new ring.
    PortHandleState* nextHandle;
    PortHandleState* previousHandle;
};

} // namespace tavro::driver
