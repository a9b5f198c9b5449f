#include "tools/gps-sim/NmeaSentence.h"

#include "common/NmeaChecksum.h"

#include <cstdarg>
#include <cstdio>

namespace tavro::gpssim {

uint8_t NmeaChecksum(std::string_view body) {
    uint8_t sum = 0;
    for (const char c : body) {
        sum ^= static_cast<uint8_t>(c);
    }
    return sum;
}

std::string FrameSentence(std::string_view body) {
    static constexpr char digits[] = "0123456789ABCDEF";
    const uint8_t sum = NmeaChecksum(body);
    std::string sentence;
    sentence.reserve(body.size() + 6);
    sentence += '$';
    sentence += body;
    sentence += '*';
    sentence += digits[sum >> 4];
    sentence += digits[sum & 15];
    sentence += "\r\n";
    return sentence;
}

bool VerifySentence(std::string_view line, std::string_view& body) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.remove_suffix(1);
    }
    if (line.empty() || line[0] != '$' || !NmeaSentenceValid(line.data(), line.size())) {
        return false;
    }
    body = line.substr(1, line.size() - 4);
    return true;
}

std::vector<std::string_view> SplitFields(std::string_view body) {
    std::vector<std::string_view> fields;
    size_t start = 0;
    for (;;) {
        const size_t comma = body.find(',', start);
        if (comma == std::string_view::npos) {
            fields.push_back(body.substr(start));
            return fields;
        }
        fields.push_back(body.substr(start, comma - start));
        start = comma + 1;
    }
}

std::string Format(const char* format, ...) {
    char buffer[512];
    va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(buffer, sizeof buffer, format, arguments);
    va_end(arguments);
    if (length < 0) {
        return std::string();
    }
    if (static_cast<size_t>(length) < sizeof buffer) {
        return std::string(buffer, static_cast<size_t>(length));
    }
    std::string text(static_cast<size_t>(length) + 1, '\0');
    va_start(arguments, format);
    std::vsnprintf(text.data(), text.size(), format, arguments);
    va_end(arguments);
    text.resize(static_cast<size_t>(length));
    return text;
}

} // namespace tavro::gpssim
