// A periodic timer as a descriptor for an event loop (timerfd on the monotonic clock): it
// becomes readable once a period has passed.
#pragma once

#include <stdint.h>

namespace tavro::platform::posix {

class PeriodicTimer {
public:
    PeriodicTimer();
    ~PeriodicTimer();
    PeriodicTimer(const PeriodicTimer&) = delete;
    PeriodicTimer& operator=(const PeriodicTimer&) = delete;

    // -1 when the timer could not be made (Error tells why).
    int Fd() const { return fd_; }
    int Error() const { return error_; }

    // False (errno set) when the timer cannot be set.
    bool Start(uint32_t periodMs);
    void Stop();

    // Call when Fd is readable: true when at least one period passed. Periods missed while the
    // caller was busy are not counted.
    bool TakeExpiry();

private:
    int fd_ = -1;
    int error_ = 0;
};

} // namespace tavro::platform::posix
