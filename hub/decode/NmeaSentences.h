// Decoding of the NMEA sentences the hub understands into the status block.
#pragma once

#include "common/GpsSharedStatus.h"
#include "hub/decode/NmeaFields.h"
#include "hub/decode/ParserHost.h"

namespace tavro {

// Decodes a verified sentence whose address field starts with a known talker prefix: GGA,
// GSA, GSV, RMC, DBT and the MTK replies $PMTK500, $PMTK514 and $PMTK707. Other sentence
// codes are ignored.
void DecodeSentence(ParserHost& port, GpsSharedStatus& block, const NmeaFields& fields);

// GGA latitude or longitude text (ddmm.mmmm or dddmm.mmmm) in degrees, unsigned.
float DegreesFromDegreesMinutes(std::string_view text);

} // namespace tavro
