#include "sys/core/VirtualPort.h"

namespace tavro::driver {

uint32_t RingStore(uint8_t* ring, uint32_t size, uint32_t head, const uint8_t* bytes,
                   uint32_t count) {
    if (count == 0) {
        return head; // `bytes` may be null then
    }
    if (count >= size) {
        // Everything but the last `size` bytes would be overwritten within this same store.
        uint32_t skipped = count - size;
        head = RingAdvance(head, skipped % size, size);
        bytes += skipped;
        count = size;
    }
    uint32_t first = size - head < count ? size - head : count;
    __builtin_memcpy(ring + head, bytes, first);
    if (count > first) {
        __builtin_memcpy(ring, bytes + first, count - first);
    }
    return RingAdvance(head, count % size, size);
}

uint32_t RingLoad(const uint8_t* ring, uint32_t size, uint32_t tail, uint8_t* out, uint32_t count) {
    uint32_t first = size - tail < count ? size - tail : count;
    __builtin_memcpy(out, ring + tail, first);
    if (count > first) {
        __builtin_memcpy(out + first, ring, count - first);
    }
    return RingAdvance(tail, count % size, size);
}

} // namespace tavro::driver
