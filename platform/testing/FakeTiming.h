// Timing for tests: the tick count moves only when the test moves it or when someone sleeps,
// and every sleep is recorded.
#pragma once

#include "platform/Timing.h"

#include <atomic>
#include <vector>

namespace tavro::platform::testing {

class FakeTiming final : public Timing {
public:
    explicit FakeTiming(uint32_t start = 0) : now_(start) {}

    uint32_t GetTickCount() override { return now_.load(); }
    // Returns at once; the tick count moves on by `milliseconds`.
    void Sleep(uint32_t milliseconds) override;

    void Advance(uint32_t milliseconds) { now_ += milliseconds; }
    // Sleeps asked for, oldest first (only from the thread that reads them).
    const std::vector<uint32_t>& Sleeps() const { return sleeps_; }

private:
    std::atomic<uint32_t> now_;
    std::vector<uint32_t> sleeps_;
};

} // namespace tavro::platform::testing
