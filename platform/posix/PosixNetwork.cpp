// The network output's sockets on POSIX: non-blocking BSD sockets, close-on-exec, errno in
// Winsock's codes. A client that is gone never raises SIGPIPE (MSG_NOSIGNAL).
#include "platform/Network.h"

#include "platform/ErrorCodes.h"
#include "platform/posix/TcpWindow.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tavro::platform {
namespace {

// Bytes the kernel may hold for one client (Linux doubles it for its bookkeeping).
constexpr int clientSendBuffer = 8 * 1024;

uint32_t MapSocketErrno(int code) {
    switch (code) {
    case EADDRINUSE:
        return error::addressInUse;
    case EADDRNOTAVAIL:
        return error::addressNotAvailable;
    case EACCES:
    case EPERM:
        return error::socketAccessDenied;
    case ENETUNREACH:
    case EHOSTUNREACH:
        return error::networkUnreachable;
    case ECONNREFUSED:
        return error::connectionRefused;
    case ETIMEDOUT:
        return error::timedOut;
    case ECONNRESET:
    case EPIPE:
    case ENOTCONN:
        return error::connectionReset;
    case EMFILE:
    case ENFILE:
    case ENOBUFS:
    case ENOMEM:
        return error::notEnoughMemory;
    case EINVAL:
    case EAFNOSUPPORT:
        return error::invalidParameter;
    default:
        return error::genFailure;
    }
}

// The code for a socket's errno, noted with it (NoteSystemError).
uint32_t SocketError(int code) {
    return NoteSystemError(MapSocketErrno(code), code);
}

// A numeric address (IPv4, or IPv6 with or without brackets) and a port.
bool NumericAddress(const char* text, uint16_t port, sockaddr_storage& address, socklen_t& length) {
    address = sockaddr_storage{};
    char host[INET6_ADDRSTRLEN + 2] = {};
    const size_t size = text != nullptr ? std::strlen(text) : 0;
    if (size == 0 || size >= sizeof host) {
        return false;
    }
    if (text[0] == '[' && text[size - 1] == ']') {
        std::memcpy(host, text + 1, size - 2);
    } else {
        std::memcpy(host, text, size);
    }
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
    if (inet_pton(AF_INET, host, &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        length = sizeof(sockaddr_in);
        return true;
    }
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
    if (inet_pton(AF_INET6, host, &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        length = sizeof(sockaddr_in6);
        return true;
    }
    return false;
}

void PeerText(const sockaddr_storage& address, char (&peer)[peerTextSize]) {
    char host[INET6_ADDRSTRLEN] = "?";
    unsigned port = 0;
    if (address.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
        inet_ntop(AF_INET, &v4.sin_addr, host, sizeof host);
        port = ntohs(v4.sin_port);
        std::snprintf(peer, sizeof peer, "%s:%u", host, port);
    } else if (address.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
        inet_ntop(AF_INET6, &v6.sin6_addr, host, sizeof host);
        port = ntohs(v6.sin6_port);
        std::snprintf(peer, sizeof peer, "[%s]:%u", host, port);
    } else {
        std::snprintf(peer, sizeof peer, "?");
    }
}

class PosixNetwork final : public Network {
public:
    // poll() takes any number; the engine has its own bound.
    uint32_t ClientLimit() const override { return 1024; }

    uint32_t Listen(const char* address, uint16_t port, SocketHandle& listener) override {
        listener = noSocket;
        sockaddr_storage local{};
        socklen_t length = 0;
        if (!NumericAddress(address, port, local, length)) {
            return error::invalidParameter;
        }
        const int fd = socket(local.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            return SocketError(errno);
        }
        const int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (local.ss_family == AF_INET6) {
            // "::" means IPv6 only, as "0.0.0.0" means IPv4 only: one address, one family.
            setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
        }
        if (bind(fd, reinterpret_cast<const sockaddr*>(&local), length) != 0 ||
            listen(fd, 64) != 0) {
            const uint32_t result = SocketError(errno);
            close(fd);
            return result;
        }
        listener = fd;
        return error::success;
    }

    uint16_t LocalPort(SocketHandle listener) override {
        sockaddr_storage local{};
        socklen_t length = sizeof local;
        if (getsockname(static_cast<int>(listener), reinterpret_cast<sockaddr*>(&local), &length) !=
            0) {
            return 0;
        }
        return local.ss_family == AF_INET6
                   ? ntohs(reinterpret_cast<const sockaddr_in6&>(local).sin6_port)
                   : ntohs(reinterpret_cast<const sockaddr_in&>(local).sin_port);
    }

    uint32_t Accept(SocketHandle listener, SocketHandle& client,
                    char (&peer)[peerTextSize]) override {
        client = noSocket;
        sockaddr_storage remote{};
        socklen_t length = sizeof remote;
        for (;;) {
            const int fd = accept4(static_cast<int>(listener), reinterpret_cast<sockaddr*>(&remote),
                                   &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd >= 0) {
                // What waits for a client that does not read stays bounded in the kernel too
                // (the hub's own buffer holds the rest, and drops from it).
                setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &clientSendBuffer, sizeof clientSendBuffer);
                // Each relay is sent at once: waiting for the peer's delayed ACK would hold a
                // sentence back by up to 40 ms.
                const int on = 1;
                setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                PeerText(remote, peer);
                client = fd;
                return error::success;
            }
            if (errno == EINTR || errno == ECONNABORTED) {
                continue; // a peer that went away before we took it
            }
            return errno == EAGAIN || errno == EWOULDBLOCK ? error::noMoreItems
                                                           : SocketError(errno);
        }
    }

    uint32_t Send(SocketHandle socket, const uint8_t* bytes, uint32_t size,
                  uint32_t& sent) override {
        sent = 0;
        while (sent < size) {
            const ssize_t count =
                send(static_cast<int>(socket), bytes + sent, size - sent, MSG_NOSIGNAL);
            if (count > 0) {
                sent += static_cast<uint32_t>(count);
            } else if (count < 0 && errno == EINTR) {
                continue;
            } else if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                break;
            } else {
                return SocketError(count < 0 ? errno : ECONNRESET);
            }
        }
        return error::success;
    }

    uint32_t Receive(SocketHandle socket, uint8_t* bytes, uint32_t size, uint32_t& got) override {
        got = 0;
        for (;;) {
            const ssize_t count = recv(static_cast<int>(socket), bytes, size, 0);
            if (count > 0) {
                got = static_cast<uint32_t>(count);
                return error::success;
            }
            if (count == 0) {
                return size == 0 ? error::success : error::handleEof;
            }
            if (errno == EINTR) {
                continue;
            }
            return errno == EAGAIN || errno == EWOULDBLOCK ? error::success : SocketError(errno);
        }
    }

    uint32_t OpenDatagram(const SocketAddress& target, SocketHandle& sender) override {
        sender = noSocket;
        const auto* remote = reinterpret_cast<const sockaddr*>(target.bytes);
        if (target.length == 0) {
            return error::invalidParameter;
        }
        const int fd = socket(remote->sa_family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            return SocketError(errno);
        }
        const int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
        if (connect(fd, remote, target.length) != 0) {
            const uint32_t result = SocketError(errno);
            close(fd);
            return result;
        }
        sender = fd;
        return error::success;
    }

    uint32_t SendDatagram(SocketHandle sender, const uint8_t* bytes, uint32_t size) override {
        // A refused earlier datagram (ICMP unreachable) shows up here once: it is not this one's.
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (send(static_cast<int>(sender), bytes, size, MSG_NOSIGNAL) >= 0) {
                return error::success;
            }
            if (errno != ECONNREFUSED && errno != EINTR) {
                break;
            }
        }
        // A full buffer drops the datagram, as the network may: said, so that it is counted.
        return errno == EAGAIN || errno == EWOULDBLOCK ? error::noSystemResources
                                                       : SocketError(errno);
    }

