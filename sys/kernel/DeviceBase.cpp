#include "sys/kernel/DeviceBase.h"

#include "sys/kernel/DriverBase.h"
#include "sys/kernel/Pool.h"
#include "sys/kernel/Sections.h"

namespace tavro::kernel {
namespace {

// Sits in front of every device object from operator new; 16 bytes keep the object aligned
// as the pool aligns its blocks.
struct alignas(16) PoolHeader {
    uint32_t marker;
};
static_assert(sizeof(PoolHeader) == 16);

constexpr wchar_t devicePrefix[] = L"\\Device\\";

// Their addresses mark file objects: an open the device refused, and a handle whose cleanup
// request the device has served.
char refusedOpenMarker;
char cleanedUpMarker;

// Keeps a request the driver made itself from the system's completion processing; its maker
// releases it.
NTSTATUS NTAPI KeepOwnRequest(PDEVICE_OBJECT, PIRP, PVOID) {
    return STATUS_MORE_PROCESSING_REQUIRED;
}

} // namespace

// One entry per major function code, in code order.
const DeviceBase::Operation DeviceBase::dispatchTable[dispatchTableSize] = {
    &DeviceBase::Create,                 // IRP_MJ_CREATE
    &DeviceBase::CreateNamedPipe,        // IRP_MJ_CREATE_NAMED_PIPE
    &DeviceBase::Close,                  // IRP_MJ_CLOSE
    &DeviceBase::Read,                   // IRP_MJ_READ
    &DeviceBase::Write,                  // IRP_MJ_WRITE
    &DeviceBase::QueryInformation,       // IRP_MJ_QUERY_INFORMATION
    &DeviceBase::SetInformation,         // IRP_MJ_SET_INFORMATION
    &DeviceBase::QueryEa,                // IRP_MJ_QUERY_EA
    &DeviceBase::SetEa,                  // IRP_MJ_SET_EA
    &DeviceBase::FlushBuffers,           // IRP_MJ_FLUSH_BUFFERS
    &DeviceBase::QueryVolumeInformation, // IRP_MJ_QUERY_VOLUME_INFORMATION
    &DeviceBase::SetVolumeInformation,   // IRP_MJ_SET_VOLUME_INFORMATION
    &DeviceBase::DirectoryControl,       // IRP_MJ_DIRECTORY_CONTROL
    &DeviceBase::FileSystemControl,      // IRP_MJ_FILE_SYSTEM_CONTROL
    &DeviceBase::DeviceControl,          // IRP_MJ_DEVICE_CONTROL
    &DeviceBase::InternalDeviceControl,  // IRP_MJ_INTERNAL_DEVICE_CONTROL
    &DeviceBase::Shutdown,               // IRP_MJ_SHUTDOWN
    &DeviceBase::LockControl,            // IRP_MJ_LOCK_CONTROL
    &DeviceBase::Cleanup,                // IRP_MJ_CLEANUP
    &DeviceBase::CreateMailslot,         // IRP_MJ_CREATE_MAILSLOT
    &DeviceBase::QuerySecurity,          // IRP_MJ_QUERY_SECURITY
    &DeviceBase::SetSecurity,            // IRP_MJ_SET_SECURITY
    &DeviceBase::Power,                  // IRP_MJ_POWER
    &DeviceBase::SystemControl,          // IRP_MJ_SYSTEM_CONTROL
    &DeviceBase::DeviceChange,           // IRP_MJ_DEVICE_CHANGE
    &DeviceBase::QueryQuota,             // IRP_MJ_QUERY_QUOTA
    &DeviceBase::SetQuota,               // IRP_MJ_SET_QUOTA
    &DeviceBase::Pnp,                    // IRP_MJ_PNP
};

void* DeviceBase::operator new(size_t size) noexcept {
    auto* header =
        static_cast<PoolHeader*>(PoolAllocateZeroed(sizeof(PoolHeader) + size, PoolKind::NonPaged));
    if (header == nullptr) {
        return nullptr;
    }
    header->marker = poolMarker;
    return header + 1;
}

void DeviceBase::operator delete(void* object) noexcept {
    if (object == nullptr) {
        return;
    }
    PoolHeader* header = static_cast<PoolHeader*>(object) - 1;
    if (header->marker == poolMarker) {
        header->marker = 0; // a second release finds no marker and leaves the block alone
        PoolFree(header);
    }
}

TAVRO_PAGED_CODE DeviceBase::DeviceBase(DriverBase& driver, const UNICODE_STRING& name,
                                        DEVICE_TYPE type, const UNICODE_STRING* link,
                                        ULONG characteristics, ULONG flags)
    : driver(driver) {
    const UNICODE_STRING prefix = TextView(devicePrefix);
    if (!deviceName.Assign(prefix, nullptr, &name)) {
        creationStatus = STATUS_INSUFFICIENT_RESOURCES;
        return;
    }
    const BOOLEAN exclusive = (flags & DO_EXCLUSIVE) != 0 ? TRUE : FALSE;
    NTSTATUS status = IoCreateDevice(driver.SystemDriver(), 0, deviceName.Mutable(), type,
                                     characteristics, exclusive, &systemDevice);
    if (!NT_SUCCESS(status)) {
        systemDevice = nullptr;
        deviceName.Release();
        creationStatus = status;
        return;
    }
    systemDevice->DeviceExtension = this;

    if (link != nullptr) {
        const UNICODE_STRING linkPrefix = TextView(driver.DosDevicePrefix());
        if (!linkName.Assign(linkPrefix, nullptr, link)) {
            status = STATUS_INSUFFICIENT_RESOURCES;
        } else {
            status = IoCreateSymbolicLink(linkName.Mutable(), deviceName.Mutable());
        }
        if (!NT_SUCCESS(status)) {
            linkName.Release();
            IoDeleteDevice(systemDevice);
            systemDevice = nullptr;
            deviceName.Release();
            creationStatus = status;
            return;
        }
    }

    if ((driver.Options() & DriverBase::registerShutdown) != 0) {
        status = IoRegisterShutdownNotification(systemDevice);
        if (NT_SUCCESS(status)) {
            flags |= DO_SHUTDOWN_REGISTERED;
        }
    }
    systemDevice->Flags |= flags;
    creationStatus = STATUS_SUCCESS;
}

// The common device deletion; derived destructors release their own parts first.
TAVRO_PAGED_CODE DeviceBase::~DeviceBase() {
    if (systemDevice == nullptr) {
        return;
    }
    if (!linkName.IsEmpty()) {
        IoDeleteSymbolicLink(linkName.Mutable());
    }
    if ((systemDevice->Flags & DO_SHUTDOWN_REGISTERED) != 0) {
        IoUnregisterShutdownNotification(systemDevice);
    }
    linkName.Release();
    deviceName.Release();
    systemDevice->DeviceExtension = nullptr;
    IoDeleteDevice(systemDevice);
    systemDevice = nullptr;
}

TAVRO_PAGED_CODE void DeviceBase::Destroy() {
    delete this;
}

DeviceBase* DeviceBase::FromSystemDevice(PDEVICE_OBJECT device) {
    return device != nullptr ? static_cast<DeviceBase*>(device->DeviceExtension) : nullptr;
}

NTSTATUS DeviceBase::CompleteRequest(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

NTSTATUS DeviceBase::DispatchIrp(PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const UCHAR major = stack->MajorFunction;
    if (major >= dispatchTableSize) {
        return CompleteRequest(irp, STATUS_NOT_IMPLEMENTED);
    }
    // A refused open stays refused. Some hosts give the caller its handle before the driver
    // has answered the create request, then send the handle's requests and its close; they
    // must neither be served nor undo what the accepted opens counted.
    PFILE_OBJECT file = stack->FileObject;
    if (file != nullptr && file->FsContext2 == &refusedOpenMarker) {
        if (major == IRP_MJ_CLEANUP || major == IRP_MJ_CLOSE) {
            return CompleteRequest(irp, STATUS_SUCCESS);
        }
        return CompleteRequest(irp, STATUS_INVALID_DEVICE_REQUEST);
    }
    // Windows always sends a handle's cleanup request before its close. Wine sends only the
    // close, and cancels the handle's queued requests only when the process ends; the device's
    // cleanup is run here instead, so the handle's requests end and its state is released.
    if (major == IRP_MJ_CLOSE && file != nullptr && file->FsContext2 != &cleanedUpMarker) {
        CleanUpBeforeClose(file);
    }
    const NTSTATUS status = Dispatch(major, irp);
    // The file object outlives the completed create request until this routine returns.
    if (major == IRP_MJ_CREATE && file != nullptr && !NT_SUCCESS(status)) {
        file->FsContext2 = &refusedOpenMarker;
    } else if (major == IRP_MJ_CLEANUP && file != nullptr) {
        file->FsContext2 = &cleanedUpMarker;
    }
    return status;
}

// A cleanup request made here and passed to the device's own Cleanup, which completes it at
// once (no device of this driver queues a cleanup).
void DeviceBase::CleanUpBeforeClose(PFILE_OBJECT file) {
    PIRP cleanup = IoAllocateIrp(systemDevice->StackSize, FALSE);
    if (cleanup == nullptr) {
        return;
    }
    PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(cleanup);
    stack->MajorFunction = IRP_MJ_CLEANUP;
    stack->FileObject = file;
    stack->DeviceObject = systemDevice;
    cleanup->Tail.Overlay.OriginalFileObject = file;
    cleanup->RequestorMode = KernelMode;
    IoSetCompletionRoutine(cleanup, KeepOwnRequest, nullptr, TRUE, TRUE, TRUE);
    IoSetNextIrpStackLocation(cleanup);
    Dispatch(IRP_MJ_CLEANUP, cleanup);
    file->FsContext2 = &cleanedUpMarker;
    IoFreeIrp(cleanup);
}

NTSTATUS DeviceBase::Dispatch(UCHAR major, PIRP irp) {
    Operation operation = dispatchTable[major];
    const ULONG options = driver.Options();
    if ((options & DriverBase::combinedCreateClose) != 0 &&
        (major == IRP_MJ_CREATE || major == IRP_MJ_CLOSE)) {
        operation = &DeviceBase::CreateClose;
    } else if ((options & DriverBase::combinedReadWrite) != 0 &&
               (major == IRP_MJ_READ || major == IRP_MJ_WRITE)) {
        operation = &DeviceBase::ReadWrite;
    }
    if (driver.FiltersDispatch()) {
        return driver.DispatchFilter(*this, operation, irp);
    }
    return (this->*operation)(irp);
}

#define TAVRO_NOT_IMPLEMENTED(operation)                                                           \
    NTSTATUS DeviceBase::operation(PIRP irp) {                                                     \
        return CompleteRequest(irp, STATUS_NOT_IMPLEMENTED);                                       \
    }

TAVRO_NOT_IMPLEMENTED(Create)
TAVRO_NOT_IMPLEMENTED(CreateClose)
TAVRO_NOT_IMPLEMENTED(CreateNamedPipe)
TAVRO_NOT_IMPLEMENTED(Close)
TAVRO_NOT_IMPLEMENTED(Read)
TAVRO_NOT_IMPLEMENTED(ReadWrite)
TAVRO_NOT_IMPLEMENTED(Write)
TAVRO_NOT_IMPLEMENTED(QueryInformation)
TAVRO_NOT_IMPLEMENTED(SetInformation)
TAVRO_NOT_IMPLEMENTED(QueryEa)
TAVRO_NOT_IMPLEMENTED(SetEa)
TAVRO_NOT_IMPLEMENTED(FlushBuffers)
TAVRO_NOT_IMPLEMENTED(QueryVolumeInformation)
TAVRO_NOT_IMPLEMENTED(SetVolumeInformation)
TAVRO_NOT_IMPLEMENTED(DirectoryControl)
TAVRO_NOT_IMPLEMENTED(FileSystemControl)
TAVRO_NOT_IMPLEMENTED(DeviceControl)
TAVRO_NOT_IMPLEMENTED(InternalDeviceControl)
TAVRO_NOT_IMPLEMENTED(Shutdown)
TAVRO_NOT_IMPLEMENTED(LockControl)
TAVRO_NOT_IMPLEMENTED(Cleanup)
TAVRO_NOT_IMPLEMENTED(CreateMailslot)
TAVRO_NOT_IMPLEMENTED(QuerySecurity)
TAVRO_NOT_IMPLEMENTED(SetSecurity)
TAVRO_NOT_IMPLEMENTED(Power)
TAVRO_NOT_IMPLEMENTED(SystemControl)
TAVRO_NOT_IMPLEMENTED(DeviceChange)
TAVRO_NOT_IMPLEMENTED(QueryQuota)
TAVRO_NOT_IMPLEMENTED(SetQuota)
TAVRO_NOT_IMPLEMENTED(Pnp)

#undef TAVRO_NOT_IMPLEMENTED

void DeviceBase::Hook(void*) {}

} // namespace tavro::kernel
