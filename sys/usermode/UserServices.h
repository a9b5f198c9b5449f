// Controls of the user-mode kernel services for tests, fuzzing and benchmarks: the clock, the
// allocation counters, the captured debug lines, cancellation and the check of every
// completion.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "sys/usermode/UserRequest.h"

namespace tavro::driver::usermode {

// The millisecond time base; starts at 0 and moves only when a test moves it.
void SetMilliseconds(uint64_t now);
void AdvanceMilliseconds(uint64_t delta);

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
