#include "sys/kernel/ControlDevice.h"

#include "common/DriverExchangeBlock.h"
#include "sys/kernel/CoreRequest.h"
#include "sys/kernel/Sections.h"

namespace tavro::kernel {
namespace {

// Device "\Device\Tavro", link "Tavro" in the DOS device namespace.
const wchar_t controlNameText[] = L"Tavro";
const UNICODE_STRING controlName = {sizeof(controlNameText) - sizeof(wchar_t),
                                    sizeof(controlNameText), const_cast<wchar_t*>(controlNameText)};

} // namespace

TAVRO_INIT_CODE ControlDevice::ControlDevice(DriverBase& driver, driver::VirtualPort* ports)
    : DeviceBase(driver, controlName, FILE_DEVICE_UNKNOWN, &controlName, 0, DO_BUFFERED_IO) {
    if (NT_SUCCESS(CreationStatus())) {
        core.Init(ports);
        bound = true;
    }
}

ControlDevice::~ControlDevice() {
    if (bound) {
        core.Release();
    }
}

NTSTATUS ControlDevice::Create(PIRP irp) {
    return core.Create(AsRequest(irp));
}

NTSTATUS ControlDevice::Close(PIRP irp) {
    return core.Close(AsRequest(irp));
}

NTSTATUS ControlDevice::Read(PIRP irp) {
    return core.Read(AsRequest(irp));
}

NTSTATUS ControlDevice::Write(PIRP irp) {
    return core.Write(AsRequest(irp));
}

NTSTATUS ControlDevice::QueryInformation(PIRP irp) {
    return core.QueryInformation(AsRequest(irp));
}

NTSTATUS ControlDevice::SetInformation(PIRP irp) {
    return core.SetInformation(AsRequest(irp));
}

NTSTATUS ControlDevice::FlushBuffers(PIRP irp) {
    return core.FlushBuffers(AsRequest(irp));
}

NTSTATUS ControlDevice::DeviceControl(PIRP irp) {
    return core.DeviceControl(AsRequest(irp));
}

NTSTATUS ControlDevice::Cleanup(PIRP irp) {
    return core.Cleanup(AsRequest(irp));
}

} // namespace tavro::kernel
