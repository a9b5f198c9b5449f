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
            ++traffic_.bytesDropped;
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
    // History first, while the waits this byte ends are still queued: their handles get the
    // byte's events from the wait, not a second time from their history.
    RecordHistory(&byte, 1, nullptr);
    CheckWaits(byte, done);
    ServeReads(now, true, done);
}

// Stores bytes that QuietRun found can change no queued request: the same ring, positions,
// errors and history as storing them one by one. The caller marks the reads' arrival.
void PortDevice::StoreRun(const uint8_t* bytes, uint32_t count, CompletionList& done) {
    RecordHistory(bytes, count, &done); // with the overruns, before the head moves
    port_->rxHead = RingStore(port_->rxBuffer, port_->rxSize, port_->rxHead, bytes, count);
}

// How many of the next bytes the queued reads let be stored without changing any of them,
// right after the reads were served at the same `now`. Then the time-outs gave their answer
// already, the interval time-out cannot end a read that is receiving, and every handle's oldest
// read has had its start; so a read can only end when its length is reached (or, waiting for
// the first byte, at any byte), and a handle's full share moves bytes into its read. Storing
// quiet bytes lowers the limit by their number and changes nothing else in it.
uint32_t PortDevice::ReadLimit() {
    uint32_t limit = ~0u;
    ++serveEpoch_;
    for (uint32_t slot = 0; slot < ReadCount(); ++slot) {
        const QueuedRead& queued = readSlots_[slot];
        PortHandleState& handle = *queued.handle;
        if (handle.queuedReads != 1 && !FirstOfHandle(handle)) {
            continue; // a later read of the handle: it takes nothing yet
        }
        uint32_t room = RingRoom(handle);
        uint64_t have = uint64_t{queued.absorbed} + (port_->rxSize - 1 - room);
        uint64_t need = have < queued.length ? queued.length - have : 0;
        if (need == 0 || queued.started == 0 || (queued.mode & readFirstByte) != 0) {
            return 0; // ends (or starts) at the next byte
        }
        limit = need - 1 < limit ? static_cast<uint32_t>(need - 1) : limit;
        limit = room < limit ? room : limit;
    }
    return limit;
}

// How many of the next bytes can be stored without changing any queued request, within the
// reads' limit: a wait ends only at a byte its mask selects, and an overrun matters only to a
// handle waiting for EV_ERR.
//
// When the run ends at a byte that ends waits while the reads' limit is still further away,
// `waitByte` says so: that byte can be stored with the run, and then only the waits are checked.
PortDevice::Run PortDevice::QuietRun(const uint8_t* bytes, uint32_t count, uint32_t readLimit) {
    uint32_t limit = readLimit < count ? readLimit : count;
    const uint32_t waits = WaitCount();
    bool anyByte = false;
    uint8_t wanted[2 * slotCount];
    uint32_t wantedCount = 0;
    auto want = [&](uint8_t character) {
        if (character == 0) {
            return; // 0 raises no event
        }
        for (uint32_t i = 0; i < wantedCount; ++i) {
            if (wanted[i] == character) {
                return;
            }
        }
        wanted[wantedCount++] = character;
    };
    for (uint32_t slot = 0; slot < waits; ++slot) {
        const PortHandleState& handle = *waitSlots_[slot].handle;
        const uint32_t mask = handle.waitMask;
        if ((mask & SERIAL_EV_ERR) != 0 && handle.queuedReads == 0) {
            uint32_t room = RingRoom(handle);
            limit = room < limit ? room : limit;
        }
        anyByte = anyByte || (mask & SERIAL_EV_RXCHAR) != 0;
        if ((mask & SERIAL_EV_RXFLAG) != 0) {
            want(handle.chars.EventChar);
            want(handle.chars.EofChar);
        }
    }
    // A wait for any byte ends at the first byte that is not 0; waits for characters end at the
    // first of their characters.
    uint32_t run = limit;
    if (anyByte) {
        run = 0;
        while (run < limit && bytes[run] == 0) {
            ++run;
        }
    } else {
        for (uint32_t i = 0; i < wantedCount; ++i) {
            const void* found = __builtin_memchr(bytes, wanted[i], run);
            if (found != nullptr) {
                run = static_cast<uint32_t>(static_cast<const uint8_t*>(found) - bytes);
            }
        }
    }
    // The byte at `run` is within the limit: storing it reaches no read's end nor a full share.
    return {run, run < limit};
}

// `now`: when the chunk arrived (the broadcast takes the time once for every port).
void PortDevice::Receive(const uint8_t* bytes, uint32_t count, uint64_t now) {
    if (count == 0) {
        return;
    }
    CompletionList done;
    AcquireSpinLock(port_->lock);
    if (port_->openCount == 0 || port_->rxBuffer == nullptr) {
        ReleaseSpinLock(port_->lock);
        return; // nobody has the port open: the bytes are dropped
    }
    traffic_.bytesRelayed += count;
    // What expired before the chunk ends first, without its bytes.
    CheckTimeouts(now, done);
    uint32_t next = 0;
    // The reads' limit holds until a byte gets every check (ReceiveByte may change any read).
    constexpr uint32_t unknown = ~0u;
    uint32_t readLimit = unknown;
    // Bytes stored since the reads were last served: their arrival is marked once, before the
    // next pass over the reads or at the end (nothing between looks at it).
    bool unmarked = false;
    while (next < count) {
        if (readLimit == unknown && !bulkReceiveOff_) {
            readLimit = ReadLimit();
        }
        Run run = bulkReceiveOff_ || readLimit == 0
                      ? Run{0, false}
                      : QuietRun(bytes + next, count - next, readLimit);
        if (run.length == 0 && !run.waitByte) {
            ReceiveByte(bytes[next++], now, done);
            readLimit = unknown;
            unmarked = false;
            continue;
        }
        uint32_t stored = run.length + (run.waitByte ? 1 : 0);
        StoreRun(bytes + next, stored, done);
        next += stored;
        readLimit -= stored;
        unmarked = true;
        if (run.waitByte) {
            CheckWaits(bytes[next - 1], done);
        } else if (next < count) {
            // The run stopped at a limit: the next byte needs every check.
            ReceiveByte(bytes[next++], now, done);
            readLimit = unknown;
            unmarked = false;
        }
    }
    if (unmarked) {
        MarkArrival(now);
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
        traffic_.bytesRefused += take;
    } else {
        uint32_t room = exchangeDataCapacity - block.clientDataLength;
        take = waiting < room ? waiting : room;
        port_->txTail = RingLoad(port_->txBuffer, port_->txSize, port_->txTail,
                                 block.clientData + block.clientDataLength, take);
        block.clientDataLength += take;
        traffic_.bytesWritten += take;
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

PortTraffic PortDevice::Traffic() {
    AcquireSpinLock(port_->lock);
    const PortTraffic traffic = traffic_;
    ReleaseSpinLock(port_->lock);
    return traffic;
}

} // namespace tavro::driver
