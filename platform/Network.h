// Sockets for the hub's network output: a TCP server for NMEA clients and a UDP sender, never
// blocking, with Win32 (Winsock) error codes on every edition. Windows: Winsock, each socket
// tied to an event with WSAEventSelect for the message loop. POSIX: BSD sockets, the
// descriptor being what the event loop polls.
#pragma once

#include "platform/ErrorCodes.h"
#include "platform/EventWait.h"

#include <stddef.h>
#include <stdint.h>
#include <string.h>

namespace tavro::platform {

// Whether a numeric listening address keeps a server to this computer (127.0.0.0/8, ::1);
// servers warn about any other.
inline bool IsLoopbackAddress(const char* address) {
    return strncmp(address, "127.", 4) == 0 || strcmp(address, "::1") == 0 ||
           strcmp(address, "[::1]") == 0;
}

// Whether this edition's adapter tells a peer's window (Network::PeerWindow): Linux does; the
// Windows hub leaves it out, its package window being tight.
#ifdef _WIN32
inline constexpr bool peerWindowKnown = false;
#else
inline constexpr bool peerWindowKnown = true;
#endif

// A connected peer's receiving side, as this system sees it.
struct PeerFlow {
    // The receive window it last advertised, in bytes: it shrinks by what its system holds
    // for a program that does not read (unless that system grows its buffer instead).
    uint32_t window = 0;
    // Bytes this system still holds unsent for it (its window is closed).
    uint32_t unsent = 0;
    // The smoothed round trip and the least one seen lately, in microseconds. A peer whose
    // program reads acknowledges at once; one whose program does not, only when its delayed
    // acknowledgement is due, tens of milliseconds later.
    uint32_t roundTripUs = 0;
    uint32_t leastRoundTripUs = 0;
    // Segments it reported receiving twice, so far. Its late acknowledgements make this
    // system send again what it had (a tail-loss probe), and the peer says so; at once it
    // acknowledges again, so its round trip may look short.
    uint32_t needlessResends = 0;
};

// A socket: a SOCKET or a descriptor; noSocket when there is none.
using SocketHandle = intptr_t;
inline constexpr SocketHandle noSocket = -1;

// "192.0.2.1:10110" or "[2001:db8::1]:10110", and its terminating zero.
inline constexpr size_t peerTextSize = 64;

// A resolved address and port as the system lays it out (sockaddr_in or sockaddr_in6).
struct SocketAddress {
    alignas(8) uint8_t bytes[28] = {};
    uint32_t length = 0;
};

class Network {
public:
    virtual ~Network() = default;

    // A TCP listener on `address` (numeric IPv4 or IPv6, "0.0.0.0" or "::" for every
    // interface) and `port`, that a restarted hub can take again at once. error::success, or
    // error::addressInUse, error::addressNotAvailable (no interface of this machine has that
    // address), error::socketAccessDenied, error::invalidParameter (no address), ...
    virtual uint32_t Listen(const char* address, uint16_t port, SocketHandle& listener) = 0;

    // The listener's own port (what Listen chose for port 0); 0 when unknown.
    virtual uint16_t LocalPort(SocketHandle listener) = 0;

    // Takes one waiting connection (error::noMoreItems when none waits) and names its peer. The
    // system holds at most 64 KiB for it to send.
    virtual uint32_t Accept(SocketHandle listener, SocketHandle& client,
                            char (&peer)[peerTextSize]) = 0;

    // Sends what the socket takes now: `sent` may be below `size`, 0 when its buffer is full.
    // error::connectionReset (or another code) once the peer is gone.
    virtual uint32_t Send(SocketHandle socket, const uint8_t* bytes, uint32_t size,
                          uint32_t& sent) = 0;

    // What has arrived: `got` 0 with error::success when nothing has; error::handleEof when
    // the peer closed its side.
    virtual uint32_t Receive(SocketHandle socket, uint8_t* bytes, uint32_t size, uint32_t& got) = 0;

    // A UDP socket sending to `target` (resolved with Resolve, off the loop thread; a broadcast
    // address is allowed).
    virtual uint32_t OpenDatagram(const SocketAddress& target, SocketHandle& sender) = 0;
    // One datagram, whole, or none (error::noSystemResources when a full buffer dropped it).
    virtual uint32_t SendDatagram(SocketHandle sender, const uint8_t* bytes, uint32_t size) = 0;

    // Tells the peer that nothing more will be sent (its reads see the end), while what it
    // still sends can be received.
    virtual void FinishSending(SocketHandle socket) = 0;

    virtual void Close(SocketHandle socket) = 0;

    // What an event loop waits on until `socket` is ready for `events` (waitInput: bytes, a
    // connection or the peer's end; waitOutput: room to send): the descriptor on POSIX, an
    // event tied to the socket on Windows. noWaitObject when it cannot be waited for.
    virtual WaitObject WaitFor(SocketHandle socket, uint8_t events) = 0;
    // The loop reported `socket` ready: Windows takes the socket's network events (so that its
    // event is not signalled again for what was seen); nothing on POSIX.
    virtual void Settle(SocketHandle socket) = 0;

    // What the system tells of a connected peer's receiving side (PeerFlow). False where it
    // does not tell (see peerWindowKnown).
    virtual bool PeerWindow(SocketHandle, PeerFlow&) { return false; }

    // How many client sockets the edition's loop can wait on beside its other waits.
    virtual uint32_t ClientLimit() const = 0;

    // ---- Receivers on the network ("Source") -----------------------------------------------
    // The defaults suit an edition without them: every call fails with error::notSupported.

    // Resolves `host` (a name or a numeric address; "" = every interface, IPv4) and `port`
    // for a stream (TCP) or datagrams. Blocks as long as name resolution takes: call it from
    // a thread of its own (NameResolver), never from the loop.
    virtual uint32_t Resolve(const char* host, uint16_t port, bool datagram,
                             SocketAddress& address) = 0;

    // Starts a TCP connection to `remote` without waiting (TCP keep-alive on, no delay for
    // small writes): error::success with the socket connecting; ConnectResult tells when it is
    // done. Waiting for it: WaitFor(socket, waitOutput).
    virtual uint32_t Connect(const SocketAddress& /*remote*/, SocketHandle& socket) {
        socket = noSocket;
        return error::notSupported;
    }
    // error::success once connected, error::ioPending while connecting, else why it failed.
    virtual uint32_t ConnectResult(SocketHandle /*socket*/) { return error::notSupported; }

    // A UDP socket that receives datagrams sent to `local`: a unicast or broadcast address of
    // this machine, the any-address, or a multicast group (joined on the default interface).
    // Other programs may listen on the same port. Receive reads one datagram at a time.
    virtual uint32_t OpenReceiver(const SocketAddress& /*local*/, SocketHandle& receiver) {
        receiver = noSocket;
        return error::notSupported;
    }
};

// The adapter of the edition this program was built for; null where it has none (or, on
// Windows, when Winsock does not start).
Network* SystemNetwork();

} // namespace tavro::platform
