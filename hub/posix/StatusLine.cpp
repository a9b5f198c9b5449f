#include "hub/posix/StatusLine.h"

#include "common/SatelliteIds.h"

#include <cmath>
#include <cstdio>

namespace tavro {
namespace {

// Error codes of a failed open, as the main window words them.
constexpr uint32_t fileNotFoundCode = 2;
constexpr uint32_t accessDeniedCode = 5;
constexpr uint32_t semTimeoutCode = 121;
constexpr uint32_t notFoundCode = 1168;

void AppendNumber(std::string& json, const char* name, double value) {
    char text[64];
    if (std::isfinite(value)) {
        std::snprintf(text, sizeof text, "\"%s\":%.9g,", name, value);
    } else {
        std::snprintf(text, sizeof text, "\"%s\":null,", name);
    }
    json += text;
}

void AppendInteger(std::string& json, const char* name, long long value) {
    char text[64];
    std::snprintf(text, sizeof text, "\"%s\":%lld,", name, value);
    json += text;
}

template <typename T, size_t N>
void AppendArray(std::string& json, const char* name, const T (&values)[N]) {
    json += '"';
    json += name;
    json += "\":[";
    for (size_t i = 0; i < N; ++i) {
        char text[24];
        std::snprintf(text, sizeof text, i + 1 < N ? "%lld," : "%lld",
                      static_cast<long long>(values[i]));
        json += text;
    }
    json += "],";
}

void AppendString(std::string& json, const char* name, const char* value) {
    json += '"';
    json += name;
    json += "\":\"";
    for (const char* c = value; *c != '\0'; ++c) {
        const auto byte = static_cast<unsigned char>(*c);
        if (byte == '"' || byte == '\\') {
            json += '\\';
            json += *c;
        } else if (byte < 0x20 || byte >= 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            json += escaped;
        } else {
            json += *c;
        }
    }
    json += "\",";
}

} // namespace

const char* StreamText(uint8_t streamState) {
    switch (streamState) {
    case 1:
        return "Port Closed";
    case 2:
        return "Unknown Data";
    case 3:
        return "NMEA Stream";
    case 4:
        return "SiRF Stream";
    default:
        return "";
    }
}

const char* FixText(uint8_t fixState) {
    switch (fixState) {
    case 0:
        return "No Fix";
    case 1:
        return "Low Signal";
    case 2:
        return "2D Fix";
    case 3:
        return "3D Fix";
    case 5:
        return "Invalid";
    default:
        return "";
    }
}

void PortClosedText(uint32_t lastOpenError, char (&text)[statusLineCapacity]) {
    switch (lastOpenError) {
    case 0:
        std::snprintf(text, sizeof text, "Port Closed");
        break;
    case fileNotFoundCode:
    case notFoundCode:
        std::snprintf(text, sizeof text, "Port Doesn't Exist");
        break;
    case accessDeniedCode:
        std::snprintf(text, sizeof text, "Port Access Denied");
        break;
    case semTimeoutCode:
        std::snprintf(text, sizeof text, "Port Open Timeout");
        break;
    default:
        // The main window formats the code with %d.
        std::snprintf(text, sizeof text, "Port Open Failed: %d", static_cast<int>(lastOpenError));
        break;
    }
}

void FormatStatusLine(const GpsSharedStatus& block, bool inputPortOpen, uint32_t lastOpenError,
                      char (&text)[statusLineCapacity]) {
    if (!inputPortOpen) {
        PortClosedText(lastOpenError, text);
        return;
    }
    const bool streaming = block.streamState >= 2;
    char satellites[16] = "";
    if (streaming) {
        std::snprintf(satellites, sizeof satellites, "%d SVs", block.satsUsed);
    }
    std::snprintf(text, sizeof text, "%s | %s | %s :%02d", StreamText(block.streamState),
                  streaming ? FixText(block.fixState) : "", satellites, block.utcTime.wSecond);
}

void FormatReaderStatusLine(const GpsSharedStatus& block, char (&text)[statusLineCapacity]) {
    if (block.streamState == static_cast<uint8_t>(StreamState::Detached)) {
        std::snprintf(text, sizeof text, "%s", hubNotRunningText);
        return;
    }
    FormatStatusLine(block, block.streamState >= static_cast<uint8_t>(StreamState::PortOpen), 0,
                     text);
}

std::string StatusJson(const GpsSharedStatus& block, bool hubRunning, const char* statusLine) {
    std::string json = "{";
    json += hubRunning ? "\"hubRunning\":true," : "\"hubRunning\":false,";
    AppendString(json, "statusLine", statusLine != nullptr ? statusLine : "");
    AppendInteger(json, "streamState", block.streamState);
    AppendString(json, "streamText", StreamText(block.streamState));
    AppendInteger(json, "fixValid", block.fixValid);
    AppendInteger(json, "comPort", block.comPort);
    AppendInteger(json, "relayHeld", block.relayHeld);
    AppendInteger(json, "refCount", block.refCount);
    AppendInteger(json, "replyFlags", block.replyFlags);
    AppendInteger(json, "fixInterval", block.fixInterval);
    AppendInteger(json, "rmcCount", block.rmcCount);
    AppendInteger(json, "baudRate", block.baudRate);
    const SystemTime& time = block.utcTime;
    char utc[160];
    std::snprintf(utc, sizeof utc,
                  "\"utcTime\":{\"wYear\":%u,\"wMonth\":%u,\"wDayOfWeek\":%u,\"wDay\":%u,"
                  "\"wHour\":%u,\"wMinute\":%u,\"wSecond\":%u,\"wMilliseconds\":%u},",
                  time.wYear, time.wMonth, time.wDayOfWeek, time.wDay, time.wHour, time.wMinute,
                  time.wSecond, time.wMilliseconds);
    json += utc;
    AppendNumber(json, "latitude", block.latitude);
    AppendNumber(json, "longitude", block.longitude);
    AppendInteger(json, "fixQuality", block.fixQuality);
    AppendNumber(json, "altitude", block.altitude);
    AppendNumber(json, "geoidSeparation", block.geoidSeparation);
    AppendNumber(json, "dgpsAge", block.dgpsAge);
    AppendInteger(json, "dgpsStation", block.dgpsStation);
    AppendNumber(json, "pdop", block.pdop);
    AppendNumber(json, "hdop", block.hdop);
    AppendNumber(json, "vdop", block.vdop);
    AppendInteger(json, "satsUsed", block.satsUsed);
    AppendInteger(json, "selectionMode", block.selectionMode);
    AppendInteger(json, "fixState", block.fixState);
    AppendString(json, "fixText", block.streamState >= 2 ? FixText(block.fixState) : "");
    AppendInteger(json, "satsInView", block.satsInView);
    AppendArray(json, "usedPrns", block.usedPrns);
    AppendInteger(json, "usedEntries", block.usedEntries);
    json += "\"satellites\":[";
    for (size_t i = 0; i < 12; ++i) {
        const SatelliteEntry& entry = block.satellites[i];
        char text[160];
        std::snprintf(text, sizeof text,
                      "%s{\"prn\":%d,\"elevation\":%d,\"azimuth\":%d,\"snr\":%d,"
                      "\"constellation\":\"%s\",\"used\":%s}",
                      i == 0 ? "" : ",", entry.prn, entry.elevation, entry.azimuth, entry.snr,
                      ConstellationName(ConstellationOf(entry.prn)),
                      SatelliteUsed(block, static_cast<int>(i)) ? "true" : "false");
        json += text;
    }
    json += "],";
    AppendNumber(json, "speedKnots", block.speedKnots);
    AppendNumber(json, "course", block.course);
    AppendNumber(json, "depthFeet", block.depthFeet);
    AppendNumber(json, "depthMetres", block.depthMetres);
    AppendArray(json, "nmeaRates", block.nmeaRates);
    AppendArray(json, "epoStatus", block.epoStatus);
    json.back() = '}';
    return json;
}

} // namespace tavro
