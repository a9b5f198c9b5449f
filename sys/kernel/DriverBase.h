// Base of the driver class: wraps the system's driver object, owns a copy of the service's
// registry path, routes the system's dispatch and unload calls to the class objects, and holds
// the one driver-wide instance.
#pragma once

#include "sys/kernel/CountedString.h"
#include "sys/kernel/DeviceBase.h"
#include "sys/kernel/KernelHeaders.h"

#include <stddef.h>

namespace tavro::kernel {

class DriverBase {
public:
    // Option flags. This driver clears all of them at entry; they exist for devices that
    // want shutdown notification or combined create/close and read/write operations.
    static constexpr ULONG registerShutdown = 0x1;
    static constexpr ULONG combinedReadWrite = 0x2;
    static constexpr ULONG combinedCreateClose = 0x4;

    DriverBase(const DriverBase&) = delete;
    DriverBase& operator=(const DriverBase&) = delete;

    virtual void Destroy();
    virtual ~DriverBase();
    // Creates the devices. The default has none to create.
    virtual NTSTATUS DriverEntry();
    // The default deletes all devices if any were created.
    virtual void Unload();
    // Calls the operation it is given; reached only when dispatch filtering is switched on.
    virtual NTSTATUS DispatchFilter(DeviceBase& device, DeviceBase::Operation operation, PIRP irp);

    // Keeps a zero-terminated copy of the registry path; false when the pool is exhausted.
    bool KeepRegistryPath(const UNICODE_STRING& path);
    // Points the listed major functions at the common dispatch routine and registers the
    // unload routine.
    void RegisterDispatch(const UCHAR* majorFunctions, size_t count);
    // Deletes every device of the system driver object, the oldest first.
    void DeleteAllDevices();
    // Remembers whether the system driver object has any device now.
    void NoteDevicesCreated() { devicesCreated = systemDriver->DeviceObject != nullptr; }

    PDRIVER_OBJECT SystemDriver() const { return systemDriver; }
    const UNICODE_STRING& RegistryPath() const { return registryPath.Get(); }
    ULONG Options() const { return options; }
    bool FiltersDispatch() const { return filterDispatch; }
    bool DevicesCreated() const { return devicesCreated; }

    // The namespace the devices' symbolic links go to: "\??\" or "\DosDevices\".
    const wchar_t* DosDevicePrefix() const { return dosDevicePrefix; }
    void SetDosDevicePrefix(const wchar_t* prefix) { dosDevicePrefix = prefix; }

    static DriverBase* Instance() { return instance; }
    static void SetInstance(DriverBase* driver) { instance = driver; }

protected:
    explicit DriverBase(PDRIVER_OBJECT systemDriver);

private:
    static void DeleteDeviceChain(PDEVICE_OBJECT device);

    static DriverBase* instance;

    PDRIVER_OBJECT systemDriver;
    CountedString registryPath;
    ULONG options = 0;
    bool filterDispatch = false;
    bool devicesCreated = false;
    const wchar_t* dosDevicePrefix = L"\\??\\";
};

} // namespace tavro::kernel
