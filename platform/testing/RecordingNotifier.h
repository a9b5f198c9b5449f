// Notifier for tests: records the messages instead of showing them.
#pragma once

#include "platform/Notifier.h"

#include <string>
#include <vector>

namespace tavro::platform::testing {

class RecordingNotifier final : public Notifier {
public:
    void ShowMessage(const char* text) override {
        messages_.push_back(text != nullptr ? text : "");
    }

    const std::vector<std::string>& Messages() const { return messages_; }
    void Clear() { messages_.clear(); }

private:
    std::vector<std::string> messages_;
};

} // namespace tavro::platform::testing
