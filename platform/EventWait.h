// What an event loop waits on besides its own timer and messages: descriptors on POSIX (given
// to poll), event handles on Windows (given to MsgWaitForMultipleObjects). Objects that the
// engine and the adapters hand to a front end's loop are passed as WaitObject, so that product
// code names neither.
#pragma once

#include <stdint.h>

namespace tavro::platform {

// A descriptor or a HANDLE; noWaitObject when there is none (-1, which is also
// INVALID_HANDLE_VALUE, never a usable event).
using WaitObject = intptr_t;
inline constexpr WaitObject noWaitObject = -1;

// Conditions to wait for. POSIX: POLLIN and POLLOUT on the descriptor. Windows: an event is
// signalled for one condition, which the bit names.
inline constexpr uint8_t waitInput = 1;
inline constexpr uint8_t waitOutput = 2;
// Reported with waitInput when the other end hung up (POSIX: POLLHUP, POLLERR).
inline constexpr uint8_t waitHangUp = 4;

// One object to wait on, with the token its owner wants back when it is ready.
struct WaitEntry {
    WaitObject object = noWaitObject;
    uint8_t events = 0;
    uint32_t token = 0;
};

// Blocks until one of `entries` is ready for what it waits for, or `timeoutMs` has passed, or
// (POSIX) a signal arrived. For loops that then look at everything they own; at most 64
// entries (what Windows waits on at once; more are not waited for).
void WaitForAny(const WaitEntry* entries, uint32_t count, uint32_t timeoutMs);

// Ctrl-C and the system's request to end (SIGINT, SIGTERM; the console's close and log-off
// events on Windows) set a flag instead of ending the program.
void CatchStopRequests();
bool StopRequested();

} // namespace tavro::platform
