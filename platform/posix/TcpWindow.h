// What the system tells of a TCP connection beyond the portable socket calls. Each system
// implements this (platform/linux: TCP_INFO and SIOCOUTQNSD).
#pragma once

#include "platform/Network.h"

namespace tavro::platform::posix {

// The receive window the peer of connected socket `fd` last advertised and the round trips
// (TCP_INFO), and the bytes of its send queue not sent yet (SIOCOUTQNSD); false when the
// kernel does not tell.
bool TcpPeerFlow(int fd, PeerFlow& flow);

} // namespace tavro::platform::posix
