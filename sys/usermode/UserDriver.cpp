#include "sys/usermode/UserDriver.h"

#include <string.h>

#include "sys/usermode/UserServices.h"

namespace tavro::driver::usermode {

UserDriver::UserDriver(const std::array<uint32_t, virtualPortCount>& comNumbers)
    : table_(new VirtualPort[virtualPortCount]) {
    memset(static_cast<void*>(table_.get()), 0, sizeof(VirtualPort) * virtualPortCount);
    control_.Init(table_.get());
    for (uint32_t index = 0; index < virtualPortCount; ++index) {
        table_[index].comNumber = comNumbers[index];
        if (comNumbers[index] != 0) {
            ports_[index].Init(table_[index]);
        }
    }
    RegisterTimeouts(control_);
}

UserDriver::~UserDriver() {
    UnregisterTimeouts(control_);
    for (auto& port : ports_) {
        port.Release();
    }
    control_.Release();
}

namespace {

NtStatus Checked(Request& request, NtStatus result) {
    if (result == status::pending) {
        if (!request.pending.load()) {
            ReportFault("dispatch returned pending without marking the request pending");
        }
        return result;
    }
    if (request.completions.load() != 1) {
        ReportFault("dispatch returned without completing the request exactly once");
    } else if (request.status != result) {
        ReportFault("dispatch result differs from the completion status");
    }
    return result;
}

} // namespace

NtStatus UserDriver::Dispatch(PortDevice& device, Request& request) {
    return Checked(request, device.Dispatch(request));
}

NtStatus UserDriver::Dispatch(ControlDevice& device, Request& request) {
    return Checked(request, device.Dispatch(request));
}

NtStatus UserDriver::Open(uint32_t port, FileObject& file) {
    return Dispatch(ports_[port], *MakeCreate(file));
}

NtStatus UserDriver::Cleanup(uint32_t port, FileObject& file) {
    return Dispatch(ports_[port], *MakeSimple(MajorFunction::Cleanup, file));
}

NtStatus UserDriver::Close(uint32_t port, FileObject& file) {
    return Dispatch(ports_[port], *MakeSimple(MajorFunction::Close, file));
}

NtStatus UserDriver::Broadcast(const void* bytes, uint32_t count) {
    auto request = MakeDeviceControl(hubFile_, IOCTL_TAVRO_BROADCAST, bytes, count, 0);
    return Dispatch(control_, *request);
}

NtStatus UserDriver::Exchange(DriverExchangeBlock& block, const DriverExchangeBlock* input) {
    auto request = MakeDeviceControl(hubFile_, IOCTL_TAVRO_EXCHANGE, input,
                                     input == nullptr ? 0 : exchangeBlockSize, exchangeBlockSize);
    NtStatus result = Dispatch(control_, *request);
    if (result == status::success) {
        memcpy(&block, request->buffer.data(), sizeof block);
    }
    return result;
}

NtStatus UserDriver::Traffic(PortTrafficBlock& traffic) {
    auto request = MakeDeviceControl(hubFile_, IOCTL_TAVRO_TRAFFIC, nullptr, 0, sizeof traffic);
    NtStatus result = Dispatch(control_, *request);
    if (result == status::success) {
        memcpy(&traffic, request->buffer.data(), sizeof traffic);
    }
    return result;
}

} // namespace tavro::driver::usermode
