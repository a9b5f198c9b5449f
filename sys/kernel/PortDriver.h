// The driver object of Tavro.sys: reads the COM numbers of the eight virtual ports from the
// service's "Parameters" key, creates the control device and one device per configured port,
// and removes them all again at unload.
#pragma once

#include "common/DriverExchangeBlock.h"
#include "sys/core/VirtualPort.h"
#include "sys/kernel/DriverBase.h"
#include "sys/kernel/TimeoutThread.h"

#include <stdint.h>

namespace tavro::kernel {

class ControlDevice;
class PortDevice;

class PortDriver final : public DriverBase {
public:
    // Largest COM number a port can be published under (the names hold three digits).
    static constexpr uint32_t maxComNumber = 999;

    explicit PortDriver(PDRIVER_OBJECT systemDriver);
    ~PortDriver() override;

    // Creates the devices; all or nothing.
    NTSTATUS DriverEntry() override;
    void Unload() override;

private:
    NTSTATUS CreatePort(uint32_t index, uint32_t comNumber);
    void DeleteCreatedDevices();

    ControlDevice* controlDevice = nullptr;
    PortDevice* portDevices[virtualPortCount] = {};
    driver::VirtualPort* portTable = nullptr;
    TimeoutThread timeouts;
};

} // namespace tavro::kernel
