// The one place where the driver pulls in the kernel's headers, with the adjustments this
// toolchain needs, plus the processor-dependent pieces the rest of sys/kernel relies on.
#pragma once

#include <ntddk.h>

// ntdef.h turns these annotation words into macros; they only get in the way of C++.
#undef IN
#undef OUT

// Object attributes the driver uses for every name it opens: case-insensitive lookup and a
// kernel handle, so a caller's process cannot see or close it.
inline constexpr ULONG kernelObjectAttributes = OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE;

#if defined(_M_AMD64)
extern "C" PKTHREAD(NTAPI* __imp_KeGetCurrentThread)();
#endif

// The imported routine, not the header's inline one: the inline form reads a processor block
// field that only the real kernel provides.
inline PKTHREAD CurrentThread() {
#if defined(_M_AMD64)
    return __imp_KeGetCurrentThread();
#else
    return KeGetCurrentThread();
#endif
}