    void FinishSending(SocketHandle socket) override {
        if (socket != noSocket) {
            shutdown(static_cast<int>(socket), SHUT_WR);
        }
    }

    void Close(SocketHandle socket) override {
        if (socket != noSocket) {
            close(static_cast<int>(socket));
        }
    }

    bool PeerWindow(SocketHandle socket, PeerFlow& flow) override {
        return posix::TcpPeerFlow(static_cast<int>(socket), flow);
    }

    uint32_t Resolve(const char* host, uint16_t port, bool datagram,
                     SocketAddress& address) override {
        address = SocketAddress{};
        addrinfo hints{};
        hints.ai_socktype = datagram ? SOCK_DGRAM : SOCK_STREAM;
        // No host: every IPv4 interface (what NMEA broadcasts reach).
        const bool any = host == nullptr || host[0] == '\0';
        hints.ai_family = any ? AF_INET : AF_UNSPEC;
        hints.ai_flags = any ? AI_PASSIVE | AI_NUMERICSERV : AI_NUMERICSERV;
        char service[8];
        std::snprintf(service, sizeof service, "%u", static_cast<unsigned>(port));
        addrinfo* found = nullptr;
        const int result = getaddrinfo(any ? nullptr : host, service, &hints, &found);
        if (result != 0 || found == nullptr) {
            return result == EAI_MEMORY ? error::notEnoughMemory : error::hostNotFound;
        }
        const bool fits = found->ai_addrlen <= sizeof address.bytes;
        if (fits) {
            std::memcpy(address.bytes, found->ai_addr, found->ai_addrlen);
            address.length = static_cast<uint32_t>(found->ai_addrlen);
        }
        freeaddrinfo(found);
        return fits ? error::success : error::hostNotFound;
    }

