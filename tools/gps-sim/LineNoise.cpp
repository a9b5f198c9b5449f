#include "tools/gps-sim/LineNoise.h"

namespace tavro::gpssim {

size_t LineNoise::Garble(size_t sent, uint32_t ownBaud, uint32_t lineBaud, uint8_t* out,
                         size_t capacity) {
    size_t count = sent;
    if (lineBaud < ownBaud && ownBaud > 0) {
        const uint64_t scaled = static_cast<uint64_t>(sent) * lineBaud + carry_;
        count = static_cast<size_t>(scaled / ownBaud);
        carry_ = scaled % ownBaud;
    }
    if (count > capacity) {
        count = capacity;
    }
    for (size_t i = 0; i < count; ++i) {
        uint8_t byte = 0;
        do {
            byte = static_cast<uint8_t>(random_.Next());
        } while (CanStartAStream(byte));
        out[i] = byte;
    }
    return count;
}

} // namespace tavro::gpssim
