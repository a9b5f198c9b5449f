// What Linux tells of a TCP connection beyond the portable socket calls.
#pragma once

#include <stdint.h>

namespace tavro::platform::posix {

// The receive window the peer of connected socket `fd` last advertised, in bytes (TCP_INFO),
// and the bytes of its send queue not sent yet (SIOCOUTQNSD); false when the kernel does not
// tell.
bool TcpPeerWindow(int fd, uint32_t& window, uint32_t& unsent);

} // namespace tavro::platform::posix
