// Sound for tests: records the files asked for.
#pragma once

#include "platform/Sound.h"

#include <string>
#include <vector>

namespace tavro::platform::testing {

class RecordingSound final : public Sound {
public:
    bool PlayFile(const char* fileName) override {
        played_.push_back(fileName != nullptr ? fileName : "");
        return result_;
    }

    const std::vector<std::string>& Played() const { return played_; }
    void Clear() { played_.clear(); }
    void AnswerWith(bool result) { result_ = result; }

private:
    std::vector<std::string> played_;
    bool result_ = true;
};

} // namespace tavro::platform::testing
