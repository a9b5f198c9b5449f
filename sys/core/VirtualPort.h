// The per-port record shared by the control device and the port device, with its two rings.
#pragma once

#include <stdint.h>

#include "sys/core/KernelServices.h"

namespace tavro::driver {

class PortDevice;

inline constexpr uint32_t defaultRingSize = 4096;

// One record per virtual port; the table of eight is allocated zero-filled by the driver object
// and lives until unload. Every field that changes after start-up is guarded by `lock`: the
// broadcast and the exchange take it once per port, so the rings, their indices, the handles'
// read positions and the counters are never touched by two threads at once.
struct VirtualPort {
    uint32_t comNumber;     // 0 = not configured, no device
    int32_t openCount;      // open handles of the port
    uint8_t* rxBuffer;      // receive ring (bytes from the hub); null only after a failed start
    uint32_t rxSize;        // receive ring size
    uint32_t rxHead;        // where the next broadcast byte goes
    uint32_t rxAvailable;   // last available-bytes result for any handle (diagnostic)
    uint32_t readActivity;  // lamp counter reported to the hub
    uint8_t* txBuffer;      // transmit ring (bytes from applications)
    uint32_t txSize;        // 4096, never resized
    uint32_t txHead;        // where the next written byte goes
    uint32_t txTail;        // next byte the exchange has not collected
    uint8_t deviceCreated;  // 1 once the port device works
    SpinLock lock;          // the port lock
    PortDevice* portDevice; // null when none
    int32_t pendingWaits;   // queued wait-on-mask requests
    int32_t pendingReads;   // queued reads
};

// Steps from `tail` to `head` in a ring of `size` bytes; equal indices mean empty. Both indices
// are always below `size`.
inline uint32_t RingDistance(uint32_t tail, uint32_t head, uint32_t size) {
    return head >= tail ? head - tail : head + size - tail;
}

inline uint32_t RingAdvance(uint32_t index, uint32_t steps, uint32_t size) {
    uint32_t next = index + steps;
    return next >= size ? next - size : next;
}

// Appends `count` bytes at `head` and returns the new head. A writer that gets a whole ring
// ahead overwrites unread bytes; since only the last `size` bytes can survive, only those are
// copied, which gives the same ring contents and head as storing every byte in turn.
uint32_t RingStore(uint8_t* ring, uint32_t size, uint32_t head, const uint8_t* bytes,
                   uint32_t count);

// Copies up to `count` bytes starting at `tail` into `out` (the caller bounds `count` by the
// distance to the head) and returns the new tail.
uint32_t RingLoad(const uint8_t* ring, uint32_t size, uint32_t tail, uint8_t* out, uint32_t count);

} // namespace tavro::driver
