// The driver's time-out thread: ends the reads and writes whose time-outs expire while nothing
// else calls the driver (the hub stopped, held up, or not running). One thread serves every
// port; it sleeps until the earliest deadline, or until a port asks for an earlier one
// (RequestTimeoutCheck).
//
// A kernel timer with a deferred call per port would do the same on Windows, but its deferred
// call would have to set the timer again, and Wine, where the driver is tested, cannot do that:
// setting a timer again waits for the timer's callbacks, the running one included. A thread
// waiting with a time-out behaves the same on both.
#pragma once

#include "sys/core/ControlDevice.h"
#include "sys/kernel/KernelHeaders.h"

#include <stdint.h>

namespace tavro::kernel {

class TimeoutThread {
public:
    TimeoutThread() = default;
    TimeoutThread(const TimeoutThread&) = delete;
    TimeoutThread& operator=(const TimeoutThread&) = delete;

    // Starts the thread for the ports behind `control` (PASSIVE_LEVEL, at start-up).
    NTSTATUS Start(driver::ControlDevice& control);
    // Ends the thread and waits for it (PASSIVE_LEVEL, at unload). Nothing if never started.
    void Stop();
    // Wakes the thread if `due` is earlier than the time it sleeps until (any IRQL up to
    // DISPATCH_LEVEL).
    void Request(uint64_t due);

private:
    static VOID NTAPI Run(PVOID context);
    void Loop();

    driver::ControlDevice* control = nullptr;
    HANDLE thread = nullptr;
    KEVENT wake;
    KSPIN_LOCK lock = 0;
    uint64_t wakeAt = 0; // earliest time asked for since the thread last looked; guarded by lock
    volatile LONG stopping = 0;
};

} // namespace tavro::kernel
