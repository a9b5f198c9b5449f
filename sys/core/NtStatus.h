// NTSTATUS values the driver core returns. Named in the project's constant style rather than
// as STATUS_* because the kernel headers define those as macros, and the kernel glue includes
// both.
#pragma once

#include <stdint.h>

namespace tavro::driver {

using NtStatus = int32_t;

namespace status {

inline constexpr NtStatus success = 0x00000000;                    // STATUS_SUCCESS
inline constexpr NtStatus pending = 0x00000103;                    // STATUS_PENDING
inline constexpr NtStatus unsuccessful = NtStatus(0xC0000001);     // STATUS_UNSUCCESSFUL
inline constexpr NtStatus notImplemented = NtStatus(0xC0000002);   // STATUS_NOT_IMPLEMENTED
inline constexpr NtStatus invalidParameter = NtStatus(0xC000000D); // STATUS_INVALID_PARAMETER
inline constexpr NtStatus invalidDeviceRequest =
    NtStatus(0xC0000010);                                        // STATUS_INVALID_DEVICE_REQUEST
inline constexpr NtStatus bufferTooSmall = NtStatus(0xC0000023); // STATUS_BUFFER_TOO_SMALL
inline constexpr NtStatus insufficientResources =
    NtStatus(0xC000009A); // STATUS_INSUFFICIENT_RESOURCES
inline constexpr NtStatus memoryNotAllocated = NtStatus(0xC00000A0); // STATUS_MEMORY_NOT_ALLOCATED
inline constexpr NtStatus notSupported = NtStatus(0xC00000BB);       // STATUS_NOT_SUPPORTED
inline constexpr NtStatus cancelled = NtStatus(0xC0000120);          // STATUS_CANCELLED
inline constexpr NtStatus invalidBufferSize = NtStatus(0xC0000206);  // STATUS_INVALID_BUFFER_SIZE

} // namespace status

inline constexpr bool IsSuccess(NtStatus value) {
    return value >= 0;
}

} // namespace tavro::driver
