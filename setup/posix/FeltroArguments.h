// The arguments of the `feltro` verbs, checked before anything is sent to a receiver.
#pragma once

#include "setup/SetupTables.h"

#include <stddef.h>
#include <string>
#include <vector>

namespace tavro::feltro {

// One of the offered line speeds ("9600"); its index in lineSpeeds.
bool ParseLineSpeed(const char* text, size_t& index);

// A fix rate as "5", "5Hz" (1-5 Hz) or "200", "200ms" (an interval of the table); a bare
// number up to 5 is a rate in Hz, above it an interval in milliseconds. Its index in
// fixIntervals.
bool ParseFixRate(const char* text, size_t& index);

struct RateAssignment {
    size_t slot;
    uint8_t rate;
};

// "GLL=0 RMC=1 ..." (labels in any case, rates 0-5, each slot at most once). False with a
// message in `error` for anything else.
bool ParseRateAssignments(const std::vector<std::string>& words,
                          std::vector<RateAssignment>& assignments, std::string& error);

// The rates to send for `feltro nmea`: the named slots at their rates, the others at the
// receiver's rates when it reported them (`reported`), else at their defaults.
setup::SentenceRates MergeRates(const std::vector<RateAssignment>& assignments,
                                const setup::SentenceRates* reported);

// "--wait SECONDS" (0 to 60, fractions allowed) in milliseconds.
bool ParseWaitSeconds(const char* text, int& milliseconds);

} // namespace tavro::feltro
