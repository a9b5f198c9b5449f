// SPDX-License-Identifier: Apache-2.0
// One input: where a receiver's bytes come from, as the engine uses any of them. A serial port
// (SerialInput) and a network source (NetworkSource) are inputs; MakeInput (MakeInput.h) makes
// the one a description names, so the engine never needs to know which kind it reads.
//
// Every call returns error::success or a Win32 error code, as the platform's do. An input
// belongs to one thread (the hub's loop), and several may exist at once.
#pragma once

#include "hub/input/SourceRecord.h"
#include "platform/ErrorCodes.h"
#include "platform/EventWait.h"

#include <stdint.h>

namespace tavro {

class SerialLine;

class Input {
public:
    virtual ~Input() = default;

    // Starts the input: a serial port is opened and given the hub's queues and time-outs; a
    // network source starts connecting (at once, or when a back-off still running from before
    // a close has passed), and later failures are its own to recover from. False when the
    // input cannot be used, with LastError() saying why. Nothing when already open.
    virtual bool Open() = 0;

    // Ends it. Safe to repeat; TakeUnwritten still answers afterwards.
    virtual void Close() = 0;

    // The timer loop, every tick: moves the input on (a connection's steps, its back-off, a
    // silent peer) and returns its state.
    virtual SourceState Tick() = 0;
    virtual SourceState State() const = 0;

    // The last failure (code 0: none), with the operating system's own error beside it.
    virtual platform::SystemError LastError() const = 0;

    // Recovers from silence by itself (a network source reconnects with its back-off): the
    // loop does not re-open it when it falls silent, and a hang-up does not end its wait.
    virtual bool KeepsItselfUp() const = 0;

    // ---- Reading ---------------------------------------------------------------------------
    // Bytes received and not read yet (a serial port's line errors are cleared on the way).
    virtual uint32_t Queued(uint32_t& bytes) = 0;
    // What has arrived, up to `size` bytes, without waiting: `got` 0 when nothing has.
    virtual uint32_t Read(void* buffer, uint32_t size, uint32_t& got) = 0;
    // Makes ready for received bytes and returns what becomes ready (for input) once some
    // are waiting; platform::noWaitObject while nothing can arrive (a source not connected).
    virtual platform::WaitObject ArmArrival() = 0;

    // ---- Writing to the receiver -----------------------------------------------------------
    // One write that may wait for the line (a serial port's write time-out): `written` may be
    // below `size` when the time ran out.
    virtual uint32_t Write(const void* data, uint32_t size, uint32_t& written) = 0;
    // Writes what the line takes now; fewer than `size` accepted means it is busy: wait for
    // WriteWait, or try again at the next tick.
    virtual uint32_t WriteNoWait(const void* data, uint32_t size, uint32_t& accepted) = 0;
    // What becomes ready (for output) when WriteNoWait can take more; platform::noWaitObject
    // when there is nothing to wait for.
    virtual platform::WaitObject WriteWait() = 0;
    // Bytes WriteNoWait accepted that then never reached the line (a write that failed or was
    // cancelled in flight), counted since the last call.
    virtual uint32_t TakeUnwritten() = 0;

    // The line control of a serial input (speed, carrier detect); null for every other.
    virtual SerialLine* Line() = 0;
};

} // namespace tavro
