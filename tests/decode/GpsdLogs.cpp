#include "tests/decode/GpsdLogs.h"

#include "tests/decode/CorpusSupport.h"
#include "tests/decode/FakeParserHost.h"
#include "tests/decode/TestFrames.h"

#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <set>
#include <utility>

namespace tavro::testing {
namespace {

// One 50 ms tick's worth of bytes at 38400 baud, and that speed in bytes per second.
constexpr size_t bytesPerTick = 192;
constexpr double bytesPerSecond = 3840;

bool IsHex(char c, bool lowerCase) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (lowerCase && c >= 'a' && c <= 'f');
}

int HexValue(char c) {
    return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}

// The time of day a sentence carries, in milliseconds; -1 for one without. `positionOnly`:
// of a sentence that carries a position.
int64_t SentenceTime(std::string_view frame, bool positionOnly = false) {
    const size_t start = frame.find_first_of("$!");
    if (start == std::string_view::npos) {
        return -1;
    }
    const std::vector<std::string> fields = Split(frame.substr(start, frame.find('*')), ',');
    if (fields[0].size() < 6) {
        return -1;
    }
    const std::string code = fields[0].substr(fields[0].size() - 3);
    const size_t at = code == "GLL"                                     ? 5
                      : code == "GGA" || code == "RMC" || code == "GNS" ? 1
                      : code == "ZDA" && !positionOnly                  ? 1
                                                                        : 0;
    if (at == 0 || fields.size() <= at || fields[at].size() < 6) {
        return -1;
    }
    const std::string& t = fields[at];
    for (size_t i = 0; i < 6; ++i) {
        if (t[i] < '0' || t[i] > '9') {
            return -1;
        }
    }
    return ((std::stoll(t.substr(0, 2)) * 60 + std::stoll(t.substr(2, 2))) * 60) * 1000 +
           static_cast<int64_t>(atof(t.c_str() + 4) * 1000);
}

// The host's tick count as the hub would have it: bytes take their time on the line at 38400
// baud, and a sentence's time of day moves the tick on to it, as the receiver sends an epoch
// when its second begins. A time that goes back, or jumps by more than a minute, only starts
// the count afresh.
class ReplayClock {
public:
    uint32_t Frame(std::string_view frame) {
        now_ += static_cast<double>(frame.size()) * 1000.0 / bytesPerSecond;
        if (const int64_t time = SentenceTime(frame); time >= 0) {
            const double at = static_cast<double>(time) + offset_;
            if (!timed_ || at < now_ || at > now_ + 60000) {
                offset_ = now_ - static_cast<double>(time);
                timed_ = true;
            } else {
                now_ = at;
            }
        }
        return static_cast<uint32_t>(static_cast<int64_t>(now_));
    }

private:
    double now_ = 0;
    double offset_ = 0;
    bool timed_ = false;
};

} // namespace

GpsdEnding ReadGpsdEnding(std::string_view expected) {
    GpsdEnding ending;
    for (const std::string& line : Lines(std::string(expected))) {
        if (line.empty() || line[0] != '{') {
            continue;
        }
        if (line.find("\"class\":\"TPV\"") != std::string::npos) {
            ending.mode = static_cast<int>(JsonNumber(line, "mode").value_or(0));
            if (const auto lat = JsonNumber(line, "lat"), lon = JsonNumber(line, "lon");
                lat && lon) {
                ending.latitude = lat;
                ending.longitude = lon;
                ending.timeOfDay = -1;
                if (const auto time = JsonString(line, "time"); time && time->size() >= 19) {
                    // "YYYY-MM-DDThh:mm:ss.sssZ"
                    ending.timeOfDay =
                        ((std::stoll(time->substr(11, 2)) * 60 + std::stoll(time->substr(14, 2))) *
                         60) *
                            1000 +
                        static_cast<int64_t>(atof(time->c_str() + 17) * 1000 + 0.5);
                }
            }
        } else if (line.find("\"class\":\"SKY\"") != std::string::npos) {
            const auto listed = JsonObjects(line, "satellites");
            const auto count = JsonNumber(line, "nSat");
            if (!count || listed.empty()) {
                continue;
            }
            ending.inView = static_cast<int>(*count);
            std::set<std::pair<int, int>> satellites;
            for (const std::string_view satellite : listed) {
                const int system = static_cast<int>(JsonNumber(satellite, "gnssid").value_or(-1));
                const int id = static_cast<int>(
                    JsonNumber(satellite, system < 0 ? "PRN" : "svid").value_or(0));
                satellites.insert({system, id});
            }
            ending.satellitesListed = static_cast<int>(satellites.size());
            ending.listsSignals = satellites.size() < listed.size();
        }
    }
    return ending;
}

