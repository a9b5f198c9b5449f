#include "sys/kernel/PortDriver.h"

#include "sys/core/KernelServices.h"
#include "sys/kernel/ComNameCheck.h"
#include "sys/kernel/ControlDevice.h"
#include "sys/kernel/CountedString.h"
#include "sys/kernel/Pool.h"
#include "sys/kernel/PortDevice.h"
#include "sys/kernel/RegistryKey.h"
#include "sys/kernel/Sections.h"
#include "sys/kernel/TimeoutThread.h"

namespace tavro::kernel {
namespace {

const wchar_t* const portValueNames[virtualPortCount] = {
    L"Port0", L"Port1", L"Port2", L"Port3", L"Port4", L"Port5", L"Port6", L"Port7",
};

} // namespace

TAVRO_INIT_CODE PortDriver::PortDriver(PDRIVER_OBJECT systemDriver) : DriverBase(systemDriver) {}

TAVRO_PAGED_CODE PortDriver::~PortDriver() {
    PoolFree(portTable);
    portTable = nullptr;
}

// Create the devices. Port values that are not 4-byte integers (REG_DWORD) are treated as
// absent: a COM number written as text or binary is a configuration mistake, and guessing its
// meaning could publish a port under a name nobody chose.
TAVRO_INIT_CODE NTSTATUS PortDriver::DriverEntry() {
    portTable = static_cast<driver::VirtualPort*>(
        PoolAllocateZeroed(sizeof(driver::VirtualPort) * virtualPortCount, PoolKind::NonPaged));
    if (portTable == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    for (PortDevice*& device : portDevices) {
        device = nullptr;
    }

    RegistryKey parameters(RegistryPath(), L"Parameters", KEY_READ);
    for (uint32_t i = 0; i < virtualPortCount; ++i) {
        uint32_t comNumber = 0;
        parameters.ReadUInt32(portValueNames[i], comNumber);
        portTable[i].comNumber = comNumber;
    }
    if (portTable[0].comNumber == 0) {
        driver::DebugPrint(" Tavro Port0 not configured\n");
        return STATUS_INVALID_PARAMETER;
    }

    controlDevice = new ControlDevice(*this, portTable);
    if (controlDevice == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    NTSTATUS status = controlDevice->CreationStatus();
    if (!NT_SUCCESS(status)) {
        controlDevice->Destroy();
        controlDevice = nullptr;
        return status;
    }

    for (uint32_t i = 0; i < virtualPortCount; ++i) {
        if (portTable[i].comNumber == 0) {
            continue;
        }
        status = CreatePort(i, portTable[i].comNumber);
        if (!NT_SUCCESS(status)) {
            driver::DebugPrint(" Tavro port %d COM%d failed %X\n", i, portTable[i].comNumber,
                               static_cast<uint32_t>(status));
            DeleteCreatedDevices();
            return status;
        }
    }
    // Without its time-out thread the ports would hang reads: no thread, no start.
    status = timeouts.Start(controlDevice->CoreObject());
    if (!NT_SUCCESS(status)) {
        DeleteCreatedDevices();
    }
    return status;
}

TAVRO_INIT_CODE NTSTATUS PortDriver::CreatePort(uint32_t index, uint32_t comNumber) {
    // Names hold three digits; a larger number is refused like any other unusable COM name.
    if (comNumber > maxComNumber) {
        return STATUS_INVALID_PARAMETER;
    }
    NTSTATUS status = CheckComNameFree(comNumber);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    NumberedName deviceName(L"TavroMon", index);
    NumberedName comName(L"COM", comNumber);
    if (deviceName.IsEmpty() || comName.IsEmpty()) {
        return STATUS_UNSUCCESSFUL;
    }
    auto* device = new PortDevice(*this, deviceName.Get(), comName.Get());
    if (device == nullptr) {
        return STATUS_UNSUCCESSFUL;
    }
    status = device->Bind(portTable[index]);
    if (!NT_SUCCESS(status)) {
        device->Destroy();
        return STATUS_UNSUCCESSFUL;
    }
    device->PublishSerialComm(index, comName.Get());
    portDevices[index] = device;
    return STATUS_SUCCESS;
}

// A failed start leaves nothing behind: every port device made so far, then the control
// device.
TAVRO_INIT_CODE void PortDriver::DeleteCreatedDevices() {
    for (PortDevice*& device : portDevices) {
        if (device != nullptr) {
            device->Destroy();
            device = nullptr;
        }
    }
    if (controlDevice != nullptr) {
        controlDevice->Destroy();
        controlDevice = nullptr;
    }
}

// Resident, as the time-out thread it stops.
void PortDriver::Unload() {
    // Give threads that are just leaving the driver's code a chance to finish.
    PKTHREAD thread = CurrentThread();
    const KPRIORITY previous = KeSetPriorityThread(thread, 1);
    KeSetPriorityThread(thread, previous);

    timeouts.Stop(); // before the devices it serves go
    DriverBase::Unload();
    controlDevice = nullptr;
    for (PortDevice*& device : portDevices) {
        device = nullptr;
    }
}

} // namespace tavro::kernel
