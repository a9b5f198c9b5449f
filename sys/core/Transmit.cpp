// The transmit side of a port: writes into the transmit ring, writes that wait for room while
// a hub collects, flushes that wait for the hub to collect a handle's bytes, EV_TXEMPTY, and
// the purges of the transmit side.
//
// The ring is shared by every handle of the port. Its bytes are counted as a stream (txStored_
// in, txCollected_ out), and each handle remembers where its last byte went (lastWriteEnd), so
// the hub's collection tells every handle when its own bytes are gone without the ring having
// to know whose byte is whose.
#include "sys/core/CompletionList.h"
#include "sys/core/PortDevice.h"

namespace tavro::driver {

uint32_t PortDevice::TransmitRoom() const {
    return port_->txSize - 1 - RingDistance(port_->txTail, port_->txHead, port_->txSize);
}

// Bytes of this handle not yet collected, and the bytes of other handles ahead of them.
uint32_t PortDevice::TransmitWaiting(const PortHandleState& handle) const {
    uint64_t waiting = handle.lastWriteEnd > txCollected_ ? handle.lastWriteEnd - txCollected_ : 0;
    for (uint32_t slot = 0; slot < writeCount_; ++slot) {
        const QueuedWrite& queued = writeSlots_[slot];
        if (queued.handle == &handle) {
            waiting += queued.length - queued.stored;
        }
    }
    return waiting > maxDword ? maxDword : static_cast<uint32_t>(waiting);
}

// Stores bytes of `handle` at the ring's head. Only without a hub is more stored than there is
// room for: then the oldest uncollected bytes give way (they count as collected: they are gone).
void PortDevice::StoreTransmit(PortHandleState& handle, const uint8_t* bytes, uint32_t count) {
    if (count == 0 || port_->txBuffer == nullptr) {
        return;
    }
    if (txLastWriter_ != &handle) {
        txLastWriter_ = &handle;
        txLastRunStart_ = txStored_;
    }
    if (txCollected_ >= handle.lastWriteEnd) {
        handle.firstWriteStart = txStored_;
    }
    port_->txHead = RingStore(port_->txBuffer, port_->txSize, port_->txHead, bytes, count);
    txStored_ += count;
    const uint64_t capacity = port_->txSize - 1;
    if (txStored_ - txCollected_ > capacity) {
        txCollected_ = txStored_ - capacity;
        port_->txTail = RingAdvance(port_->txHead, 1, port_->txSize);
    }
    handle.lastWriteEnd = txStored_;
    handle.transmitPending = 1;
}

// Every byte goes into the transmit ring, under the port lock: the writes of all handles share
// it and must not interleave. While a hub collects, a write that does not fit waits for room
// (with the write time-outs) instead of overwriting bytes the hub has not taken yet.
NtStatus PortDevice::Write(Request& request) {
    uint32_t length = RequestWriteLength(request);
    DebugPrint(" Tavro write %d\n", length);
    auto* handle = static_cast<PortHandleState*>(RequestHandleContext(request));
    const auto* bytes = static_cast<const uint8_t*>(RequestSystemBuffer(request));
    if (handle == nullptr) {
        return CompleteNow(request, status::invalidDeviceRequest);
    }
    if (bytes == nullptr && length != 0) {
        return CompleteNow(request, status::invalidParameter);
    }
    AcquireSpinLock(port_->lock);
    if (length == 0 || !hubAttached_ || (writeCount_ == 0 && TransmitRoom() >= length)) {
        StoreTransmit(*handle, bytes, length);
        ReleaseSpinLock(port_->lock);
        return CompleteNow(request, status::success, length);
    }
    if (handle->cleanedUp) {
        ReleaseSpinLock(port_->lock);
        return CompleteNow(request, status::cancelled);
    }
    if (writeCount_ == slotCount) {
        ReleaseSpinLock(port_->lock);
        return CompleteNow(request, status::insufficientResources);
    }
    if (!QueueForCancel(request, &PortDevice::CancelQueued, this)) {
        ReleaseSpinLock(port_->lock);
        return CompleteNow(request, status::cancelled);
    }

    // What fits goes in now unless earlier writes still wait (they go first).
    uint32_t stored = writeCount_ == 0 ? TransmitRoom() : 0;
    StoreTransmit(*handle, bytes, stored);
    const SERIAL_TIMEOUTS& t = handle->timeouts;
    uint64_t total = uint64_t{length} * t.WriteTotalTimeoutMultiplier + t.WriteTotalTimeoutConstant;
    uint64_t now = QueryMilliseconds();
    uint64_t deadline = total == 0 || total > noDeadline - now ? noDeadline : now + total;
    writeSlots_[writeCount_++] = QueuedWrite{&request, handle, deadline, length, stored};
    ++handle->queuedWrites;
    handle->transmitPending = 1;
    DebugPrint(" Tavro write pending\n");
    UpdateDeadline();
    ReleaseSpinLock(port_->lock);
    return status::pending;
}

void PortDevice::RemoveWrite(uint32_t slot) {
    --writeSlots_[slot].handle->queuedWrites;
    RemoveEntry(writeSlots_, sizeof(QueuedWrite), writeCount_--, slot);
}

void PortDevice::RemoveFlush(uint32_t slot) {
    RemoveEntry(flushSlots_, sizeof(QueuedFlush), flushCount_--, slot);
}

// Moves the bytes of waiting writes into the room the hub made, oldest write first, and
// completes the writes that are then wholly in the ring. Called with the port lock held.
void PortDevice::MoveQueuedWrites(CompletionList& done) {
    uint32_t slot = 0;
    while (slot < writeCount_) {
        QueuedWrite& queued = writeSlots_[slot];
        Request& request = *queued.request;
        uint32_t room = hubAttached_ ? TransmitRoom() : maxDword;
        uint32_t rest = queued.length - queued.stored;
        uint32_t take = rest < room ? rest : room;
        const auto* bytes = static_cast<const uint8_t*>(RequestSystemBuffer(request));
        StoreTransmit(*queued.handle, bytes + queued.stored, take);
        queued.stored += take;
        if (queued.stored < queued.length) {
            return; // no room left; later writes wait behind this one
        }
        if (Finish(request, status::success, queued.length, done)) {
            RemoveWrite(slot);
        } else {
            ++slot; // its cancel routine completes it
        }
    }
}

// After bytes left the ring (collected, dropped) or writes ended: EV_TXEMPTY for each handle
// whose last byte is gone, and the flushes that waited for that. Called with the port lock held.
void PortDevice::TransmitProgress(CompletionList& done) {
    for (PortHandleState* handle = handles_; handle != nullptr; handle = handle->nextHandle) {
        if (handle->transmitPending != 0 && handle->queuedWrites == 0 &&
            txCollected_ >= handle->lastWriteEnd) {
            handle->transmitPending = 0;
            RaiseEvents(*handle, SERIAL_EV_TXEMPTY, done);
        }
    }
    for (uint32_t slot = 0; slot < flushCount_;) {
        const PortHandleState& handle = *flushSlots_[slot].handle;
        if ((!hubAttached_ || (handle.queuedWrites == 0 && txCollected_ >= handle.lastWriteEnd)) &&
            Finish(*flushSlots_[slot].request, status::success, 0, done)) {
            RemoveFlush(slot);
        } else {
            ++slot;
        }
    }
}

// FlushFileBuffers completes once the hub has collected every byte the handle wrote, or at once
// when no hub is there to collect them (they stay in the ring for the next hub).
NtStatus PortDevice::FlushBuffers(Request& request) {
    DebugPrint(" Tavro FlushBuffers\n");
    auto* handle = static_cast<PortHandleState*>(RequestHandleContext(request));
    if (handle == nullptr) {
        return CompleteNow(request, status::success);
    }
    AcquireSpinLock(port_->lock);
    if (!hubAttached_ || (handle->queuedWrites == 0 && txCollected_ >= handle->lastWriteEnd)) {
        ReleaseSpinLock(port_->lock);
        return CompleteNow(request, status::success);
    }
    if (handle->cleanedUp || flushCount_ == slotCount) {
        ReleaseSpinLock(port_->lock);
        return CompleteNow(request,
                           handle->cleanedUp ? status::cancelled : status::insufficientResources);
    }
    if (!QueueForCancel(request, &PortDevice::CancelQueued, this)) {
        ReleaseSpinLock(port_->lock);
        return CompleteNow(request, status::cancelled);
    }
    flushSlots_[flushCount_++] = QueuedFlush{&request, handle};
    ReleaseSpinLock(port_->lock);
    return status::pending;
}

// PURGE_TXCLEAR: drops the handle's bytes the hub has not collected, as far as they are the
// newest in the ring. Bytes of another handle that came after them (programs writing within
// the same hub tick) keep theirs in place, and the handle's earlier bytes behind them go out.
// A handle with writes still waiting keeps its bytes: dropping part of a write would leave a
// hole in it (PURGE_TXABORT ends those writes first).
void PortDevice::DropTransmit(PortHandleState& handle) {
    if (txLastWriter_ != &handle || handle.queuedWrites != 0) {
        return;
    }
    uint64_t from = txLastRunStart_ > txCollected_ ? txLastRunStart_ : txCollected_;
    auto drop = static_cast<uint32_t>(txStored_ - from);
    port_->txHead = RingAdvance(port_->txHead, port_->txSize - drop % port_->txSize, port_->txSize);
    txStored_ = from;
    // Unless it had older bytes behind another handle's, nothing of the handle is left.
    handle.lastWriteEnd = from > handle.firstWriteStart ? from : 0;
}

void PortDevice::SetHubAttached(bool attached) {
    if (port_ == nullptr) {
        return;
    }
    CompletionList done;
    AcquireSpinLock(port_->lock);
    hubAttached_ = attached;
    if (attached) {
        traffic_ = {};
    }
    if (!attached) {
        // Nothing collects any more: waiting writes go into the ring as it is (the newest bytes
        // win, as without a hub) and flushes end. The ring is taken by the next hub.
        MoveQueuedWrites(done);
        TransmitProgress(done);
        UpdateDeadline();
    }
    ReleaseSpinLock(port_->lock);
    done.CompleteAll();
}

} // namespace tavro::driver
