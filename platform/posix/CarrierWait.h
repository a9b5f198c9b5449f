// The carrier-detect watch of a tty, for the serial port adapter. Waiting for a modem line is
// not portable: each system implements this (platform/linux: TIOCMIWAIT).
#pragma once

#include "platform/CarrierWatch.h"

#include <memory>

namespace tavro::platform::posix {

// A watch on the DCD line of the tty `fd` (which it duplicates, so the port may close first);
// null with error::notSupported where the tty has no modem lines (a pseudo-terminal).
std::unique_ptr<CarrierWatch> WatchCarrierOf(int fd, uint32_t& error);

} // namespace tavro::platform::posix
