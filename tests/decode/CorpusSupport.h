// Reading the receiver recordings and their reference decodings, and cutting recordings into
// frames as the input port does.
#pragma once

#include "common/GpsSharedStatus.h"

#include <stddef.h>
#include <stdint.h>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavro::testing {

// What a recording's comparison with its reference found: each kind of check counted, each
// disagreement a test failure naming the recording, and the reasons for comparisons left out.
class Comparison {
public:
    explicit Comparison(std::string recording) : recording_(std::move(recording)) {}

    void Check(const char* what, bool agrees, const std::string& detail) {
        ++checked_[what];
        if (!agrees) {
            ADD_FAILURE() << recording_ << ": " << what << ": " << detail;
        }
    }
    void Excuse(const char* why) { ++excused_[why]; }
    int Checks(const std::string& what) const {
        const auto found = checked_.find(what);
        return found == checked_.end() ? 0 : found->second;
    }
    const std::map<std::string, int>& Checked() const { return checked_; }
    const std::map<std::string, int>& Excused() const { return excused_; }

private:
    std::string recording_;
    std::map<std::string, int> checked_;
    std::map<std::string, int> excused_;
};

// The corpus folder: $TAVRO_CORPUS_DIR, else the folder the build was configured with.
std::string CorpusDir();

// Whole file, or an empty string when it cannot be read.
std::string ReadFile(const std::string& path);

// Length of the leading comment lines ("#...\n") of a recording.
size_t HeaderLength(std::string_view recording);

// One frame as the input port hands it to the parser.
struct CutFrame {
    size_t offset; // of its first byte in the stream given to CutLikePoll
    std::string bytes;
};

// Cuts `stream` into frames with the input port's rules: reads of `readSize` bytes (at most
// 510), stream recognition within each read (which also moves `streamState`), frames ending at
// the terminator or at 510 bytes. The last, unfinished frame is not returned. `multiGnss`:
// the "Multi GNSS" setting.
std::vector<CutFrame> CutLikePoll(std::string_view stream, size_t readSize,
                                  uint8_t* streamState = nullptr, bool multiGnss = true);

// Lines of a text file without their line endings.
std::vector<std::string> Lines(const std::string& text);

// Members of one line of the reference decoder's JSON (flat, no escapes in the values used).
std::optional<double> JsonNumber(std::string_view json, std::string_view key);
std::optional<std::string> JsonString(std::string_view json, std::string_view key);
// The objects of the array member `key`, each as its own text.
std::vector<std::string_view> JsonObjects(std::string_view json, std::string_view key);

// "key=value" members of a corpus vector row.
std::optional<std::string> TsvMember(std::string_view fields, std::string_view key);

// Splits at `separator`, keeping empty parts.
std::vector<std::string> Split(std::string_view text, char separator);

} // namespace tavro::testing
