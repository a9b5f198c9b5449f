// The carrier-detect watch of a Linux tty (TIOCMIWAIT), for the serial port adapter.
#pragma once

#include "platform/CarrierWatch.h"

#include <memory>

namespace tavro::platform::linux_tty {

// A watch on the DCD line of the tty `fd` (which it duplicates, so the port may close first);
// null with error::notSupported where the tty has no modem lines (a pseudo-terminal).
std::unique_ptr<CarrierWatch> WatchCarrierOf(int fd, uint32_t& error);

} // namespace tavro::platform::linux_tty
