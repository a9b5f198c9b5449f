#include "sys/kernel/TimeoutThread.h"

#include "sys/core/KernelServices.h"

// Declared only in ntifs.h, which the driver does not include.
extern "C" NTSYSAPI NTSTATUS NTAPI ZwWaitForSingleObject(HANDLE handle, BOOLEAN alertable,
                                                         PLARGE_INTEGER timeout);

namespace tavro::kernel {
namespace {

constexpr uint64_t never = ~uint64_t{0};
// Longest single sleep: a deadline days away is simply looked at again.
constexpr uint64_t longestSleepMs = 60'000;

// The running thread, for RequestTimeoutCheck; set before it starts, cleared after it ended.
TimeoutThread* running = nullptr;

} // namespace

NTSTATUS TimeoutThread::Start(driver::ControlDevice& ports) {
    control = &ports;
    KeInitializeEvent(&wake, SynchronizationEvent, FALSE);
    KeInitializeSpinLock(&lock);
    wakeAt = never;
    stopping = 0;
    running = this;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, nullptr, OBJ_KERNEL_HANDLE, nullptr, nullptr);
    NTSTATUS status =
        PsCreateSystemThread(&thread, THREAD_ALL_ACCESS, &attributes, nullptr, nullptr, Run, this);
    if (!NT_SUCCESS(status)) {
        thread = nullptr;
        running = nullptr;
    }
    return status;
}

void TimeoutThread::Stop() {
    if (thread == nullptr) {
        return;
    }
    InterlockedExchange(&stopping, 1);
    KeSetEvent(&wake, IO_NO_INCREMENT, FALSE);
    ZwWaitForSingleObject(thread, FALSE, nullptr);
    ZwClose(thread);
    thread = nullptr;
    running = nullptr;
}

void TimeoutThread::Request(uint64_t due) {
    KIRQL irql;
    KeAcquireSpinLock(&lock, &irql);
    const bool earlier = due < wakeAt;
    if (earlier) {
        wakeAt = due;
    }
    KeReleaseSpinLock(&lock, irql);
    if (earlier) {
        KeSetEvent(&wake, IO_NO_INCREMENT, FALSE);
    }
}

VOID NTAPI TimeoutThread::Run(PVOID context) {
    static_cast<TimeoutThread*>(context)->Loop();
    PsTerminateSystemThread(STATUS_SUCCESS);
}

void TimeoutThread::Loop() {
    // Time-outs are due to the millisecond: run ahead of ordinary threads.
    KeSetPriorityThread(CurrentThread(), LOW_REALTIME_PRIORITY);
    uint64_t target = never;
    bool timedOut = false;
    while (stopping == 0) {
        KIRQL irql;
        KeAcquireSpinLock(&lock, &irql);
        wakeAt = never; // what the ports ask for from now on is seen below or wakes the wait
        KeReleaseSpinLock(&lock, irql);

        uint64_t now = driver::QueryMilliseconds();
        // The wait ran out at the time asked for: that time has come, even where the tick
        // count, read in coarser steps than the wait's clock, still shows a moment before it.
        if (timedOut && target != never && now < target) {
            now = target;
        }
        const uint64_t next = control->RunTimeouts(now);

        KeAcquireSpinLock(&lock, &irql);
        if (next != 0 && next < wakeAt) {
            wakeAt = next;
        }
        target = wakeAt;
        KeReleaseSpinLock(&lock, irql);

        LARGE_INTEGER timeout;
        PLARGE_INTEGER limit = nullptr;
        if (target != never) {
            uint64_t delta = target > now ? target - now : 0;
            delta = delta < longestSleepMs ? delta : longestSleepMs;
            timeout.QuadPart = -static_cast<LONGLONG>(delta * 10000); // relative, 100 ns units
            limit = &timeout;
        }
        timedOut =
            KeWaitForSingleObject(&wake, Executive, KernelMode, FALSE, limit) == STATUS_TIMEOUT;
    }
}

} // namespace tavro::kernel

namespace tavro::driver {

void RequestTimeoutCheck(uint64_t due) {
    if (kernel::running != nullptr) {
        kernel::running->Request(due);
    }
}

} // namespace tavro::driver
