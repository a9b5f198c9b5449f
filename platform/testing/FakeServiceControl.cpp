#include "platform/testing/FakeServiceControl.h"

#include "platform/ErrorCodes.h"

#include <stdio.h>

namespace tavro::platform::testing {
namespace {

std::string Hex(uint32_t value) {
    char text[16];
    snprintf(text, sizeof text, "0x%X", value);
    return text;
}

} // namespace

void FakeServiceControl::AddService(const FakeService& service) {
    services_[service.name] = service;
}

const FakeService* FakeServiceControl::Find(const std::string& name) const {
    const auto found = services_.find(name);
    return found != services_.end() ? &found->second : nullptr;
}

void FakeServiceControl::FailStarts(std::initializer_list<uint32_t> errors) {
    startFailures_.insert(startFailures_.end(), errors.begin(), errors.end());
}

void FakeServiceControl::Forget(const std::string& name) {
    services_.erase(name);
}

size_t FakeServiceControl::CountCalls(const std::string& prefix) const {
    size_t count = 0;
    for (const std::string& call : calls_) {
        if (call.compare(0, prefix.size(), prefix) == 0) {
            ++count;
        }
    }
    return count;
}

ServiceHandle FakeServiceControl::NewHandle(const Handle& handle) {
    const uintptr_t value = nextHandle_++;
    handles_[value] = handle;
    return static_cast<ServiceHandle>(value);
}

const FakeServiceControl::Handle* FakeServiceControl::FindHandle(ServiceHandle handle) const {
    const auto found = handles_.find(static_cast<uintptr_t>(handle));
    return found != handles_.end() ? &found->second : nullptr;
}

FakeService* FakeServiceControl::ServiceOf(ServiceHandle handle) {
    const Handle* known = FindHandle(handle);
    if (known == nullptr || known->manager) {
        return nullptr;
    }
    const auto found = services_.find(known->service);
    return found != services_.end() ? &found->second : nullptr;
}

uint32_t FakeServiceControl::OpenManager(uint32_t access, ServiceHandle& manager) {
    calls_.push_back("OpenManager " + Hex(access));
    manager = ServiceHandle::none;
    if (managerDenial_ != error::success) {
        return managerDenial_;
    }
    manager = NewHandle(Handle{true, access, {}});
    return error::success;
}

uint32_t FakeServiceControl::Create(ServiceHandle manager, const ServiceConfig& config,
                                    ServiceHandle& service) {
    const std::string name = config.serviceName != nullptr ? config.serviceName : "";
    calls_.push_back("Create " + name);
    service = ServiceHandle::none;
    const Handle* owner = FindHandle(manager);
    if (owner == nullptr || !owner->manager) {
        return error::invalidHandle;
    }
    if ((owner->access & scManagerCreateService) == 0) {
        return error::accessDenied;
    }
    if (createFailure_ != error::success) {
        const uint32_t failure = createFailure_;
        createFailure_ = error::success;
        return failure;
    }
    if (name.empty() || config.binaryPathName == nullptr) {
        return error::invalidParameter;
    }
    const auto found = services_.find(name);
    if (found != services_.end()) {
        return found->second.markedForDelete ? error::serviceMarkedForDelete : error::serviceExists;
    }
    FakeService created;
    created.name = name;
    created.displayName = config.displayName != nullptr ? config.displayName : "";
    created.serviceType = config.serviceType;
    created.startType = config.startType;
    created.errorControl = config.errorControl;
    created.binaryPathName = config.binaryPathName;
    created.openHandles = 1;
    services_[name] = created;
    service = NewHandle(Handle{false, config.desiredAccess, name});
    return error::success;
}

uint32_t FakeServiceControl::Open(ServiceHandle manager, const char* name, uint32_t access,
                                  ServiceHandle& service) {
    const std::string wanted = name != nullptr ? name : "";
    calls_.push_back("Open " + wanted);
    service = ServiceHandle::none;
    const Handle* owner = FindHandle(manager);
    if (owner == nullptr || !owner->manager) {
        return error::invalidHandle;
    }
    const auto found = services_.find(wanted);
    if (found == services_.end()) {
        return error::serviceDoesNotExist;
    }
    if (found->second.markedForDelete) {
        return error::serviceMarkedForDelete;
    }
    ++found->second.openHandles;
    service = NewHandle(Handle{false, access, wanted});
    return error::success;
}

uint32_t FakeServiceControl::Start(ServiceHandle service) {
    FakeService* target = ServiceOf(service);
    calls_.push_back("Start " + (target != nullptr ? target->name : std::string("?")));
    if (target == nullptr) {
        return error::invalidHandle;
    }
    if (!startFailures_.empty()) {
        const uint32_t failure = startFailures_.front();
        startFailures_.pop_front();
        return failure;
    }
    if (target->markedForDelete) {
        return error::serviceMarkedForDelete;
    }
    if (target->running) {
        return error::serviceAlreadyRunning;
    }
    const uint32_t result = starter_ ? starter_(*target) : error::success;
    if (result == error::success) {
        target->running = true;
    }
    return result;
}

uint32_t FakeServiceControl::Control(ServiceHandle service, uint32_t control) {
    FakeService* target = ServiceOf(service);
    calls_.push_back("Control " + (target != nullptr ? target->name : std::string("?")) + " " +
                     std::to_string(control));
    if (target == nullptr) {
        return error::invalidHandle;
    }
    if (control != serviceControlStop) {
        return error::invalidParameter;
    }
    if (!target->running) {
        return error::serviceNotActive;
    }
    target->running = false;
    if (stopper_) {
        stopper_(*target);
    }
    return error::success;
}

uint32_t FakeServiceControl::Delete(ServiceHandle service) {
    FakeService* target = ServiceOf(service);
    calls_.push_back("Delete " + (target != nullptr ? target->name : std::string("?")));
    if (target == nullptr) {
        return error::invalidHandle;
    }
    if (target->markedForDelete) {
        return error::serviceMarkedForDelete;
    }
    target->markedForDelete = true;
    return error::success;
}

uint32_t FakeServiceControl::Close(ServiceHandle handle) {
    const auto found = handles_.find(static_cast<uintptr_t>(handle));
    if (found == handles_.end()) {
        calls_.push_back("Close ?");
        return error::invalidHandle;
    }
    const Handle closed = found->second;
    handles_.erase(found);
    if (closed.manager) {
        calls_.push_back("Close manager");
        return error::success;
    }
    calls_.push_back("Close " + closed.service);
    const auto service = services_.find(closed.service);
    if (service != services_.end()) {
        FakeService& target = service->second;
        if (target.openHandles != 0) {
            --target.openHandles;
        }
        // A deleted service goes with its last handle; a running driver stays loaded until it
        // is stopped, as the system keeps it.
        if (target.markedForDelete && target.openHandles == 0 && !target.running) {
            services_.erase(service);
        }
    }
    return error::success;
}

} // namespace tavro::platform::testing
