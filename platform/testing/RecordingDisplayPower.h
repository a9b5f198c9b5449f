// Display power for tests: records every switch asked for and answers as told.
#pragma once

#include "platform/DisplayPower.h"

#include <vector>

namespace tavro::platform::testing {

class RecordingDisplayPower final : public DisplayPower {
public:
    bool SetDisplayPower(DisplayState state) override {
        calls_.push_back(state);
        return result_;
    }

    const std::vector<DisplayState>& Calls() const { return calls_; }
    void Clear() { calls_.clear(); }
    // What SetDisplayPower returns from now on (true at first).
    void AnswerWith(bool result) { result_ = result; }

private:
    std::vector<DisplayState> calls_;
    bool result_ = true;
};

} // namespace tavro::platform::testing
