// Sleeper for tests: returns at once and records each wait; a hook can act at the moment of a
// wait (for example advance a fake clock, or change a device the waiting code will open).
#pragma once

#include "platform/Sleeper.h"

#include <functional>
#include <vector>

namespace tavro::platform::testing {

class RecordingSleeper final : public Sleeper {
public:
    void Sleep(uint32_t milliseconds) override {
        waits_.push_back(milliseconds);
        total_ += milliseconds;
        if (onSleep_) {
            onSleep_(milliseconds);
        }
    }

    const std::vector<uint32_t>& Waits() const { return waits_; }
    uint64_t TotalMilliseconds() const { return total_; }
    void Clear() {
        waits_.clear();
        total_ = 0;
    }
    void OnSleep(std::function<void(uint32_t)> hook) { onSleep_ = std::move(hook); }

private:
    std::vector<uint32_t> waits_;
    uint64_t total_ = 0;
    std::function<void(uint32_t)> onSleep_;
};

} // namespace tavro::platform::testing
