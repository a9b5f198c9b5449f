// The control device "\Device\Tavro" (link "Tavro") through which the hub drives the ports.
// The requests are served by the driver core's control device embedded here.
#pragma once

#include "sys/core/ControlDevice.h"
#include "sys/kernel/CoreDevice.h"

namespace tavro::kernel {

class ControlDevice final : public CoreDevice<driver::ControlDevice> {
public:
    ControlDevice(DriverBase& driver, driver::VirtualPort* ports);
    ~ControlDevice() override;

private:
    bool bound = false;
};

} // namespace tavro::kernel
