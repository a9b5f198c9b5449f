// The kernel services of the driver core, for user mode: requests are UserRequest objects,
// spin locks are mutexes, the clock is set by the test, pool allocation is counted and can be
// made to fail, debug lines are captured.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <new>

#include "sys/core/ControlDevice.h"
#include "sys/core/KernelServices.h"
#include "sys/usermode/UserRequest.h"
#include "sys/usermode/UserServices.h"

namespace tavro::driver {

namespace {

std::atomic<uint64_t> clockMilliseconds{0};

// The registered drivers. Held while their time-outs run, so a driver is never unregistered
// (and destroyed) in the middle of a run.
std::mutex timeoutDriversLock;
std::vector<ControlDevice*> timeoutDrivers;

std::mutex timeoutRequestLock;
std::condition_variable timeoutRequested;
uint64_t timeoutRequestCount = 0;

std::atomic<uint64_t> allocationCount{0};
std::atomic<uint64_t> releaseCount{0};
std::atomic<uint64_t> failureCount{0};
std::atomic<uint32_t> failuresToInject{0};
// Larger requests fail, as they would in a pool of non-paged memory.
constexpr size_t largestAllocation = size_t{64} << 20;

std::mutex cancelLock;

constexpr uint8_t poisonByte = usermode::poisonByte;

std::atomic<bool> debugCapture{true};
std::mutex debugLock;
std::vector<std::string> debugLines;

std::atomic<usermode::FaultHandler> faultHandler{nullptr};

std::mutex& MutexOf(SpinLock& lock) {
    return *std::launder(reinterpret_cast<std::mutex*>(lock.storage));
}

static_assert(sizeof(std::mutex) <= spinLockStorageSize);
static_assert(alignof(std::mutex) <= alignof(SpinLock));

} // namespace

// ---- request view -----------------------------------------------------------------------------

uint8_t RequestMajorFunction(const Request& request) {
    return request.majorFunction;
}
uint32_t RequestControlCode(const Request& request) {
    return request.controlCode;
}
uint32_t RequestInputLength(const Request& request) {
    return request.inputLength;
}
uint32_t RequestOutputLength(const Request& request) {
    return request.outputLength;
}
void* RequestSystemBuffer(const Request& request) {
    return request.buffer.empty() ? nullptr : const_cast<uint8_t*>(request.buffer.data());
}
uint32_t RequestReadLength(const Request& request) {
    return request.readLength;
}
uint32_t RequestWriteLength(const Request& request) {
    return request.writeLength;
}
uint32_t RequestCreateOptions(const Request& request) {
    return request.createOptions;
}
uint32_t RequestInformationClass(const Request& request) {
    return request.informationClass;
}
uint32_t RequestInformationLength(const Request& request) {
    return request.informationLength;
}

void* RequestHandleContext(const Request& request) {
    return request.file == nullptr ? nullptr : request.file->context;
}

void SetRequestHandleContext(Request& request, void* context) {
    if (request.file != nullptr) {
        request.file->context = context;
    }
}

void SetRequestStatus(Request& request, NtStatus value) {
    request.status = value;
}
void SetRequestInformation(Request& request, uint32_t bytes) {
    request.information = bytes;
}
void MarkRequestPending(Request& request) {
    request.pending.store(true);
}

void CompleteRequest(Request& request) {
    if (request.cancelRoutine.load() != nullptr) {
        usermode::ReportFault("request completed with its cancel routine installed");
    }
    if (request.status == status::pending) {
        usermode::ReportFault("request completed with status pending");
    }
    if (request.completions.fetch_add(1, std::memory_order_acq_rel) != 0) {
        usermode::ReportFault("request completed twice");
    }
}

// Removal touches only the atomic routine, so it may race with CancelRequest without the lock.
bool SetRequestCancelRoutine(Request& request, CancelRoutine routine, void* context) {
    if (routine != nullptr) {
        request.cancelContext = context;
    }
    return request.cancelRoutine.exchange(routine) != nullptr;
}

bool RequestCancelFlag(const Request& request) {
    return request.cancelFlag.load();
}

void AcquireCancelLock() {
    cancelLock.lock();
}
void ReleaseCancelLock() {
    cancelLock.unlock();
}
void ReleaseCancelLockInCancelRoutine(Request&) {
    cancelLock.unlock();
}

// ---- spin locks, time, memory, debug ------------------------------------------------------------

void InitializeSpinLock(SpinLock& lock) {
    new (lock.storage) std::mutex();
}
void DestroySpinLock(SpinLock& lock) {
    MutexOf(lock).~mutex();
}
void AcquireSpinLock(SpinLock& lock) {
    MutexOf(lock).lock();
}
void ReleaseSpinLock(SpinLock& lock) {
    MutexOf(lock).unlock();
}

uint64_t QueryMilliseconds() {
    return clockMilliseconds.load(std::memory_order_relaxed);
}

void RequestTimeoutCheck(uint64_t) {
    {
        std::lock_guard guard(timeoutRequestLock);
        ++timeoutRequestCount;
    }
    timeoutRequested.notify_all();
}

void* AllocateNonPaged(size_t bytes) {
    if (bytes == 0) {
        return nullptr;
    }
    uint32_t inject = failuresToInject.load();
    while (inject != 0) {
        if (failuresToInject.compare_exchange_weak(inject, inject - 1)) {
            ++failureCount;
            return nullptr;
        }
    }
    void* memory = bytes > largestAllocation ? nullptr : malloc(bytes);
    if (memory == nullptr) {
        ++failureCount;
        return nullptr;
    }
    ++allocationCount;
    // Pool memory is not cleared: fill it, so that reading bytes never written shows.
    memset(memory, poisonByte, bytes);
    return memory;
}

void FreePool(void* memory) {
    if (memory != nullptr) {
        ++releaseCount;
        free(memory);
    }
}

void DebugPrint(const char* format, uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    if (!debugCapture.load(std::memory_order_relaxed)) {
        return;
    }
    char line[256];
    snprintf(line, sizeof line, format, a, b, c, d);
    std::lock_guard guard(debugLock);
    debugLines.emplace_back(line);
}

// ---- controls
// -------------------------------------------------------------------------------------

namespace usermode {

void SetMilliseconds(uint64_t now) {
    clockMilliseconds.store(now);
    RunTimeouts();
}
void AdvanceMilliseconds(uint64_t delta) {
    clockMilliseconds.fetch_add(delta);
    RunTimeouts();
}
void SetClock(uint64_t now) {
    clockMilliseconds.store(now);
}

void RegisterTimeouts(ControlDevice& control) {
    std::lock_guard guard(timeoutDriversLock);
    timeoutDrivers.push_back(&control);
}

void UnregisterTimeouts(ControlDevice& control) {
    std::lock_guard guard(timeoutDriversLock);
    timeoutDrivers.erase(std::remove(timeoutDrivers.begin(), timeoutDrivers.end(), &control),
                         timeoutDrivers.end());
}

uint64_t RunTimeouts() {
    std::lock_guard guard(timeoutDriversLock);
    uint64_t next = 0;
    for (ControlDevice* control : timeoutDrivers) {
        uint64_t due = control->RunTimeouts(QueryMilliseconds());
        if (due != 0 && (next == 0 || due < next)) {
            next = due;
        }
    }
    return next;
}

uint64_t TimeoutRequests() {
    std::lock_guard guard(timeoutRequestLock);
    return timeoutRequestCount;
}

void WaitForTimeoutRequest(uint64_t seen, std::chrono::milliseconds limit) {
    std::unique_lock lock(timeoutRequestLock);
    timeoutRequested.wait_for(lock, limit, [seen] { return timeoutRequestCount != seen; });
}

AllocationCounts Allocations() {
    return {allocationCount.load(), releaseCount.load(), failureCount.load()};
}

void FailNextAllocations(uint32_t count) {
    failuresToInject.store(count);
}

void SetDebugCapture(bool enabled) {
    debugCapture.store(enabled);
}

std::vector<std::string> TakeDebugLines() {
    std::lock_guard guard(debugLock);
    std::vector<std::string> lines;
    lines.swap(debugLines);
    return lines;
}

bool CancelRequest(Request& request) {
    cancelLock.lock();
    request.cancelFlag.store(true);
    CancelRoutine routine = request.cancelRoutine.exchange(nullptr);
    if (routine == nullptr) {
        cancelLock.unlock();
        return false;
    }
    routine(request.cancelContext, request); // releases the cancel lock
    return true;
}

void SetFaultHandler(FaultHandler handler) {
    faultHandler.store(handler);
}

void ReportFault(const char* fault) {
    if (FaultHandler handler = faultHandler.load()) {
        handler(fault);
        return;
    }
    fprintf(stderr, "driver request fault: %s\n", fault);
    abort();
}

} // namespace usermode

} // namespace tavro::driver
