// Decoding of the NMEA sentences the hub understands into the status block.
#pragma once

#include "common/GpsSharedStatus.h"
#include "hub/decode/NmeaFields.h"
#include "hub/decode/ParserHost.h"
#include "hub/decode/PreciseFix.h"
#include "hub/decode/SentenceScan.h"

namespace tavro {

// Decodes a verified sentence, `text` up to (not including) its checksum "*" at scan.stop (see
// SentenceScan for what else the scan found), when its address
// field starts with a known talker prefix (Talker.h; `multiGnss` is the "Multi GNSS" setting):
// GGA, GSA, GSV, RMC, DBT and the MTK replies $PMTK500, $PMTK514 and $PMTK707; with
// "Multi GNSS" on also GNS, GLL and ZDA, and all of them the way of today's receivers
// (GnssSentences.h). Other sentence codes are ignored. `injected`: the frame came from another
// program (InjectFrame), which means it to count whatever talker the receiver prefers.
void DecodeSentence(ParserHost& port, GpsSharedStatus& block, const char* text,
                    const SentenceScan& scan, bool injected, bool multiGnss);

// GGA latitude or longitude text (ddmm.mmmm or dddmm.mmmm) in degrees, unsigned, as the block
// stores it (the sixtieth in single precision).
float DegreesFromDegreesMinutes(std::string_view text);

// The time of day of "hhmmss[.sss]" in milliseconds; -1 for a field that holds none.
int32_t TimeOfDayMilliseconds(std::string_view time);

// ---- Pieces of both ways of reading --------------------------------------------------------

// How values are taken from their fields: as GPS-only receivers' always were, an empty field
// as 0; or the way of today's receivers ("Multi GNSS" on), where an empty field leaves the
// value alone (a receiver that loses its fix empties its fields) and a GGA or GNS without a
// fix gives no position.
enum class Reading : uint8_t { GpsOnly, Today };

// fixValid, and the clock set again at the next valid fix once it is lost.
void SetValidity(ParserHost& port, GpsSharedStatus& block, bool valid);

// Fix or no fix from a sentence that knows nothing of 2D or 3D (RMC, GLL): a fix the block
// already shows as 2D or 3D stays so.
void SetFixOrNone(GpsSharedStatus& block, bool fix);

// A value field into the block's float and the precise fix (`given` set).
void StoreValue(std::string_view field, Reading reading, float& stored, double& precise,
                bool& given);

// The time of day "hhmmss[.sss]" into utcTime (hour, minute, second, milliseconds) and the
// precise fix, stamped with `tick`; false, and nothing written, below 6 characters.
bool StoreTimeOfDay(GpsSharedStatus& block, PreciseFix& precise, std::string_view time,
                    uint32_t tick);

// The date into utcTime (wDayOfWeek untouched) and the precise fix.
void StoreDate(GpsSharedStatus& block, PreciseFix& precise, uint16_t day, uint16_t month,
               uint16_t year);

// RMC's date "ddmmyy", the year 2000 + yy; nothing below 6 characters.
void StoreRmcDate(GpsSharedStatus& block, PreciseFix& precise, std::string_view date);

// Latitude and longitude from their fields, each followed by its hemisphere ("S" and "W"
// negative), into the block and the precise fix.
void StorePosition(GpsSharedStatus& block, PreciseFix& precise, const NmeaFields& f,
                   int latitudeField, int longitudeField, Reading reading);

// ---- The sentences one at a time, as GPS-only receivers are read ---------------------------

// Field numbers of a fix in a position sentence; each hemisphere follows its coordinate.
struct FixLayout {
    int latitude;
    int longitude;
    int satellites;
    int altitude;
    int geoidSeparation;
    int dgpsAge;
    int dgpsStation;
};
inline constexpr FixLayout ggaLayout = {2, 4, 7, 9, 11, 13, 14};
inline constexpr FixLayout gnsLayout = {2, 4, 7, 9, 10, 11, 12};

// Position (while fixValid), quality, satellites used, altitude, geoid separation and the
// DGPS fields; then the fix state as GGA sets it.
void DecodeFix(GpsSharedStatus& block, PreciseFix& precise, const NmeaFields& f,
               const FixLayout& at, int32_t quality, Reading reading);

// The GGA quality of a GNS mode field: one letter per system, the first with a fix counts
// (A 1, D 2, P 3, R 4, F 5, E 6, M 7, S 8); all "N" or none gives 0.
int32_t GnsQuality(std::string_view mode);

// The twelve satellite numbers of a GSA (fields 3 to 14), 0 where empty.
struct GsaNumbers {
    int32_t numbers[12];
};
void ReadGsaNumbers(const NmeaFields& f, GsaNumbers& list);

// Mode, fix state, the twelve used PRNs (low bytes, in place) and the dilutions.
void DecodeGsa(GpsSharedStatus& block, PreciseFix& precise, const NmeaFields& f,
               const GsaNumbers& list);

// The four satellites of a GSV message (fields 4 to 19) as its fields give them; fields from
// `satelliteFieldsEnd` on read as empty (a trailing signal id is no satellite).
struct GsvGroups {
    int32_t numbers[4];      // the satellite numbers, 0 where empty
    bool present[4];         // the number field is not empty
    SatelliteEntry entry[4]; // low 16 bits of each field, as the block stores them
};
void ReadGsvGroups(const NmeaFields& f, int satelliteFieldsEnd, GsvGroups& groups);

// satsInView (field 3) and, for messages 1 to 3 (field 2), the message's four entries.
void DecodeGsv(GpsSharedStatus& block, const NmeaFields& f, const GsvGroups& groups);

// The entries alone.
void WriteGsvEntries(GpsSharedStatus& block, const NmeaFields& f, const GsvGroups& groups);

// Count, validity, time, date, and while valid speed and course; `position` and the fix or
// none (`fixOrNone`) where nothing better gives them; then the clock check.
void DecodeRmc(ParserHost& port, GpsSharedStatus& block, const NmeaFields& f, Reading reading,
               bool position, bool fixOrNone);

} // namespace tavro
