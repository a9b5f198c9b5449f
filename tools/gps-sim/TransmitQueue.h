// The receiver's output queue. Fix sentences (or recording units) wait in order; answers to
// commands go ahead of them at the next unit boundary, as a receiver interleaves its replies
// between whole sentences. The queue is bounded like a receiver's buffer: output that does not
// fit is dropped whole.
#pragma once

#include <deque>
#include <stddef.h>
#include <stdint.h>
#include <string>

namespace tavro::gpssim {

class TransmitQueue {
public:
    explicit TransmitQueue(size_t capacity) : capacity_(capacity) {}

    // Queues a unit of ordinary output; false (and dropped) when it does not fit.
    bool PushData(std::string unit);

    // Queues an answer ahead of the waiting output (after earlier answers). `switchBaud`
    // non-zero: the line speed changes once this unit has gone out. Answers are never dropped.
    void PushReply(std::string unit, uint32_t switchBaud = 0);

    // Bytes waiting.
    size_t Pending() const { return pending_; }

    // Takes up to `size` bytes. Stops right after a unit that changes the speed, and reports
    // the new speed in `switchBaud` (0 otherwise), so the bytes after it go at the new speed.
    size_t Take(uint8_t* out, size_t size, uint32_t& switchBaud);

private:
    struct Unit {
        std::string bytes;
        uint32_t switchBaud = 0;
    };

    size_t capacity_;
    size_t pending_ = 0;
    Unit current_;    // the unit on the line, partly sent
    size_t sent_ = 0; // bytes of current_ already taken
    std::deque<Unit> replies_;
    std::deque<Unit> data_;
};

} // namespace tavro::gpssim
