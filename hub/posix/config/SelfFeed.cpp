#include "hub/posix/config/SelfFeed.h"

#include "hub/settings/SourceAddress.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/socket.h>

#include <cstring>
#include <vector>

namespace tavro {
namespace {

// An address without its port: the family and its bytes.
struct Address {
    int family = 0;
    uint8_t bytes[16] = {};

    bool operator==(const Address& other) const {
        return family == other.family && std::memcmp(bytes, other.bytes, sizeof bytes) == 0;
    }
};

bool FromSockaddr(const sockaddr* address, Address& result) {
    if (address == nullptr) {
        return false;
    }
    result = Address{};
    result.family = address->sa_family;
    if (address->sa_family == AF_INET) {
        std::memcpy(result.bytes, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, 4);
        return true;
    }
    if (address->sa_family == AF_INET6) {
        std::memcpy(result.bytes, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, 16);
        return true;
    }
    return false;
}

// What `host` stands for; none when it does not resolve (then it is not this machine).
std::vector<Address> Resolve(const char* host) {
    std::vector<Address> addresses;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* list = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &list) != 0) {
        return addresses;
    }
    for (const addrinfo* entry = list; entry != nullptr; entry = entry->ai_next) {
        Address address;
        if (FromSockaddr(entry->ai_addr, address)) {
            addresses.push_back(address);
        }
    }
    freeaddrinfo(list);
    return addresses;
}

// The wildcard: "" (udp:// without an address), 0.0.0.0 or ::.
bool Everywhere(const char* host) {
    return host[0] == '\0' || std::strcmp(host, "0.0.0.0") == 0 || std::strcmp(host, "::") == 0;
}

// Whether a datagram or connection to `address` reaches this machine: loopback, the wildcard,
// the limited broadcast, or an interface's own or broadcast address.
bool ThisMachine(const Address& address, const std::vector<Address>& local) {
    static const uint8_t ipv6Loopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    static const uint8_t zero[16] = {};
    if (address.family == AF_INET &&
        (address.bytes[0] == 127 || std::memcmp(address.bytes, zero, 4) == 0 ||
         std::memcmp(address.bytes, "\xff\xff\xff\xff", 4) == 0)) {
        return true;
    }
    if (address.family == AF_INET6 && (std::memcmp(address.bytes, ipv6Loopback, 16) == 0 ||
                                       std::memcmp(address.bytes, zero, 16) == 0)) {
        return true;
    }
    for (const Address& mine : local) {
        if (mine == address) {
            return true;
        }
    }
    return false;
}

std::vector<Address> LocalAddresses() {
    std::vector<Address> local;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return local;
    }
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        Address address;
        if (FromSockaddr(entry->ifa_addr, address)) {
            local.push_back(address);
        }
        if ((entry->ifa_flags & IFF_BROADCAST) != 0 &&
            FromSockaddr(entry->ifa_broadaddr, address)) {
            local.push_back(address);
        }
    }
    freeifaddrs(list);
    return local;
}

// Whether what is sent to `target` reaches a listener on `listener` (the same port given).
bool Reaches(const char* target, const char* listener) {
    const std::vector<Address> targets = Resolve(target);
    if (Everywhere(listener)) {
        const std::vector<Address> local = LocalAddresses();
        for (const Address& address : targets) {
            if (ThisMachine(address, local)) {
                return true;
            }
        }
        return false;
    }
    for (const Address& heard : Resolve(listener)) {
        for (const Address& address : targets) {
            if (address == heard) {
                return true;
            }
        }
    }
    return false;
}

} // namespace

std::string SelfFeed(const Settings& settings) {
    SourceAddress source;
    const char* reason = nullptr;
    if (!ParseSource(settings.source, source, reason) || source.kind == SourceKind::Serial) {
        return "";
    }
    if (source.kind == SourceKind::Udp) {
        SourceAddress target;
        if (settings.udpTarget[0] != '\0' && ParseHostPort(settings.udpTarget, target, reason) &&
            target.port == source.port && Reaches(target.host, source.host)) {
            return std::string("\"UDP Target\" ") + settings.udpTarget +
                   " sends every frame back to \"Source\" " + settings.source;
        }
        return "";
    }
    if (settings.tcpPort != 0 && source.port == settings.tcpPort &&
        Reaches(source.host, settings.tcpAddress)) {
        return std::string("\"Source\" ") + settings.source +
               " is the hub's own server (\"TCP Port\" " + std::to_string(settings.tcpPort) + ")";
    }
    return "";
}

} // namespace tavro
