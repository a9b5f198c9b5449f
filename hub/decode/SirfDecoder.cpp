#include "hub/decode/SirfDecoder.h"

#include "hub/decode/CalendarTime.h"

namespace tavro {
namespace {

constexpr uint32_t headerLength = 4;   // A0 A2, payload length
constexpr uint32_t checksumLength = 2; // after the payload

// The constants are single precision; products are formed in double and stored as float.
constexpr double centimetres = 0.01f;
constexpr double centimetresPerSecondToKnots = 0.01944f;
constexpr double hundredthsOfDegrees = 0.01f;
constexpr double tenMillionths = 1e-7f;
constexpr double hdopUnit = 0.2f;
constexpr double azimuthUnit = 1.4925373134328357; // the receiver's 0.67-degree steps
// The precise values (PreciseFix) are scaled exactly.
constexpr double exactCentimetresPerSecondToKnots = 36.0 / 1852.0;
constexpr float minimumSpeedKnots = 2.9f; // slower is reported as standing still

uint32_t Big16(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 8 | p[1];
}

uint32_t Big32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}

int32_t SignedBig32(const uint8_t* p) {
    return static_cast<int32_t>(Big32(p));
}

float Scaled(double value, double unit) {
    return static_cast<float>(value * unit);
}

void CountChecksumError(ParserHost& port) {
    if (port.checksumErrors != 0xFF) {
        ++port.checksumErrors;
    }
}

// Message 2, measured navigation data. Its published layout has the number of satellites in
// the fix at p[28] (p[24..27] are the time of week); that count is what feeds satsInView.
constexpr uint32_t navigationSatellites = 28;

void DecodeNavigation(GpsSharedStatus& block, const uint8_t* p, uint32_t size) {
    if (size <= navigationSatellites) {
        return;
    }
    block.satsInView = p[navigationSatellites];
}

// Message 4, measured tracker data: GPS week and time of week, then 15 bytes per channel.
constexpr uint32_t trackerChannels = 8;
constexpr uint32_t trackerChannelSize = 15;

void DecodeTracker(GpsSharedStatus& block, PreciseFix& precise, uint32_t now, const uint8_t* p,
                   uint32_t size) {
    if (size <= 7) {
        return;
    }
    const uint64_t week = Big16(p + 1);
    const uint64_t hundredths = Big32(p + 3);
    // Formed in 64 bits throughout: week x 604800 leaves 32 bits from week 7102 on.
    const uint64_t fileTime =
        ((week * 604800 + sirfWeekZeroFileTimeSeconds) * 100 + hundredths) * 100000;
    SystemTime utc;
    if (FileTimeToSystemTime(fileTime, utc)) {
        block.utcTime = utc;
        precise.year = utc.wYear;
        precise.month = static_cast<uint8_t>(utc.wMonth);
        precise.day = static_cast<uint8_t>(utc.wDay);
        precise.hour = static_cast<uint8_t>(utc.wHour);
        precise.minute = static_cast<uint8_t>(utc.wMinute);
        precise.second = utc.wSecond + utc.wMilliseconds / 1000.0; // hundredths: exact
        precise.timeTick = now;
        precise.hasTime = precise.hasDate = true;
    }

    const uint32_t channels = p[7];
    for (uint32_t i = 0; i < channels && i < 12; ++i) {
        const uint32_t b = trackerChannels + trackerChannelSize * i;
        if (b + trackerChannelSize > size) {
            break; // the payload ends inside this channel
        }
        SatelliteEntry& entry = block.satellites[i];
        entry.prn = p[b];
        entry.azimuth = static_cast<int16_t>(p[b + 1] * azimuthUnit);
        entry.elevation = static_cast<int16_t>(p[b + 2] >> 1);
        entry.snr = p[b + 5]; // first of the ten C/No values, dB-Hz
    }
}

// Message 41, geodetic navigation data. Its published layout has 91 payload bytes: the
// satellites in the fix at p[88] and HDOP in units of 0.2 at p[89] feed satsUsed and hdop.
constexpr uint32_t geodeticSatellites = 88;
constexpr uint32_t geodeticHdop = 89;

FixState FixFromNavigationType(uint8_t type) {
    switch (type & 7) {
    case 0:
        return FixState::NoFix;
    case 4:
    case 6:
    case 7:
        return FixState::Fix3D;
    default:
        return FixState::Fix2D;
    }
}

// Its UTC time of day in milliseconds (hour at p[15], minute at p[16], milliseconds of the
// minute at p[17..18]); -1 for a time that is none.
int32_t GeodeticTimeOfDay(const uint8_t* p) {
    const uint32_t hour = p[15];
    const uint32_t minute = p[16];
    const uint32_t milliseconds = Big16(p + 17);
    if (hour > 23 || minute > 59 || milliseconds >= 60000) {
        return -1;
    }
    return static_cast<int32_t>((hour * 60 + minute) * 60000 + milliseconds);
}

void DecodeGeodetic(ParserHost& port, GpsSharedStatus& block, const uint8_t* p, uint32_t size) {
    if (size <= geodeticHdop) {
        return;
    }
    PreciseFix& precise = port.precise;
    block.fixValid = p[1] == 0 && p[2] == 0 ? 1 : 0;
    block.fixState = static_cast<uint8_t>(FixFromNavigationType(p[4]));
    block.altitude = Scaled(SignedBig32(p + 31), centimetres);
    precise.altitude = SignedBig32(p + 31) / 100.0;
    precise.hasAltitude = true;
    float speed = Scaled(Big16(p + 40), centimetresPerSecondToKnots);
    if (speed < minimumSpeedKnots) {
        speed = 0.0f;
    }
    block.speedKnots = speed;
    precise.speedKnots = speed > 0.0f ? Big16(p + 40) * exactCentimetresPerSecondToKnots : 0.0;
    precise.hasSpeed = true;
    if (speed > 0.0f) {
        block.course = Scaled(Big16(p + 42), hundredthsOfDegrees);
        precise.course = Big16(p + 42) / 100.0;
        precise.hasCourse = true;
    }
    // Standing still keeps the last position, so it does not wander with the noise; a block
    // that never had one takes the first.
    if (speed > 0.0f || block.latitude == 0.0f) {
        block.latitude = Scaled(SignedBig32(p + 23), tenMillionths);
        block.longitude = Scaled(SignedBig32(p + 27), tenMillionths);
        precise.latitude = SignedBig32(p + 23) / 1e7;
        precise.longitude = SignedBig32(p + 27) / 1e7;
        precise.hasPosition = true;
    }
    block.satsUsed = p[geodeticSatellites];
    block.hdop = Scaled(p[geodeticHdop], hdopUnit);
    precise.hdop = p[geodeticHdop] / 5.0;
    precise.hasHdop = true;
    port.FixReported(block.fixValid != 0, GeodeticTimeOfDay(p));
}

} // namespace

