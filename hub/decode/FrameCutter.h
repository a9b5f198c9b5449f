// Cutting the receiver's byte stream into frames for ParseFrame: the input port's rules, kept
// here so the port, the tests and the benchmarks cut exactly alike.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace tavro {

// What a position in one read announces.
enum class StreamStart : uint8_t {
    None,
    Nmea, // one of the nine talker prefixes starts here: frames end at line feed
    Sirf, // 0xA0 0xA2 starts here: frames end at 0xB3
};

// Looks at byte `index` of one read of `count` bytes. Only bytes of this read take part, so a
// prefix or pair cut by the end of the read is not recognised.
StreamStart RecogniseStreamStart(const uint8_t* read, size_t count, size_t index);

inline constexpr uint8_t nmeaTerminator = 10;
inline constexpr uint8_t sirfTerminator = 0xB3;

class FrameCutter {
public:
    static constexpr uint32_t maxFrameLength = 510;

    explicit FrameCutter(uint8_t frameTerminator = nmeaTerminator, uint32_t fixedLength = 0)
        : terminator(frameTerminator), packetLength(fixedLength) {}

    // Byte that ends a frame while packetLength is 0.
    uint8_t terminator;
    // Fixed frame length (the GPS search uses 32); 0 means frames end at `terminator`.
    uint32_t packetLength;

    // Adds one byte to the frame being assembled. When this byte completes it (terminator,
    // fixed length or 510 bytes), a zero byte is stored after it and its length is returned;
    // the frame stays at Frame() until the next Append. Otherwise returns 0.
    uint32_t Append(uint8_t byte) {
        buffer_[lineLength_++] = byte;
        const bool complete = (packetLength != 0 && lineLength_ >= packetLength) ||
                              lineLength_ >= maxFrameLength ||
                              (packetLength == 0 && byte == terminator);
        if (!complete) {
            return 0;
        }
        buffer_[lineLength_] = 0;
        const uint32_t length = lineLength_;
        lineLength_ = 0;
        return length;
    }

    uint8_t* Frame() { return buffer_; }
    const uint8_t* Frame() const { return buffer_; }

    // Bytes of the frame being assembled (they survive between reads).
    uint32_t PendingLength() const { return lineLength_; }

    // Drops a partly assembled frame.
    void Clear() { lineLength_ = 0; }

private:
    uint8_t buffer_[maxFrameLength + 2] = {};
    uint32_t lineLength_ = 0;
};

} // namespace tavro
