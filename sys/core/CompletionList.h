// Requests taken off the queues under the port lock, completed once the lock is released.
#pragma once

#include <stdint.h>

#include "sys/core/KernelServices.h"
#include "sys/core/PortDevice.h"

namespace tavro::driver {

class CompletionList {
public:
    // While the port lock is held no request can be queued, so one hold of the lock can take at
    // most every read, wait, write and flush slot.
    static constexpr uint32_t capacity = 4 * PortDevice::slotCount;

    void Add(Request& request) {
        if (count_ == capacity) {
            __builtin_trap(); // unreachable: see capacity
        }
        requests_[count_++] = &request;
    }

    // Each request carries its status and bytes returned already.
    void CompleteAll() {
        for (uint32_t i = 0; i < count_; ++i) {
            CompleteRequest(*requests_[i]);
        }
        count_ = 0;
    }

private:
    Request* requests_[capacity];
    uint32_t count_ = 0;
};

// Takes a queued request back from the cancel machinery before it is completed from a queue.
// False means IoCancelIrp has already taken its cancel routine: the request must stay in its
// slot, where the cancel routine will find, remove and complete it. This is what keeps every
// request completed exactly once, and keeps a cancel routine from ever looking for a request
// that another path has completed (whose address may already belong to a new request).
//
// Removing the routine is one interlocked exchange (IoSetCancelRoutine), which decides the race
// with IoCancelIrp by itself, so the cancel spin lock is not needed here; it is needed only
// where a routine is installed, to test the cancel flag and install in one step.
inline bool ClaimFromCancel(Request& request) {
    return SetRequestCancelRoutine(request, nullptr, nullptr);
}

// Installs the cancel routine of a request about to be queued and marks it pending; false when
// it was cancelled before that (IoCancelIrp found no routine to call): the caller then
// completes it as cancelled instead of queueing it.
inline bool QueueForCancel(Request& request, CancelRoutine routine, void* context) {
    AcquireCancelLock();
    const bool cancelled = RequestCancelFlag(request);
    if (!cancelled) {
        SetRequestCancelRoutine(request, routine, context);
        MarkRequestPending(request);
    }
    ReleaseCancelLock();
    return !cancelled;
}

// Takes a queued request back from the cancel machinery and sets its result for `done`; false
// (nothing changed) when its cancel routine has it already.
inline bool Finish(Request& request, NtStatus value, uint32_t bytes, CompletionList& done) {
    if (!ClaimFromCancel(request)) {
        return false;
    }
    SetRequestInformation(request, bytes);
    SetRequestStatus(request, value);
    done.Add(request);
    return true;
}

// Removes entry `index` of `count` packed entries, closing the gap; the last one is cleared.
void RemoveEntry(void* entries, uint32_t entrySize, uint32_t count, uint32_t index);

inline NtStatus CompleteNow(Request& request, NtStatus value, uint32_t bytes = 0) {
    SetRequestInformation(request, bytes);
    SetRequestStatus(request, value);
    CompleteRequest(request);
    return value;
}

} // namespace tavro::driver
