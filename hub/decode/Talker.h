// The sentence prefixes the hub recognises as NMEA (exact, case-sensitive): the nine of
// GPS-only receivers, and with "Multi GNSS" on also the talkers of multi-constellation ones.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace tavro {

// True when the first three of the `available` bytes are "$GP", "$PG", "$PM", "$PS", "$SD",
// "$HC", "$VW", "$II" or "!AI"; with `multiGnss` also "$GN" (combined solution), "$GL"
// (GLONASS), "$GA" (Galileo), "$GB" and "$BD" (BeiDou), "$GQ" and "$QZ" (QZSS), "$GI"
// (NavIC), "$PQ" (some Quectel receivers' BeiDou and QZSS lists), "$IN" (integrated
// navigation) and "$EC" (chart systems that pass a position on).
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
        return b == 'G' || b == 'M' || b == 'S' || (multiGnss && b == 'Q');
    case 'S':
        return b == 'D';
    case 'H':
        return b == 'C';
    case 'V':
        return b == 'W';
    case 'I':
        return b == 'I' || (multiGnss && b == 'N');
    case 'B':
        return multiGnss && b == 'D';
    case 'Q':
        return multiGnss && b == 'Z';
    case 'E':
        return multiGnss && b == 'C';
    default:
        return false;
    }
}

} // namespace tavro
