#include "tools/gps-sim/Options.h"

#include "tools/gps-sim/MtkReceiver.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace tavro::gpssim {
namespace {

template <typename Number>
bool ParseWhole(const std::string& text, Number& value) {
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && result.ec == std::errc() && result.ptr == text.data() + text.size();
}

bool ParseReal(const std::string& text, double& value) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size() && std::isfinite(value);
}

bool ParseConstellations(const std::string& text, uint32_t& systems) {
    static constexpr std::pair<const char*, SkySystem> names[] = {
        {"gps", SkySystem::Gps},
        {"glonass", SkySystem::Glonass},
        {"galileo", SkySystem::Galileo},
        {"beidou", SkySystem::BeiDou},
    };
    systems = 0;
    size_t begin = 0;
    for (;;) {
        const size_t end = std::min(text.find(',', begin), text.size());
        const std::string name = text.substr(begin, end - begin);
        bool known = false;
        for (const auto& [word, system] : names) {
            if (name == word) {
                systems |= SystemBit(system);
                known = true;
            }
        }
        if (!known) {
            return false;
        }
        if (end == text.size()) {
            return true;
        }
        begin = end + 1;
    }
}

} // namespace

std::string HelpText() {
    return R"(Usage: gps-sim --com <n> [options]

A GPS receiver on a pseudo-terminal, for testing Tavro and the programs around it. The
terminal is linked into the COM directory as COM<n> (the directory is $TAVRO_DEVDIR, else
$XDG_RUNTIME_DIR/tavro, else /tmp/tavro-<uid>), so it opens like any other COM port there.

It sends a live NMEA stream of a vehicle driving a loop (GGA, GSA, GSV and RMC once a second,
with satellites, dilutions, time from the system clock and a 3D fix), or replays a recording.
Bytes leave at the line's byte rate (baud / 10 per second). It answers MTK commands like a
MediaTek receiver: $PMTK400 -> $PMTK500, $PMTK414 -> $PMTK514, $PMTK607 -> $PMTK707, and
obeys $PMTK251 (line speed, after its acknowledgement), $PMTK220/$PMTK300 (fix interval) and
$PMTK314 (sentence rates, "-1" for the defaults), acknowledging with $PMTK001,<cmd>,<flag>.
While the speed set on the line differs from its own, it sends noise, as a receiver heard at
the wrong speed does, and ignores what it is sent.

Options:
  --com <n>            COM number to appear as (1-255); required
  --baud <b>           starting line speed (default 4800; 4800, 9600, 14400, 19200, 38400,
                       57600 or 115200)
  --replay <file>      replay a recording (NMEA text or SiRF binary; leading '#' comment
                       lines are skipped), looping, instead of the drive
  --once               with --replay: play the recording once, from the moment a client
                       first opens the line, then stay silent
  --rate <hz>          fixes per second, 1-10 (default 1)
  --interval <ms>      time between fixes, 100-10000 ms (the same as --rate, finer)
  --emit-delay <ms>    a timing reference for time services: each fix's first byte leaves
                       this many ms (0-500) after the fix's time on the system clock and is
                       written, alone, when its last bit would be on the line (one byte time
                       later), to within a few microseconds; the rest follows at the line's
                       rate. A time service fed by the hub then sees the clock lag by the
                       delay plus one byte time; gps-sim says both at start
  --start <lat,lon>    start of the drive in degrees, e.g. 52.52,13.405 (south and west
                       negative; default 48.1173,11.5167)
  --fix <3d|2d|none>   fix the receiver reports (default 3d)
  --constellations <list>
                       what the receiver tracks, any of gps, glonass, galileo, beidou joined
                       by commas (default gps). With more than GPS it talks as a u-blox M8/M9
                       does by default (NMEA 4.11): $GNRMC, $GNVTG, $GNGGA, one $GNGSA per
                       constellation with its system id, $GPGSV, $GLGSV, $GAGSV, $GBGSV
                       cycles with their signal ids, and $GNGLL
  --seed <n>           route, sky and noise of this seed (default 1)
  --no-garbage         send clean data whatever speed the line is set to
  --log <file>         append received commands and events to this file
  --quiet              no messages on standard error except errors
  --force              replace a COM<n> link that names a device still present
  --help               this text
  --version            the release it belongs to

Messages go to standard error, each line with the local time (without it when journald reads
the stream). Exit codes: 0 stopped by a signal; 1 could not start; 2 usage.

Stop it with Ctrl-C (SIGINT) or SIGTERM; it removes its COM link on the way out.
)";
}

