// What the driver core needs from the kernel, declared once here and defined twice: by the
// kernel glue (sys/kernel, over the DDK) and by the user-mode services (sys/usermode, for tests,
// fuzzing and benchmarks). The binding is made at link time: the core calls these free
// functions and never knows which definition it got, so no virtual call, RTTI or allocation is
// involved.
//
// Contract notes for an implementation:
// - `Request` is opaque. The kernel glue never defines it: it passes an IRP as
//   `*reinterpret_cast<Request*>(irp)` and casts back inside these functions. The user-mode
//   services define the struct themselves.
// - Every function may be called at DISPATCH_LEVEL (under the port lock) unless noted.
// - This header stays stable: new needs are added as new functions, existing ones keep their
//   meaning.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "sys/core/NtStatus.h"

namespace tavro::driver {

struct Request;

// ---------------------------------------------------------------------------------------------
// Request view. Each accessor names the IRP field it stands for (IoGetCurrentIrpStackLocation
// is "stack" below).

// stack->MajorFunction (the IRP_MJ_* value; see MajorFunction in SerialDefinitions.h).
uint8_t RequestMajorFunction(const Request& request);
// stack->Parameters.DeviceIoControl.IoControlCode.
uint32_t RequestControlCode(const Request& request);
// stack->Parameters.DeviceIoControl.InputBufferLength.
uint32_t RequestInputLength(const Request& request);
// stack->Parameters.DeviceIoControl.OutputBufferLength.
uint32_t RequestOutputLength(const Request& request);
// Irp->AssociatedIrp.SystemBuffer (buffered I/O: input and output share it; may be null when
// both lengths are 0).
void* RequestSystemBuffer(const Request& request);
// stack->Parameters.Read.Length.
uint32_t RequestReadLength(const Request& request);
// stack->Parameters.Write.Length.
uint32_t RequestWriteLength(const Request& request);
// stack->Parameters.Create.Options.
uint32_t RequestCreateOptions(const Request& request);
// stack->Parameters.QueryFile.FileInformationClass for IRP_MJ_QUERY_INFORMATION,
// stack->Parameters.SetFile.FileInformationClass for IRP_MJ_SET_INFORMATION.
uint32_t RequestInformationClass(const Request& request);
// stack->Parameters.QueryFile.Length / stack->Parameters.SetFile.Length (same rule as above).
uint32_t RequestInformationLength(const Request& request);

// stack->FileObject->FsContext: the per-handle state of the file object the request came on.
void* RequestHandleContext(const Request& request);
void SetRequestHandleContext(Request& request, void* context);

// Irp->IoStatus.Status and Irp->IoStatus.Information (bytes returned).
void SetRequestStatus(Request& request, NtStatus value);
void SetRequestInformation(Request& request, uint32_t bytes);

// IoMarkIrpPending. The dispatch routine then returns status::pending.
void MarkRequestPending(Request& request);

// IofCompleteRequest(Irp, IO_NO_INCREMENT). Called exactly once per request, never with the
// port lock or the cancel lock held, never while a cancel routine is installed.
void CompleteRequest(Request& request);

// Cancellation. A cancel routine is entered with the cancel lock held (as the I/O manager's
// IoCancelIrp does) and must release it with ReleaseCancelLockInCancelRoutine before anything
// else. `context` is the value given when the routine was installed.
using CancelRoutine = void (*)(void* context, Request& request);

// Installs `routine` (or removes the installed one when null) and returns whether a routine was
// installed before. Installing is done with the cancel lock held; removing is one interlocked
// exchange and needs no lock. Kernel: keep routine and context in
// Irp->Tail.Overlay.DriverContext[0..1] and IoSetCancelRoutine a trampoline that calls
// routine(context, request) with the lock still held.
bool SetRequestCancelRoutine(Request& request, CancelRoutine routine, void* context);
// Irp->Cancel. Read with the cancel lock held.
bool RequestCancelFlag(const Request& request);

// The system cancel spin lock: IoAcquireCancelSpinLock / IoReleaseCancelSpinLock with the IRQL
// kept in one driver-wide variable (valid only while the lock is held).
void AcquireCancelLock();
void ReleaseCancelLock();
// IoReleaseCancelSpinLock(Irp->CancelIrql): the release a cancel routine makes.
void ReleaseCancelLockInCancelRoutine(Request& request);

// ---------------------------------------------------------------------------------------------
// Spin locks. Opaque storage large enough for a user-mode mutex; the kernel keeps its
// KSPIN_LOCK and the IRQL saved by the acquisition in it (each implementation static_asserts
// that its state fits). Storage that is all zero is not yet a lock: InitializeSpinLock first.
inline constexpr size_t spinLockStorageSize = 64;

struct SpinLock {
    alignas(8) unsigned char storage[spinLockStorageSize];
};

// KeInitializeSpinLock.
void InitializeSpinLock(SpinLock& lock);
// Nothing in the kernel; releases the user-mode mutex. Only for a lock nobody holds.
void DestroySpinLock(SpinLock& lock);
// KeAcquireSpinLock (raises to DISPATCH_LEVEL, saves the previous IRQL inside the lock).
void AcquireSpinLock(SpinLock& lock);
// KeReleaseSpinLock with the saved IRQL.
void ReleaseSpinLock(SpinLock& lock);

class SpinLockGuard {
public:
    explicit SpinLockGuard(SpinLock& lock) : lock_(lock) { AcquireSpinLock(lock_); }
    ~SpinLockGuard() { ReleaseSpinLock(lock_); }
    SpinLockGuard(const SpinLockGuard&) = delete;
    SpinLockGuard& operator=(const SpinLockGuard&) = delete;

private:
    SpinLock& lock_;
};

// ---------------------------------------------------------------------------------------------
// Time base: milliseconds since system start, 64-bit (tick count × KeQueryTimeIncrement /
// 10000; the tick count read so that its two high words agree).
uint64_t QueryMilliseconds();

// The driver's time-out service: asks for the ports' time-out checks (ControlDevice::RunTimeouts)
// to run no later than `due` (QueryMilliseconds time). Called with a port lock held, whenever a
// port's earliest deadline moves earlier. Kernel: wakes the driver's time-out thread. User mode:
// the clock's owner runs the checks (see sys/usermode/UserServices.h).
void RequestTimeoutCheck(uint64_t due);

// ---------------------------------------------------------------------------------------------
// Memory: ExAllocatePoolWithTag(NonPagedPool, bytes, 'Ddk ') and ExFreePoolWithTag(p, 0).
// Returns null on failure and for 0 bytes; freeing null does nothing. Contents are not
// cleared.
void* AllocateNonPaged(size_t bytes);
void FreePool(void* memory);

// ---------------------------------------------------------------------------------------------
// Debug output: DbgPrint(format, a, b, c, d). Formats use only %d, %x and %X, at most four;
// arguments beyond those the format names are ignored.
void DebugPrint(const char* format, uint32_t a = 0, uint32_t b = 0, uint32_t c = 0, uint32_t d = 0);

} // namespace tavro::driver
