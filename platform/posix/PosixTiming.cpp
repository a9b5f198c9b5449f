// Sleep and GetTickCount on the monotonic clock.
#include "platform/Timing.h"

#include <errno.h>
#include <time.h>

namespace tavro::platform {
namespace {

class PosixTiming final : public Timing {
public:
    uint32_t GetTickCount() override {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        const uint64_t milliseconds = static_cast<uint64_t>(now.tv_sec) * 1000u +
                                      static_cast<uint64_t>(now.tv_nsec) / 1000000u;
        return static_cast<uint32_t>(milliseconds);
    }

    uint64_t Microseconds() override {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        return static_cast<uint64_t>(now.tv_sec) * 1000000u +
               static_cast<uint64_t>(now.tv_nsec) / 1000u;
    }

    void Sleep(uint32_t milliseconds) override {
        timespec remaining{static_cast<time_t>(milliseconds / 1000),
                           static_cast<long>(milliseconds % 1000) * 1000000L};
        // A signal must not shorten the wait.
        while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
        }
    }
};

} // namespace

Timing& SystemTiming() {
    static PosixTiming timing;
    return timing;
}

} // namespace tavro::platform
