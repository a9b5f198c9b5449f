// Building frames for decoder tests.
#pragma once

#include "hub/decode/ParseFrame.h"
#include "tests/support/Nmea.h"

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

namespace tavro::testing {

// "$" + body + "*" + the checksum in upper-case hex + CR LF.
// A SiRF frame around `payload`: start pair, length, payload, 15-bit sum, end pair.
inline std::vector<uint8_t> SirfFrame(const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> frame = {0xA0, 0xA2, static_cast<uint8_t>(payload.size() >> 8),
                                  static_cast<uint8_t>(payload.size())};
    uint32_t sum = 0;
    for (uint8_t b : payload) {
        sum += b;
        frame.push_back(b);
    }
    sum &= 0x7FFF;
    frame.insert(frame.end(),
                 {static_cast<uint8_t>(sum >> 8), static_cast<uint8_t>(sum), 0xB0, 0xB3});
    return frame;
}

// Hands the frame to the parser as the input port does: in a buffer of its own length plus
// the zero byte, so that a sanitizer sees any read beyond it.
inline void Parse(ParserHost& port, const std::vector<uint8_t>& frame, bool injected = false) {
    std::vector<uint8_t> copy(frame);
    copy.push_back(0);
    ParseFrame(port, copy.data(), static_cast<uint32_t>(frame.size()), injected);
}

inline void Parse(ParserHost& port, const std::string& frame, bool injected = false) {
    Parse(port, std::vector<uint8_t>(frame.begin(), frame.end()), injected);
}

} // namespace tavro::testing
