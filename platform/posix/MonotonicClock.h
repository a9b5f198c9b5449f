// Milliseconds of the monotonic clock, for deadlines that a change of the wall clock must not
// move. Signed, so that "deadline - now" may go below zero.
#pragma once

#include <stdint.h>
#include <time.h>

namespace tavro::platform::posix {

inline int64_t MonotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

} // namespace tavro::platform::posix
