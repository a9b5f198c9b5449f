// Requests taken off the queues under the port lock, completed once the lock is released.
#pragma once

#include <stdint.h>

#include "sys/core/KernelServices.h"
#include "sys/core/PortDevice.h"

namespace tavro::driver {

class CompletionList {
public:
    // While the port lock is held no request can be queued, so one hold of the lock can take at
    // most every read slot and every wait slot.
    static constexpr uint32_t capacity = 2 * PortDevice::slotCount;

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
inline bool ClaimFromCancel(Request& request) {
    AcquireCancelLock();
    bool hadRoutine = SetRequestCancelRoutine(request, nullptr, nullptr);
    ReleaseCancelLock();
    return hadRoutine;
}

inline NtStatus CompleteNow(Request& request, NtStatus value, uint32_t bytes = 0) {
    SetRequestInformation(request, bytes);
    SetRequestStatus(request, value);
    CompleteRequest(request);
    return value;
}

} // namespace tavro::driver
