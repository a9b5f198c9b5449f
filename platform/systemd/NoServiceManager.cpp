// The service manager's side in a build without systemd (TAVRO_SYSTEMD=OFF), for systems that
// run none (small Linux systems on boats and vehicles): no notices, no watchdog, nothing
// handed over or stored, no sleep signal, no journal priorities. The hub runs as it does
// without a manager.
#include "platform/systemd/ServiceManager.h"
#include "platform/systemd/SleepSignal.h"

#include <cerrno>

namespace tavro::platform::posix {

bool ServiceManager::Built() {
    return false;
}

bool ServiceManager::Present() {
    return false;
}

size_t ServiceManager::TakeHandedDescriptors(HandedDescriptor*, size_t) {
    return 0;
}

void ServiceManager::Ready(const char*) {}
void ServiceManager::Reloading() {}
void ServiceManager::Stopping() {}
void ServiceManager::Status(const char*) {}

uint64_t ServiceManager::WatchdogPeriodUs() {
    return 0;
}

void ServiceManager::KeepAlive() {}

bool ServiceManager::Store(int, const char*) {
    return false;
}

void ServiceManager::Forget(const char*) {}

bool ServiceManager::StandardErrorIsJournal() {
    return false;
}

SleepSignal::~SleepSignal() = default;

bool SleepSignal::Connect(Listener& listener) {
    listener_ = &listener;
    errno = ENOTSUP;
    return false;
}

int SleepSignal::Fd() const {
    return -1;
}

short SleepSignal::Events() const {
    return 0;
}

void SleepSignal::Process() {}
void SleepSignal::ReleaseDelay() {}
void SleepSignal::TakeDelay() {}

} // namespace tavro::platform::posix
