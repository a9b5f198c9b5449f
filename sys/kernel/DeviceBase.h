// Base of every device class: owns one system device object (and its symbolic link) and turns
// each request into a call of the virtual operation named after its major function. A derived
// device overrides only the requests it serves; the rest are refused with
// STATUS_NOT_IMPLEMENTED.
#pragma once

#include "sys/kernel/CountedString.h"
#include "sys/kernel/KernelHeaders.h"

#include <stddef.h>

namespace tavro::kernel {

class DriverBase;

class DeviceBase {
public:
    using Operation = NTSTATUS (DeviceBase::*)(PIRP irp);
    static constexpr size_t dispatchTableSize = IRP_MJ_MAXIMUM_FUNCTION + 1;

    // Devices come from non-paged pool, zero-filled, with a marker in front; deletion releases
    // the memory only of blocks that carry the marker.
    static void* operator new(size_t size) noexcept;
    static void operator delete(void* object) noexcept;
    static constexpr uint32_t poolMarker = 0x7E4B4458; // "XDK~"

    DeviceBase(const DeviceBase&) = delete;
    DeviceBase& operator=(const DeviceBase&) = delete;

    // Deletes the object: the device, its link and names, and the memory.
    virtual void Destroy();
    virtual ~DeviceBase();

    // Calls the operation for the request's major function.
    virtual NTSTATUS DispatchIrp(PIRP irp);

    virtual NTSTATUS Create(PIRP irp);
    virtual NTSTATUS CreateClose(PIRP irp);
    virtual NTSTATUS CreateNamedPipe(PIRP irp);
    virtual NTSTATUS Close(PIRP irp);
    virtual NTSTATUS Read(PIRP irp);
    virtual NTSTATUS ReadWrite(PIRP irp);
    virtual NTSTATUS Write(PIRP irp);
    virtual NTSTATUS QueryInformation(PIRP irp);
    virtual NTSTATUS SetInformation(PIRP irp);
    virtual NTSTATUS QueryEa(PIRP irp);
    virtual NTSTATUS SetEa(PIRP irp);
    virtual NTSTATUS FlushBuffers(PIRP irp);
    virtual NTSTATUS QueryVolumeInformation(PIRP irp);
    virtual NTSTATUS SetVolumeInformation(PIRP irp);
    virtual NTSTATUS DirectoryControl(PIRP irp);
    virtual NTSTATUS FileSystemControl(PIRP irp);
    virtual NTSTATUS DeviceControl(PIRP irp);
    virtual NTSTATUS InternalDeviceControl(PIRP irp);
    virtual NTSTATUS Shutdown(PIRP irp);
    virtual NTSTATUS LockControl(PIRP irp);
    virtual NTSTATUS Cleanup(PIRP irp);
    virtual NTSTATUS CreateMailslot(PIRP irp);
    virtual NTSTATUS QuerySecurity(PIRP irp);
    virtual NTSTATUS SetSecurity(PIRP irp);
    virtual NTSTATUS Power(PIRP irp);
    virtual NTSTATUS SystemControl(PIRP irp);
    virtual NTSTATUS DeviceChange(PIRP irp);
    virtual NTSTATUS QueryQuota(PIRP irp);
    virtual NTSTATUS SetQuota(PIRP irp);
    virtual NTSTATUS Pnp(PIRP irp);
    virtual void Hook(void* argument);

    // Usable only when this is a success; the creator deletes the object otherwise.
    NTSTATUS CreationStatus() const { return creationStatus; }
    PDEVICE_OBJECT SystemDevice() const { return systemDevice; }
    const UNICODE_STRING& DeviceName() const { return deviceName.Get(); }
    const UNICODE_STRING& LinkName() const { return linkName.Get(); }

    // The class object behind a system device made by this framework, or null.
    static DeviceBase* FromSystemDevice(PDEVICE_OBJECT device);

    // Completes a request with a status and a byte count; returns the status.
    static NTSTATUS CompleteRequest(PIRP irp, NTSTATUS status, ULONG_PTR information = 0);

protected:
    // name: without "\Device\"; link: without the DOS device prefix, or null for no link.
    // flags are added to the system device's flags; DO_EXCLUSIVE also makes it exclusive.
    DeviceBase(DriverBase& driver, const UNICODE_STRING& name, DEVICE_TYPE type,
               const UNICODE_STRING* link, ULONG characteristics, ULONG flags);

    DriverBase& Driver() const { return driver; }

private:
    // Calls the operation for a major function, honouring the driver's routing options.
    NTSTATUS Dispatch(UCHAR major, PIRP irp);
    // Serves a handle's cleanup when its close arrives without one.
    void CleanUpBeforeClose(PFILE_OBJECT file);

    static const Operation dispatchTable[dispatchTableSize];

    DriverBase& driver;
    PDEVICE_OBJECT systemDevice = nullptr;
    CountedString deviceName;
    CountedString linkName;
    NTSTATUS creationStatus = STATUS_UNSUCCESSFUL;
};

} // namespace tavro::kernel
