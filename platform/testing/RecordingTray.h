// A tray for tests: records every call and answers as told.
#pragma once

#include "platform/Tray.h"

#include <string>
#include <vector>

namespace tavro::platform::testing {

struct TrayCall {
    TrayOperation operation;
    uint32_t icon;
    bool hasTip;
    std::string tip;
};

class RecordingTray final : public Tray {
public:
    bool ShowTrayIcon(TrayOperation operation, uint32_t icon, const char* tip) override {
        calls_.push_back({operation, icon, tip != nullptr, tip != nullptr ? tip : ""});
        return result_;
    }

    const std::vector<TrayCall>& Calls() const { return calls_; }
    void Clear() { calls_.clear(); }
    // What ShowTrayIcon returns from now on (true at first).
    void AnswerWith(bool result) { result_ = result; }

private:
    std::vector<TrayCall> calls_;
    bool result_ = true;
};

} // namespace tavro::platform::testing
