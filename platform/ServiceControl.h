// The service control manager, in the terms of the Win32 service functions (OpenSCManagerA,
// CreateServiceA, OpenServiceA, StartServiceA, ControlService, DeleteService,
// CloseServiceHandle) with Win32 error codes (platform/ErrorCodes.h), so that the driver
// installation reads the same on every edition. The members drop the "Service" of the Win32
// names, which <windows.h> turns into macros. Windows: advapi32. POSIX: nothing to control
// (the virtual ports are the hub's own pseudo-terminals), every call answers
// error::notSupported. Tests: a scriptable fake.
#pragma once

#include <stdint.h>

namespace tavro::platform {

// A handle of the manager or of a service; `none` is the closed handle.
enum class ServiceHandle : uintptr_t { none = 0 };

// Access rights, with the Win32 numbers.
inline constexpr uint32_t scManagerConnect = 0x0001;
inline constexpr uint32_t scManagerCreateService = 0x0002;
inline constexpr uint32_t standardRightsRequired = 0xF0000;
inline constexpr uint32_t scManagerAllAccess = 0xF003F;
inline constexpr uint32_t serviceAllAccess = 0xF01FF;

// Service types, start types, error control and controls, with the Win32 numbers.
inline constexpr uint32_t serviceKernelDriver = 0x1;
inline constexpr uint32_t serviceBootStart = 0x0;
inline constexpr uint32_t serviceSystemStart = 0x1;
inline constexpr uint32_t serviceAutoStart = 0x2;
inline constexpr uint32_t serviceDemandStart = 0x3;
inline constexpr uint32_t serviceErrorNormal = 0x1;
inline constexpr uint32_t serviceControlStop = 0x1;

// What CreateServiceA is given. The hub's services have no load-order group, tag,
// dependencies, account or password, so those are always passed as none.
struct ServiceConfig {
    const char* serviceName;
    const char* displayName;
    uint32_t desiredAccess;
    uint32_t serviceType;
    uint32_t startType;
    uint32_t errorControl;
    const char* binaryPathName;
};

class ServiceControl {
public:
    virtual ~ServiceControl() = default;

    // OpenSCManagerA on the local machine's active database with `access`. On failure
    // `manager` is `none` (error::accessDenied without administrator rights).
    virtual uint32_t OpenManager(uint32_t access, ServiceHandle& manager) = 0;

    // CreateServiceA. On failure `service` is `none`; error::serviceExists when a service of
    // that name is installed, error::serviceMarkedForDelete while a deletion is pending.
    virtual uint32_t Create(ServiceHandle manager, const ServiceConfig& config,
                            ServiceHandle& service) = 0;

    // OpenServiceA; error::serviceDoesNotExist when there is no such service.
    virtual uint32_t Open(ServiceHandle manager, const char* name, uint32_t access,
                          ServiceHandle& service) = 0;

    // StartServiceA without arguments. For a kernel driver it returns once the driver's entry
    // point has run: error::success, error::serviceAlreadyRunning, or why it did not start
    // (the driver's status turned into a Win32 code, error::fileNotFound for a missing image).
    virtual uint32_t Start(ServiceHandle service) = 0;

    // ControlService with `control` (serviceControlStop); error::serviceNotActive when the
    // service is not running.
    virtual uint32_t Control(ServiceHandle service, uint32_t control) = 0;

    // DeleteService: marks the service for deletion; it goes when its last handle is closed.
    virtual uint32_t Delete(ServiceHandle service) = 0;

    // CloseServiceHandle of a manager or service handle.
    virtual uint32_t Close(ServiceHandle handle) = 0;
};

// The adapter of the edition this program was built for.
ServiceControl& SystemServiceControl();

// Closes the handle it holds when it goes out of scope.
class ScopedServiceHandle {
public:
    explicit ScopedServiceHandle(ServiceControl& control) : control_(control) {}
    ~ScopedServiceHandle() { Close(); }

    ScopedServiceHandle(const ScopedServiceHandle&) = delete;
    ScopedServiceHandle& operator=(const ScopedServiceHandle&) = delete;

    // For the out parameter of OpenManager, Create and Open; closes what was held before.
    ServiceHandle& Receive() {
        Close();
        return handle_;
    }
    ServiceHandle Get() const { return handle_; }
    bool IsOpen() const { return handle_ != ServiceHandle::none; }

    void Close() {
        if (handle_ != ServiceHandle::none) {
            control_.Close(handle_);
            handle_ = ServiceHandle::none;
        }
    }

private:
    ServiceControl& control_;
    ServiceHandle handle_ = ServiceHandle::none;
};

} // namespace tavro::platform
