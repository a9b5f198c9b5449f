// The control device's work on one port: storing broadcast bytes with the wait and read checks,
// and the port's share of the exchange.
//
// Both take the port lock once per port and call, rather than once per slot and byte. That
// makes the receive ring's replacement (IOCTL_SERIAL_SET_QUEUE_SIZE, under the same lock) safe
// against a concurrent broadcast, keeps every ring index and counter under one lock, and keeps
// the hot path to one lock round trip per port. Requests are still completed only after the
// lock is released.
//
// A handle owns rxSize − 1 bytes of the ring. When a byte arrives for a handle whose share is
// full, its oldest queued read takes the waiting bytes into its own buffer (so a read longer
// than the ring still completes); a handle without a queued read loses its oldest byte instead,
// and the loss is reported as a queue overrun with EV_ERR.
#include "sys/core/CompletionList.h"
#include "sys/core/PortDevice.h"

namespace tavro::driver {

uint32_t PortDevice::RingRoom(const PortHandleState& handle) const {
    return port_->rxSize - 1 - RingDistance(handle.readIndex, port_->rxHead, port_->rxSize);
}

// Before one byte is stored: every handle whose share is full makes room for it.
void PortDevice::MakeRoom(CompletionList& done) {
    for (PortHandleState* handle = handles_; handle != nullptr; handle = handle->nextHandle) {
        if (RingRoom(*handle) != 0) {
            continue;
        }
        for (uint32_t slot = 0; handle->queuedReads != 0 && slot < ReadCount(); ++slot) {
            QueuedRead& queued = readSlots_[slot];
            if (queued.handle != handle) {
                continue;
            }
            // The handle's oldest read takes what waits, as far as its buffer holds it.
            auto* buffer = static_cast<uint8_t*>(RequestSystemBuffer(*queued.request));
            uint32_t available = port_->rxSize - 1;
            uint32_t space = queued.length - queued.absorbed;
            uint32_t take = available < space ? available : space;
            if (buffer != nullptr && queued.length < 0x80000000u) {
                handle->readIndex = RingLoad(port_->rxBuffer, port_->rxSize, handle->readIndex,
                                             buffer + queued.absorbed, take);
                queued.absorbed += take;
            }
            break;
        }
        if (RingRoom(*handle) == 0) {
            handle->readIndex = RingAdvance(handle->readIndex, 1, port_->rxSize);
            handle->errors |= SERIAL_ERROR_QUEUEOVERRUN;
            RaiseEvents(*handle, SERIAL_EV_ERR, done);
        }
    }
}

void PortDevice::ReceiveByte(uint8_t byte, uint64_t now, CompletionList& done) {
    MakeRoom(done);
    port_->rxBuffer[port_->rxHead] = byte;
    port_->rxHead = RingAdvance(port_->rxHead, 1, port_->rxSize);
    // History first: a handle whose wait this byte completes keeps the byte's events there.
    RecordHistory(&byte, 1);
    CheckWaits(byte, done);
    ServeReads(now, true, done);
}

// Stores bytes that QuietRun found can change no queued request: the same ring, positions,
// errors and history as storing them one by one.
void PortDevice::StoreRun(const uint8_t* bytes, uint32_t count, uint64_t now,
                          CompletionList& done) {
    const uint32_t size = port_->rxSize;
    const uint32_t head = RingAdvance(port_->rxHead, count % size, size);
    for (PortHandleState* handle = handles_; handle != nullptr; handle = handle->nextHandle) {
        // QuietRun keeps a handle with a queued read within its share.
        if (handle->queuedReads == 0 && RingRoom(*handle) < count) {
            handle->readIndex = RingAdvance(head, 1, size); // the newest size − 1 bytes stay
            handle->errors |= SERIAL_ERROR_QUEUEOVERRUN;
            RaiseEvents(*handle, SERIAL_EV_ERR, done); // into its history: see QuietRun
        }
    }
    port_->rxHead = RingStore(port_->rxBuffer, size, port_->rxHead, bytes, count);
    RecordHistory(bytes, count);
    MarkArrival(now);
}

// How many of the next bytes can be stored without changing any queued request, right after
// the reads were served at the same `now`. Then the time-outs gave their answer already, the
// interval time-out cannot end a read that is receiving, and every handle's oldest read has had
// its start; so a read can only end when its length is reached (or, waiting for the first
// byte, at any byte), a handle's full share moves bytes into its read, a wait ends only at a
// byte its mask selects, and an overrun matters only to a handle waiting for EV_ERR.
uint32_t PortDevice::QuietRun(const uint8_t* bytes, uint32_t count) {
    uint32_t limit = count;
    ++serveEpoch_;
    for (uint32_t slot = 0; slot < ReadCount(); ++slot) {
        const QueuedRead& queued = readSlots_[slot];
        if (!FirstOfHandle(*queued.handle)) {
            continue;
        }
        uint32_t room = RingRoom(*queued.handle);
        uint64_t have = uint64_t{queued.absorbed} + (port_->rxSize - 1 - room);
        uint64_t need = have < queued.length ? queued.length - have : 0;
        if (need == 0 || queued.started == 0 || (queued.mode & readFirstByte) != 0) {
            return 0; // ends (or starts) at the next byte
        }
        limit = need - 1 < limit ? static_cast<uint32_t>(need - 1) : limit;
        limit = room < limit ? room : limit;
    }
    for (uint32_t slot = 0; slot < WaitCount(); ++slot) {
        const PortHandleState& handle = *waitSlots_[slot].handle;
        if ((handle.waitMask & SERIAL_EV_ERR) != 0 && handle.queuedReads == 0) {
            uint32_t room = RingRoom(handle);
            limit = room < limit ? room : limit;
        }
    }
    if (limit == 0 || WaitCount() == 0) {
        return limit;
    }

    // A wait for any byte ends at the first byte that is not 0; waits for characters end at the
    // first of their characters (0 excepted: it raises no event).
    bool anyByte = false;
    uint8_t wanted[2 * slotCount];
    uint32_t wantedCount = 0;
    for (uint32_t slot = 0; slot < WaitCount(); ++slot) {
        const PortHandleState& handle = *waitSlots_[slot].handle;
        anyByte = anyByte || (handle.waitMask & SERIAL_EV_RXCHAR) != 0;
        if ((handle.waitMask & SERIAL_EV_RXFLAG) != 0) {
            const uint8_t characters[] = {handle.chars.EventChar, handle.chars.EofChar};
            for (uint8_t character : characters) {
                bool known = character == 0;
                for (uint32_t i = 0; i < wantedCount; ++i) {
                    known = known || wanted[i] == character;
                }
                if (!known) {
                    wanted[wantedCount++] = character;
                }
            }
        }
    }
    if (anyByte) {
        uint32_t run = 0;
        while (run < limit && bytes[run] == 0) {
            ++run;
        }
        return run;
    }
    for (uint32_t i = 0; i < wantedCount; ++i) {
        const void* found = __builtin_memchr(bytes, wanted[i], limit);
        if (found != nullptr) {
            limit = static_cast<uint32_t>(static_cast<const uint8_t*>(found) - bytes);
        }
    }
    return limit;
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
    // One time for the whole chunk: its bytes arrive together. What expired before it ends
    // first, without these bytes.
    uint64_t now = QueryMilliseconds();
    CheckTimeouts(now, done);
    uint32_t next = 0;
    while (next < count) {
        uint32_t quiet = bulkReceiveOff_ ? 0 : QuietRun(bytes + next, count - next);
        if (quiet != 0) {
            StoreRun(bytes + next, quiet, now, done);
            next += quiet;
        } else {
            ReceiveByte(bytes[next++], now, done);
        }
    }
    UpdateDeadline();
    ReleaseSpinLock(port_->lock);
    done.CompleteAll();
}

// Bytes written to the port are collected (or dropped in read-only mode) whether or not the
// port is still open: a program that writes a command and closes at once still reaches the
// receiver.
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
    }
    uint32_t waiting = RingDistance(port_->txTail, port_->txHead, port_->txSize);
    uint32_t take = waiting;
    if (discardWrites) {
        port_->txTail = port_->txHead;
    } else {
        uint32_t room = exchangeDataCapacity - block.clientDataLength;
        take = waiting < room ? waiting : room;
        port_->txTail = RingLoad(port_->txBuffer, port_->txSize, port_->txTail,
                                 block.clientData + block.clientDataLength, take);
        block.clientDataLength += take;
    }
    if (take != 0) {
        txCollected_ += take;
        MoveQueuedWrites(done);
        TransmitProgress(done);
    }
    CheckTimeouts(QueryMilliseconds(), done);
    UpdateDeadline();
    ReleaseSpinLock(port_->lock);
    done.CompleteAll();
}

} // namespace tavro::driver
