#include "sys/kernel/DriverBase.h"

#include "sys/kernel/Sections.h"
#include "sys/kernel/StaticObjects.h"

namespace tavro::kernel {
namespace {

// The system's entry into every registered major function.
NTSTATUS NTAPI CommonDispatch(PDEVICE_OBJECT device, PIRP irp) {
    DeviceBase* object = DeviceBase::FromSystemDevice(device);
    if (object == nullptr) {
        return DeviceBase::CompleteRequest(irp, STATUS_INVALID_DEVICE_REQUEST);
    }
    return object->DispatchIrp(irp);
}

TAVRO_PAGED_CODE void NTAPI SystemUnload(PDRIVER_OBJECT) {
    DriverBase* driver = DriverBase::Instance();
    if (driver != nullptr) {
        driver->Unload();
        driver->Destroy();
        DriverBase::SetInstance(nullptr);
    }
    TearDownStaticObjects();
}

} // namespace

DriverBase* DriverBase::instance = nullptr;

TAVRO_PAGED_CODE DriverBase::DriverBase(PDRIVER_OBJECT systemDriver) : systemDriver(systemDriver) {}

TAVRO_PAGED_CODE DriverBase::~DriverBase() = default;

TAVRO_PAGED_CODE void DriverBase::Destroy() {
    delete this;
}

TAVRO_PAGED_CODE NTSTATUS DriverBase::DriverEntry() {
    return STATUS_SUCCESS;
}

TAVRO_PAGED_CODE void DriverBase::Unload() {
    if (devicesCreated) {
        DeleteAllDevices();
    }
}

NTSTATUS DriverBase::DispatchFilter(DeviceBase& device, DeviceBase::Operation operation, PIRP irp) {
    return (device.*operation)(irp);
}

TAVRO_PAGED_CODE bool DriverBase::KeepRegistryPath(const UNICODE_STRING& path) {
    return registryPath.Assign(path);
}

TAVRO_PAGED_CODE void DriverBase::RegisterDispatch(const UCHAR* majorFunctions, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (majorFunctions[i] <= IRP_MJ_MAXIMUM_FUNCTION) {
            systemDriver->MajorFunction[majorFunctions[i]] = CommonDispatch;
        }
    }
    systemDriver->DriverUnload = SystemUnload;
}

TAVRO_PAGED_CODE void DriverBase::DeleteAllDevices() {
    DeleteDeviceChain(systemDriver->DeviceObject);
    devicesCreated = false;
}

// The system keeps the newest device at the head of the list; going to the end first and
// deleting on the way back removes them in the order they were created.
TAVRO_PAGED_CODE void DriverBase::DeleteDeviceChain(PDEVICE_OBJECT device) {
    if (device == nullptr) {
        return;
    }
    DeleteDeviceChain(device->NextDevice);
    DeviceBase* object = DeviceBase::FromSystemDevice(device);
    if (object != nullptr) {
        object->Destroy();
    }
}

} // namespace tavro::kernel