bool ParseOptions(const std::vector<std::string>& arguments, Options& options, std::string& error) {
    options = Options{};
    bool comGiven = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& name = arguments[i];
        const auto value = [&](std::string& text) {
            if (i + 1 >= arguments.size()) {
                error = name + " needs a value";
                return false;
            }
            text = arguments[++i];
            return true;
        };
        std::string text;
        if (name == "--help" || name == "-h") {
            options.help = true;
        } else if (name == "--version") {
            options.version = true;
        } else if (name == "--com") {
            if (!value(text)) {
                return false;
            }
            if (!ParseWhole(text, options.comNumber) || options.comNumber < 1 ||
                options.comNumber > 255) {
                error = "--com takes a number from 1 to 255, not '" + text + "'";
                return false;
            }
            comGiven = true;
        } else if (name == "--baud") {
            if (!value(text)) {
                return false;
            }
            if (!ParseWhole(text, options.baud) || !MtkReceiver::IsSupportedBaud(options.baud)) {
                error = "--baud takes 4800, 9600, 14400, 19200, 38400, 57600 or 115200, not '" +
                        text + "'";
                return false;
            }
        } else if (name == "--replay") {
            if (!value(options.replayPath)) {
                return false;
            }
        } else if (name == "--rate") {
            uint32_t hz = 0;
            if (!value(text)) {
                return false;
            }
            if (!ParseWhole(text, hz) || hz < 1 || hz > 10) {
                error = "--rate takes 1 to 10 fixes per second, not '" + text + "'";
                return false;
            }
            options.fixIntervalMs = 1000 / hz;
        } else if (name == "--interval") {
            if (!value(text)) {
                return false;
            }
            if (!ParseWhole(text, options.fixIntervalMs) || options.fixIntervalMs < 100 ||
                options.fixIntervalMs > 10000) {
                error = "--interval takes 100 to 10000 ms, not '" + text + "'";
                return false;
            }
        } else if (name == "--emit-delay") {
            uint32_t delay = 0;
            if (!value(text)) {
                return false;
            }
            if (!ParseWhole(text, delay) || delay > 500) {
                error = "--emit-delay takes 0 to 500 ms, not '" + text + "'";
                return false;
            }
            options.emitDelayMs = static_cast<int32_t>(delay);
        } else if (name == "--start") {
            if (!value(text)) {
                return false;
            }
            const size_t comma = text.find(',');
            if (comma == std::string::npos ||
                !ParseReal(text.substr(0, comma), options.startLatitude) ||
                !ParseReal(text.substr(comma + 1), options.startLongitude) ||
                std::fabs(options.startLatitude) > 85.0 ||
                std::fabs(options.startLongitude) > 180.0) {
                error =
                    "--start takes <lat,lon> in degrees (latitude within 85), not '" + text + "'";
                return false;
            }
        } else if (name == "--fix") {
            if (!value(text)) {
                return false;
            }
            if (text == "3d") {
                options.fix = FixMode::Fix3D;
            } else if (text == "2d") {
                options.fix = FixMode::Fix2D;
            } else if (text == "none") {
                options.fix = FixMode::None;
            } else {
                error = "--fix takes 3d, 2d or none, not '" + text + "'";
                return false;
            }
        } else if (name == "--constellations") {
            if (!value(text)) {
                return false;
            }
            if (!ParseConstellations(text, options.systems)) {
                error = "--constellations takes gps, glonass, galileo and beidou joined by "
                        "commas, not '" +
                        text + "'";
                return false;
            }
        } else if (name == "--seed") {
            if (!value(text)) {
                return false;
            }
            if (!ParseWhole(text, options.seed)) {
                error = "--seed takes a whole number, not '" + text + "'";
                return false;
            }
        } else if (name == "--once") {
            options.once = true;
        } else if (name == "--no-garbage") {
            options.garbage = false;
        } else if (name == "--log") {
            if (!value(options.logPath)) {
                return false;
            }
        } else if (name == "--quiet") {
            options.quiet = true;
        } else if (name == "--force") {
            options.force = true;
        } else {
            error = "unknown option '" + name + "' (see --help)";
            return false;
        }
    }
    if (options.once && options.replayPath.empty()) {
        error = "--once plays a recording: it needs --replay";
        return false;
    }
    if (!options.help && !options.version && !comGiven) {
        error = "--com <n> is required (see --help)";
        return false;
    }
    return true;
}

} // namespace tavro::gpssim
