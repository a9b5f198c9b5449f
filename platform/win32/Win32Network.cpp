// The sockets of the network output and of a network source on Windows: Winsock 2, every
// socket non-blocking and tied to an event of its own with WSAEventSelect (read, write,
// accept, close), which the hub's message loop waits on; Settle takes the socket's network
// events, which resets that event. No thread (name lookups run on the resolver's).
#include "platform/Network.h"

#include "platform/ErrorCodes.h"
#include "platform/TextBuilder.h"

#include <winsock2.h>
#include <ws2tcpip.h>
// After winsock2.h, whose types it uses.
#include <mstcpip.h>

#include <string.h>

namespace tavro::platform {
namespace {

// Sockets with an event at once: the listener, the clients, the sender, and spares.
constexpr int eventCapacity = 64;
// Bytes the system may hold for one client.
constexpr int clientSendBuffer = 64 * 1024;

SOCKET Native(SocketHandle socket) {
    return static_cast<SOCKET>(socket);
}

uint32_t LastSocketError() {
    const int code = WSAGetLastError();
    return code != 0 ? static_cast<uint32_t>(code) : error::genFailure;
}

void MakeNonBlocking(SOCKET socket) {
    u_long on = 1;
    ioctlsocket(socket, FIONBIO, &on);
}

// A new non-blocking socket of `type` for `address`'s family.
SOCKET NewSocket(const SocketAddress& address, int type) {
    const auto* target = reinterpret_cast<const sockaddr*>(address.bytes);
    const SOCKET socket =
        address.length != 0 ? ::socket(target->sa_family, type, 0) : INVALID_SOCKET;
    if (socket != INVALID_SOCKET) {
        MakeNonBlocking(socket);
    }
    return socket;
}

class Win32Network final : public Network {
public:
    // One event per socket, and the message loop waits on at most 63 handles, the receiver's
    // and the listener's among them.
    uint32_t ClientLimit() const override { return 32; }

    Win32Network() {
        WSADATA data;
        started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~Win32Network() override {
        if (started_) {
            WSACleanup();
        }
    }
    bool Started() const { return started_; }

    uint32_t Listen(const char* address, uint16_t port, SocketHandle& listener) override {
        listener = noSocket;
        char host[256];
        const size_t length = address != nullptr ? strlen(address) : 0;
        if (length == 0 || length >= sizeof host) {
            return error::invalidParameter;
        }
        const bool bracketed = address[0] == '[' && address[length - 1] == ']';
        memcpy(host, address + (bracketed ? 1 : 0), length - (bracketed ? 2 : 0));
        host[length - (bracketed ? 2 : 0)] = '\0';
        char service[8];
        TextBuilder(service, sizeof service).AppendUnsigned(port);
        addrinfo hints{};
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_NUMERICHOST | AI_PASSIVE;
        addrinfo* found = nullptr;
        if (getaddrinfo(host, service, &hints, &found) != 0 || found == nullptr) {
            return error::invalidParameter;
        }
        const SOCKET socket = ::socket(found->ai_family, SOCK_STREAM, IPPROTO_TCP);
        uint32_t result = error::success;
        if (socket == INVALID_SOCKET) {
            result = LastSocketError();
        } else {
            // Nobody else may take the same port while the hub serves it.
            BOOL on = TRUE;
            setsockopt(socket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<char*>(&on),
                       sizeof on);
            if (bind(socket, found->ai_addr, static_cast<int>(found->ai_addrlen)) != 0 ||
                listen(socket, 64) != 0) {
                result = LastSocketError();
                closesocket(socket);
            } else {
                MakeNonBlocking(socket);
                listener = static_cast<SocketHandle>(socket);
            }
        }
        freeaddrinfo(found);
        return result;
    }

    uint16_t LocalPort(SocketHandle listener) override {
        sockaddr_storage local{};
        int length = sizeof local;
        if (getsockname(Native(listener), reinterpret_cast<sockaddr*>(&local), &length) != 0) {
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
        int length = sizeof remote;
        const SOCKET socket =
            accept(Native(listener), reinterpret_cast<sockaddr*>(&remote), &length);
        if (socket == INVALID_SOCKET) {
            const int code = WSAGetLastError();
            return code == WSAEWOULDBLOCK ? error::noMoreItems : static_cast<uint32_t>(code);
        }
        // An accepted socket inherits the listener's event: it gets one of its own in WaitFor.
        WSAEventSelect(socket, nullptr, 0);
        MakeNonBlocking(socket);
        setsockopt(socket, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&clientSendBuffer),
                   sizeof clientSendBuffer);
        // Each relay is sent at once: waiting for the peer's delayed ACK would hold a sentence
        // back by up to 200 ms.
        const BOOL noDelay = TRUE;
        setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
                   sizeof noDelay);
        char host[NI_MAXHOST] = "?";
        char service[NI_MAXSERV] = "0";
        getnameinfo(reinterpret_cast<sockaddr*>(&remote), length, host, sizeof host, service,
                    sizeof service, NI_NUMERICHOST | NI_NUMERICSERV);
        // The printf family would make the hub much larger.
        TextBuilder text(peer, sizeof peer);
        if (remote.ss_family == AF_INET6) {
            text.Append("[").Append(host).Append("]");
        } else {
            text.Append(host);
        }
        text.Append(":").Append(service);
        client = static_cast<SocketHandle>(socket);
        return error::success;
    }

