#include "hub/ui/StatusJson.h"

#include "common/SatelliteIds.h"
#include "hub/ui/StatusText.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace tavro {
namespace {

template <typename T, size_t N>
nlohmann::ordered_json Integers(const T (&values)[N]) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const T value : values) {
        list.push_back(value);
    }
    return list;
}

} // namespace

nlohmann::ordered_json SatelliteJson(const SatelliteEntry& satellite, bool used) {
    return {
        {"prn", satellite.prn},
        {"elevation", satellite.elevation},
        {"azimuth", satellite.azimuth},
        {"snr", satellite.snr},
        {"constellation", ConstellationName(ConstellationOf(satellite.prn))},
        {"used", used},
    };
}

nlohmann::ordered_json RealJson(float value) {
    if (!std::isfinite(value)) {
        return nullptr;
    }
    // The float's shortest text, read back as the double that prints the same way.
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text - 1, value).ptr;
    *end = '\0';
    return std::strtod(text, nullptr);
}

std::string IsoTime(const SystemTime& time) {
    if (time.wYear < 1980 || time.wMonth < 1 || time.wMonth > 12 || time.wDay < 1 ||
        time.wDay > 31 || time.wHour > 23 || time.wMinute > 59 || time.wSecond > 60 ||
        time.wMilliseconds > 999) {
        return "";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", time.wYear, time.wMonth,
                  time.wDay, time.wHour, time.wMinute, time.wSecond, time.wMilliseconds);
    return text;
}

void AddBlockJson(const GpsSharedStatus& block, nlohmann::ordered_json& object) {
    const bool receiving = block.streamState >= static_cast<uint8_t>(StreamState::PortOpen);
    object["streamState"] = block.streamState;
    object["streamText"] = StreamText(block.streamState);
    object["fixState"] = block.fixState;
    object["fixText"] = receiving ? FixText(block.fixState) : "";
    object["fixValid"] = block.fixValid;
    object["comPort"] = block.comPort;
    object["relayHeld"] = block.relayHeld;
    object["refCount"] = block.refCount;
    object["replyFlags"] = block.replyFlags;
    object["rmcCount"] = block.rmcCount;
    object["baudRate"] = block.baudRate;
    const std::string time = IsoTime(block.utcTime);
    object["utcTime"] =
        time.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(time);
    object["latitude"] = RealJson(block.latitude);
    object["longitude"] = RealJson(block.longitude);
    object["fixQuality"] = block.fixQuality;
    object["altitude"] = RealJson(block.altitude);
    object["geoidSeparation"] = RealJson(block.geoidSeparation);
    object["dgpsAge"] = RealJson(block.dgpsAge);
    object["dgpsStation"] = block.dgpsStation;
    object["pdop"] = RealJson(block.pdop);
    object["hdop"] = RealJson(block.hdop);
    object["vdop"] = RealJson(block.vdop);
    object["satsUsed"] = block.satsUsed;
    object["selectionMode"] = block.selectionMode;
    object["satsInView"] = block.satsInView;
    object["usedPrns"] = Integers(block.usedPrns);
    nlohmann::ordered_json satellites = nlohmann::ordered_json::array();
    for (size_t i = 0; i < std::size(block.satellites); ++i) {
        satellites.push_back(
            SatelliteJson(block.satellites[i], SatelliteUsed(block, static_cast<int>(i))));
    }
    object["satellites"] = std::move(satellites);
    object["speedKnots"] = RealJson(block.speedKnots);
    object["course"] = RealJson(block.course);
    object["depthFeet"] = RealJson(block.depthFeet);
    object["depthMetres"] = RealJson(block.depthMetres);
    // The receiver's MTK answers: null until it has given them (the bytes hold the block's
    // signature and zeros before).
    const auto answered = [&](uint8_t flag, nlohmann::ordered_json value) {
        return (block.replyFlags & flag) != 0 ? value : nlohmann::ordered_json(nullptr);
    };
    object["fixInterval"] = answered(replyFixInterval, block.fixInterval);
    object["nmeaRates"] = answered(replyNmeaRates, Integers(block.nmeaRates));
    object["epoStatus"] = answered(replyEpoStatus, Integers(block.epoStatus));
}

} // namespace tavro
