// The system's map of present serial ports: HARDWARE\DEVICEMAP\SERIALCOMM on Windows, the
// COM directory on POSIX. The hub reads it to learn which COM numbers are taken and which
// ports the GPS search should try.
#pragma once

#include <stdint.h>

namespace tavro::platform {

struct SerialPortList {
    static constexpr uint32_t capacity = 256;
    // Each entry is the number after "COM" exactly as atoi reads it, so names that are not
    // "COM" and a number show up as 0 (or out of range) and the caller skips them.
    int32_t comNumbers[capacity] = {};
    uint32_t count = 0;
    bool truncated = false; // more entries than `capacity`; the first ones are listed
};

class SerialPortMap {
public:
    virtual ~SerialPortMap() = default;

    // Fills `list` with one entry per listed port. Returns error::success, or the error that
    // kept the map from being opened (the list is then empty).
    virtual uint32_t List(SerialPortList& list) = 0;
};

// The adapter of the edition this program was built for.
SerialPortMap& SystemSerialPortMap();

// What atoi returns for `text`: leading white space, an optional sign, decimal digits. Values
// beyond the range of int32_t saturate instead of overflowing.
inline int32_t AtoiNumber(const char* text) {
    if (text == nullptr) {
        return 0;
    }
    while (*text == ' ' || (*text >= '\t' && *text <= '\r')) {
        ++text;
    }
    bool negative = false;
    if (*text == '+' || *text == '-') {
        negative = *text == '-';
        ++text;
    }
    int64_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + (*text - '0');
        if (value > int64_t{INT32_MAX} + 1) {
            value = int64_t{INT32_MAX} + 1;
        }
    }
    value = negative ? -value : value;
    if (value > INT32_MAX) {
        return INT32_MAX;
    }
    return static_cast<int32_t>(value);
}

} // namespace tavro::platform
