// A service control manager for tests, with the Win32 rules the hub meets: a manager that
// refuses callers without administrator rights, a service name that can be created once, a
// deletion that takes effect when the last handle of the service is closed (until then the
// name is "marked for delete"), starts and stops of kernel drivers that run synchronously.
//
// What a start does is up to the test: a starter (for example one that brings up a driver in
// process from the service's parameters) returns the start's result, and scripted failures
// come first. Every call is recorded as one line, e.g. "OpenManager 0xF0003",
// "Create Tavro", "Open Tavro", "Start Tavro", "Control Tavro 1", "Delete Tavro",
// "Close Tavro", "Close manager". Not thread-safe.
#pragma once

#include "platform/ServiceControl.h"

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace tavro::platform::testing {

struct FakeService {
    std::string name;
    std::string displayName;
    uint32_t serviceType = 0;
    uint32_t startType = 0;
    uint32_t errorControl = 0;
    std::string binaryPathName;
    bool running = false;
    bool markedForDelete = false;
    uint32_t openHandles = 0;
};

class FakeServiceControl final : public ServiceControl {
public:
    // Runs at a start of a stopped service; its result is the start's (success: running).
    using Starter = std::function<uint32_t(const FakeService&)>;
    // Runs when a running service is stopped.
    using Stopper = std::function<void(const FakeService&)>;

    // ---- Set-up and inspection ---------------------------------------------------------------

    // A service installed before the test (stopped unless `running`).
    void AddService(const FakeService& service);
    // The service of that name, null when there is none (a service marked for delete is
    // still there until its last handle goes).
    const FakeService* Find(const std::string& name) const;

    // Without administrator rights: every OpenManager fails with `error` (0 ends that).
    void DenyManager(uint32_t error) { managerDenial_ = error; }
    // The next Start calls fail with these codes, one each, before the starter is asked.
    void FailStarts(std::initializer_list<uint32_t> errors);
    // The next Create fails with `error` whatever the state.
    void FailNextCreate(uint32_t error) { createFailure_ = error; }
    void SetStarter(Starter starter) { starter_ = std::move(starter); }
    void SetStopper(Stopper stopper) { stopper_ = std::move(stopper); }

    // A service stopped and deleted from outside (a reboot after a deletion).
    void Forget(const std::string& name);

    const std::vector<std::string>& Calls() const { return calls_; }
    void ClearCalls() { calls_.clear(); }
    // Calls whose line starts with `prefix`.
    size_t CountCalls(const std::string& prefix) const;
    // Manager and service handles not closed yet.
    uint32_t OpenHandles() const { return static_cast<uint32_t>(handles_.size()); }

    // ---- ServiceControl ----------------------------------------------------------------------

    uint32_t OpenManager(uint32_t access, ServiceHandle& manager) override;
    uint32_t Create(ServiceHandle manager, const ServiceConfig& config,
                    ServiceHandle& service) override;
    uint32_t Open(ServiceHandle manager, const char* name, uint32_t access,
                  ServiceHandle& service) override;
    uint32_t Start(ServiceHandle service) override;
    uint32_t Control(ServiceHandle service, uint32_t control) override;
    uint32_t Delete(ServiceHandle service) override;
    uint32_t Close(ServiceHandle handle) override;

private:
    struct Handle {
        bool manager = false;
        uint32_t access = 0;
        std::string service; // service handles
    };

    ServiceHandle NewHandle(const Handle& handle);
    const Handle* FindHandle(ServiceHandle handle) const;
    // The service a service handle names, null for other handles.
    FakeService* ServiceOf(ServiceHandle handle);

    std::map<std::string, FakeService> services_;
    std::map<uintptr_t, Handle> handles_;
    uintptr_t nextHandle_ = 0x100;
    std::vector<std::string> calls_;
    uint32_t managerDenial_ = 0;
    uint32_t createFailure_ = 0;
    std::deque<uint32_t> startFailures_;
    Starter starter_;
    Stopper stopper_;
};

} // namespace tavro::platform::testing
