// The control device's work on one port: storing broadcast bytes with the wait and read checks,
// and the port's share of the exchange.
//
// Both take the port lock once per port and call, rather than once per slot and byte. That
// makes the receive ring's replacement (IOCTL_SERIAL_SET_QUEUE_SIZE, under the same lock) safe
// against a concurrent broadcast, keeps every ring index and counter under one lock, and keeps
// the hot path to one lock round trip per port. Requests are still completed only after the
// lock is released.
#include "sys/core/CompletionList.h"
#include "sys/core/PortDevice.h"

namespace tavro::driver {

void PortDevice::ReceiveByte(uint8_t byte, uint64_t now, CompletionList& done) {
    port_->rxBuffer[port_->rxHead] = byte;
    port_->rxHead = RingAdvance(port_->rxHead, 1, port_->rxSize);
    CheckWaits(byte, done);
    CheckReads(true, now, done);
}

// How many of the next bytes can be stored without changing any queued request, right after
// ReceiveByte ran both checks at the same `now`. Then the time-outs (C1, Cx) gave their answer
// already, every queued read's lastCharTime is `now` (so C2 cannot hold with RI ≠ 0), and C3
// depends on the settings alone; so a read can only be completed by C0, when its handle's
// available bytes reach the read length, and a wait only by a byte that its mask selects.
uint32_t PortDevice::QuietRun(const uint8_t* bytes, uint32_t count) {
    uint32_t limit = count;
    for (uint32_t slot = 0; slot < ReadCount(); ++slot) {
        const QueuedRead& queued = readSlots_[slot];
        if (queued.length >= port_->rxSize) {
            continue; // can never be reached: at most rxSize − 1 bytes wait for one handle
        }
        uint32_t available = RingDistance(queued.handle->readIndex, port_->rxHead, port_->rxSize);
        uint32_t quiet = queued.length > available ? queued.length - available - 1 : 0;
        limit = quiet < limit ? quiet : limit;
    }
    if (limit == 0 || WaitCount() == 0) {
        return limit;
    }

    bool anyByte = false;
    bool selected[256] = {};
    for (uint32_t slot = 0; slot < WaitCount(); ++slot) {
        const PortHandleState& handle = *waitSlots_[slot].handle;
        anyByte = anyByte || (handle.waitMask & SERIAL_EV_RXCHAR) != 0;
        if ((handle.waitMask & SERIAL_EV_RXFLAG) != 0) {
            selected[handle.chars.EventChar] = true;
            selected[handle.chars.EofChar] = true; // EofChar 0 selects nothing: see below
        }
    }
    selected[0] = false; // a byte of value 0 completes no wait
    uint32_t run = 0;
    if (anyByte) {
        while (run < limit && bytes[run] == 0) {
            ++run;
        }
    } else {
        while (run < limit && !selected[bytes[run]]) {
            ++run;
        }
    }
    return run;
}

void PortDevice::Receive(const uint8_t* bytes, uint32_t count) {
    if (count == 0) {
        return;
    }
    CompletionList done;
    AcquireSpinLock(port_->lock);
    if (port_->openCount == 0 || port_->rxBuffer == nullptr) {
        ReleaseSpinLock(port_->lock);
        return; // nobody has the port open: the bytes are dropped
    }
    // One time for the whole chunk: its bytes arrive together.
    uint64_t now = QueryMilliseconds();
    uint32_t next = 0;
    while (next < count) {
        ReceiveByte(bytes[next++], now, done);
        if (bulkReceiveOff_ || next == count) {
            continue;
        }
        uint32_t quiet = QuietRun(bytes + next, count - next);
        if (quiet == 0) {
            continue;
        }
        port_->rxHead =
            RingStore(port_->rxBuffer, port_->rxSize, port_->rxHead, bytes + next, quiet);
        next += quiet;
        if (ReadCount() != 0) {
            // What the last read check of those bytes would have left in rxAvailable.
            AvailableBytes(*readSlots_[ReadCount() - 1].handle);
        }
    }
    ReleaseSpinLock(port_->lock);
    done.CompleteAll();
}

void PortDevice::Exchange(DriverExchangeBlock& block, uint32_t index, bool discardWrites) {
    CompletionList done;
    AcquireSpinLock(port_->lock);
    block.comNumber[index] = port_->comNumber;
    block.pending[index].pendingWaits = static_cast<uint32_t>(port_->pendingWaits);
    block.pending[index].pendingReads = static_cast<uint32_t>(port_->pendingReads);
    block.rxAvailable[index] = port_->rxAvailable;
    if (port_->openCount != 0) {
        block.openCount[index] = static_cast<uint32_t>(port_->openCount);
        block.activity[index] = (port_->readActivity << 16) | (port_->rxHead & 0xFFFF);
        if (discardWrites) {
            port_->txTail = port_->txHead;
        } else {
            uint32_t waiting = RingDistance(port_->txTail, port_->txHead, port_->txSize);
            uint32_t room = exchangeDataCapacity - block.clientDataLength;
            uint32_t take = waiting < room ? waiting : room;
            port_->txTail = RingLoad(port_->txBuffer, port_->txSize, port_->txTail,
                                     block.clientData + block.clientDataLength, take);
            block.clientDataLength += take;
        }
        CheckReads(false, QueryMilliseconds(), done);
    }
    ReleaseSpinLock(port_->lock);
    done.CompleteAll();
}

} // namespace tavro::driver
