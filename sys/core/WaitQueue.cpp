// Wait-on-mask requests: queueing, the wait check run for every received byte, completion by a
// new mask, cancellation. Same lock order as the reads: port lock, then cancel lock.
#include "sys/core/CompletionList.h"
#include "sys/core/PortDevice.h"

namespace tavro::driver {

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
    uint32_t slot = WaitCount();
    if (slot == slotCount) {
        ReleaseSpinLock(port_->lock);
        DebugPrint(" Tavro DC WaitOnMask INSUFF RES2\n");
        return CompleteNow(request, status::insufficientResources);
    }

    AcquireCancelLock();
    if (RequestCancelFlag(request)) {
        ReleaseCancelLock();
        ReleaseSpinLock(port_->lock);
        return CompleteNow(request, status::cancelled);
    }
    SetRequestCancelRoutine(request, &PortDevice::CancelWait, this);
    MarkRequestPending(request);
    SetRequestInformation(request, 0);
    ReleaseCancelLock();

    waitSlots_[slot] = QueuedWait{&request, &handle};
    ++port_->pendingWaits;
    handle.pendingWait = &request;
    ReleaseSpinLock(port_->lock);
    return status::pending;
}

void PortDevice::RemoveWait(uint32_t slot) {
    uint32_t count = WaitCount();
    for (uint32_t i = slot + 1; i < count; ++i) {
        waitSlots_[i - 1] = waitSlots_[i];
    }
    waitSlots_[count - 1] = QueuedWait{};
    --port_->pendingWaits;
}

// Called with the port lock held, after `byte` was stored in the receive ring.
void PortDevice::CheckWaits(uint8_t byte, CompletionList& done) {
    if (byte == 0) {
        return; // a byte of value 0 satisfies no wait (it is still readable data)
    }
    uint32_t slot = 0;
    while (slot < WaitCount()) {
        QueuedWait& queued = waitSlots_[slot];
        PortHandleState& handle = *queued.handle;
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
        Request& request = *queued.request;
        if (events == 0 || !ClaimFromCancel(request)) {
            ++slot;
            continue;
        }
        DebugPrint(" Tavro complete wait ResultMask %X\n", events);
        handle.pendingWait = nullptr;
        RemoveWait(slot);
        if (void* buffer = RequestSystemBuffer(request)) {
            __builtin_memcpy(buffer, &events, sizeof events);
        }
        SetRequestInformation(request, sizeof events);
        SetRequestStatus(request, status::success);
        done.Add(request);
    }
}

NtStatus PortDevice::SetWaitMask(Request& request, PortHandleState& handle) {
    uint32_t mask = 0;
    __builtin_memcpy(&mask, RequestSystemBuffer(request), sizeof mask);
    DebugPrint(" Tavro DC SetWaitMask %X\n", mask);

    CompletionList done;
    AcquireSpinLock(port_->lock);
    handle.waitMask = mask;
    Request* waiting = handle.pendingWait;
    handle.pendingWait = nullptr;
    for (uint32_t slot = 0; waiting != nullptr && slot < WaitCount(); ++slot) {
        if (waitSlots_[slot].request != waiting) {
            continue;
        }
        // If a cancel is already under way the cancel routine completes it instead.
        if (ClaimFromCancel(*waiting)) {
            RemoveWait(slot);
            SetRequestInformation(*waiting, 0); // no event word
            SetRequestStatus(*waiting, status::success);
            done.Add(*waiting);
        }
        break;
    }
    ReleaseSpinLock(port_->lock);
    done.CompleteAll();
    return CompleteNow(request, status::success);
}

void PortDevice::CancelWait(void* context, Request& request) {
    DebugPrint(" Tavro CWR\n");
    ReleaseCancelLockInCancelRoutine(request);
    auto* self = static_cast<PortDevice*>(context);
    VirtualPort& port = *self->port_;

    AcquireSpinLock(port.lock);
    bool found = false;
    for (uint32_t slot = 0; slot < self->WaitCount(); ++slot) {
        QueuedWait& queued = self->waitSlots_[slot];
        if (queued.request == &request) {
            if (queued.handle->pendingWait == &request) {
                queued.handle->pendingWait = nullptr;
            }
            self->RemoveWait(slot);
            found = true;
            break;
        }
    }
    ReleaseSpinLock(port.lock);
    if (found) {
        CompleteNow(request, status::cancelled);
    }
}

} // namespace tavro::driver
