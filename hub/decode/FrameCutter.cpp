#include "hub/decode/FrameCutter.h"

#include "hub/decode/Talker.h"

namespace tavro {

StreamStart RecogniseStreamStart(const uint8_t* read, size_t count, size_t index, bool multiGnss) {
    if (index >= count) {
        return StreamStart::None;
    }
    const uint8_t* at = read + index;
    const size_t available = count - index;
    if (IsTalkerPrefix(at, available, multiGnss)) {
        return StreamStart::Nmea;
    }
    if (available >= 2 && at[0] == 0xA0 && at[1] == 0xA2) {
        return StreamStart::Sirf;
    }
    return StreamStart::None;
}

} // namespace tavro