bool DecodeSirfFrame(ParserHost& port, GpsSharedStatus& block, const uint8_t* frame,
                     uint32_t length, bool injected) {
    if (length < 2 || frame[0] != 0xA0 || frame[1] != 0xA2) {
        return true;
    }
    if (length < headerLength) {
        CountChecksumError(port);
        return false;
    }
    const uint32_t size = Big16(frame + 2);
    if (length - headerLength < size + checksumLength) {
        CountChecksumError(port);
        return false;
    }
    const uint8_t* payload = frame + headerLength;
    uint32_t sum = 0;
    for (uint32_t i = 0; i < size; ++i) {
        sum += payload[i];
    }
    if ((sum & 0x7FFF) != Big16(payload + size)) {
        CountChecksumError(port);
        return false;
    }
    port.checksumErrors = 0;
    if (((port.OptionFlags() & optionNmeaFilter) != 0 || injected) && port.relayHeld == 0) {
        port.Relay(frame, length);
    }
    if (size == 0) {
        return true; // no message ID
    }
    switch (payload[0]) {
    case 2:
        DecodeNavigation(block, payload, size);
        break;
    case 4:
        DecodeTracker(block, port.precise, port.TickCount(), payload, size);
        if (block.fixValid != 0) {
            port.FixTimed();
        }
        break;
    case 41:
        DecodeGeodetic(port, block, payload, size);
        break;
    default:
        break;
    }
    return true;
}

} // namespace tavro
