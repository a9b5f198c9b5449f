// What a client program received from a virtual port, checked sentence by sentence: every
// line whole (a '$', a valid checksum, CR LF), and the receiver's RMC times in order. The
// first, partial line (the program joined the stream in the middle of a sentence) is skipped.
#pragma once

#include <stddef.h>

#include <string>

namespace tavro::wintest {

class SentenceStream {
public:
    void Add(const char* bytes, size_t count);

    size_t Sentences() const { return sentences; }
    size_t Broken() const { return broken; }
    size_t OutOfOrder() const { return outOfOrder; }
    size_t Bytes() const { return bytes; }
    // The first broken line, for the report.
    const std::string& FirstBroken() const { return firstBroken; }

private:
    void Line(const std::string& line);

    std::string pending;
    bool joined = false;
    size_t sentences = 0;
    size_t broken = 0;
    size_t outOfOrder = 0;
    size_t bytes = 0;
    std::string lastRmcTime;
    std::string firstBroken;
};

// "$<body>*hh\r\n" with the checksum of the body.
std::string Sentence(const std::string& body);

} // namespace tavro::wintest
