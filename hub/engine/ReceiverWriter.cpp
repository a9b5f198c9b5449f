#include "hub/engine/ReceiverWriter.h"

#include "platform/ErrorCodes.h"

#include <string.h>

namespace tavro {

uint32_t ReceiverWriter::Room(uint32_t writer) const {
    return writer < writerCount ? queueCapacity - queues_[writer].count : 0;
}

bool ReceiverWriter::Queue(uint32_t writer, const uint8_t* bytes, uint32_t length) {
    if (length == 0) {
        return true;
    }
    if (bytes == nullptr || length > Room(writer)) {
        return false;
    }
    Ring& queue = queues_[writer];
    uint32_t tail = (queue.head + queue.count) % queueCapacity;
    const uint32_t first = length < queueCapacity - tail ? length : queueCapacity - tail;
    memcpy(queue.bytes + tail, bytes, first);
    memcpy(queue.bytes, bytes + first, length - first);
    queue.count += length;
    pending_ += length;
    return true;
}

uint32_t ReceiverWriter::NextWriter() const {
    for (uint32_t step = 1; step <= writerCount; ++step) {
        const uint32_t writer = (current_ + step) % writerCount;
        if (queues_[writer].count != 0) {
            return writer;
        }
    }
    return current_; // not reached while bytes are pending
}

uint32_t ReceiverWriter::Pump(Input& line) {
    uint32_t written = 0;
    lineBusy_ = false;
    while (pending_ != 0) {
        const bool dry = queues_[current_].count == 0;
        if (midLine_ && dry && dryTicks_ < dryTicksMax) {
            break; // the rest of the line will come: nobody else's bytes in between
        }
        if (!midLine_ || dry || turnBytes_ >= lineTurnMax) {
            // The turn passes to the next writer with bytes (the same one when it is alone).
            current_ = NextWriter();
            turnBytes_ = 0;
            midLine_ = false;
        }
        dryTicks_ = 0;
        Ring& queue = queues_[current_];
        // One stretch: contiguous in the ring, ending at the line's line feed.
        uint32_t length = queueCapacity - queue.head;
        if (length > queue.count) {
            length = queue.count;
        }
        if (length > lineTurnMax - turnBytes_) {
            length = lineTurnMax - turnBytes_; // the turn ends exactly there
        }
        const uint8_t* start = queue.bytes + queue.head;
        bool endsLine = false;
        if (const void* end = memchr(start, '\n', length)) {
            length = static_cast<uint32_t>(static_cast<const uint8_t*>(end) - start) + 1;
            endsLine = true;
        }
        uint32_t accepted = 0;
        if (line.WriteNoWait(start, length, accepted) != error::success) {
            Clear();
            break;
        }
        if (accepted > length) {
            accepted = length;
        }
        queue.head = (queue.head + accepted) % queueCapacity;
        queue.count -= accepted;
        pending_ -= accepted;
        written += accepted;
        turnBytes_ += accepted;
        midLine_ = !(endsLine && accepted == length);
        if (accepted < length) {
            lineBusy_ = true;
            break;
        }
    }
    return written;
}

void ReceiverWriter::Clear() {
    for (Ring& queue : queues_) {
        queue.head = 0;
        queue.count = 0;
    }
    pending_ = 0;
    current_ = writerCount - 1;
    turnBytes_ = 0;
    dryTicks_ = 0;
    midLine_ = false;
    lineBusy_ = false;
}

void ReceiverWriter::Tick() {
    if (midLine_ && queues_[current_].count == 0 && dryTicks_ < dryTicksMax) {
        ++dryTicks_;
    }
}

} // namespace tavro
