// Bytes on their way to the receiver from several writers at once (each virtual port, the
// command channel, the driver's collected bytes, network clients), each in a bounded queue of
// its own, written as the line takes them, never waiting for it.
//
// - Each writer's bytes reach the line in the order queued.
// - Writers take turns by lines: once a writer's line has begun, the rest of it up to its
//   line feed goes first, so the sentences of two programs never mix. A writer who sends
//   lineTurnMax bytes without a line feed (binary) gives up its turn, and so does one whose
//   line stays unfinished for dryTicksMax ticks (a program that stopped half way, or one
//   typed by hand).
// - A queue holds queueCapacity bytes. Callers ask Room and leave what does not fit where it
//   is (in the virtual port's terminal or the driver's ring), so a writer faster than the
//   line is held back, not cut: nothing queued is dropped except by Clear.
#pragma once

#include "common/DriverExchangeBlock.h"
#include "hub/input/Input.h"

#include <stdint.h>

namespace tavro {

class ReceiverWriter {
public:
    // Writers: the virtual ports 0-7, then these.
    static constexpr uint32_t commandWriter = virtualPortCount; // WriteToReceiver
    static constexpr uint32_t driverWriter = commandWriter + 1; // bytes of the whole exchange
    static constexpr uint32_t networkWriter = driverWriter + 1; // network clients
    static constexpr uint32_t writerCount = networkWriter + 1;

    static constexpr uint32_t queueCapacity = 4096;
    static constexpr uint32_t lineTurnMax = 1024;
    static constexpr uint32_t dryTicksMax = 2;

    // Free bytes in `writer`'s queue (0 for an unknown writer).
    uint32_t Room(uint32_t writer) const;

    // Queues all `length` bytes, or none when they do not fit (false).
    bool Queue(uint32_t writer, const uint8_t* bytes, uint32_t length);

    // Writes what the line takes now (WriteNoWait). Stops when the line is busy (LineBusy) or
    // everything is written. A line that fails a write loses what is queued (it is gone or
    // broken; its port is closed and opened again by the timer loop). Returns the bytes
    // written.
    uint32_t Pump(Input& line);

    bool Pending() const { return pending_ != 0; }
    uint32_t PendingBytes() const { return pending_; }
    // The last Pump left bytes the line did not take: wait until it can take more.
    bool LineBusy() const { return lineBusy_; }

    // Drops everything queued (the input port closed).
    void Clear();

    // The timer loop's tick: an unfinished line's writer loses its turn after dryTicksMax.
    void Tick();

private:
    struct Ring {
        uint8_t bytes[queueCapacity];
        uint32_t head = 0; // first queued byte
        uint32_t count = 0;
    };

    // The first writer with bytes after `current_`, wrapping round to it.
    uint32_t NextWriter() const;

    Ring queues_[writerCount];
    uint32_t pending_ = 0;
    uint32_t current_ = writerCount - 1; // so that writer 0 has the first turn
    uint32_t turnBytes_ = 0;             // bytes of the current writer's line written so far
    uint32_t dryTicks_ = 0;              // ticks its unfinished line waited for more
    bool midLine_ = false;               // the current writer's line has begun and not ended
    bool lineBusy_ = false;
};

} // namespace tavro
