// Checks of simulator output written apart from the simulator's own code, so that a mistake
// in its checksum or framing cannot hide behind itself.
#pragma once

#include <cstdlib>
#include <numeric>
#include <string>
#include <vector>

namespace tavro::gpssim::testing {

// True when `sentence` is "$<body>*<two upper-case hex digits>\r\n" and the digits are the XOR
// of the body.
inline bool ChecksumHolds(const std::string& sentence) {
    const size_t star = sentence.find('*');
    if (sentence.size() < 6 || sentence[0] != '$' || star != sentence.size() - 5 ||
        sentence.compare(sentence.size() - 2, 2, "\r\n") != 0) {
        return false;
    }
    const std::string digits = sentence.substr(star + 1, 2);
    for (const char c : digits) {
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) {
            return false;
        }
    }
    const unsigned computed =
        std::accumulate(sentence.begin() + 1, sentence.begin() + static_cast<long>(star), 0u,
                        [](unsigned sum, char c) { return sum ^ static_cast<unsigned char>(c); });
    return computed == std::strtoul(digits.c_str(), nullptr, 16);
}

// The complete lines of a byte stream (each through its LF); a cut line at either end is
// dropped.
inline std::vector<std::string> CompleteLines(const std::string& stream, bool firstIsWhole) {
    std::vector<std::string> lines;
    size_t start = 0;
    if (!firstIsWhole) {
        const size_t first = stream.find('\n');
        start = first == std::string::npos ? stream.size() : first + 1;
    }
    while (start < stream.size()) {
        const size_t end = stream.find('\n', start);
        if (end == std::string::npos) {
            break;
        }
        lines.push_back(stream.substr(start, end - start + 1));
        start = end + 1;
    }
    return lines;
}

// The comma-separated fields between "$" and "*".
inline std::vector<std::string> Fields(const std::string& sentence) {
    std::vector<std::string> fields;
    const size_t star = sentence.find('*');
    const std::string body =
        sentence.substr(1, (star == std::string::npos ? sentence.size() : star) - 1);
    size_t start = 0;
    for (;;) {
        const size_t comma = body.find(',', start);
        fields.push_back(
            body.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos) {
            return fields;
        }
        start = comma + 1;
    }
}

} // namespace tavro::gpssim::testing
