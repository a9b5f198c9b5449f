// Wait-on-mask requests and events: queueing, the wait check run for every received byte, the
// event history of a handle without a queued wait, completion by a new mask.
#include "sys/core/CompletionList.h"
#include "sys/core/PortDevice.h"

namespace tavro::driver {

namespace {

void CompleteWait(Request& request, uint32_t events, CompletionList& done) {
    if (void* buffer = RequestSystemBuffer(request)) {
        __builtin_memcpy(buffer, &events, sizeof events);
    }
    SetRequestInformation(request, sizeof events);
    SetRequestStatus(request, status::success);
    done.Add(request);
}

// The events a received byte raises for a handle's mask: EV_RXCHAR for any byte but 0,
// EV_RXFLAG for EventChar or EofChar (which also marks the end of file).
uint32_t ByteEvents(PortHandleState& handle, uint8_t byte) {
    if (byte == 0) {
        return 0; // a byte of value 0 raises no event (it is still readable data)
    }
    uint32_t events = handle.waitMask & SERIAL_EV_RXCHAR;
    if ((handle.waitMask & SERIAL_EV_RXFLAG) != 0) {
        if (byte == handle.chars.EventChar) {
            events |= SERIAL_EV_RXFLAG;
        }
        if (handle.chars.EofChar != 0 && byte == handle.chars.EofChar) {
            handle.eofReceived = 1;
            events |= SERIAL_EV_RXFLAG;
        }
    }
    return events;
}

} // namespace

NtStatus PortDevice::WaitOnMask(Request& request, PortHandleState& handle) {
    DebugPrint(" Tavro DC Wait on mask\n");
    AcquireSpinLock(port_->lock);
    if (handle.pendingWait != nullptr) {
        ReleaseSpinLock(port_->lock);
        DebugPrint(" Tavro DC WaitOnMask INSUFF RES\n");
        return CompleteNow(request, status::insufficientResources);
    }
    if (handle.cleanedUp) {
        ReleaseSpinLock(port_->lock);
        return CompleteNow(request, status::cancelled);
    }
    // Events that happened since the last wait ended are not lost: the wait ends at once.
    if (uint32_t events = handle.eventHistory & handle.waitMask) {
        handle.eventHistory = 0;
        ReleaseSpinLock(port_->lock);
        DebugPrint(" Tavro complete wait ResultMask %X\n", events);
        __builtin_memcpy(RequestSystemBuffer(request), &events, sizeof events);
        return CompleteNow(request, status::success, sizeof events);
    }
    uint32_t slot = WaitCount();
    if (slot == slotCount) {
        ReleaseSpinLock(port_->lock);
        DebugPrint(" Tavro DC WaitOnMask INSUFF RES2\n");
        return CompleteNow(request, status::insufficientResources);
    }

    if (!QueueForCancel(request, &PortDevice::CancelQueued, this)) {
        ReleaseSpinLock(port_->lock);
        return CompleteNow(request, status::cancelled);
    }

    waitSlots_[slot] = QueuedWait{&request, &handle};
    ++port_->pendingWaits;
    handle.pendingWait = &request;
    ReleaseSpinLock(port_->lock);
    return status::pending;
}

void PortDevice::RemoveWait(uint32_t slot) {
    RemoveEntry(waitSlots_, sizeof(QueuedWait), WaitCount(), slot);
    --port_->pendingWaits;
}

// Called with the port lock held, after `byte` was stored in the receive ring. The waits that
// stay are moved together in one pass (a line feed often ends every wait at once).
void PortDevice::CheckWaits(uint8_t byte, CompletionList& done) {
    if (byte == 0) {
        return;
    }
    uint32_t kept = 0;
    const uint32_t count = WaitCount();
    for (uint32_t slot = 0; slot < count; ++slot) {
        QueuedWait& queued = waitSlots_[slot];
        PortHandleState& handle = *queued.handle;
        uint32_t events = ByteEvents(handle, byte);
        Request& request = *queued.request;
        if (events == 0 || !ClaimFromCancel(request)) {
            waitSlots_[kept++] = queued;
            continue;
        }
        DebugPrint(" Tavro complete wait ResultMask %X\n", events);
        handle.pendingWait = nullptr;
        CompleteWait(request, events, done);
    }
    for (uint32_t slot = kept; slot < count; ++slot) {
        waitSlots_[slot] = QueuedWait{};
    }
    port_->pendingWaits = static_cast<int32_t>(kept);
}

// Received bytes raise events for the handles that have no wait queued: they are kept for the
// handle's next wait. A handle's queued wait is served by CheckWaits instead. The bytes are
// searched once for each character asked for, whatever the number of handles asking.
//
// With `overruns`, the bytes are a quiet run about to be stored (StoreRun), and the same pass
// over the handles lets each handle without a queued read whose share cannot take them lose
// its oldest bytes: the newest rxSize − 1 stay. QuietRun keeps a handle with a queued read, or
// with a queued wait for EV_ERR, within its share; the EV_ERR goes to the others' history.
void PortDevice::RecordHistory(const uint8_t* bytes, uint32_t count, CompletionList* overruns) {
    const uint32_t size = port_->rxSize;
    const uint32_t head = RingAdvance(port_->rxHead, count % size, size);
    int anyByte = -1; // not searched yet
    uint8_t searched[4];
    bool found[4];
    uint32_t searchedCount = 0;
    auto contains = [&](uint8_t character) {
        for (uint32_t i = 0; i < searchedCount; ++i) {
            if (searched[i] == character) {
                return found[i];
            }
        }
        const bool present = __builtin_memchr(bytes, character, count) != nullptr;
        if (searchedCount < 4) {
            searched[searchedCount] = character;
            found[searchedCount++] = present;
        }
        return present;
    };
    for (PortHandleState* handle = handles_; handle != nullptr; handle = handle->nextHandle) {
        if (overruns != nullptr && handle->queuedReads == 0 && RingRoom(*handle) < count) {
            // It keeps the newest rxSize - 1 bytes of its unread ones and the run.
            traffic_.bytesDropped += count - RingRoom(*handle);
            handle->readIndex = RingAdvance(head, 1, size);
            handle->errors |= SERIAL_ERROR_QUEUEOVERRUN;
            RaiseEvents(*handle, SERIAL_EV_ERR, *overruns);
        }
        const uint32_t mask = handle->waitMask;
        if (handle->pendingWait != nullptr || (mask & (SERIAL_EV_RXCHAR | SERIAL_EV_RXFLAG)) == 0) {
            continue;
        }
        if ((mask & SERIAL_EV_RXCHAR) != 0 && (handle->eventHistory & SERIAL_EV_RXCHAR) == 0) {
            if (anyByte < 0) {
                anyByte = 0;
                for (uint32_t i = 0; i < count && anyByte == 0; ++i) {
                    anyByte = bytes[i] != 0 ? 1 : 0;
                }
            }
            handle->eventHistory |= anyByte != 0 ? SERIAL_EV_RXCHAR : 0;
        }
        if ((mask & SERIAL_EV_RXFLAG) == 0) {
            continue;
        }
        const uint8_t eventChar = handle->chars.EventChar;
        if (eventChar != 0 && (handle->eventHistory & SERIAL_EV_RXFLAG) == 0 &&
            contains(eventChar)) {
            handle->eventHistory |= SERIAL_EV_RXFLAG;
        }
        const uint8_t eofChar = handle->chars.EofChar;
        if (eofChar != 0 && contains(eofChar)) {
            handle->eofReceived = 1;
            handle->eventHistory |= SERIAL_EV_RXFLAG;
        }
    }
}

// Events other than received bytes (EV_TXEMPTY, EV_ERR): they complete the handle's queued wait
// or wait in its history. Called with the port lock held.
void PortDevice::RaiseEvents(PortHandleState& handle, uint32_t events, CompletionList& done) {
    events &= handle.waitMask;
    if (events == 0) {
        return;
    }
    for (uint32_t slot = 0; handle.pendingWait != nullptr && slot < WaitCount(); ++slot) {
        Request& request = *waitSlots_[slot].request;
        if (waitSlots_[slot].handle != &handle) {
            continue;
        }
        if (ClaimFromCancel(request)) {
            DebugPrint(" Tavro complete wait ResultMask %X\n", events);
            handle.pendingWait = nullptr;
            RemoveWait(slot);
            CompleteWait(request, events, done);
            return;
        }
        break; // being cancelled: the next wait gets the events
    }
    handle.eventHistory |= events;
}

// A new mask ends the handle's queued wait with the event word 0, as the system's serial ports
// do, and starts a fresh history.
NtStatus PortDevice::SetWaitMask(Request& request, PortHandleState& handle) {
    uint32_t mask = 0;
    __builtin_memcpy(&mask, RequestSystemBuffer(request), sizeof mask);
    DebugPrint(" Tavro DC SetWaitMask %X\n", mask);

    CompletionList done;
    AcquireSpinLock(port_->lock);
    handle.waitMask = mask;
    handle.eventHistory = 0;
    Request* waiting = handle.pendingWait;
    handle.pendingWait = nullptr;
    for (uint32_t slot = 0; waiting != nullptr && slot < WaitCount(); ++slot) {
        if (waitSlots_[slot].request != waiting) {
            continue;
        }
        // If a cancel is already under way the cancel routine completes it instead.
        if (ClaimFromCancel(*waiting)) {
            RemoveWait(slot);
            CompleteWait(*waiting, 0, done);
        }
        break;
    }
    ReleaseSpinLock(port_->lock);
    done.CompleteAll();
    return CompleteNow(request, status::success);
}

} // namespace tavro::driver
