// "Source": where the receiver's stream comes from when it is not the serial port of "Port"
// and "Baud". The text is a URL of one of three kinds:
//   tcp://host:port                a TCP server that sends the stream (and takes writes)
//   udp://[address]:port           datagrams to this machine (address: a local address, a
//                                  broadcast address or a multicast group; none = any)
//   gpsd://host[:port][/device]    a gpsd's raw NMEA of one device (port 2947 by default)
// Parsed the same way by `tavro config` (which refuses what does not parse) and by the hub.
#pragma once

#include <stdint.h>

namespace tavro {

// "Source" holds at most 127 characters.
inline constexpr uint32_t sourceSize = 128;
// A host name holds at most 255 characters (DNS); the device path of gpsd:// at most 95.
inline constexpr uint32_t sourceHostSize = 256;
inline constexpr uint32_t sourceDeviceSize = 96;
inline constexpr uint16_t gpsdPortDefault = 2947;

enum class SourceKind : uint8_t { Serial, Tcp, Udp, Gpsd };

struct SourceAddress {
    SourceKind kind = SourceKind::Serial;
    char host[sourceHostSize] = {}; // brackets of an IPv6 address removed; "" for udp:// = any
    uint16_t port = 0;
    char device[sourceDeviceSize] = {}; // gpsd:// only, "" = every device
};

// Parses `text` (null or empty: the serial port). False with `reason` (a phrase that follows
// "Source: ") when the text names no source the hub can take.
bool ParseSource(const char* text, SourceAddress& address, const char*& reason);

// "host:port" ("[v6]:port"), as "UDP Target" holds it, into `address`'s host and port.
bool ParseHostPort(const char* text, SourceAddress& address, const char*& reason);

// Whether the source takes bytes for the receiver (the serial port, tcp://): udp:// and
// gpsd:// are read-only.
inline bool SourceWritable(SourceKind kind) {
    return kind == SourceKind::Serial || kind == SourceKind::Tcp;
}

} // namespace tavro
