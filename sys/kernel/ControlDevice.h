// The control device "\Device\Tavro" (link "Tavro") through which the hub drives the ports.
// The requests are served by the driver core's control device embedded here.
#pragma once

#include "sys/core/ControlDevice.h"
#include "sys/kernel/DeviceBase.h"

namespace tavro::kernel {

class ControlDevice final : public DeviceBase {
public:
    ControlDevice(DriverBase& driver, driver::VirtualPort* ports);
    ~ControlDevice() override;

    NTSTATUS Create(PIRP irp) override;
    NTSTATUS Close(PIRP irp) override;
    NTSTATUS Read(PIRP irp) override;
    NTSTATUS Write(PIRP irp) override;
    NTSTATUS QueryInformation(PIRP irp) override;
    NTSTATUS SetInformation(PIRP irp) override;
    NTSTATUS FlushBuffers(PIRP irp) override;
    NTSTATUS DeviceControl(PIRP irp) override;
    NTSTATUS Cleanup(PIRP irp) override;

private:
    driver::ControlDevice core;
    bool bound = false;
};

} // namespace tavro::kernel
