// Construction and teardown of the driver's static objects. A kernel image has no C runtime to
// run its constructors or destructors, so the entry point does it: the constructors listed by
// the linker run before anything else, and the destructors the compiler registers through
// atexit() run at unload (or when the start fails).
#pragma once

#include "sys/kernel/KernelHeaders.h"

namespace tavro::kernel {

// Runs the static constructors; returns STATUS_SUCCESS or the first failure they reported
// (a destructor that could not be registered, or a ReportStaticFailure call).
NTSTATUS ConstructStaticObjects();

// Runs every registered destructor, newest first, releasing each entry, until none is left.
void TearDownStaticObjects();

// For a static constructor that cannot complete: the start then fails with this status.
void ReportStaticFailure(NTSTATUS status);

} // namespace tavro::kernel
