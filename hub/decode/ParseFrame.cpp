#include "hub/decode/ParseFrame.h"

#include "hub/decode/NmeaSentences.h"
#include "hub/decode/SentenceScan.h"
#include "hub/decode/SirfDecoder.h"
#include "hub/decode/Talker.h"

#include <string.h>

namespace tavro {
namespace {

// With "NMEA Filter" on, this many consecutive bad frames make the port re-open.
constexpr uint8_t tolerableChecksumErrors = 5;

constexpr uint8_t Byte(FixState state) {
    return static_cast<uint8_t>(state);
}
constexpr uint8_t Byte(StreamState state) {
    return static_cast<uint8_t>(state);
}

// Whether positions 0 to length - 2 hold the SiRF start pair 0xA0 0xA2; only asked of frames
// with a high bit somewhere, which 7-bit text never has.
bool HoldsSirfStart(const uint8_t* frame, uint32_t length) {
    for (uint32_t i = 0; i + 1 < length; ++i) {
        if (frame[i] == 0xA0 && frame[i + 1] == 0xA2) {
            return true;
        }
    }
    return false;
}

// Whether positions 0 to length - 2 hold a "?", which receivers send while they answer a
// command; a speed change waits for the first frame without one.
bool HoldsQuestionMark(const uint8_t* frame, uint32_t length) {
    return length >= 2 && memchr(frame, '?', length - 1) != nullptr;
}

void CountChecksumError(ParserHost& port) {
    if (port.checksumErrors != 0xFF) {
        ++port.checksumErrors;
    }
}

// The value of one checksum character: "0"-"9" and "A"-"F" read as hexadecimal digits. The
// rule is arithmetic, not a table: lower-case letters give values no checksum matches, and
// ':' to '?' read as 10 to 15 like "A" to "F".
int ChecksumDigit(uint8_t c) {
    const int value = c - 48;
    return value >= 17 ? value - 7 : value;
}

// The XOR of the bytes from index 1 up to the first "*" against the two characters after it.
// The sentence's text ends at its first zero byte or at `length`: a sentence without "*", or
// with fewer than two characters after it, fails.
bool ChecksumMatches(const uint8_t* text, uint32_t length, const SentenceScan& scan) {
    if (length == 0 || text[0] == 0) {
        return false; // no text at all
    }
    const uint32_t star = scan.stop;
    if (star >= length || text[star] != '*' || star + 2 >= length || text[star + 1] == 0 ||
        text[star + 2] == 0) {
        return false;
    }
    return scan.sum == ChecksumDigit(text[star + 1]) * 16 + ChecksumDigit(text[star + 2]);
}

void RecoverPort(ParserHost& port, GpsSharedStatus& block) {
    block.streamState = Byte(StreamState::PortClosed);
    block.fixState = Byte(FixState::NoData);
    block.fixValid = 0;
    block.comPort = 0;
    port.checksumErrors = 0;
    uint32_t lineSpeed = 0;
    if (port.RecoveryReopen(lineSpeed)) {
        block.streamState = Byte(StreamState::PortOpen);
        block.comPort = port.portNumber;
        block.baudRate = lineSpeed;
    }
}

bool DecodeNmeaFrame(ParserHost& port, GpsSharedStatus& block, const uint8_t* frame,
                     uint32_t length, const SentenceScan& scan, bool injected, uint32_t options,
                     bool multiGnss) {
    if (!ChecksumMatches(frame, length, scan)) {
        CountChecksumError(port);
        block.fixState = Byte(FixState::Invalid);
        return false;
    }
    port.checksumErrors = 0;
    // With the filter on, the virtual ports get only frames that passed; without it the input
    // port relays every byte as read, and only injected frames come this way.
    if (((options & optionNmeaFilter) != 0 || injected) && port.relayHeld == 0) {
        port.Relay(frame, length);
    }
    // The checksum and line ending after the "*" are not part of the sentence: one that ends
    // early must leave its missing fields empty, not read them from the checksum digits.
    DecodeSentence(port, block, reinterpret_cast<const char*>(frame), scan, injected, multiGnss);
    return true;
}

} // namespace

bool ParseFrame(ParserHost& port, const uint8_t* frame, uint32_t length, bool injected) {
    if (!injected && port.relayHeld != 0) {
        return true; // a client holds the relay; Poll has logged the frame already
    }
    GpsSharedStatus& block = port.Status();

    SentenceScan scan;
    ScanSentence(frame, length, scan);
    const bool sirfStart = scan.highBytes && HoldsSirfStart(frame, length);
    if (sirfStart) {
        port.sirfMode = 1;
    } else if (port.RequestedBaud() != 0 && !HoldsQuestionMark(frame, length)) {
        port.RequestReopen();
        block.fixState = Byte(FixState::NoData);
    }
    const bool multiGnss = port.MultiGnss();
    if (IsTalkerPrefix(frame, length, multiGnss)) {
        port.sirfMode = 0;
    }

    const uint32_t options = port.OptionFlags();
    if ((options & optionNmeaFilter) != 0 && port.checksumErrors > tolerableChecksumErrors) {
        RecoverPort(port, block);
        return true;
    }
    if (port.sirfMode != 0) {
        return DecodeSirfFrame(port, block, frame, length, injected);
    }
    return DecodeNmeaFrame(port, block, frame, length, scan, injected, options, multiGnss);
}

} // namespace tavro
