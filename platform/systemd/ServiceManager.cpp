#include "platform/systemd/ServiceManager.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <systemd/sd-daemon.h>
#include <time.h>
#include <unistd.h>

namespace tavro::platform::posix {

bool ServiceManager::Built() {
    return true;
}

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
    // FDPOLL=0: systemd drops a stored descriptor that reports POLLHUP, and a virtual port's
    // terminal does so whenever no program has it open; the hub forgets its terminals itself.
    char state[80];
    std::snprintf(state, sizeof state, "FDSTORE=1\nFDPOLL=0\nFDNAME=%s", name);
    return sd_pid_notify_with_fds(0, 0, state, &fd, 1) > 0;
}

void ServiceManager::Forget(const char* name) {
    if (Present()) {
        sd_notifyf(0, "FDSTOREREMOVE=1\nFDNAME=%s", name);
    }
}

bool ServiceManager::StandardErrorIsJournal() {
    // "<device>:<inode>" of the stream journald reads; a program whose standard error was
    // redirected since (to a file, a pipe) must not write journal prefixes there.
    const char* stream = std::getenv("JOURNAL_STREAM");
    unsigned long long device = 0;
    unsigned long long inode = 0;
    if (stream == nullptr || std::sscanf(stream, "%llu:%llu", &device, &inode) != 2) {
        return false;
    }
    struct stat status {};
    return fstat(STDERR_FILENO, &status) == 0 &&
           static_cast<unsigned long long>(status.st_dev) == device &&
           static_cast<unsigned long long>(status.st_ino) == inode;
}

} // namespace tavro::platform::posix
