// The service control manager through advapi32.
#include "platform/ServiceControl.h"

#include "platform/ErrorCodes.h"

#include <windows.h>

namespace tavro::platform {
namespace {

SC_HANDLE Native(ServiceHandle handle) {
    return reinterpret_cast<SC_HANDLE>(handle);
}

ServiceHandle Wrapped(SC_HANDLE handle) {
    return static_cast<ServiceHandle>(reinterpret_cast<uintptr_t>(handle));
}

uint32_t LastError() {
    const DWORD code = GetLastError();
    return code != 0 ? static_cast<uint32_t>(code) : error::genFailure;
}

class Win32ServiceControl final : public ServiceControl {
public:
    uint32_t OpenManager(uint32_t access, ServiceHandle& manager) override {
        const SC_HANDLE handle = OpenSCManagerA(nullptr, nullptr, access);
        manager = Wrapped(handle);
        return handle != nullptr ? error::success : LastError();
    }

    uint32_t Create(ServiceHandle manager, const ServiceConfig& config,
                    ServiceHandle& service) override {
        const SC_HANDLE handle = CreateServiceA(
            Native(manager), config.serviceName, config.displayName, config.desiredAccess,
            config.serviceType, config.startType, config.errorControl, config.binaryPathName,
            nullptr, nullptr, nullptr, nullptr, nullptr);
        service = Wrapped(handle);
        return handle != nullptr ? error::success : LastError();
    }

    uint32_t Open(ServiceHandle manager, const char* name, uint32_t access,
                  ServiceHandle& service) override {
        const SC_HANDLE handle = OpenServiceA(Native(manager), name, access);
        service = Wrapped(handle);
        return handle != nullptr ? error::success : LastError();
    }

    uint32_t Start(ServiceHandle service) override {
        return StartServiceA(Native(service), 0, nullptr) ? error::success : LastError();
    }

    uint32_t Control(ServiceHandle service, uint32_t control) override {
        SERVICE_STATUS status{};
        return ::ControlService(Native(service), control, &status) ? error::success : LastError();
    }

    uint32_t Delete(ServiceHandle service) override {
        return ::DeleteService(Native(service)) ? error::success : LastError();
    }

    uint32_t Close(ServiceHandle handle) override {
        return CloseServiceHandle(Native(handle)) ? error::success : LastError();
    }
};

} // namespace

ServiceControl& SystemServiceControl() {
    static Win32ServiceControl control;
    return control;
}

} // namespace tavro::platform