    uint32_t Connect(const SocketAddress& remote, SocketHandle& socket) override {
        socket = noSocket;
        const auto* target = reinterpret_cast<const sockaddr*>(remote.bytes);
        if (remote.length == 0) {
            return error::invalidParameter;
        }
        const int fd = ::socket(target->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            return SocketError(errno);
        }
        // A peer that vanishes without a reset (power, Wi-Fi) is noticed within about a
        // minute and a half: idle 30 s, then 4 probes 15 s apart.
        const int on = 1;
        const int idle = 30;
        const int interval = 15;
        const int probes = 4;
        setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
        setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
        setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
        setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        if (connect(fd, target, remote.length) != 0 && errno != EINPROGRESS) {
            const uint32_t result = SocketError(errno);
            close(fd);
            return result;
        }
        socket = fd;
        return error::success;
    }

    uint32_t ConnectResult(SocketHandle socket) override {
        pollfd entry{static_cast<int>(socket), POLLOUT, 0};
        if (poll(&entry, 1, 0) == 0) {
            return error::ioPending;
        }
        int code = 0;
        socklen_t length = sizeof code;
        if (getsockopt(static_cast<int>(socket), SOL_SOCKET, SO_ERROR, &code, &length) != 0) {
            return SocketError(errno);
        }
        return code == 0 ? error::success : SocketError(code);
    }

    uint32_t OpenReceiver(const SocketAddress& local, SocketHandle& receiver) override {
        receiver = noSocket;
        if (local.length == 0) {
            return error::invalidParameter;
        }
        sockaddr_storage bound{};
        std::memcpy(&bound, local.bytes, local.length);
        const int fd = socket(bound.ss_family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            return SocketError(errno);
        }
        const int on = 1;
        // Another listener on the port (a chart plotter, a second hub) keeps its datagrams.
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
        bool joined = true;
        if (bound.ss_family == AF_INET) {
            auto& v4 = reinterpret_cast<sockaddr_in&>(bound);
            if (IN_MULTICAST(ntohl(v4.sin_addr.s_addr))) {
                ip_mreq group{};
                group.imr_multiaddr = v4.sin_addr;
                group.imr_interface.s_addr = htonl(INADDR_ANY);
                joined = setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &group, sizeof group) == 0;
            } else if (v4.sin_addr.s_addr != htonl(INADDR_ANY) &&
                       (ntohl(v4.sin_addr.s_addr) & 0xFF) == 0xFF) {
                // A subnet's broadcast address is no address of an interface: datagrams to it
                // reach a socket bound to every interface.
                v4.sin_addr.s_addr = htonl(INADDR_ANY);
            }
        } else if (bound.ss_family == AF_INET6) {
            auto& v6 = reinterpret_cast<sockaddr_in6&>(bound);
            if (IN6_IS_ADDR_MULTICAST(&v6.sin6_addr)) {
                ipv6_mreq group{};
                group.ipv6mr_multiaddr = v6.sin6_addr;
                joined = setsockopt(fd, IPPROTO_IPV6, IPV6_JOIN_GROUP, &group, sizeof group) == 0;
            }
        }
        if (!joined || bind(fd, reinterpret_cast<const sockaddr*>(&bound), local.length) != 0) {
            const uint32_t result = SocketError(errno);
            close(fd);
            return result;
        }
        receiver = fd;
        return error::success;
    }

    WaitObject WaitFor(SocketHandle socket, uint8_t) override { return socket; }
    void Settle(SocketHandle) override {}
};

} // namespace

Network* SystemNetwork() {
    static PosixNetwork network;
    return &network;
}

} // namespace tavro::platform
