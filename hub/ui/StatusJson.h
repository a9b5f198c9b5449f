// The status block as JSON, for `tavro status --json` and the dashboard: every field under its
// name, the stream and fix words of the status line, the fix time in ISO 8601 UTC, each
// satellite with its constellation and whether it is in the fix, and null for what the
// receiver has not reported (a time, the MTK answers).
#pragma once

#include "common/GpsSharedStatus.h"

#include <nlohmann/json.hpp>

#include <string>

namespace tavro {

// The block's members, added to `object`.
void AddBlockJson(const GpsSharedStatus& block, nlohmann::ordered_json& object);

// One satellite: its id, place, signal, constellation and whether it is in the fix.
nlohmann::ordered_json SatelliteJson(const SatelliteEntry& satellite, bool used);

// The shortest text that reads back as the same float, as a JSON number; null for NaN and
// infinities.
nlohmann::ordered_json RealJson(float value);

// "2024-05-01T12:34:56.789Z", or "" while the block holds no calendar date.
std::string IsoTime(const SystemTime& time);

} // namespace tavro
