// Checking the checksum of a whole NMEA 0183 sentence, for the hub and its tools.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace tavro {

// The value of a hex digit of either case, -1 for any other character.
constexpr int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// "$...*hh" or "!...*hh" (no CR LF) whose two hex digits are the XOR of the bytes between
// the start and the only "*".
constexpr bool NmeaSentenceValid(const char* line, size_t length) {
    if (length < 4 || (line[0] != '$' && line[0] != '!') || line[length - 3] != '*') {
        return false;
    }
    uint8_t sum = 0;
    for (size_t i = 1; i < length - 3; ++i) {
        if (line[i] == '*') {
            return false;
        }
        sum = static_cast<uint8_t>(sum ^ static_cast<uint8_t>(line[i]));
    }
    const int high = HexDigit(line[length - 2]);
    const int low = HexDigit(line[length - 1]);
    return high >= 0 && low >= 0 && sum == (high << 4 | low);
}

} // namespace tavro
