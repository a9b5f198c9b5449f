#include "sys/kernel/PortDevice.h"

#include "sys/kernel/CoreRequest.h"
#include "sys/kernel/Sections.h"
#include "sys/kernel/SerialCommKey.h"

namespace tavro::kernel {

TAVRO_INIT_CODE PortDevice::PortDevice(DriverBase& driver, const UNICODE_STRING& name,
                                       const UNICODE_STRING& link)
    : DeviceBase(driver, name, FILE_DEVICE_SERIAL_PORT, &link, 0, DO_BUFFERED_IO) {}

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

NTSTATUS PortDevice::Create(PIRP irp) {
    return core.Create(AsRequest(irp));
}

NTSTATUS PortDevice::Close(PIRP irp) {
    return core.Close(AsRequest(irp));
}

NTSTATUS PortDevice::Read(PIRP irp) {
    return core.Read(AsRequest(irp));
}

NTSTATUS PortDevice::Write(PIRP irp) {
    return core.Write(AsRequest(irp));
}

NTSTATUS PortDevice::QueryInformation(PIRP irp) {
    return core.QueryInformation(AsRequest(irp));
}

NTSTATUS PortDevice::SetInformation(PIRP irp) {
    return core.SetInformation(AsRequest(irp));
}

NTSTATUS PortDevice::FlushBuffers(PIRP irp) {
    return core.FlushBuffers(AsRequest(irp));
}

NTSTATUS PortDevice::DeviceControl(PIRP irp) {
    return core.DeviceControl(AsRequest(irp));
}

NTSTATUS PortDevice::Cleanup(PIRP irp) {
    return core.Cleanup(AsRequest(irp));
}

} // namespace tavro::kernel
