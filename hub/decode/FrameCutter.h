// Cutting the receiver's byte stream into frames for ParseFrame: the input port's rules, kept
// here so the port, the tests and the benchmarks cut exactly alike.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace tavro {

// What a position in one read announces.
enum class StreamStart : uint8_t {
    None,
    Nmea, // a talker prefix (Talker.h) starts here: frames end at line feed
    Sirf, // 0xA0 0xA2 starts here: frames end at 0xB3
};

// Looks at byte `index` of one read of `count` bytes. Only bytes of this read take part, so a
// prefix or pair cut by the end of the read is not recognised. `multiGnss`: the "Multi GNSS"
// setting, which adds the multi-constellation talkers.
StreamStart RecogniseStreamStart(const uint8_t* read, size_t count, size_t index, bool multiGnss);

inline constexpr uint8_t nmeaTerminator = 10;
inline constexpr uint8_t sirfTerminator = 0xB3;

class FrameCutter {
public:
    static constexpr uint32_t maxFrameLength = 510;
    // A frame, its zero byte and one spare.
    static constexpr uint32_t bufferSize = 512;
    // A SiRF binary frame around a payload of L bytes: 0xA0 0xA2, L in two bytes, the
    // payload, two checksum bytes, 0xB0 0xB3.
    static constexpr uint32_t sirfFrameOverhead = 8;

    explicit FrameCutter(uint8_t frameTerminator = nmeaTerminator, uint32_t fixedLength = 0)
        : terminator(frameTerminator), packetLength(fixedLength), buffer_(ownBuffer_) {}
    // Assembles in `lineBuffer`, which belongs to the caller and must outlive the cutter.
    explicit FrameCutter(uint8_t (&lineBuffer)[bufferSize],
                         uint8_t frameTerminator = nmeaTerminator, uint32_t fixedLength = 0)
        : terminator(frameTerminator), packetLength(fixedLength), buffer_(lineBuffer) {}
    FrameCutter(const FrameCutter&) = delete;
    FrameCutter& operator=(const FrameCutter&) = delete;

    // Byte that ends a frame while packetLength is 0.
    uint8_t terminator;
    // Fixed frame length (the GPS search uses 32); 0 means frames end at `terminator`.
    uint32_t packetLength;

    // Adds one byte to the frame being assembled. When this byte completes it (terminator,
    // fixed length or 510 bytes), a zero byte is stored after it and its length is returned;
    // the frame stays at Frame() until the next Append. Otherwise returns 0.
    //
    // A SiRF frame may hold 0xB3 in its length, payload or checksum, so while the stream is
    // SiRF (terminator 0xB3) a frame that begins with 0xA0 0xA2 and declares a length that
    // fits (8 + L <= 510) ends after its declared length instead of at the first 0xB3.
    // Anything else, a garbled length included, still ends at 0xB3 or at 510 bytes.
    uint32_t Append(uint8_t byte) {
        buffer_[lineLength_++] = byte;
        if (lineLength_ == 4) {
            NoteSirfLength();
        }
        bool complete;
        if (packetLength != 0) {
            complete = lineLength_ >= packetLength || lineLength_ >= maxFrameLength;
        } else if (declaredLength_ != 0) {
            complete = lineLength_ >= declaredLength_;
        } else {
            complete = lineLength_ >= maxFrameLength || byte == terminator;
        }
        if (!complete) {
            return 0;
        }
        buffer_[lineLength_] = 0;
        const uint32_t length = lineLength_;
        lineLength_ = 0;
        declaredLength_ = 0;
        return length;
    }

    uint8_t* Frame() { return buffer_; }
    const uint8_t* Frame() const { return buffer_; }

    // Bytes of the frame being assembled (they survive between reads).
    uint32_t PendingLength() const { return lineLength_; }

    // Drops a partly assembled frame.
    void Clear() {
        lineLength_ = 0;
        declaredLength_ = 0;
    }

private:
    void NoteSirfLength() {
        if (packetLength != 0 || terminator != sirfTerminator || buffer_[0] != 0xA0 ||
            buffer_[1] != 0xA2) {
            return;
        }
        const uint32_t total = sirfFrameOverhead + (uint32_t{buffer_[2]} << 8 | buffer_[3]);
        if (total <= maxFrameLength) {
            declaredLength_ = total;
        }
    }

    uint8_t ownBuffer_[bufferSize] = {};
    uint8_t* buffer_;
    uint32_t lineLength_ = 0;
    // Length a SiRF frame declared for itself, 0 while frames end at the terminator.
    uint32_t declaredLength_ = 0;
};

} // namespace tavro
