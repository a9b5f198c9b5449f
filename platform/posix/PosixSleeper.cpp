#include "platform/Sleeper.h"

#include <errno.h>
#include <time.h>

namespace tavro::platform {
namespace {

class PosixSleeper final : public Sleeper {
public:
    void Sleep(uint32_t milliseconds) override {
        timespec remaining{static_cast<time_t>(milliseconds / 1000),
                           static_cast<long>(milliseconds % 1000) * 1000000L};
        // A signal must not cut the wait short: the caller relies on the full time.
        while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
        }
    }
};

} // namespace

Sleeper& SystemSleeper() {
    static PosixSleeper sleeper;
    return sleeper;
}

} // namespace tavro::platform
