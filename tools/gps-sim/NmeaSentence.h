// NMEA 0183 framing: the checksum, whole sentences from their bodies, and the checks a
// receiver makes on what it is sent.
#pragma once

#include <stdint.h>
#include <string>
#include <string_view>
#include <vector>

namespace tavro::gpssim {

// XOR of every character of `body` (the text between "$" and "*").
uint8_t NmeaChecksum(std::string_view body);

// "$" + body + "*" + two upper-case hex digits + CR LF.
std::string FrameSentence(std::string_view body);

// Takes one received line ("$...*hh", CR LF optional) and returns its body when the checksum
// is present and right (hex digits of either case). False for anything else.
bool VerifySentence(std::string_view line, std::string_view& body);

// The comma-separated fields of a body; an empty body gives one empty field.
std::vector<std::string_view> SplitFields(std::string_view body);

// printf into a std::string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

} // namespace tavro::gpssim
