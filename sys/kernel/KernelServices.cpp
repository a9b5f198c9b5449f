// The kernel services of the driver core, on the real kernel. A core `Request` is an IRP seen
// through an opaque type; every accessor casts it back.
#include "sys/core/KernelServices.h"

#include "sys/kernel/KernelHeaders.h"
#include "sys/kernel/Pool.h"

namespace tavro::driver {
namespace {

PIRP Irp(const Request& request) {
    return reinterpret_cast<PIRP>(const_cast<Request*>(&request));
}

PIO_STACK_LOCATION Stack(const Request& request) {
    return IoGetCurrentIrpStackLocation(Irp(request));
}

struct KernelSpinLock {
    KSPIN_LOCK lock;
    KIRQL savedIrql; // valid only while the lock is held
};
static_assert(sizeof(KernelSpinLock) <= spinLockStorageSize);
static_assert(alignof(KernelSpinLock) <= alignof(SpinLock));

KernelSpinLock& Kernel(SpinLock& lock) {
    return *reinterpret_cast<KernelSpinLock*>(lock.storage);
}

// The IRQL saved by the cancel spin lock; one for the whole driver, as the lock is one.
KIRQL cancelIrql = PASSIVE_LEVEL;

// The routine installed in an IRP calls the core's routine with the cancel lock still held.
enum CancelContextSlot { cancelRoutineSlot = 0, cancelContextSlot = 1 };

void NTAPI CancelTrampoline(PDEVICE_OBJECT, PIRP irp) {
    auto routine =
        reinterpret_cast<CancelRoutine>(irp->Tail.Overlay.DriverContext[cancelRoutineSlot]);
    void* context = irp->Tail.Overlay.DriverContext[cancelContextSlot];
    routine(context, *reinterpret_cast<Request*>(irp));
}

} // namespace

uint8_t RequestMajorFunction(const Request& request) {
    return Stack(request)->MajorFunction;
}

uint32_t RequestControlCode(const Request& request) {
    return Stack(request)->Parameters.DeviceIoControl.IoControlCode;
}

uint32_t RequestInputLength(const Request& request) {
    return Stack(request)->Parameters.DeviceIoControl.InputBufferLength;
}

uint32_t RequestOutputLength(const Request& request) {
    return Stack(request)->Parameters.DeviceIoControl.OutputBufferLength;
}

void* RequestSystemBuffer(const Request& request) {
    return Irp(request)->AssociatedIrp.SystemBuffer;
}

uint32_t RequestReadLength(const Request& request) {
    return Stack(request)->Parameters.Read.Length;
}

uint32_t RequestWriteLength(const Request& request) {
    return Stack(request)->Parameters.Write.Length;
}

uint32_t RequestCreateOptions(const Request& request) {
    return Stack(request)->Parameters.Create.Options;
}

uint32_t RequestInformationClass(const Request& request) {
    PIO_STACK_LOCATION stack = Stack(request);
    if (stack->MajorFunction == IRP_MJ_SET_INFORMATION) {
        return stack->Parameters.SetFile.FileInformationClass;
    }
    return stack->Parameters.QueryFile.FileInformationClass;
}

uint32_t RequestInformationLength(const Request& request) {
    PIO_STACK_LOCATION stack = Stack(request);
    if (stack->MajorFunction == IRP_MJ_SET_INFORMATION) {
        return stack->Parameters.SetFile.Length;
    }
    return stack->Parameters.QueryFile.Length;
}

void* RequestHandleContext(const Request& request) {
    PFILE_OBJECT file = Stack(request)->FileObject;
    return file != nullptr ? file->FsContext : nullptr;
}

void SetRequestHandleContext(Request& request, void* context) {
    PFILE_OBJECT file = Stack(request)->FileObject;
    if (file != nullptr) {
        file->FsContext = context;
    }
}

void SetRequestStatus(Request& request, NtStatus value) {
    Irp(request)->IoStatus.Status = value;
}

void SetRequestInformation(Request& request, uint32_t bytes) {
    Irp(request)->IoStatus.Information = bytes;
}

void MarkRequestPending(Request& request) {
    IoMarkIrpPending(Irp(request));
}

void CompleteRequest(Request& request) {
    IoCompleteRequest(Irp(request), IO_NO_INCREMENT);
}

bool SetRequestCancelRoutine(Request& request, CancelRoutine routine, void* context) {
    PIRP irp = Irp(request);
    if (routine != nullptr) {
        irp->Tail.Overlay.DriverContext[cancelRoutineSlot] = reinterpret_cast<PVOID>(routine);
        irp->Tail.Overlay.DriverContext[cancelContextSlot] = context;
        return IoSetCancelRoutine(irp, CancelTrampoline) != nullptr;
    }
    return IoSetCancelRoutine(irp, nullptr) != nullptr;
}

bool RequestCancelFlag(const Request& request) {
    return Irp(request)->Cancel != FALSE;
}

void AcquireCancelLock() {
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    cancelIrql = irql;
}

void ReleaseCancelLock() {
    IoReleaseCancelSpinLock(cancelIrql);
}

void ReleaseCancelLockInCancelRoutine(Request& request) {
    IoReleaseCancelSpinLock(Irp(request)->CancelIrql);
}

void InitializeSpinLock(SpinLock& lock) {
    KernelSpinLock& kernel = Kernel(lock);
    KeInitializeSpinLock(&kernel.lock);
    kernel.savedIrql = PASSIVE_LEVEL;
}

void DestroySpinLock(SpinLock&) {}

void AcquireSpinLock(SpinLock& lock) {
    KernelSpinLock& kernel = Kernel(lock);
    KIRQL previous;
    KeAcquireSpinLock(&kernel.lock, &previous);
    kernel.savedIrql = previous;
}

void ReleaseSpinLock(SpinLock& lock) {
    KernelSpinLock& kernel = Kernel(lock);
    const KIRQL previous = kernel.savedIrql;
    if (previous == DISPATCH_LEVEL) {
        KeReleaseSpinLockFromDpcLevel(&kernel.lock);
    } else {
        KeReleaseSpinLock(&kernel.lock, previous);
    }
}

uint64_t QueryMilliseconds() {
    LARGE_INTEGER ticks;
    KeQueryTickCount(&ticks);
    return static_cast<uint64_t>(ticks.QuadPart) * KeQueryTimeIncrement() / 10000;
}

void* AllocateNonPaged(size_t bytes) {
    return kernel::PoolAllocate(bytes, kernel::PoolKind::NonPaged);
}

void FreePool(void* memory) {
    kernel::PoolFree(memory);
}

void DebugPrint(const char* format, uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    DbgPrint(format, a, b, c, d);
}

} // namespace tavro::driver
