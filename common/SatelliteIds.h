// The satellite ids of the status block: one number space for every constellation, so that a
// satellites entry or a used id says which satellite it is without its talker.
//
//   GPS      1-32     as NMEA numbers them
//   SBAS     33-64    NMEA's numbers (PRN 120-151 less 87); 152-158 for PRNs beyond
//   GLONASS  65-96    NMEA's numbers (slot + 64)
//   QZSS     193-202  NMEA's numbers (PRN 193-202)
//   Galileo  301-336  300 + the satellite number of a $GA sentence
//   BeiDou   401-463  400 + the satellite number of a $GB/$BD sentence
//   NavIC    501-520  500 + the satellite number of a $GI sentence
//
// These are also the numbers other tools commonly show for these satellites. Every id fits the
// 16-bit prn of a satellites entry; the used list (usedPrns) holds 8 bits, so Galileo, BeiDou
// and NavIC ids do not fit there: they are left out of usedPrns (never cut to 8 bits, which
// would name another satellite), still counted in satsUsed, and marked in usedEntries when
// they are in the satellites table.
#pragma once

#include "common/GpsSharedStatus.h"

#include <stdint.h>

namespace tavro {

enum class Constellation : uint8_t {
    Unknown,
    Gps,
    Sbas,
    Glonass,
    Galileo,
    BeiDou,
    Qzss,
    NavIc,
};

constexpr Constellation ConstellationOf(int id) {
    if (id >= 1 && id <= 32) {
        return Constellation::Gps;
    }
    if ((id >= 33 && id <= 64) || (id >= 152 && id <= 158)) {
        return Constellation::Sbas;
    }
    if (id >= 65 && id <= 96) {
        return Constellation::Glonass;
    }
    if (id >= 193 && id <= 202) {
        return Constellation::Qzss;
    }
    if (id >= 301 && id <= 336) {
        return Constellation::Galileo;
    }
    if (id >= 401 && id <= 463) {
        return Constellation::BeiDou;
    }
    if (id >= 501 && id <= 520) {
        return Constellation::NavIc;
    }
    return Constellation::Unknown;
}

// "GPS", "SBAS", "GLONASS", "Galileo", "BeiDou", "QZSS", "NavIC"; "" for Unknown.
constexpr const char* ConstellationName(Constellation constellation) {
    switch (constellation) {
    case Constellation::Gps:
        return "GPS";
    case Constellation::Sbas:
        return "SBAS";
    case Constellation::Glonass:
        return "GLONASS";
    case Constellation::Galileo:
        return "Galileo";
    case Constellation::BeiDou:
        return "BeiDou";
    case Constellation::Qzss:
        return "QZSS";
    case Constellation::NavIc:
        return "NavIC";
    case Constellation::Unknown:
        break;
    }
    return "";
}

// Whether satellites entry `index` (0-11) is marked used in `usedEntries`.
constexpr bool EntryUsed(uint16_t usedEntries, int index) {
    return index >= 0 && index < 12 && (usedEntries >> index & 1) != 0;
}

// Whether satellites entry `index` of the block is used in the fix: by usedEntries while the
// hub writes it, else by usedPrns.
constexpr bool SatelliteUsed(const GpsSharedStatus& block, int index) {
    if (index < 0 || index >= 12) {
        return false;
    }
    if (block.usedEntries != 0) {
        return EntryUsed(block.usedEntries, index);
    }
    const int prn = block.satellites[index].prn;
    for (const uint8_t used : block.usedPrns) {
        if (prn > 0 && used == prn) {
            return true;
        }
    }
    return false;
}

} // namespace tavro
