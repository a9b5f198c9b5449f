// The sentence prefixes the hub recognises as NMEA (exact, case-sensitive): the nine of
// GPS-only receivers, and with "Multi GNSS" on also the talkers of multi-constellation ones.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace tavro {

// True when the first three of the `available` bytes are "$GP", "$PG", "$PM", "$PS", "$SD",
// "$HC", "$VW", "$II" or "!AI"; with `multiGnss` also "$GN" (combined solution), "$GL"
// (GLONASS), "$GA" (Galileo), "$GB" and "$BD" (BeiDou), "$GQ" (QZSS) and "$GI" (NavIC).
inline bool IsTalkerPrefix(const uint8_t* bytes, size_t available, bool multiGnss) {
    if (available < 3) {
        return false;
    }
    const uint8_t a = bytes[1];
    const uint8_t b = bytes[2];
    if (bytes[0] == '!') {
        return a == 'A' && b == 'I';
    }
    if (bytes[0] != '$') {
        return false;
    }
    switch (a) {
    case 'G':
        return b == 'P' || (multiGnss &&
                            (b == 'N' || b == 'L' || b == 'A' || b == 'B' || b == 'Q' || b == 'I'));
    case 'P':
        return b == 'G' || b == 'M' || b == 'S';
    case 'S':
        return b == 'D';
    case 'H':
        return b == 'C';
    case 'V':
        return b == 'W';
    case 'I':
        return b == 'I';
    case 'B':
        return multiGnss && b == 'D';
    default:
        return false;
    }
}

} // namespace tavro
