#include "platform/systemd/ServiceManager.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <systemd/sd-daemon.h>
#include <time.h>
#include <unistd.h>

namespace tavro::platform::posix {

bool ServiceManager::Present() {
    const char* socket = std::getenv("NOTIFY_SOCKET");
    return socket != nullptr && socket[0] != '\0';
}

size_t ServiceManager::TakeHandedDescriptors(HandedDescriptor* into, size_t capacity) {
    char** names = nullptr;
    const int count = sd_listen_fds_with_names(1, &names);
    size_t taken = 0;
    for (int i = 0; i < count; ++i) {
        const int fd = SD_LISTEN_FDS_START + i;
        fcntl(fd, F_SETFD, FD_CLOEXEC);
        if (taken < capacity) {
            into[taken].fd = fd;
            std::snprintf(into[taken].name, sizeof into[taken].name, "%s",
                          names != nullptr && names[i] != nullptr ? names[i] : "");
            ++taken;
        } else {
            close(fd);
        }
    }
    if (names != nullptr) {
        for (int i = 0; i < count; ++i) {
            std::free(names[i]);
        }
        std::free(names);
    }
    return taken;
}

void ServiceManager::Ready(const char* status) {
    if (Present()) {
        sd_notifyf(0, "READY=1\nSTATUS=%s", status != nullptr ? status : "");
    }
}

void ServiceManager::Reloading() {
    if (Present()) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        const unsigned long long microseconds =
            static_cast<unsigned long long>(now.tv_sec) * 1000000ULL +
            static_cast<unsigned long long>(now.tv_nsec) / 1000ULL;
        sd_notifyf(0, "RELOADING=1\nMONOTONIC_USEC=%llu", microseconds);
    }
}

void ServiceManager::Stopping() {
    if (Present()) {
        sd_notify(0, "STOPPING=1");
    }
}

void ServiceManager::Status(const char* status) {
    if (Present()) {
        sd_notifyf(0, "STATUS=%s", status != nullptr ? status : "");
    }
}

uint64_t ServiceManager::WatchdogPeriodUs() {
    uint64_t period = 0;
    return sd_watchdog_enabled(0, &period) > 0 ? period : 0;
}

void ServiceManager::KeepAlive() {
    if (Present()) {
        sd_notify(0, "WATCHDOG=1");
    }
}

bool ServiceManager::Store(int fd, const char* name) {
    if (!Present() || fd < 0) {
        return false;
    }
    char state[64];
    std::snprintf(state, sizeof state, "FDSTORE=1\nFDNAME=%s", name);
    return sd_pid_notify_with_fds(0, 0, state, &fd, 1) > 0;
}

void ServiceManager::Forget(const char* name) {
    if (Present()) {
        sd_notifyf(0, "FDSTOREREMOVE=1\nFDNAME=%s", name);
    }
}

} // namespace tavro::platform::posix
