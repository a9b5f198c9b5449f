// The network output's sockets on POSIX: non-blocking BSD sockets, close-on-exec, errno in
// Winsock's codes. A client that is gone never raises SIGPIPE (MSG_NOSIGNAL).
#include "platform/Network.h"

#include "platform/ErrorCodes.h"
#include "platform/linux/TcpWindow.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tavro::platform {
namespace {

// Bytes the kernel may hold for one client (Linux doubles it for its bookkeeping).
constexpr int clientSendBuffer = 8 * 1024;

uint32_t SocketError(int code) {
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

    uint32_t OpenDatagram(const char* target, SocketHandle& sender) override {
        sender = noSocket;
        // "host:port", the host maybe "[v6]".
        const char* colon = target != nullptr ? std::strrchr(target, ':') : nullptr;
        if (colon == nullptr || colon == target || colon[1] == '\0') {
            return error::invalidParameter;
        }
        char host[256];
        const size_t hostLength = static_cast<size_t>(colon - target);
        char* end = nullptr;
        const unsigned long port = std::strtoul(colon + 1, &end, 10);
        if (hostLength >= sizeof host || *end != '\0' || port == 0 || port > 65535) {
            return error::invalidParameter;
        }
        std::memcpy(host, target, hostLength);
        host[hostLength] = '\0';
        sockaddr_storage remote{};
        socklen_t length = 0;
        if (!NumericAddress(host, static_cast<uint16_t>(port), remote, length)) {
            addrinfo hints{};
            hints.ai_socktype = SOCK_DGRAM;
            addrinfo* found = nullptr;
            if (getaddrinfo(host, colon + 1, &hints, &found) != 0 || found == nullptr) {
                return error::hostNotFound;
            }
            std::memcpy(&remote, found->ai_addr, found->ai_addrlen);
            length = found->ai_addrlen;
            freeaddrinfo(found);
        }
        const int fd = socket(remote.ss_family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            return SocketError(errno);
        }
        const int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
        if (connect(fd, reinterpret_cast<const sockaddr*>(&remote), length) != 0) {
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

    bool PeerWindow(SocketHandle socket, uint32_t& window, uint32_t& unsent) override {
        return posix::TcpPeerWindow(static_cast<int>(socket), window, unsent);
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
