#include "sys/kernel/PortDevice.h"

#include "sys/kernel/Sections.h"
#include "sys/kernel/SerialCommKey.h"

namespace tavro::kernel {

TAVRO_INIT_CODE PortDevice::PortDevice(DriverBase& driver, const UNICODE_STRING& name,
                                       const UNICODE_STRING& link)
    : CoreDevice(driver, name, FILE_DEVICE_SERIAL_PORT, &link, 0, DO_BUFFERED_IO) {}

PortDevice::~PortDevice() {
    if (bound) {
        core.Release();
        bound = false;
    }
    if (!serialCommValueName.IsEmpty()) {
        SerialCommKey key;
        key.DeleteValue(serialCommValueName.Get().Buffer);
        serialCommValueName.Release();
    }
}

TAVRO_INIT_CODE NTSTATUS PortDevice::Bind(driver::VirtualPort& port) {
    if (!NT_SUCCESS(CreationStatus())) {
        return STATUS_UNSUCCESSFUL;
    }
    if (!driver::IsSuccess(core.Init(port))) {
        return STATUS_UNSUCCESSFUL;
    }
    bound = true;
    return STATUS_SUCCESS;
}

TAVRO_INIT_CODE void PortDevice::PublishSerialComm(uint32_t index, const UNICODE_STRING& comName) {
    NumberedName valueName(L"\\Device\\Tavro", index);
    if (valueName.IsEmpty() || !serialCommValueName.Assign(valueName.Get())) {
        return;
    }
    SerialCommKey key;
    if (!NT_SUCCESS(key.WriteString(serialCommValueName.Get().Buffer, comName))) {
        // Nothing was written, so there is nothing to remove at unload either.
        serialCommValueName.Release();
    }
}

} // namespace tavro::kernel
