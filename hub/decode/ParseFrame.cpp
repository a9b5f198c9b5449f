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

// ---- Lines of today's receivers ("Multi GNSS" on) --------------------------------------------
//
// What arrives between two line feeds is a sentence only when it has one: receivers and the
// links between them send empty lines, comments and text, cut a sentence off when they stop,
// and some write "$$" before every sentence. Such text says nothing about the receiver's data
// and must not show it as corrupt. A sentence whose checksum is wrong does, and so does a line
// that is no text at all: the noise of a receiver heard at another speed, which the recovery
// re-open is there for.

bool IsHexDigit(uint8_t c) {
    return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f');
}

int HexDigit(uint8_t c) {
    return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}

// Where the line's sentence begins: at its first "$" or "!" (anything before it is line noise),
// the last "$" of a run read as the one. `length` when the line holds none.
uint32_t SentenceStart(const uint8_t* frame, uint32_t length) {
    uint32_t at = 0;
    while (at < length && frame[at] != '$' && frame[at] != '!') {
        if (frame[at] == 0) {
            return length; // the text ends here
        }
        ++at;
    }
    while (at + 1 < length && frame[at] == '$' && frame[at + 1] == '$') {
        ++at;
    }
    return at;
}

// The end of a line: CR, LF, a zero byte or the frame's end.
bool EndsLine(const uint8_t* text, uint32_t length, uint32_t at) {
    return at >= length || text[at] == '\r' || text[at] == '\n' || text[at] == 0;
}

// Whether the line is text: printable characters and tabs up to its line end.
bool IsTextLine(const uint8_t* frame, uint32_t length) {
    while (length > 0 && (frame[length - 1] == '\n' || frame[length - 1] == '\r')) {
        --length;
    }
    for (uint32_t i = 0; i < length; ++i) {
        if ((frame[i] < 0x20 || frame[i] > 0x7E) && frame[i] != '\t') {
            return false;
        }
    }
    return true;
}

enum class LineCheck : uint8_t { NoSentence, Verified, Corrupt };

// A sentence is verified when the two characters after its first "*" are its checksum in
// hexadecimal, either case (NMEA writes upper case; receivers that do not are common enough).
// Without a "*" and two characters after it the line carries nothing to verify: a sentence
// cut off, or text.
LineCheck CheckLine(const uint8_t* text, uint32_t length, const SentenceScan& scan) {
    const uint32_t star = scan.stop;
    if (length < 2 || star >= length || text[star] != '*' || EndsLine(text, length, star + 1) ||
        EndsLine(text, length, star + 2)) {
        return LineCheck::NoSentence;
    }
    const uint8_t high = text[star + 1];
    const uint8_t low = text[star + 2];
    return IsHexDigit(high) && IsHexDigit(low) && scan.sum == HexDigit(high) * 16 + HexDigit(low)
               ? LineCheck::Verified
               : LineCheck::Corrupt;
}

void CountCorruptFrame(ParserHost& port, GpsSharedStatus& block) {
    CountChecksumError(port);
    block.fixState = Byte(FixState::Invalid);
}

// Receivers that mix a binary protocol into their sentences: u-blox (UBX, 0xB5 0x62) and
// CASIC (0xBA 0xCE, some Quectel receivers). Their messages hold line feeds, so one message
// reaches the parser as several lines; those that follow its start within this long are
// taken as its rest.
constexpr uint32_t binaryMessageMs = 1000;

bool HoldsBinaryStart(const uint8_t* frame, uint32_t length) {
    for (uint32_t i = 0; i + 1 < length; ++i) {
        if ((frame[i] == 0xB5 && frame[i + 1] == 0x62) ||
            (frame[i] == 0xBA && frame[i + 1] == 0xCE)) {
            return true;
        }
    }
    return false;
}

// A line without a sentence to verify: text and another protocol's binary messages are left
// alone; anything else is corrupt data.
bool NoSentence(ParserHost& port, GpsSharedStatus& block, const uint8_t* frame, uint32_t length) {
    if (IsTextLine(frame, length)) {
        return false;
    }
    SentenceSeen& binary = port.gnss.binarySeen;
    const uint32_t now = port.TickCount();
    if (HoldsBinaryStart(frame, length)) {
        binary.seen = true;
        binary.tick = now;
    } else if (!binary.seen || now - binary.tick >= binaryMessageMs) {
        CountCorruptFrame(port, block);
    }
    return false;
}

bool DecodeReceiverLine(ParserHost& port, GpsSharedStatus& block, const uint8_t* frame,
                        uint32_t length, const SentenceScan& frameScan, bool injected,
                        uint32_t options) {
    const uint32_t start = SentenceStart(frame, length);
    if (start == length) {
        return NoSentence(port, block, frame, length);
    }
    // Noise before the sentence is no part of it; the scan is made again from its start
    // (rare: most lines begin with their sentence).
    SentenceScan ownScan;
    if (start != 0) {
        ScanSentence(frame + start, length - start, ownScan);
    }
    const SentenceScan& scan = start != 0 ? ownScan : frameScan;
    const uint8_t* text = frame + start;
    const uint32_t textLength = length - start;
    switch (CheckLine(text, textLength, scan)) {
    case LineCheck::NoSentence:
        return NoSentence(port, block, frame, length);
    case LineCheck::Corrupt:
        CountCorruptFrame(port, block);
        return false;
    case LineCheck::Verified:
        break;
    }
    port.checksumErrors = 0;
    // The virtual ports get the sentence, without the noise before it.
    if (((options & optionNmeaFilter) != 0 || injected) && port.relayHeld == 0) {
        port.Relay(text, textLength);
    }
    DecodeSentence(port, block, reinterpret_cast<const char*>(text), scan, injected, true);
    return true;
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

// With "Multi GNSS" off, every frame is a sentence and is verified as GPS-only receivers'
// frames always were.
bool DecodeNmeaFrame(ParserHost& port, GpsSharedStatus& block, const uint8_t* frame,
                     uint32_t length, const SentenceScan& scan, bool injected, uint32_t options) {
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
    DecodeSentence(port, block, reinterpret_cast<const char*>(frame), scan, injected, false);
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
    if (multiGnss) {
        return DecodeReceiverLine(port, block, frame, length, scan, injected, options);
    }
    return DecodeNmeaFrame(port, block, frame, length, scan, injected, options);
}

} // namespace tavro
