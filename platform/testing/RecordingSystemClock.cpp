#include "platform/testing/RecordingSystemClock.h"

namespace tavro::platform {

uint32_t RecordingSystemClock::SetSystemTime(const SystemTime& utc) {
    calls_.push_back(utc);
    return result_;
}

} // namespace tavro::platform
