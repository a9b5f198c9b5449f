// Controls of the user-mode kernel services for tests, fuzzing and benchmarks: the clock and
// the time-out service, the allocation counters, the captured debug lines, cancellation and the
// check of every completion.
#pragma once

#include <stdint.h>

#include <chrono>
#include <string>
#include <vector>

#include "sys/usermode/UserRequest.h"

namespace tavro::driver {
class ControlDevice;
}

namespace tavro::driver::usermode {

// The millisecond time base; starts at 0 and moves only when a test moves it. Moving it plays
// the driver's time-out thread: the time-outs that fall due run in the calling thread before
// the call returns, so tests see them deterministically.
void SetMilliseconds(uint64_t now);
void AdvanceMilliseconds(uint64_t delta);
// Moves the clock without running time-outs: for a clock that follows real time, whose owner
// runs them from a thread of its own (RunTimeouts, WaitForTimeoutRequest).
void SetClock(uint64_t now);

// The drivers whose time-outs the clock runs (every UserDriver registers its control device).
void RegisterTimeouts(ControlDevice& control);
void UnregisterTimeouts(ControlDevice& control);
// Runs the due time-outs of every registered driver at the current clock; returns the earliest
// deadline still pending (0 for none).
uint64_t RunTimeouts();
// The driver's requests for a time-out check (RequestTimeoutCheck) counted so far, and a wait
// for the next one or for `limit` of real time.
uint64_t TimeoutRequests();
void WaitForTimeoutRequest(uint64_t seen, std::chrono::milliseconds limit);

struct AllocationCounts {
    uint64_t allocations; // successful allocations
    uint64_t releases;    // non-null releases
    uint64_t failures;    // allocations refused
};
AllocationCounts Allocations();
// Fresh allocations are filled with this byte (pool memory is not cleared).
inline constexpr uint8_t poisonByte = 0xDD;
// The next `count` allocations fail (as an exhausted pool would).
void FailNextAllocations(uint32_t count);

// Debug lines are kept (in order) while capture is on, the default; off drops them.
void SetDebugCapture(bool enabled);
std::vector<std::string> TakeDebugLines();

// IoCancelIrp: sets the cancel flag, and when a cancel routine is installed takes the cancel
// lock, removes the routine and calls it (the routine releases the lock). Returns whether a
// routine was called.
bool CancelRequest(Request& request);

// A broken completion rule (a second completion, completion with a cancel routine installed
// or with status pending, a dispatch result that disagrees with the request) is reported
// here. The default prints the fault and aborts, so a test cannot pass over it.
using FaultHandler = void (*)(const char* fault);
void SetFaultHandler(FaultHandler handler);
void ReportFault(const char* fault);

} // namespace tavro::driver::usermode
