#include "hub/decode/NmeaSentences.h"

#include "hub/decode/GnssSentences.h"
#include "hub/decode/NumberText.h"
#include "hub/decode/Talker.h"

#include <math.h>

namespace tavro {
namespace {

constexpr uint8_t Byte(FixState state) {
    return static_cast<uint8_t>(state);
}

bool StartsWith(std::string_view text, char c) {
    return !text.empty() && text[0] == c;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Two characters of a time or date field, read as atoi reads them on their own.
uint16_t Pair(std::string_view field, size_t position) {
    return static_cast<uint16_t>(TextToInt(field.substr(position, 2)));
}

// The fraction of a second after "hhmmss." in milliseconds: ".250" and ".25" give 250, ".5"
// gives 500, digits beyond the third are dropped, and a field without a fraction gives 0.
uint16_t Milliseconds(std::string_view time) {
    constexpr size_t fractionStart = 7;
    uint16_t milliseconds = 0;
    uint16_t scale = 100;
    for (size_t i = fractionStart; i < time.size() && scale != 0 && IsDigit(time[i]); ++i) {
        milliseconds = static_cast<uint16_t>(milliseconds + (time[i] - '0') * scale);
        scale = static_cast<uint16_t>(scale / 10);
    }
    return milliseconds;
}

// The seconds of "hhmmss[.s...]" with all the digits of their fraction (up to nine).
double SecondsWithFraction(std::string_view time) {
    double seconds = Pair(time, 4);
    if (time.size() > 7 && time[6] == '.') {
        uint32_t fraction = 0;
        double scale = 1;
        for (size_t i = 7; i < time.size() && i < 16 && IsDigit(time[i]); ++i) {
            fraction = fraction * 10 + static_cast<uint32_t>(time[i] - '0');
            scale *= 10;
        }
        seconds += fraction / scale;
    }
    return seconds;
}

// Degrees and minutes (ddmm.mmmm or dddmm.mmmm), read once, as the block stores them (the
// sixtieth in single precision, a float) and in full precision; negative when `negative`.
void ReadDegrees(std::string_view text, bool negative, float& stored, double& precise) {
    constexpr double minutesToDegrees = 0.016666668f; // 1/60 in single precision
    const double value = TextToDouble(text);
    double degrees;
    if (value > -2147483648.0 && value < 2147483648.0) {
        degrees = static_cast<double>(static_cast<int32_t>(value) / 100);
    } else if (isfinite(value)) {
        degrees = trunc(value / 100.0); // beyond 32-bit integers, the same truncation
    } else {
        stored = static_cast<float>(negative ? -value : value); // "inf" and "nan" stay so
        precise = negative ? -value : value;
        return;
    }
    const float single = static_cast<float>(degrees + (value - 100.0 * degrees) * minutesToDegrees);
    const double exact = degrees + (value - 100.0 * degrees) / 60.0;
    stored = negative ? -single : single;
    precise = negative ? -exact : exact;
}

void DecodeDbt(GpsSharedStatus& block, PreciseFix& precise, const NmeaFields& f) {
    precise.hasDepth = true;
    block.depthFeet = TextToFloat(f[1]);
    block.depthMetres = TextToFloat(f[3]);
}

// The MTK replies. Their number is the address field from its sixth character ($PMTK514 ->
// 514); the code has already matched its first digit.
void DecodeMtkFixInterval(GpsSharedStatus& block, const NmeaFields& f) {
    block.fixInterval = static_cast<int16_t>(TextToInt(f[1]));
    block.replyFlags |= replyFixInterval;
}

void DecodeMtkNmeaRates(GpsSharedStatus& block, const NmeaFields& f) {
    for (int i = 0; i < 19; ++i) {
        block.nmeaRates[i] = static_cast<uint8_t>(TextToInt(f[1 + i]));
    }
    block.replyFlags |= replyNmeaRates;
}

void DecodeMtkEpoStatus(GpsSharedStatus& block, const NmeaFields& f) {
    for (int i = 0; i < 9; ++i) {
        block.epoStatus[i] = TextToInt(f[1 + i]);
    }
    block.replyFlags |= replyEpoStatus;
}

int32_t MtkNumber(const NmeaFields& f) {
    return TextToInt(f[0].substr(5));
}

constexpr uint32_t Code(char a, char b, char c) {
    return static_cast<uint32_t>(static_cast<uint8_t>(a)) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8 | static_cast<uint8_t>(c);
}

// The sentence codes DecodeSentence has a case for; GLL and ZDA only with "Multi GNSS".
bool IsDecoded(uint32_t code, bool multiGnss) {
    switch (code) {
    case Code('G', 'L', 'L'):
    case Code('Z', 'D', 'A'):
        return multiGnss;
    case Code('G', 'G', 'A'):
    case Code('G', 'N', 'S'):
    case Code('G', 'S', 'A'):
    case Code('G', 'S', 'V'):
    case Code('R', 'M', 'C'):
    case Code('D', 'B', 'T'):
    case Code('T', 'K', '5'):
    case Code('T', 'K', '7'):
        return true;
    default:
        return false;
    }
}

} // namespace

void DecodeFix(GpsSharedStatus& block, PreciseFix& precise, const NmeaFields& f,
               const FixLayout& at, int32_t quality, Reading reading) {
    const bool today = reading == Reading::Today;
    // Today's receivers: quality 0 says the position fields hold no fix, whatever the last RMC
    // said.
    const bool valid = block.fixValid != 0 && (!today || quality > 0);
    if (valid) {
        StorePosition(block, precise, f, at.latitude, at.longitude, reading);
    }
    block.fixQuality = quality;
    precise.hasQuality = true;
    block.satsUsed = static_cast<uint8_t>(TextToInt(f[at.satellites]));
    if (valid) {
        StoreValue(f[at.altitude], reading, block.altitude, precise.altitude, precise.hasAltitude);
    }
    StoreValue(f[at.geoidSeparation], reading, block.geoidSeparation, precise.geoidSeparation,
               precise.hasGeoidSeparation);
    block.dgpsAge = TextToFloat(f[at.dgpsAge]);
    block.dgpsStation = TextToInt(f[at.dgpsStation]);

    // GGA knows only "fix" or "no fix": quality 0 spoils a 2D/3D state, any quality counts
    // as 3D until the next GSA says otherwise.
    if (quality == 0 &&
        (block.fixState == Byte(FixState::Fix2D) || block.fixState == Byte(FixState::Fix3D))) {
        block.fixState = Byte(FixState::Invalid);
    }
    if (quality > 0 && block.fixState != Byte(FixState::Fix3D)) {
        block.fixState = Byte(FixState::Fix3D);
    }
}

void ReadGsaNumbers(const NmeaFields& f, GsaNumbers& list) {
    for (int i = 0; i < 12; ++i) {
        list.numbers[i] = TextToInt(f[3 + i]);
    }
}

void DecodeGsa(GpsSharedStatus& block, PreciseFix& precise, const NmeaFields& f,
               const GsaNumbers& list) {
    const std::string_view mode = f[1];
    block.selectionMode = StartsWith(mode, 'A') ? 1 : StartsWith(mode, 'M') ? 2 : 0;
    // Stored without a range test; readers have no text for values outside FixState.
    block.fixState = static_cast<uint8_t>(TextToInt(f[2]));
    for (int i = 0; i < 12; ++i) {
        block.usedPrns[i] = static_cast<uint8_t>(list.numbers[i]);
    }
    precise.pdop = TextToDouble(f[15]);
    precise.hdop = TextToDouble(f[16]);
    precise.vdop = TextToDouble(f[17]);
    precise.hasDops = true;
    precise.hasHdop = true;
    block.pdop = static_cast<float>(precise.pdop);
    block.hdop = static_cast<float>(precise.hdop);
    block.vdop = static_cast<float>(precise.vdop);
}

void ReadGsvGroups(const NmeaFields& f, int satelliteFieldsEnd, GsvGroups& groups) {
    for (int k = 0; k < 4; ++k) {
        const int first = 4 + 4 * k;
        const auto field = [&](int i) { return i < satelliteFieldsEnd ? TextToInt(f[i]) : 0; };
        groups.numbers[k] = field(first);
        groups.present[k] = first < satelliteFieldsEnd && !f[first].empty();
        groups.entry[k] = {
            static_cast<int16_t>(groups.numbers[k]), static_cast<int16_t>(field(first + 1)),
            static_cast<int16_t>(field(first + 2)), static_cast<int16_t>(field(first + 3))};
    }
}

void DecodeGsv(GpsSharedStatus& block, const NmeaFields& f, const GsvGroups& groups) {
    block.satsInView = static_cast<uint8_t>(TextToInt(f[3]));
    WriteGsvEntries(block, f, groups);
}

void WriteGsvEntries(GpsSharedStatus& block, const NmeaFields& f, const GsvGroups& groups) {
    // Messages 1 to 3 fill the twelve entries; other message numbers have no place.
    const int32_t message = TextToInt(f[2]);
    if (message < 1 || message > 3) {
        return;
    }
    for (int k = 0; k < 4; ++k) {
        block.satellites[(message - 1) * 4 + k] = groups.entry[k];
    }
}

void DecodeRmc(ParserHost& port, GpsSharedStatus& block, const NmeaFields& f, Reading reading,
               bool position, bool fixOrNone) {
    // Counts on through 2^31 sentences by wrapping, never by overflowing.
    block.rmcCount = static_cast<int32_t>(static_cast<uint32_t>(block.rmcCount) + 1);
    const bool valid = !StartsWith(f[2], 'V');
    SetValidity(port, block, valid);

    PreciseFix& precise = port.precise;
    StoreTimeOfDay(block, precise, f[1], port.TickCount());
    StoreRmcDate(block, precise, f[9]);
    if (valid) {
        StoreValue(f[7], reading, block.speedKnots, precise.speedKnots, precise.hasSpeed);
        StoreValue(f[8], reading, block.course, precise.course, precise.hasCourse);
        if (position) {
            StorePosition(block, precise, f, 3, 5, reading);
        }
    }
    if (fixOrNone) {
        SetFixOrNone(block, valid);
    }
    port.FixReported(valid, TimeOfDayMilliseconds(f[1]));
    if (valid) {
        port.SyncClock(block);
        port.FixTimed();
    }
}

void SetValidity(ParserHost& port, GpsSharedStatus& block, bool valid) {
    if (block.fixValid != 0 && !valid) {
        port.timeSynced = 0; // the clock is set again at the next valid fix
    }
    block.fixValid = valid ? 1 : 0;
}

void SetFixOrNone(GpsSharedStatus& block, bool fix) {
    if (!fix) {
        block.fixState = Byte(FixState::NoFix);
    } else if (block.fixState != Byte(FixState::Fix2D) && block.fixState != Byte(FixState::Fix3D)) {
        block.fixState = Byte(FixState::Fix2D);
    }
}

void StoreValue(std::string_view field, Reading reading, float& stored, double& precise,
                bool& given) {
    if (reading == Reading::Today && field.empty()) {
        return;
    }
    precise = TextToDouble(field);
    stored = static_cast<float>(precise); // as TextToFloat reads it
    given = true;
}

bool StoreTimeOfDay(GpsSharedStatus& block, PreciseFix& precise, std::string_view time,
                    uint32_t tick) {
    if (time.size() < 6) {
        return false;
    }
    block.utcTime.wHour = Pair(time, 0);
    block.utcTime.wMinute = Pair(time, 2);
    block.utcTime.wSecond = Pair(time, 4);
    block.utcTime.wMilliseconds = Milliseconds(time);
    precise.hour = static_cast<uint8_t>(block.utcTime.wHour);
    precise.minute = static_cast<uint8_t>(block.utcTime.wMinute);
    precise.second = SecondsWithFraction(time);
    precise.timeTick = tick;
    precise.hasTime = true;
    return true;
}

void StoreDate(GpsSharedStatus& block, PreciseFix& precise, uint16_t day, uint16_t month,
               uint16_t year) {
    block.utcTime.wDay = day;
    block.utcTime.wMonth = month;
    block.utcTime.wYear = year;
    precise.day = static_cast<uint8_t>(day);
    precise.month = static_cast<uint8_t>(month);
    precise.year = year;
    precise.hasDate = true;
}

void StoreRmcDate(GpsSharedStatus& block, PreciseFix& precise, std::string_view date) {
    if (date.size() >= 6) {
        StoreDate(block, precise, Pair(date, 0), Pair(date, 2),
                  static_cast<uint16_t>(Pair(date, 4) + 2000));
    }
}

void StorePosition(GpsSharedStatus& block, PreciseFix& precise, const NmeaFields& f,
                   int latitudeField, int longitudeField, Reading reading) {
    if (reading == Reading::Today && (f[latitudeField].empty() || f[latitudeField + 1].empty() ||
                                      f[longitudeField].empty() || f[longitudeField + 1].empty())) {
        return;
    }
    ReadDegrees(f[latitudeField], StartsWith(f[latitudeField + 1], 'S'), block.latitude,
                precise.latitude);
    ReadDegrees(f[longitudeField], StartsWith(f[longitudeField + 1], 'W'), block.longitude,
                precise.longitude);
    precise.hasPosition = true;
}

int32_t GnsQuality(std::string_view mode) {
    // One mode letter per system; the first system with a fix gives the GGA quality.
    for (const char letter : mode) {
        switch (letter) {
        case 'A':
            return 1;
        case 'D':
            return 2;
        case 'P':
            return 3;
        case 'R':
            return 4;
        case 'F':
            return 5;
        case 'E':
            return 6;
        case 'M':
            return 7;
        case 'S':
            return 8;
        default:
            break; // 'N': this system has no fix
        }
    }
    return 0;
}

float DegreesFromDegreesMinutes(std::string_view text) {
    float stored;
    double precise;
    ReadDegrees(text, false, stored, precise);
    return stored;
}

int32_t TimeOfDayMilliseconds(std::string_view time) {
    if (time.size() < 6) {
        return -1;
    }
    int32_t digits[6];
    for (size_t i = 0; i < 6; ++i) {
        if (!IsDigit(time[i])) {
            return -1;
        }
        digits[i] = time[i] - '0';
    }
    const auto pair = [&](int at) { return digits[at] * 10 + digits[at + 1]; };
    return ((pair(0) * 60 + pair(2)) * 60 + pair(4)) * 1000 + Milliseconds(time);
}

void DecodeSentence(ParserHost& port, GpsSharedStatus& block, const char* text,
                    const SentenceScan& scan, bool injected, bool multiGnss) {
    // Up to the first comma; without one in the first 64 bytes, at least 64 bytes long, which
    // is all the tests below need to know.
    const size_t addressLength =
        scan.commas[0] != 0 ? static_cast<size_t>(__builtin_ctzll(scan.commas[0])) : scan.stop;
    if (addressLength < 6 ||
        !IsTalkerPrefix(reinterpret_cast<const uint8_t*>(text), addressLength, multiGnss)) {
        return;
    }
    // With "Multi GNSS" off, exactly the decoding of GPS-only days: every talker alike.
    const uint32_t code = Code(text[3], text[4], text[5]);
    if (multiGnss && code != Code('G', 'S', 'V')) {
        FlushGnssSky(port, block);
    }
    if (!IsDecoded(code, multiGnss)) {
        return; // most sentences a receiver sends: not worth splitting into fields
    }
    if ((code == Code('G', 'L', 'L') || code == Code('Z', 'D', 'A')) &&
        !GnssSentenceCounts(port, text[3] == 'G' && text[4] == 'L')) {
        return; // a receiver that sends RMC and GGA or GNS has no use for them
    }
    NmeaFields fields;
    fields.Split(text, scan.stop, scan.commas, SentenceScan::coveredBytes);
    const std::string_view address = fields[0];
    switch (code) {
    case Code('G', 'G', 'A'):
        if (multiGnss) {
            DecodeGnssFix(port, block, fields, ggaLayout, TextToInt(fields[6]), injected);
        } else {
            DecodeFix(block, port.precise, fields, ggaLayout, TextToInt(fields[6]),
                      Reading::GpsOnly);
        }
        break;
    case Code('G', 'N', 'S'):
        // Not from a proprietary address: "$PMGNST" is no GNS.
        if (multiGnss && address.size() == 6 && address[1] != 'P') {
            DecodeGnssFix(port, block, fields, gnsLayout, GnsQuality(fields[6]), injected);
        }
        break;
    case Code('G', 'L', 'L'):
        DecodeGnssGll(port, block, fields);
        break;
    case Code('Z', 'D', 'A'):
        DecodeGnssZda(port, block, fields);
        break;
    case Code('G', 'S', 'A'):
        if (multiGnss) {
            DecodeGnssGsa(port, block, fields);
        } else {
            GsaNumbers list;
            ReadGsaNumbers(fields, list);
            DecodeGsa(block, port.precise, fields, list);
        }
        break;
    case Code('G', 'S', 'V'):
        if (multiGnss) {
            DecodeGnssGsv(port, block, fields);
        } else {
            GsvGroups groups;
            ReadGsvGroups(fields, NmeaFields::capacity, groups);
            DecodeGsv(block, fields, groups);
        }
        break;
    case Code('R', 'M', 'C'):
        if (multiGnss) {
            DecodeGnssRmc(port, block, fields, injected);
        } else {
            DecodeRmc(port, block, fields, Reading::GpsOnly, false, false);
        }
        break;
    case Code('D', 'B', 'T'):
        DecodeDbt(block, port.precise, fields);
        break;
    case Code('T', 'K', '5'):
        if (const int32_t number = MtkNumber(fields); number == 500) {
            DecodeMtkFixInterval(block, fields);
        } else if (number == 514) {
            DecodeMtkNmeaRates(block, fields);
        }
        break;
    case Code('T', 'K', '7'):
        if (MtkNumber(fields) == 707) {
            DecodeMtkEpoStatus(block, fields);
        }
        break;
    default:
        break;
    }
}

} // namespace tavro