    uint32_t Send(SocketHandle socket, const uint8_t* bytes, uint32_t size,
                  uint32_t& sent) override {
        sent = 0;
        while (sent < size) {
            const int count = send(Native(socket), reinterpret_cast<const char*>(bytes) + sent,
                                   static_cast<int>(size - sent), 0);
            if (count > 0) {
                sent += static_cast<uint32_t>(count);
                continue;
            }
            if (count == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) {
                break;
            }
            return count == 0 ? error::connectionReset : LastSocketError();
        }
        return error::success;
    }

    uint32_t Receive(SocketHandle socket, uint8_t* bytes, uint32_t size, uint32_t& got) override {
        got = 0;
        const int count =
            recv(Native(socket), reinterpret_cast<char*>(bytes), static_cast<int>(size), 0);
        if (count > 0) {
            got = static_cast<uint32_t>(count);
            return error::success;
        }
        if (count == 0) {
            return size == 0 ? error::success : error::handleEof;
        }
        return WSAGetLastError() == WSAEWOULDBLOCK ? error::success : LastSocketError();
    }

    uint32_t Resolve(const char* host, uint16_t port, bool datagram,
                     SocketAddress& address) override {
        address = SocketAddress{};
        char service[8];
        TextBuilder(service, sizeof service).AppendUnsigned(port);
        addrinfo hints{};
        hints.ai_socktype = datagram ? SOCK_DGRAM : SOCK_STREAM;
        // No host: every IPv4 interface (what NMEA broadcasts reach).
        const bool any = host == nullptr || host[0] == '\0';
        hints.ai_family = any ? AF_INET : AF_UNSPEC;
        hints.ai_flags = any ? AI_PASSIVE : 0;
        addrinfo* found = nullptr;
        if (getaddrinfo(any ? nullptr : host, service, &hints, &found) != 0 || found == nullptr) {
            return error::hostNotFound;
        }
        const bool fits = found->ai_addrlen <= sizeof address.bytes;
        if (fits) {
            memcpy(address.bytes, found->ai_addr, found->ai_addrlen);
            address.length = static_cast<uint32_t>(found->ai_addrlen);
        }
        freeaddrinfo(found);
        return fits ? error::success : error::hostNotFound;
    }

    uint32_t OpenDatagram(const SocketAddress& target, SocketHandle& sender) override {
        sender = noSocket;
        const SOCKET socket = NewSocket(target, SOCK_DGRAM);
        if (socket == INVALID_SOCKET) {
            return LastSocketError();
        }
        BOOL on = TRUE;
        setsockopt(socket, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<char*>(&on), sizeof on);
        if (connect(socket, reinterpret_cast<const sockaddr*>(target.bytes),
                    static_cast<int>(target.length)) != 0) {
            const uint32_t result = LastSocketError();
            closesocket(socket);
            return result;
        }
        sender = static_cast<SocketHandle>(socket);
        return error::success;
    }

    uint32_t Connect(const SocketAddress& remote, SocketHandle& connection) override {
        connection = noSocket;
        const SOCKET socket = NewSocket(remote, SOCK_STREAM);
        if (socket == INVALID_SOCKET) {
            return LastSocketError();
        }
        // A peer that vanishes without a reset is noticed within about a minute and a half.
        tcp_keepalive keepAlive{1, 30000, 15000};
        DWORD returned = 0;
        WSAIoctl(socket, SIO_KEEPALIVE_VALS, &keepAlive, sizeof keepAlive, nullptr, 0, &returned,
                 nullptr, nullptr);
        const BOOL noDelay = TRUE;
        setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
                   sizeof noDelay);
        if (connect(socket, reinterpret_cast<const sockaddr*>(remote.bytes),
                    static_cast<int>(remote.length)) != 0 &&
            WSAGetLastError() != WSAEWOULDBLOCK) {
            const uint32_t result = LastSocketError();
            closesocket(socket);
            return result;
        }
        connection = static_cast<SocketHandle>(socket);
        return error::success;
    }