HubEnding PlayGpsdLog(std::string_view log, bool multiGnss) {
    FakeParserHost port;
    port.multiGnss = multiGnss;
    HubEnding ending;
    const std::string data = ReceiverBytes(log);
    ReplayClock clock;
    for (const CutFrame& frame : CutLikePoll(data, bytesPerTick, nullptr, multiGnss)) {
        port.tick = clock.Frame(frame.bytes);
        const uint8_t before = port.block.fixState;
        std::vector<uint8_t> copy(frame.bytes.begin(), frame.bytes.end());
        copy.push_back(0);
        const uint8_t errorsBefore = port.checksumErrors;
        ParseFrame(port, copy.data(), static_cast<uint32_t>(frame.bytes.size()), false);
        ending.checksumErrors += port.checksumErrors == errorsBefore + 1 ? 1 : 0;
        const uint8_t invalid = static_cast<uint8_t>(FixState::Invalid);
        if (port.block.fixState == invalid && before != invalid) {
            ending.invalidBy = frame.bytes;
        }
        if (const int64_t time = SentenceTime(frame.bytes, true);
            time >= 0 && port.precise.hasPosition) {
            ending.epochPositions[time] = {port.precise.latitude, port.precise.longitude};
        }
    }
    ending.block = port.block;
    ending.precise = port.precise;
    return ending;
}

std::vector<std::string> GpsdLogNames(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".log") == 0) {
                names.push_back(name.substr(0, name.size() - 4));
            }
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string EndingRow(const std::string& log, bool multiGnss, const HubEnding& ending) {
    const PreciseFix& fix = ending.precise;
    const GpsSharedStatus& b = ending.block;
    char position[64] = "-";
    if (fix.hasPosition) {
        snprintf(position, sizeof position, "%.9f %.9f", fix.latitude, fix.longitude);
    }
    char altitude[32] = "-";
    if (fix.hasAltitude) {
        snprintf(altitude, sizeof altitude, "%.3f", fix.altitude);
    }
    char date[16] = "";
    if (fix.hasDate) {
        snprintf(date, sizeof date, "%04u-%02u-%02u", fix.year, fix.month, fix.day);
    }
    char time[48] = "-";
    if (fix.hasTime) {
        snprintf(time, sizeof time, "%sT%02u:%02u:%06.3fZ", date, fix.hour, fix.minute, fix.second);
    }
    char row[256];
    snprintf(row, sizeof row, "%s\t%d\t%s\t%s\t%d\t%d\t%d\t%d\t%s\t%d", log.c_str(),
             multiGnss ? 1 : 0, position, altitude, b.satsInView, b.satsUsed, b.fixState,
             b.fixValid, time, ending.checksumErrors);
    return row;
}

std::string ReceiverBytes(std::string_view log) {
    const std::string_view header = log.substr(0, HeaderLength(log));
    std::string data(log.substr(header.size()));
    constexpr std::string_view cookie = "# Delay-Cookie: ";
    if (const size_t at = header.find(cookie); at != std::string_view::npos) {
        const char boundary = header[at + cookie.size()];
        data.erase(std::remove(data.begin(), data.end(), boundary), data.end());
    }
    return data;
}

bool IsNmeaLog(std::string_view log) {
    size_t lines = 0;
    size_t sentences = 0;
    for (const std::string& line : Lines(std::string(log.substr(HeaderLength(log))))) {
        if (line.find_first_not_of(" \t") == std::string::npos || line[0] == '#') {
            continue; // gpsd reads "#" lines as comments wherever they are
        }
        ++lines;
        sentences += line[0] == '$' ? 1 : 0;
    }
    return lines != 0 && sentences * 2 >= lines;
}

const char* InvalidCause(std::string_view frame) {
    while (!frame.empty() && (frame.back() == '\n' || frame.back() == '\r')) {
        frame.remove_suffix(1);
    }
    while (frame.substr(0, 2) == "$$") {
        frame.remove_prefix(1); // read as one
    }
    if (frame.empty() || (frame[0] != '$' && frame[0] != '!')) {
        return "not a sentence";
    }
    const size_t star = frame.find('*');
    if (star == std::string_view::npos || star + 2 >= frame.size() ||
        !IsHex(frame[star + 1], true) || !IsHex(frame[star + 2], true)) {
        return star == std::string_view::npos ? "not a sentence" : "checksum error";
    }
    uint8_t sum = 0;
    for (size_t i = 1; i < star; ++i) {
        sum = static_cast<uint8_t>(sum ^ static_cast<uint8_t>(frame[i]));
    }
    if (sum != HexValue(frame[star + 1]) * 16 + HexValue(frame[star + 2])) {
        return "checksum error";
    }
    return IsHex(frame[star + 1], false) && IsHex(frame[star + 2], false) ? "sentence"
                                                                          : "not a sentence";
}

} // namespace tavro::testing
