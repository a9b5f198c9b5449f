#include "tools/gps-sim/Recording.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tavro::gpssim {
namespace {

constexpr unsigned char sirfStart0 = 0xA0;
constexpr unsigned char sirfStart1 = 0xA2;
constexpr unsigned char sirfEnd0 = 0xB0;
constexpr unsigned char sirfEnd1 = 0xB3;

unsigned char At(const std::string& bytes, size_t index) {
    return static_cast<unsigned char>(bytes[index]);
}

bool SirfStartAt(const std::string& bytes, size_t index) {
    return index + 1 < bytes.size() && At(bytes, index) == sirfStart0 &&
           At(bytes, index + 1) == sirfStart1;
}

// Length of the complete SiRF frame at `index`, 0 when there is none.
size_t SirfFrameAt(const std::string& bytes, size_t index) {
    if (!SirfStartAt(bytes, index) || index + 4 > bytes.size()) {
        return 0;
    }
    const size_t payload =
        (static_cast<size_t>(At(bytes, index + 2)) << 8 | At(bytes, index + 3)) & 0x7FFF;
    const size_t length = 4 + payload + 4;
    if (index + length > bytes.size() || At(bytes, index + length - 2) != sirfEnd0 ||
        At(bytes, index + length - 1) != sirfEnd1) {
        return 0;
    }
    return length;
}

} // namespace

bool Recording::Load(const std::string& path, Recording& recording, std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    std::string bytes;
    char buffer[65536];
    size_t count = 0;
    while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        bytes.append(buffer, count);
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        error = path + ": read error";
        return false;
    }
    if (!FromBytes(std::move(bytes), recording, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

bool Recording::FromBytes(std::string bytes, Recording& recording, std::string& error) {
    recording = Recording{};
    // Only the leading comment lines: binary data may contain "\n#" further on.
    size_t start = 0;
    while (start < bytes.size() && bytes[start] == '#') {
        const size_t end = bytes.find('\n', start);
        start = end == std::string::npos ? bytes.size() : end + 1;
    }
    recording.headerBytes_ = start;
    recording.dataBytes_ = bytes.size() - start;
    size_t index = start;
    while (index < bytes.size()) {
        size_t length = SirfFrameAt(bytes, index);
        if (length == 0) {
            // Text (or noise) up to its line feed, or up to the next SiRF frame.
            size_t end = index;
            while (end < bytes.size() && end - index < maxUnit) {
                if (end > index && SirfFrameAt(bytes, end) != 0) {
                    break;
                }
                if (bytes[end++] == '\n') {
                    break;
                }
            }
            length = end - index;
        }
        recording.units_.push_back(bytes.substr(index, length));
        index += length;
    }
    if (recording.units_.empty()) {
        error = "no receiver data after the comment lines";
        return false;
    }
    return true;
}

const std::string& ReplayCursor::Next() {
    if (next_ >= recording_.UnitCount()) {
        next_ = 0;
        ++laps_;
    }
    return recording_.Unit(next_++);
}

} // namespace tavro::gpssim
