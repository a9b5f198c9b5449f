// gpsd's regression logs played through the decoder as the input port hands them over, and
// what gpsd's expected output (`.log.chk`) says at the end of each: the last position, the
// satellites in view and whether there is a fix.
#pragma once

#include "common/GpsSharedStatus.h"
#include "hub/decode/PreciseFix.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tavro::testing {

// The names of the logs ("<name>.log") in `folder`, sorted; none when it cannot be read.
std::vector<std::string> GpsdLogNames(const std::string& folder);

// gpsd's last reports of one log.
struct GpsdEnding {
    std::optional<double> latitude; // of the last report that had a position
    std::optional<double> longitude;
    int64_t timeOfDay = -1;    // of that report, milliseconds; -1 when it had no time
    int mode = 0;              // of the last position report: 0 none, 1 no fix, 2 2D, 3 3D
    std::optional<int> inView; // "nSat" of the last sky report that listed satellites
    int satellitesListed = 0;  // that list, each satellite once (gpsd lists signals)
    bool listsSignals = false; // a satellite appears more than once in it
};

GpsdEnding ReadGpsdEnding(std::string_view expected);

// The block, and what the decoder keeps beside it, after the last frame of a log.
struct HubEnding {
    GpsSharedStatus block{};
    PreciseFix precise;
    // The position after the last position sentence (GGA, GNS, RMC, GLL) of each time of day
    // in milliseconds: what the hub showed at the end of each epoch.
    std::map<int64_t, std::pair<double, double>> epochPositions;
    int checksumErrors = 0; // frames counted as checksum errors
    // The last frame that turned the fix state Invalid, as received ("" when none did).
    std::string invalidBy;
};

// Plays the log's data (after its leading comment lines, and without the write boundaries a
// "Delay-Cookie" header marks, which are no receiver data) in reads of one 50 ms tick at 38400
// baud, gpsd's own replay speed, with a tick count that follows the receiver's pace: the
// bytes' time on the line, and each sentence's time of day.
HubEnding PlayGpsdLog(std::string_view log, bool multiGnss = true);

// The ending as one line of the in-tree expectations (tests/data/gpsd/expected.tsv): the log,
// the setting, position, altitude, satellites in view and used, fix state, fixValid, the time
// and the frames counted as checksum errors, tab-separated; "-" for what is not known.
std::string EndingRow(const std::string& log, bool multiGnss, const HubEnding& ending);

// Whether the log's data is NMEA text: at least half of its non-empty lines after the leading
// comment lines are "$" sentences, "#" comment lines not counted (which leaves out binary,
// AIS-only and RTCM logs).
bool IsNmeaLog(std::string_view log);

// The receiver's bytes of a log: its data after the leading comment lines, without the write
// boundaries ("Delay-Cookie") gpsd's replay would take out.
std::string ReceiverBytes(std::string_view log);

// What kind of line turned a fix Invalid: "not a sentence" (no "$"/"!" start, no checksum,
// a lower-case checksum that is right), "checksum error" (a sentence whose
// checksum is wrong) or "sentence" (a verified one, a GGA without a fix).
const char* InvalidCause(std::string_view frame);

} // namespace tavro::testing
