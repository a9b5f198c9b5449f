#include "hub/posix/host/ServiceNotices.h"

#include "hub/engine/HubEngine.h"
#include "platform/systemd/ServiceManager.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace tavro::posixhub {
namespace {

using platform::posix::ServiceManager;

void ComName(uint32_t comNumber, char (&name)[16]) {
    std::snprintf(name, sizeof name, "COM%u", static_cast<unsigned>(comNumber));
}

// "COM5" -> 5; 0 for other names.
uint32_t ComNumberOf(const char* name) {
    if (std::strncmp(name, "COM", 3) != 0 || name[3] < '1' || name[3] > '9') {
        return 0;
    }
    char* end = nullptr;
    const unsigned long number = std::strtoul(name + 3, &end, 10);
    return *end == '\0' && number <= platform::posix::maxVirtualComNumber
               ? static_cast<uint32_t>(number)
               : 0;
}

} // namespace

void ServiceNotices::TakeHandedTerminals(platform::posix::PtyPortSet& ports) {
    platform::posix::HandedDescriptor handed[virtualPortCount * 2];
    const size_t count = ServiceManager::TakeHandedDescriptors(handed, std::size(handed));
    platform::posix::OfferedTerminal offered[virtualPortCount];
    size_t offeredCount = 0;
    for (size_t k = 0; k < count; ++k) {
        const uint32_t number = ComNumberOf(handed[k].name);
        if (number == 0 || offeredCount == virtualPortCount) {
            close(handed[k].fd); // not ours to keep
            continue;
        }
        offered[offeredCount] = {handed[k].fd, number};
        handed_[offeredCount] = number;
        ++offeredCount;
    }
    ports.OfferTerminals(offered, offeredCount);
}

void ServiceNotices::Ticked(const platform::posix::PtyPortSet& ports) {
    char name[16];
    for (uint32_t i = 0; i < virtualPortCount; ++i) {
        const int master = ports.MasterFd(i);
        const uint32_t number = master >= 0 ? ports.ComNumber(i) : 0;
        Stored& entry = stored_[i];
        if (entry.master == master && entry.comNumber == number) {
            continue;
        }
        if (entry.comNumber != 0) {
            ComName(entry.comNumber, name);
            ServiceManager::Forget(name);
        }
        entry = Stored{};
        if (master >= 0 && number != 0) {
            ComName(number, name);
            if (ServiceManager::Store(master, name)) {
                entry = {master, number};
            }
        }
    }
    if (!handedChecked_) {
        // Handed-over terminals that no port took (their numbers are no longer configured)
        // leave the store, and with it their clients see the port go.
        for (const uint32_t number : handed_) {
            bool used = false;
            for (const Stored& entry : stored_) {
                used = used || (number != 0 && entry.comNumber == number);
            }
            if (number != 0 && !used) {
                ComName(number, name);
                ServiceManager::Forget(name);
            }
        }
        handedChecked_ = true;
    }
    if (!watchdogRead_) {
        const uint64_t period = ServiceManager::WatchdogPeriodUs();
        // Twice per period, as the manager advises.
        watchdogTicks_ = period == 0 ? 0 : static_cast<uint32_t>(period / 2000 / hubTickPeriodMs);
        if (period != 0 && watchdogTicks_ == 0) {
            watchdogTicks_ = 1;
        }
        watchdogRead_ = true;
    }
    if (watchdogTicks_ != 0 && ++ticksSinceKeepAlive_ >= watchdogTicks_) {
        ServiceManager::KeepAlive();
        ticksSinceKeepAlive_ = 0;
    }
}

void ServiceNotices::Ready(const char* status) {
    ServiceManager::Ready(status);
}

void ServiceNotices::Reloading() {
    ServiceManager::Reloading();
}

void ServiceNotices::Stopping() {
    ServiceManager::Stopping();
}

} // namespace tavro::posixhub
