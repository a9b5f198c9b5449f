// Reads: immediate completion, queueing, the read check with its time-outs, cancellation.
//
// Lock order, everywhere in the driver: the port lock first, the cancel spin lock inside it.
// The cancel routines are entered holding the cancel lock, so they release it before they take
// the port lock (keeping nothing of the request but its address).
#include "sys/core/CompletionList.h"
#include "sys/core/PortDevice.h"

namespace tavro::driver {

namespace {

// RI = MAXDWORD, RM = MAXDWORD, 0 < RC < MAXDWORD: return with the first byte or after RC.
bool FirstByteOrConstant(const SERIAL_TIMEOUTS& t) {
    return t.ReadIntervalTimeout == maxDword && t.ReadTotalTimeoutMultiplier == maxDword &&
           t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != maxDword;
}

int64_t Elapsed(uint64_t now, uint64_t since) {
    return static_cast<int64_t>(now - since);
}

} // namespace

// Constant time: the distance from the handle's tail to the head, which is what stepping the
// tail to the head one byte at a time would count.
uint32_t PortDevice::AvailableBytes(PortHandleState& handle) {
    uint32_t available =
        port_->rxSize == 0 ? 0 : RingDistance(handle.readIndex, port_->rxHead, port_->rxSize);
    port_->rxAvailable = available;
    return available;
}

NtStatus PortDevice::Read(Request& request) {
    uint32_t length = RequestReadLength(request);
    DebugPrint(" Tavro read %d\n", length);
    auto* handle = static_cast<PortHandleState*>(RequestHandleContext(request));
    if (handle == nullptr) {
        return CompleteNow(request, status::invalidDeviceRequest);
    }

    AcquireSpinLock(port_->lock);
    uint32_t available = AvailableBytes(*handle);
    ++port_->readActivity;
    if (port_->rxBuffer == nullptr || length == 0) {
        ReleaseSpinLock(port_->lock);
        return CompleteNow(request, status::success);
    }

    const SERIAL_TIMEOUTS& t = handle->timeouts;
    bool immediate = false;
    if (t.ReadIntervalTimeout == maxDword && t.ReadTotalTimeoutMultiplier == 0 &&
        t.ReadTotalTimeoutConstant == 0) {
        DebugPrint(" Tavro complete read immediate must\n");
        immediate = true;
    } else if (available != 0 &&
               ((t.ReadIntervalTimeout == maxDword && t.ReadTotalTimeoutMultiplier == maxDword &&
                 t.ReadTotalTimeoutConstant != maxDword) ||
                t.ReadTotalTimeoutConstant == maxDword - 1)) {
        DebugPrint(" Tavro complete read immediate\n");
        immediate = true;
    }
    if (immediate) {
        CompleteRead(request, *handle, length);
        ReleaseSpinLock(port_->lock);
        CompleteRequest(request);
        return status::success;
    }

    // A closing handle queues nothing more: nobody would be left to cancel it.
    if (handle->cleanedUp) {
        ReleaseSpinLock(port_->lock);
        return CompleteNow(request, status::cancelled);
    }
    uint32_t slot = ReadCount();
    if (slot == slotCount) {
        ReleaseSpinLock(port_->lock);
        return CompleteNow(request, status::insufficientResources);
    }

    uint64_t now = QueryMilliseconds();
    AcquireCancelLock();
    if (RequestCancelFlag(request)) {
        // Cancelled before its routine could be installed: IoCancelIrp found nothing to call.
        ReleaseCancelLock();
        ReleaseSpinLock(port_->lock);
        return CompleteNow(request, status::cancelled);
    }
    SetRequestCancelRoutine(request, &PortDevice::CancelRead, this);
    MarkRequestPending(request);
    ReleaseCancelLock();

    handle->readStartTime = now;
    readSlots_[slot] = QueuedRead{&request, handle, now, length};
    ++port_->pendingReads;
    handle->pendingRead = &request;
    DebugPrint(" Tavro read pending\n");
    ReleaseSpinLock(port_->lock);
    return status::pending;
}

// Copies what the handle has waiting (at most `length` bytes) and sets the result; the caller
// holds the port lock, has taken the request off any queue, and completes it after unlocking.
void PortDevice::CompleteRead(Request& request, PortHandleState& handle, uint32_t length) {
    DebugPrint(" Tavro Start complete read\n");
    if (handle.pendingRead == &request) {
        handle.pendingRead = nullptr;
    }
    uint32_t copied = 0;
    auto* buffer = static_cast<uint8_t*>(RequestSystemBuffer(request));
    if (port_->rxBuffer != nullptr && buffer != nullptr && length < 0x80000000u) {
        uint32_t available = RingDistance(handle.readIndex, port_->rxHead, port_->rxSize);
        copied = available < length ? available : length;
        handle.readIndex =
            RingLoad(port_->rxBuffer, port_->rxSize, handle.readIndex, buffer, copied);
    }
    ++port_->readActivity;
    handle.eofReceived = 0;
    SetRequestInformation(request, copied);
    SetRequestStatus(request, status::success);
    DebugPrint(" Tavro CompleteRead return %d bytes\n", copied);
}

void PortDevice::RemoveRead(uint32_t slot) {
    uint32_t count = ReadCount();
    for (uint32_t i = slot + 1; i < count; ++i) {
        readSlots_[i - 1] = readSlots_[i];
    }
    readSlots_[count - 1] = QueuedRead{};
    --port_->pendingReads;
}

// Called with the port lock held; `now` is the same for every slot of one check.
void PortDevice::CheckReads(bool newData, uint64_t now, CompletionList& done) {
    uint32_t slot = 0;
    while (slot < ReadCount()) {
        QueuedRead& queued = readSlots_[slot];
        PortHandleState& handle = *queued.handle;
        const SERIAL_TIMEOUTS& t = handle.timeouts;
        uint32_t length = queued.length;
        uint32_t available = AvailableBytes(handle);
        int64_t sinceStart = Elapsed(now, queued.startTime);
        bool complete = false;

        if (available >= length) {
            DebugPrint(" Tavro completeRead C0\n");
            complete = true;
        }
        uint64_t total = static_cast<uint64_t>(length * t.ReadTotalTimeoutMultiplier) +
                         t.ReadTotalTimeoutConstant;
        if (total != 0 && sinceStart >= static_cast<int64_t>(total)) {
            DebugPrint(" Tavro completeRead C1\n");
            complete = true;
        }
        if (FirstByteOrConstant(t) &&
            sinceStart >= static_cast<int64_t>(t.ReadTotalTimeoutConstant)) {
            DebugPrint(" Tavro completeRead Cx\n");
            complete = true;
        }
        if (t.ReadIntervalTimeout != 0 && available != 0 &&
            Elapsed(now, handle.lastCharTime) >= static_cast<int64_t>(t.ReadIntervalTimeout)) {
            DebugPrint(" Tavro completeRead C2\n");
            complete = true;
        }
        if (newData) {
            handle.lastCharTime = now;
            if (FirstByteOrConstant(t)) {
                DebugPrint(" Tavro completeRead C3\n");
                complete = true;
            }
        }

        Request& request = *queued.request;
        if (!complete || !ClaimFromCancel(request)) {
            ++slot;
            continue;
        }
        RemoveRead(slot);
        ++port_->readActivity;
        DebugPrint(" Tavro completeRead bSend\n");
        CompleteRead(request, handle, length);
        done.Add(request);
    }
}

void PortDevice::CancelRead(void* context, Request& request) {
    DebugPrint(" Tavro CRR\n");
    ReleaseCancelLockInCancelRoutine(request);
    auto* self = static_cast<PortDevice*>(context);
    VirtualPort& port = *self->port_;

    AcquireSpinLock(port.lock);
    bool found = false;
    for (uint32_t slot = 0; slot < self->ReadCount(); ++slot) {
        QueuedRead& queued = self->readSlots_[slot];
        if (queued.request == &request) {
            if (queued.handle->pendingRead == &request) {
                queued.handle->pendingRead = nullptr;
            }
            self->RemoveRead(slot);
            found = true;
            break;
        }
    }
    ReleaseSpinLock(port.lock);
    // Not found cannot happen: a request whose routine was taken by IoCancelIrp stays queued.
    if (found) {
        CompleteNow(request, status::cancelled);
    }
}

} // namespace tavro::driver
