#include "sys/kernel/ControlDevice.h"

#include "common/DriverExchangeBlock.h"
#include "sys/kernel/Sections.h"

namespace tavro::kernel {
namespace {

// Device "\Device\Tavro", link "Tavro" in the DOS device namespace.
const wchar_t controlNameText[] = L"Tavro";
const UNICODE_STRING controlName = {sizeof(controlNameText) - sizeof(wchar_t),
                                    sizeof(controlNameText), const_cast<wchar_t*>(controlNameText)};

} // namespace

TAVRO_INIT_CODE ControlDevice::ControlDevice(DriverBase& driver, driver::VirtualPort* ports)
    : CoreDevice(driver, controlName, FILE_DEVICE_UNKNOWN, &controlName, 0, DO_BUFFERED_IO) {
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

} // namespace tavro::kernel
