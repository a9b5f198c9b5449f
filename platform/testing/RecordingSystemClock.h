// A system clock for tests: records every time it is asked to set and answers as told.
#pragma once

#include "platform/SystemClock.h"

#include <vector>

namespace tavro::platform {

class RecordingSystemClock final : public SystemClock {
public:
    uint32_t SetSystemTime(const SystemTime& utc) override;

    // Times handed to SetSystemTime, oldest first.
    const std::vector<SystemTime>& Calls() const { return calls_; }

    // What SetSystemTime returns from now on (error::success at first).
    void AnswerWith(uint32_t result) { result_ = result; }

private:
    std::vector<SystemTime> calls_;
    uint32_t result_ = 0;
};

} // namespace tavro::platform
