// The sentences of one fix of a receiver that tracks several constellations, as a u-blox M8/M9
// sends them by default (NMEA 4.11): the combined fix with the talker GN (RMC, VTG, GGA, GLL),
// one GNGSA per constellation with its system id, and GSV cycles per constellation ($GPGSV,
// $GLGSV, $GAGSV, $GBGSV) that end with their signal id.
#pragma once

#include "tools/gps-sim/FixSnapshot.h"
#include "tools/gps-sim/SentenceRates.h"

#include <stdint.h>
#include <string>
#include <vector>

namespace tavro::gpssim {

std::string GnRmcSentence(const FixSnapshot& fix);
// Satellites used, as a u-blox counts them in GGA: at most 12.
std::string GnGgaSentence(const FixSnapshot& fix);
// One per constellation in `systems`, GPS first.
std::vector<std::string> GnGsaSentences(const FixSnapshot& fix, uint32_t systems);
// One cycle per constellation in `systems`.
std::vector<std::string> GnssGsvSentences(const FixSnapshot& fix, uint32_t systems);

// The sentences due at fix number `fixIndex` under `rates` (as EpochSentences), in a u-blox's
// order: RMC, VTG, GGA, GSA, GSV, GLL, then ZDA, GRS, GST and CHN.
std::vector<std::string> GnssEpochSentences(const FixSnapshot& fix, const SentenceRates& rates,
                                            uint64_t fixIndex, uint32_t systems);

} // namespace tavro::gpssim
