// The image's entry point: static objects, the DOS device namespace, the driver object, its
// devices. Either everything is set up or nothing is left behind.
#include "sys/core/KernelServices.h"
#include "sys/kernel/KernelHeaders.h"
#include "sys/kernel/Pool.h"
#include "sys/kernel/PortDriver.h"
#include "sys/kernel/RegistryKey.h"
#include "sys/kernel/Sections.h"
#include "sys/kernel/StaticObjects.h"

using namespace tavro::kernel;

namespace {

const UCHAR servedMajorFunctions[] = {
    IRP_MJ_CREATE,
    IRP_MJ_CLOSE,
    IRP_MJ_READ,
    IRP_MJ_WRITE,
    IRP_MJ_QUERY_INFORMATION,
    IRP_MJ_SET_INFORMATION,
    IRP_MJ_FLUSH_BUFFERS,
    IRP_MJ_DEVICE_CONTROL,
    IRP_MJ_CLEANUP,
};

// Systems with a readable Control\Class key use "\??\"; where only Services\Class can be read
// the older "\DosDevices\" name is used.
TAVRO_INIT_CODE const wchar_t* ChooseDosDevicePrefix(const RegistryKey& controlClass,
                                                     const RegistryKey& servicesClass) {
    if (!controlClass.IsOpen() && servicesClass.IsOpen()) {
        return L"\\DosDevices\\";
    }
    return L"\\??\\";
}

} // namespace

extern "C" TAVRO_INIT_CODE NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT systemDriver,
                                                      PUNICODE_STRING registryPath) {
    NTSTATUS status = ConstructStaticObjects();
    if (!NT_SUCCESS(status)) {
        TearDownStaticObjects();
        return status;
    }

    RegistryKey controlClass(RegistryRoot::Control, L"Class", KEY_READ);
    RegistryKey servicesClass(RegistryRoot::Services, L"Class", KEY_READ);

    auto* driver = new (PoolKind::NonPaged) PortDriver(systemDriver);
    if (driver == nullptr || !driver->KeepRegistryPath(*registryPath)) {
        delete driver;
        TearDownStaticObjects();
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    DriverBase::SetInstance(driver);
    driver->SetDosDevicePrefix(ChooseDosDevicePrefix(controlClass, servicesClass));
    driver->RegisterDispatch(servedMajorFunctions, sizeof(servedMajorFunctions));

    status = driver->DriverEntry();
    driver->NoteDevicesCreated();
    if (!NT_SUCCESS(status)) {
        // The system never calls the unload routine after a failed start, so the driver
        // object and what it holds are released here.
        tavro::driver::DebugPrint(" Tavro start failed %X\n", static_cast<uint32_t>(status));
        driver->Destroy();
        DriverBase::SetInstance(nullptr);
        TearDownStaticObjects();
    }
    return status;
}
