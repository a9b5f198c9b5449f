// The sentences of one fix, in the order an MTK receiver sends them.
#pragma once

#include "tools/gps-sim/FixSnapshot.h"
#include "tools/gps-sim/SentenceRates.h"

#include <stdint.h>
#include <string>
#include <vector>

namespace tavro::gpssim {

// Each returns one framed sentence ("$...*hh\r\n") from the fix.
std::string GgaSentence(const FixSnapshot& fix);
std::string GllSentence(const FixSnapshot& fix);
std::string GsaSentence(const FixSnapshot& fix);
std::vector<std::string> GsvSentences(const FixSnapshot& fix); // one to three messages
std::string RmcSentence(const FixSnapshot& fix);
std::string VtgSentence(const FixSnapshot& fix);
std::string ZdaSentence(const FixSnapshot& fix);
std::string GrsSentence(const FixSnapshot& fix);
std::string GstSentence(const FixSnapshot& fix);
std::string ChnSentence(const FixSnapshot& fix);

// The sentences due at fix number `fixIndex` (counted from 0) under `rates`: a slot with
// rate n is sent when fixIndex is a multiple of n.
std::vector<std::string> EpochSentences(const FixSnapshot& fix, const SentenceRates& rates,
                                        uint64_t fixIndex);

} // namespace tavro::gpssim
