#include "hub/settings/SourceAddress.h"

#include <string.h>

namespace tavro {
namespace {

bool StartsWith(const char* text, const char* prefix, size_t& length) {
    length = strlen(prefix);
    return strncmp(text, prefix, length) == 0;
}

// Decimal 1..65535, the whole of [begin, end).
bool ParsePort(const char* begin, const char* end, uint16_t& port) {
    if (begin == end || end - begin > 5) {
        return false;
    }
    uint32_t value = 0;
    for (const char* c = begin; c != end; ++c) {
        if (*c < '0' || *c > '9') {
            return false;
        }
        value = value * 10 + static_cast<uint32_t>(*c - '0');
    }
    if (value == 0 || value > 65535) {
        return false;
    }
    port = static_cast<uint16_t>(value);
    return true;
}

// "host", "[v6]" or "" (when `hostOptional`), then ":port" (optional when `portDefault` is
// not 0), over [begin, end).
bool ParseHostPort(const char* begin, const char* end, bool hostOptional, uint16_t portDefault,
                   SourceAddress& address, const char*& reason) {
    const char* hostEnd = nullptr;
    const char* hostBegin = begin;
    const char* rest = nullptr;
    if (begin != end && *begin == '[') {
        hostEnd = static_cast<const char*>(memchr(begin, ']', static_cast<size_t>(end - begin)));
        if (hostEnd == nullptr) {
            reason = "an IPv6 address lacks its closing ]";
            return false;
        }
        hostBegin = begin + 1;
        rest = hostEnd + 1;
    } else {
        const char* colon = begin;
        while (colon != end && *colon != ':') {
            ++colon;
        }
        hostEnd = colon;
        rest = colon;
    }
    const size_t hostLength = static_cast<size_t>(hostEnd - hostBegin);
    if (hostLength == 0 && !hostOptional) {
        reason = "names no host";
        return false;
    }
    if (hostLength >= sourceHostSize) {
        reason = "has a host name longer than 255 characters";
        return false;
    }
    for (const char* c = hostBegin; c != hostEnd; ++c) {
        if (*c <= ' ' || *c == '/' || *c == '@' || *c == '?' || *c == '#' ||
            (*c == ':' && *begin != '[')) {
            reason = "has a character no host name holds";
            return false;
        }
    }
    memcpy(address.host, hostBegin, hostLength);
    address.host[hostLength] = '\0';
    if (rest == end && portDefault != 0) {
        address.port = portDefault;
        return true;
    }
    if (rest == end || *rest != ':' || !ParsePort(rest + 1, end, address.port)) {
        reason = "needs a port from 1 to 65535 after the host (host:port)";
        return false;
    }
    return true;
}

} // namespace

bool ParseHostPort(const char* text, SourceAddress& address, const char*& reason) {
    address = SourceAddress{};
    reason = "";
    return text != nullptr && ParseHostPort(text, text + strlen(text), false, 0, address, reason);
}

bool ParseSource(const char* text, SourceAddress& address, const char*& reason) {
    address = SourceAddress{};
    reason = "";
    if (text == nullptr || text[0] == '\0') {
        return true;
    }
    const size_t length = strlen(text);
    const char* end = text + length;
    size_t prefix = 0;
    if (StartsWith(text, "tcp://", prefix)) {
        address.kind = SourceKind::Tcp;
        return ParseHostPort(text + prefix, end, false, 0, address, reason);
    }
    if (StartsWith(text, "udp://", prefix)) {
        address.kind = SourceKind::Udp;
        return ParseHostPort(text + prefix, end, true, 0, address, reason);
    }
    if (StartsWith(text, "gpsd://", prefix)) {
        address.kind = SourceKind::Gpsd;
        const char* slash = static_cast<const char*>(memchr(text + prefix, '/', length - prefix));
        const char* hostEnd = slash != nullptr ? slash : end;
        if (!ParseHostPort(text + prefix, hostEnd, false, gpsdPortDefault, address, reason)) {
            return false;
        }
        if (slash != nullptr) {
            // The device as gpsd names it, a path: it goes into a JSON string unescaped.
            const size_t deviceLength = static_cast<size_t>(end - slash);
            if (deviceLength >= sourceDeviceSize) {
                reason = "has a device path longer than 95 characters";
                return false;
            }
            for (const char* c = slash; c != end; ++c) {
                if (*c <= ' ' || *c == '"' || *c == '\\' || static_cast<unsigned char>(*c) > 126) {
                    reason = "has a device path with a character gpsd would not take";
                    return false;
                }
            }
            if (deviceLength == 1) {
                reason = "names no device after the /";
                return false;
            }
            memcpy(address.device, slash, deviceLength);
            address.device[deviceLength] = '\0';
        }
        return true;
    }
    reason = "begins with none of tcp://, udp://, gpsd://";
    return false;
}

} // namespace tavro
