// The one routing of a request to a device's operation by its major function, shared by the
// control device and the port devices. Anything a device does not serve completes with
// STATUS_NOT_IMPLEMENTED.
#pragma once

#include "sys/core/CompletionList.h"
#include "sys/core/KernelServices.h"
#include "sys/core/SerialDefinitions.h"

namespace tavro::driver {

template <typename Device>
NtStatus DispatchByFunction(Device& device, Request& request) {
    switch (static_cast<MajorFunction>(RequestMajorFunction(request))) {
    case MajorFunction::Create:
        return device.Create(request);
    case MajorFunction::Close:
        return device.Close(request);
    case MajorFunction::Read:
        return device.Read(request);
    case MajorFunction::Write:
        return device.Write(request);
    case MajorFunction::QueryInformation:
        return device.QueryInformation(request);
    case MajorFunction::SetInformation:
        return device.SetInformation(request);
    case MajorFunction::FlushBuffers:
        return device.FlushBuffers(request);
    case MajorFunction::DeviceControl:
        return device.DeviceControl(request);
    case MajorFunction::Cleanup:
        return device.Cleanup(request);
    }
    return CompleteNow(request, status::notImplemented);
}

} // namespace tavro::driver
