// The device of one virtual port: "\Device\TavroMon<i>" with the link "COM<n>". The serial
// requests are served by the driver core's port device embedded here; this class adds the
// port's entry in the system's list of serial ports (HARDWARE\DEVICEMAP\SERIALCOMM).
#pragma once

#include "sys/core/PortDevice.h"
#include "sys/kernel/CoreDevice.h"
#include "sys/kernel/CountedString.h"

#include <stdint.h>

namespace tavro::kernel {

class PortDevice final : public CoreDevice<driver::PortDevice> {
public:
    PortDevice(DriverBase& driver, const UNICODE_STRING& name, const UNICODE_STRING& link);
    // Releases the rings, removes the SERIALCOMM value, then deletes the device.
    ~PortDevice() override;

    // Binds the device to its port record (allocates the rings); STATUS_UNSUCCESSFUL when
    // they cannot be had.
    NTSTATUS Bind(driver::VirtualPort& port);
    // Publishes "\Device\Tavro<index>" = "COM<n>" in SERIALCOMM; a failure leaves the port
    // working without the entry.
    void PublishSerialComm(uint32_t index, const UNICODE_STRING& comName);

private:
    bool bound = false;
    CountedString serialCommValueName;
};

} // namespace tavro::kernel
