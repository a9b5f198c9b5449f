// What a UART listening at the wrong speed receives: bytes with no meaning, more or fewer of
// them than were sent. Modelled as random bytes, as many as sent when the listener is faster,
// proportionally fewer when it is slower.
//
// The noise never contains '$', '!', 0xA0 or 0xB0, the first bytes of every stream start the
// GPS search looks for, so that it can never find a receiver at a wrong speed by chance.
#pragma once

#include "tools/gps-sim/Random.h"

#include <stddef.h>
#include <stdint.h>

namespace tavro::gpssim {

class LineNoise {
public:
    explicit LineNoise(uint64_t seed) : random_(seed) {}

    // Writes the noise for `sent` bytes sent at `ownBaud` and heard at `lineBaud` into `out`
    // (at most `capacity` bytes) and returns its length.
    size_t Garble(size_t sent, uint32_t ownBaud, uint32_t lineBaud, uint8_t* out, size_t capacity);

    static bool CanStartAStream(uint8_t byte) {
        return byte == '$' || byte == '!' || byte == 0xA0 || byte == 0xB0;
    }

private:
    Random random_;
    uint64_t carry_ = 0; // remainder of the proportional count, in ownBaud units
};

} // namespace tavro::gpssim
