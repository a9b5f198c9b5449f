#include "tests/windows/support/SentenceStream.h"

#include <stdio.h>
#include <string.h>

namespace tavro::wintest {
namespace {

unsigned Checksum(const char* begin, const char* end) {
    unsigned sum = 0;
    for (const char* c = begin; c < end; ++c) {
        sum ^= static_cast<unsigned char>(*c);
    }
    return sum;
}

bool Whole(const std::string& line) {
    const size_t star = line.rfind('*');
    if (line.size() < 6 || line[0] != '$' || line.compare(line.size() - 2, 2, "\r\n") != 0 ||
        star == std::string::npos || star + 5 != line.size()) {
        return false;
    }
    unsigned stated = 0;
    if (sscanf(line.c_str() + star + 1, "%2x", &stated) != 1) {
        return false;
    }
    return stated == Checksum(line.data() + 1, line.data() + star);
}

} // namespace

std::string Sentence(const std::string& body) {
    char tail[8];
    snprintf(tail, sizeof tail, "*%02X\r\n", Checksum(body.data(), body.data() + body.size()));
    return "$" + body + tail;
}

void SentenceStream::Add(const char* data, size_t count) {
    bytes += count;
    for (size_t i = 0; i < count; ++i) {
        pending.push_back(data[i]);
        if (data[i] != '\n') {
            continue;
        }
        if (joined) {
            Line(pending);
        }
        joined = true;
        pending.clear();
    }
}

void SentenceStream::Line(const std::string& line) {
    if (!Whole(line)) {
        if (broken++ == 0) {
            firstBroken = line;
        }
        return;
    }
    ++sentences;
    // "$xxRMC,hhmmss.sss,...": the fix times must rise (a day's wrap allowed).
    if (line.compare(3, 4, "RMC,") != 0) {
        return;
    }
    const std::string time = line.substr(7, line.find(',', 7) - 7);
    if (!lastRmcTime.empty() && time <= lastRmcTime && !(lastRmcTime > "23" && time < "01")) {
        ++outOfOrder;
    }
    lastRmcTime = time;
}

} // namespace tavro::wintest
