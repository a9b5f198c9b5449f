// The carrier-detect line (DCD) of a serial port, where GPS receivers give their
// pulse-per-second: a wait for its changes, made on a thread that does nothing else, with
// each change stamped on the system clock as soon as the wait returns.
#pragma once

#include "platform/TimeService.h"

#include <stdint.h>

namespace tavro::platform {

class CarrierWatch {
public:
    virtual ~CarrierWatch() = default;

    // Blocks until DCD changes: error::success with its new state (`raised`: asserted) and
    // the system clock when the wait returned; error::operationAborted after Cancel;
    // error::notSupported when the line reports no carrier changes (a pseudo-terminal, a
    // USB adapter without the line); another code when the port failed.
    virtual uint32_t Wait(bool& raised, UnixTime& at) = 0;

    // From any thread: the Wait in progress, and every later one, returns
    // error::operationAborted. Returns once no Wait is in progress any more.
    virtual void Cancel() = 0;
};

} // namespace tavro::platform
