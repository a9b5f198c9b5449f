// The network output's sockets on Windows: Winsock 2, every socket non-blocking and tied to an
// event of its own with WSAEventSelect (read, write, accept, close), which the hub's message
// loop waits on; Settle takes the socket's network events, which resets that event. No thread.
#include "platform/Network.h"

#include "platform/ErrorCodes.h"
#include "platform/TextBuilder.h"

#include <winsock2.h>
#include <ws2tcpip.h>

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

// "host:port" into its parts; the host may be "[v6]". False when it is no such text.
bool SplitTarget(const char* target, char (&host)[256], char (&port)[8]) {
    const char* colon = target != nullptr ? strrchr(target, ':') : nullptr;
    if (colon == nullptr || colon == target || colon[1] == '\0' ||
        strlen(colon + 1) >= sizeof port) {
        return false;
    }
    const char* start = target;
    size_t length = static_cast<size_t>(colon - target);
    if (target[0] == '[' && colon[-1] == ']') {
        ++start;
        length -= 2;
    }
    if (length == 0 || length >= sizeof host) {
        return false;
    }
    memcpy(host, start, length);
    host[length] = '\0';
    memcpy(port, colon + 1, strlen(colon + 1) + 1);
    return true;
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

    uint32_t OpenDatagram(const char* target, SocketHandle& sender) override {
        sender = noSocket;
        char host[256];
        char port[8];
        if (!SplitTarget(target, host, port)) {
            return error::invalidParameter;
        }
        addrinfo hints{};
        hints.ai_socktype = SOCK_DGRAM;
        addrinfo* found = nullptr;
        if (getaddrinfo(host, port, &hints, &found) != 0 || found == nullptr) {
            return error::hostNotFound;
        }
        const SOCKET socket = ::socket(found->ai_family, SOCK_DGRAM, IPPROTO_UDP);
        uint32_t result = error::success;
        if (socket == INVALID_SOCKET) {
            result = LastSocketError();
        } else {
            BOOL on = TRUE;
            setsockopt(socket, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<char*>(&on), sizeof on);
            if (connect(socket, found->ai_addr, static_cast<int>(found->ai_addrlen)) != 0) {
                result = LastSocketError();
                closesocket(socket);
            } else {
                MakeNonBlocking(socket);
                sender = static_cast<SocketHandle>(socket);
            }
        }
        freeaddrinfo(found);
        return result;
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
