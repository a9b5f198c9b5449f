// The state of one open handle of a virtual port: its read position and its own settings.
#pragma once

#include <stdint.h>

#include "sys/core/SerialDefinitions.h"

namespace tavro::driver {

struct Request;

// Allocated from non-paged memory at open and attached to the file object. Every field is
// guarded by the port lock: the handle's own requests may run in several threads of the
// application while the hub's checks and the time-out thread read the same fields.
//
// Values at open that are otherwise unsettled: waitMask, timeouts, lastCharTime, readStartTime
// and eofReceived start at 0, so with nothing set a read waits until its length is satisfied.
struct PortHandleState {
    // What the hub's broadcast reads of every handle comes first, within 64 bytes.
    PortHandleState* nextHandle; // the port's list of open handles (see previousHandle)
    Request* pendingWait;        // the handle's queued wait-on-mask (at most one)
    uint32_t readIndex;          // this handle's tail in the receive ring
    uint32_t waitMask;           // from IOCTL_SERIAL_SET_WAIT_MASK
    // Events of the mask that happened while no wait was queued; the next wait completes at
    // once with them (as a serial port's event history does). Cleared by a new mask.
    uint32_t eventHistory;
    // SERIAL_ERROR_* bits since the last IOCTL_SERIAL_GET_COMMSTATUS, which clears them.
    uint32_t errors;
    // Queued requests of this handle, by kind.
    uint32_t queuedReads;
    SERIAL_CHARS chars;
    uint8_t eofReceived; // EofChar arrived while EV_RXFLAG was in the mask
    // Set by cleanup: the handle is closing, so a request that still arrives is cancelled at
    // once instead of being queued where nobody would cancel it.
    uint8_t cleanedUp;
    // Bytes of this handle are in the transmit ring or in its queued writes; EV_TXEMPTY is due
    // when the hub has taken the last of them.
    uint8_t transmitPending;
    // Marks the pass over the read queue that has met this handle's oldest read (see
    // PortDevice::ServeReads).
    uint64_t serveMark;

    Request* pendingRead; // most recently queued read of this handle, if still queued
    uint32_t baudRate;    // stored and echoed, 4800 at open
    uint32_t queuedWrites;
    uint64_t lastCharTime;  // when bytes last reached a read of this handle
    uint64_t readStartTime; // when the most recent read of this handle was queued
    SERIAL_TIMEOUTS timeouts;
    SERIAL_HANDFLOW handFlow;
    SERIAL_LINE_CONTROL lineControl;
    // Position in the port's transmit stream just after this handle's last stored byte: its
    // bytes are all collected once the port's collected position reaches it.
    uint64_t lastWriteEnd;
    // Where its oldest byte still in the ring went in (valid while lastWriteEnd is ahead of the
    // collected position).
    uint64_t firstWriteStart;

    // With nextHandle: the list lets a ring replacement move every handle to the new ring and
    // a broadcast account for every reader.
    PortHandleState* previousHandle;
};

} // namespace tavro::driver
