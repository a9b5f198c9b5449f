// Cancellation of queued requests: the one cancel routine of every queued request (CancelIo,
// CancelIoEx, a closing process), and the ends a handle's cleanup and its purges bring.
//
// Lock order, everywhere in the driver: the port lock first, the cancel spin lock inside it.
// The cancel routine is entered holding the cancel lock, so it releases it before it takes the
// port lock (keeping nothing of the request but its address).
#include "sys/core/CompletionList.h"
#include "sys/core/PortDevice.h"

namespace tavro::driver {

void RemoveEntry(void* entries, uint32_t entrySize, uint32_t count, uint32_t index) {
    auto* bytes = static_cast<uint8_t*>(entries);
    __builtin_memmove(bytes + index * entrySize, bytes + (index + 1) * entrySize,
                      (count - index - 1) * entrySize);
    __builtin_memset(bytes + (count - 1) * entrySize, 0, entrySize);
}

void PortDevice::AfterRemoval(CompletionList& done) {
    ServeReads(QueryMilliseconds(), false, done);
    MoveQueuedWrites(done);
    TransmitProgress(done);
    UpdateDeadline();
}

void PortDevice::CancelOfHandle(PortHandleState& handle, uint32_t kinds, CompletionList& done) {
    for (uint32_t slot = 0; (kinds & queuedReads) != 0 && slot < ReadCount();) {
        const QueuedRead& queued = readSlots_[slot];
        if (queued.handle == &handle &&
            Finish(*queued.request, status::cancelled, queued.absorbed, done)) {
            RemoveRead(slot);
        } else {
            ++slot;
        }
    }
    for (uint32_t slot = 0; (kinds & queuedWaits) != 0 && slot < WaitCount();) {
        if (waitSlots_[slot].handle == &handle &&
            Finish(*waitSlots_[slot].request, status::cancelled, 0, done)) {
            RemoveWait(slot);
        } else {
            ++slot;
        }
    }
    for (uint32_t slot = 0; (kinds & queuedWrites) != 0 && slot < writeCount_;) {
        const QueuedWrite& queued = writeSlots_[slot];
        if (queued.handle == &handle &&
            Finish(*queued.request, status::cancelled, queued.stored, done)) {
            RemoveWrite(slot);
        } else {
            ++slot;
        }
    }
    for (uint32_t slot = 0; (kinds & queuedFlushes) != 0 && slot < flushCount_;) {
        if (flushSlots_[slot].handle == &handle &&
            Finish(*flushSlots_[slot].request, status::cancelled, 0, done)) {
            RemoveFlush(slot);
        } else {
            ++slot;
        }
    }
    if ((kinds & queuedReads) != 0) {
        handle.pendingRead = nullptr;
    }
    if ((kinds & queuedWaits) != 0) {
        handle.pendingWait = nullptr;
    }
}

// IoCancelIrp took the routine, so the request is still in its slot (no check can have claimed
// it): find it, end it cancelled with the bytes it moved, and let the others go on.
void PortDevice::CancelQueued(void* context, Request& request) {
    ReleaseCancelLockInCancelRoutine(request);
    auto* self = static_cast<PortDevice*>(context);
    CompletionList done;
    AcquireSpinLock(self->port_->lock);
    uint32_t bytes = 0;
    bool found = false;
    for (uint32_t slot = 0; !found && slot < self->ReadCount(); ++slot) {
        QueuedRead& queued = self->readSlots_[slot];
        if ((found = queued.request == &request)) {
            DebugPrint(" Tavro CRR\n");
            if (queued.handle->pendingRead == &request) {
                queued.handle->pendingRead = nullptr;
            }
            bytes = queued.absorbed;
            self->RemoveRead(slot);
        }
    }
    for (uint32_t slot = 0; !found && slot < self->WaitCount(); ++slot) {
        QueuedWait& queued = self->waitSlots_[slot];
        if ((found = queued.request == &request)) {
            DebugPrint(" Tavro CWR\n");
            if (queued.handle->pendingWait == &request) {
                queued.handle->pendingWait = nullptr;
            }
            self->RemoveWait(slot);
        }
    }
    for (uint32_t slot = 0; !found && slot < self->writeCount_; ++slot) {
        if ((found = self->writeSlots_[slot].request == &request)) {
            bytes = self->writeSlots_[slot].stored;
            self->RemoveWrite(slot);
        }
    }
    for (uint32_t slot = 0; !found && slot < self->flushCount_; ++slot) {
        if ((found = self->flushSlots_[slot].request == &request)) {
            self->RemoveFlush(slot);
        }
    }
    if (found) {
        SetRequestInformation(request, bytes);
        SetRequestStatus(request, status::cancelled);
        done.Add(request);
        self->AfterRemoval(done);
    }
    ReleaseSpinLock(self->port_->lock);
    done.CompleteAll();
}

} // namespace tavro::driver
