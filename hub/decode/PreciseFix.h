// The fix as the receiver wrote it, beside the status block: the block's layout holds 32-bit
// floats and whole milliseconds, which cut a position to about a metre and an RTK receiver's
// centimetres away. The decoders keep these values by the same rules as the block's, so that
// readers in the hub (the status report, a time export, a dashboard) can have the digits.
#pragma once

#include <stdint.h>

namespace tavro {

struct PreciseFix {
    // Degrees, north and east positive.
    double latitude = 0;
    double longitude = 0;
    double altitude = 0;        // metres (GGA, GNS: above mean sea level; SiRF: the ellipsoid)
    double geoidSeparation = 0; // metres
    double speedKnots = 0;
    double course = 0; // degrees true
    double pdop = 0;
    double hdop = 0;
    double vdop = 0;

    // UTC of the last fix: the date, and the time of day with its fraction of a second.
    uint16_t year = 0;
    uint8_t month = 0;
    uint8_t day = 0;
    uint8_t hour = 0;
    uint8_t minute = 0;
    double second = 0; // 0 to below 61
    // The host's tick count (ParserHost::TickCount) when the sentence with that time was
    // decoded: how old the time is.
    uint32_t timeTick = 0;

    // Which values the receiver has given; the others read 0.
    bool hasPosition = false;
    bool hasAltitude = false;
    bool hasGeoidSeparation = false;
    bool hasSpeed = false;
    bool hasCourse = false;
    bool hasDops = false; // pdop, hdop, vdop (a GSA)
    bool hasHdop = false; // hdop: with the others, or alone (SiRF's geodetic data)
    bool hasTime = false; // hour, minute, second
    bool hasDate = false; // year, month, day

    // Values the block holds and this record does not, given since the port was made: the
    // fix quality, satellites used and DGPS age and station of a GGA or GNS; a DBT's depth.
    bool hasQuality = false;
    bool hasDepth = false;
};

} // namespace tavro