    uint32_t ConnectResult(SocketHandle socket) override {
        fd_set written;
        fd_set failed;
        FD_ZERO(&written);
        FD_ZERO(&failed);
        FD_SET(Native(socket), &written);
        FD_SET(Native(socket), &failed);
        timeval now{0, 0};
        if (select(0, nullptr, &written, &failed, &now) == 0) {
            return error::ioPending;
        }
        int code = 0;
        int length = sizeof code;
        getsockopt(Native(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&code), &length);
        return code == 0 && FD_ISSET(Native(socket), &written) ? error::success
               : code != 0                                     ? static_cast<uint32_t>(code)
                                                               : error::connectionRefused;
    }

    uint32_t OpenReceiver(const SocketAddress& local, SocketHandle& receiver) override {
        receiver = noSocket;
        const SOCKET socket = NewSocket(local, SOCK_DGRAM);
        if (socket == INVALID_SOCKET) {
            return LastSocketError();
        }
        BOOL on = TRUE;
        setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<char*>(&on), sizeof on);
        setsockopt(socket, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<char*>(&on), sizeof on);
        sockaddr_in bound{};
        memcpy(&bound, local.bytes, local.length < sizeof bound ? local.length : sizeof bound);
        const uint32_t host = ntohl(bound.sin_addr.s_addr);
        ip_mreq group{};
        group.imr_multiaddr = bound.sin_addr;
        const bool v4 = bound.sin_family == AF_INET;
        // A group is joined; a subnet's broadcast address is reached by binding every interface.
        if (v4 && (IN_MULTICAST(host) || (host & 0xFF) == 0xFF)) {
            bound.sin_addr.s_addr = INADDR_ANY;
        }
        if (bind(socket,
                 v4 ? reinterpret_cast<const sockaddr*>(&bound)
                    : reinterpret_cast<const sockaddr*>(local.bytes),
                 static_cast<int>(local.length)) != 0 ||
            (v4 && IN_MULTICAST(host) &&
             setsockopt(socket, IPPROTO_IP, IP_ADD_MEMBERSHIP, reinterpret_cast<char*>(&group),
                        sizeof group) != 0)) {
            const uint32_t result = LastSocketError();
            closesocket(socket);
            return result;
        }
        receiver = static_cast<SocketHandle>(socket);
        return error::success;
    }

    uint32_t SendDatagram(SocketHandle sender, const uint8_t* bytes, uint32_t size) override {
        // An earlier datagram's "port unreachable" comes back here once: not this one's.
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (send(Native(sender), reinterpret_cast<const char*>(bytes), static_cast<int>(size),
                     0) != SOCKET_ERROR) {
                return error::success;
            }
            if (WSAGetLastError() != WSAECONNRESET) {
                break;
            }
        }
        return WSAGetLastError() == WSAEWOULDBLOCK ? error::noSystemResources : LastSocketError();
    }

    void FinishSending(SocketHandle socket) override {
        if (socket != noSocket) {
            shutdown(Native(socket), SD_SEND);
        }
    }

    void Close(SocketHandle socket) override {
        if (socket == noSocket) {
            return;
        }
        for (Tie& tie : ties_) {
            if (tie.socket == socket) {
                WSACloseEvent(tie.event);
                tie = Tie{};
            }
        }
        closesocket(Native(socket));
    }

    WaitObject WaitFor(SocketHandle socket, uint8_t) override {
        Tie* free = nullptr;
        for (Tie& tie : ties_) {
            if (tie.socket == socket) {
                return reinterpret_cast<WaitObject>(tie.event);
            }
            if (tie.socket == noSocket && free == nullptr) {
                free = &tie;
            }
        }
        if (free == nullptr) {
            return noWaitObject;
        }
        const WSAEVENT event = WSACreateEvent();
        if (event == WSA_INVALID_EVENT) {
            return noWaitObject;
        }
        // One mask for the socket's life: choosing again would clear what was recorded.
        if (WSAEventSelect(Native(socket), event, FD_READ | FD_WRITE | FD_ACCEPT | FD_CLOSE) != 0) {
            WSACloseEvent(event);
            return noWaitObject;
        }
        *free = {socket, event};
        return reinterpret_cast<WaitObject>(event);
    }

    void Settle(SocketHandle socket) override {
        for (const Tie& tie : ties_) {
            if (tie.socket == socket) {
                WSANETWORKEVENTS events;
                WSAEnumNetworkEvents(Native(socket), tie.event, &events);
                return;
            }
        }
    }

private:
    struct Tie {
        SocketHandle socket = noSocket;
        WSAEVENT event = nullptr;
    };

    bool started_ = false;
    Tie ties_[eventCapacity];
};

} // namespace

Network* SystemNetwork() {
    static Win32Network network;
    return network.Started() ? &network : nullptr;
}

} // namespace tavro::platform
