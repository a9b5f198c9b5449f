#include "platform/linux/PeriodicTimer.h"

#include <cerrno>
#include <sys/timerfd.h>
#include <unistd.h>

namespace tavro::platform::posix {

PeriodicTimer::PeriodicTimer()
    : fd_(timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC)),
      error_(fd_ < 0 ? errno : 0) {}

PeriodicTimer::~PeriodicTimer() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

bool PeriodicTimer::Start(uint32_t periodMs) {
    const long seconds = static_cast<long>(periodMs / 1000);
    const long nanoseconds = static_cast<long>(periodMs % 1000) * 1000000L;
    itimerspec period{{seconds, nanoseconds}, {seconds, nanoseconds}};
    return timerfd_settime(fd_, 0, &period, nullptr) == 0;
}

void PeriodicTimer::Stop() {
    itimerspec stopped{};
    timerfd_settime(fd_, 0, &stopped, nullptr);
}

bool PeriodicTimer::TakeExpiry() {
    uint64_t expirations = 0;
    return read(fd_, &expirations, sizeof expirations) == sizeof expirations;
}

} // namespace tavro::platform::posix
