// The POSIX edition installs no kernel driver: its virtual ports are pseudo-terminals the hub
// holds itself. Every service call says so.
#include "platform/ServiceControl.h"

#include "platform/ErrorCodes.h"

namespace tavro::platform {
namespace {

class PosixServiceControl final : public ServiceControl {
public:
    uint32_t OpenManager(uint32_t, ServiceHandle& manager) override {
        manager = ServiceHandle::none;
        return error::notSupported;
    }
    uint32_t Create(ServiceHandle, const ServiceConfig&, ServiceHandle& service) override {
        service = ServiceHandle::none;
        return error::notSupported;
    }
    uint32_t Open(ServiceHandle, const char*, uint32_t, ServiceHandle& service) override {
        service = ServiceHandle::none;
        return error::notSupported;
    }
    uint32_t Start(ServiceHandle) override { return error::notSupported; }
    uint32_t Control(ServiceHandle, uint32_t) override { return error::notSupported; }
    uint32_t Delete(ServiceHandle) override { return error::notSupported; }
    uint32_t Close(ServiceHandle) override { return error::notSupported; }
};

} // namespace

ServiceControl& SystemServiceControl() {
    static PosixServiceControl control;
    return control;
}

} // namespace tavro::platform
