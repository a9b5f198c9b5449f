// The "other hub" of a single-instance test: present or not, records what it was sent.
#pragma once

#include "platform/RunningHub.h"

#include <vector>

namespace tavro::platform::testing {

struct HubMessage {
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
};

class FakeRunningHub final : public RunningHub {
public:
    bool SendToRunningHub(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
        ++lookups_;
        if (!running_) {
            return false;
        }
        received_.push_back({message, wParam, lParam});
        return true;
    }

    void SetRunning(bool running) { running_ = running; }
    const std::vector<HubMessage>& Received() const { return received_; }
    uint32_t Lookups() const { return lookups_; }

private:
    bool running_ = false;
    std::vector<HubMessage> received_;
    uint32_t lookups_ = 0;
};

} // namespace tavro::platform::testing
