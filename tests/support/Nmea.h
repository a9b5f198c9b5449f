// NMEA sentences and loopback addresses and ports for the tests.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdint.h>
#include <stdio.h>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <unistd.h>

namespace tavro::testing {

// `start` + `body` + "*hh\r\n" with the right checksum.
inline std::string Sentence(std::string_view body, char start = '$') {
    uint8_t sum = 0;
    for (const char c : body) {
        sum ^= static_cast<uint8_t>(c);
    }
    char tail[8];
    snprintf(tail, sizeof tail, "*%02X\r\n", sum);
    return start + std::string(body) + tail;
}

// The loopback address of `family` with `port`, in `address`; its length.
inline socklen_t LoopbackAddress(int family, uint16_t port, sockaddr_storage& address) {
    address = {};
    if (family == AF_INET6) {
        auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
        v6.sin6_family = AF_INET6;
        v6.sin6_addr = in6addr_loopback;
        v6.sin6_port = htons(port);
        return sizeof v6;
    }
    auto& v4 = reinterpret_cast<sockaddr_in&>(address);
    v4.sin_family = AF_INET;
    v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    v4.sin_port = htons(port);
    return sizeof v4;
}

// A blocking TCP socket connected to `port` on loopback; -1 when the connection fails.
inline int ConnectLoopback(uint16_t port, int family = AF_INET) {
    const int fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_storage address{};
    const socklen_t length = LoopbackAddress(family, port, address);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
        if (fd >= 0) {
            close(fd);
        }
        return -1;
    }
    return fd;
}

// A loopback port of `type` (SOCK_STREAM, SOCK_DGRAM) that was free a moment ago; 0 if none.
inline uint16_t FreePort(int type, int family = AF_INET) {
    const int fd = socket(family, type | SOCK_CLOEXEC, 0);
    sockaddr_storage address{};
    socklen_t length = LoopbackAddress(family, 0, address);
    uint16_t port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6&>(address).sin6_port
                                        : reinterpret_cast<sockaddr_in&>(address).sin_port);
    }
    close(fd);
    return port;
}

} // namespace tavro::testing
