// The setup tool's texts about the receiver: the fix status line, the line-load estimate and
// the notice for receivers that do not answer MTK queries.
#pragma once

#include "common/GpsSharedStatus.h"
#include "setup/SetupTables.h"

#include <stddef.h>
#include <stdint.h>

namespace tavro::setup {

inline constexpr char unsupportedNotice[] = "MTK2 commands not supported by this GPS.";
inline constexpr char noConnectionText[] = "No Connection";

inline constexpr size_t statusTextCapacity = 64;

// "No GPS" below PortOpen; then by fixState: "No NMEA", "None", "2D", "3D", and "No GPS" for
// any other value.
const char* FixWord(uint8_t streamState, uint8_t fixState);

// "Fix: %s   Fix counter: %d" with the fix word and rmcCount.
void FixStatusText(const GpsSharedStatus& block, char (&text)[statusTextCapacity]);

// The share of the line the chosen sentences take at `speed` and fix rate `rateIndex`, in per
// cent (integer arithmetic, one sentence of each rate's slot every rate-th fix). False when
// the speed carries less than 10 bytes a second (no speed chosen) or the rate index is
// outside the table: there is nothing to show then.
bool BandwidthEstimate(uint32_t speed, size_t rateIndex, const SentenceRates& rates, int& percent);

// "Bandwidth: %d%%"; false (and an empty text) when BandwidthEstimate has nothing to show.
bool BandwidthText(uint32_t speed, size_t rateIndex, const SentenceRates& rates,
                   char (&text)[statusTextCapacity]);

} // namespace tavro::setup
