// A kernel device whose requests are served by a device of the driver core: the nine major
// functions the driver registers go straight to the core with the IRP as its request.
#pragma once

#include "sys/kernel/CoreRequest.h"
#include "sys/kernel/DeviceBase.h"

namespace tavro::kernel {

template <typename Core>
class CoreDevice : public DeviceBase {
public:
    NTSTATUS Create(PIRP irp) override { return core.Create(AsRequest(irp)); }
    NTSTATUS Close(PIRP irp) override { return core.Close(AsRequest(irp)); }
    NTSTATUS Read(PIRP irp) override { return core.Read(AsRequest(irp)); }
    NTSTATUS Write(PIRP irp) override { return core.Write(AsRequest(irp)); }
    NTSTATUS QueryInformation(PIRP irp) override { return core.QueryInformation(AsRequest(irp)); }
    NTSTATUS SetInformation(PIRP irp) override { return core.SetInformation(AsRequest(irp)); }
    NTSTATUS FlushBuffers(PIRP irp) override { return core.FlushBuffers(AsRequest(irp)); }
    NTSTATUS DeviceControl(PIRP irp) override { return core.DeviceControl(AsRequest(irp)); }
    NTSTATUS Cleanup(PIRP irp) override { return core.Cleanup(AsRequest(irp)); }

    Core& CoreObject() { return core; }

protected:
    using DeviceBase::DeviceBase;

    Core core;
};

} // namespace tavro::kernel
