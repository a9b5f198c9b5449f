// The service manager (systemd) as the POSIX edition sees it: readiness, reload and stop
// notices, the watchdog's keep-alive, the file-descriptor store that keeps the virtual ports'
// terminals (with their clients) across a restart of the hub, and journald's reading of
// standard error. With SleepSignal.h (logind) this is all the edition asks of systemd.
//
// Without a manager (NOTIFY_SOCKET unset) every notice is a no-op and nothing is handed over.
// A build without systemd (TAVRO_SYSTEMD=OFF, NoServiceManager.cpp) behaves so always: Built()
// is false and the front end says that these features are not available here.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace tavro::platform::posix {

// A descriptor the manager handed over at start, with the name it was stored under.
struct HandedDescriptor {
    int fd = -1;
    char name[32] = {};
};

// How the features of a build without systemd report themselves.
inline constexpr char notAvailableHere[] = "not available here";

class ServiceManager {
public:
    // Whether this build talks to systemd (TAVRO_SYSTEMD).
    static bool Built();

    // Whether a manager waits for notices.
    static bool Present();

    // The descriptors the manager handed to this process (LISTEN_FDS for this pid), at most
    // `capacity`; the rest are closed. They are made close-on-exec. Takes them from the
    // environment, so a second call finds none.
    static size_t TakeHandedDescriptors(HandedDescriptor* into, size_t capacity);

    static void Ready(const char* status);
    // Before re-reading the settings, then Ready again.
    static void Reloading();
    static void Stopping();
    static void Status(const char* status);

    // The watchdog's period in microseconds, 0 without one (WATCHDOG_USEC for this pid).
    static uint64_t WatchdogPeriodUs();
    static void KeepAlive();

    // Puts `fd` in the store under `name` (a restart hands it back under that name);
    // Forget takes every descriptor of that name out. False when the manager did not take it.
    static bool Store(int fd, const char* name);
    static void Forget(const char* name);

    // Whether standard error is the stream journald reads (JOURNAL_STREAM names its device
    // and inode, as systemd sets it for a service), so that lines carry priorities.
    static bool StandardErrorIsJournal();
};

} // namespace tavro::platform::posix
