// SPDX-License-Identifier: Apache-2.0
#include "hub/ui/ReportJson.h"

#include "hub/settings/Settings.h"
#include "hub/ui/StatusJson.h"
#include "hub/ui/StatusText.h"

#include <charconv>
#include <cstdio>
#include <utility>

namespace tavro {
namespace {

using Json = nlohmann::ordered_json;

std::string Format(const char* format, auto... values) {
    char text[512];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

bool InputOpen(const StatusFacts& facts) {
    if (facts.hasReport) {
        return facts.report.inputOpen;
    }
    return facts.block.streamState >= static_cast<uint8_t>(StreamState::PortOpen);
}

Json TextOrNull(const std::string& text) {
    return text.empty() ? Json(nullptr) : Json(text);
}

Json SourceJson(const HubReport& report, const ReportWording& wording) {
    if (report.source.empty()) {
        return nullptr;
    }
    Json source;
    source["url"] = report.source;
    source["state"] = report.sourceState;
    source["nextTryMs"] =
        report.sourceState == "reconnecting" ? Json(report.sourceNextTryMs) : Json(nullptr);
    source["lastError"] =
        report.sourceError != 0 ? Json(wording.ErrorWords(report.sourceError)) : Json(nullptr);
    source["osError"] = report.sourceOsError != 0 ? Json(report.sourceOsError) : Json(nullptr);
    source["bytes"] = report.sourceBytes;
    source["reconnects"] = report.sourceReconnects;
    return source;
}

Json InputJson(const HubReport& report, const ReportWording& wording) {
    Json input;
    input["port"] = report.inputPort;
    input["baud"] = report.baud;
    input["open"] = report.inputOpen;
    input["device"] = TextOrNull(report.inputDevice);
    input["searching"] = report.searching;
    input["checksumErrors"] = report.checksumErrors;
    input["bytesDropped"] = {{"speedChange", report.droppedSpeedChange},
                             {"reopen", report.droppedReopen},
                             {"closed", report.droppedClosed},
                             {"unwritten", report.droppedUnwritten}};
    if (report.inputOpen) {
        input["closedReason"] = nullptr;
        input["osError"] = nullptr;
        input["fix"] = nullptr;
    } else {
        char reason[statusTextSize];
        FormatClosedReason(report.lastOpenError, reason);
        input["closedReason"] = reason;
        input["osError"] =
            report.lastOpenOsError != 0 ? Json(report.lastOpenOsError) : Json(nullptr);
        input["fix"] = wording.InputPortFix(report);
    }
    input["source"] = SourceJson(report, wording);
    return input;
}

Json VirtualPortsJson(const HubReport& report) {
    Json ports = Json::array();
    for (uint32_t i = 0; i < virtualPortCount; ++i) {
        const VirtualPortReport& port = report.ports[i];
        if (port.comNumber == 0) {
            continue;
        }
        const auto counter = [&](uint64_t value) {
            return port.hasCounters ? Json(value) : Json(nullptr);
        };
        Json entry;
        entry["number"] = i + 1;
        entry["com"] = port.comNumber;
        // Where a COM directory names the ports (POSIX); Windows names them itself.
        entry["link"] = report.directory.empty()
                            ? Json(nullptr)
                            : Json(report.directory + "/COM" + std::to_string(port.comNumber));
        entry["terminal"] = TextOrNull(port.terminal);
        entry["programs"] = port.programs;
        entry["bytesRelayed"] = counter(port.bytesRelayed);
        entry["bytesDropped"] = counter(port.bytesDropped);
        entry["bytesWritten"] = counter(port.bytesWritten);
        entry["bytesRefused"] = counter(port.bytesRefused);
        ports.push_back(std::move(entry));
    }
    return ports;
}

// The fix at full precision from the hub's report: the receiver's own digits where the block
// holds 32-bit floats and whole milliseconds.
Json PreciseJson(const PreciseFix& fix) {
    auto known = [](bool has, double value) { return has ? Json(value) : Json(nullptr); };
    Json precise;
    precise["latitude"] = known(fix.hasPosition, fix.latitude);
    precise["longitude"] = known(fix.hasPosition, fix.longitude);
    precise["altitude"] = known(fix.hasAltitude, fix.altitude);
    precise["geoidSeparation"] = known(fix.hasGeoidSeparation, fix.geoidSeparation);
    precise["speedKnots"] = known(fix.hasSpeed, fix.speedKnots);
    precise["course"] = known(fix.hasCourse, fix.course);
    precise["pdop"] = known(fix.hasDops, fix.pdop);
    precise["hdop"] = known(fix.hasHdop, fix.hdop);
    precise["vdop"] = known(fix.hasDops, fix.vdop);
    precise["utcTime"] = nullptr;
    if (fix.hasTime && fix.hasDate && fix.second >= 0 && fix.second < 61) {
        // "2024-05-01T12:34:56.789Z" with the fraction the receiver sent.
        char seconds[32];
        const auto end =
            std::to_chars(seconds, seconds + sizeof seconds, fix.second, std::chars_format::fixed);
        const std::string_view digits(seconds, static_cast<size_t>(end.ptr - seconds));
        precise["utcTime"] = Format("%04u-%02u-%02uT%02u:%02u:%s%.*sZ", fix.year, fix.month,
                                    fix.day, fix.hour, fix.minute, fix.second < 10 ? "0" : "",
                                    static_cast<int>(digits.size()), digits.data());
    }
    return precise;
}

// The block's values this hub has not been given since it started are null, not the zeros of
// a fresh block or what an earlier hub left in it: they would read as a place, a speed, a
// DOP. (The block keeps them: its readers rely on the last values staying.)
void NullWhatWasNotGiven(const HubReport& report, Json& object) {
    const PreciseFix& fix = report.fix;
    const bool reported = report.freshness.reported;
    const std::pair<const char*, bool> values[] = {
        {"latitude", fix.hasPosition},
        {"longitude", fix.hasPosition},
        {"altitude", fix.hasAltitude},
        {"geoidSeparation", fix.hasGeoidSeparation},
        {"speedKnots", fix.hasSpeed},
        {"course", fix.hasCourse},
        {"pdop", fix.hasDops},
        {"hdop", fix.hasHdop},
        {"vdop", fix.hasDops},
        {"fixQuality", fix.hasQuality},
        {"dgpsAge", fix.hasQuality},
        {"dgpsStation", fix.hasQuality},
        {"depthFeet", fix.hasDepth},
        {"depthMetres", fix.hasDepth},
        {"utcTime", fix.hasTime && fix.hasDate},
        {"satsUsed", reported},
        {"satsInView", reported},
    };
    for (const auto& [name, given] : values) {
        if (!given) {
            object[name] = nullptr;
        }
    }
}

Json SecondsOrNull(uint64_t milliseconds) {
    return milliseconds == unknownAge ? Json(nullptr) : Json(milliseconds / 1000.0);
}

void AddNetworkJson(const NetworkReport& network, Json& object) {
    Json tcp;
    tcp["port"] = network.tcpPort;
    tcp["address"] = network.tcpAddress;
    tcp["listening"] = network.listening;
    tcp["openToNetwork"] = network.openToNetwork;
    tcp["write"] = network.tcpWrite;
    tcp["refused"] = network.refused;
    tcp["stalled"] = network.stalled;
    tcp["displaced"] = network.displaced;
    tcp["rateLimited"] = network.rateLimited;
    tcp["clientLimit"] = network.clientLimit;
    Json clients = Json::array();
    for (const NetworkClientReport& client : network.clients) {
        clients.push_back({{"address", client.address},
                           {"bytesSent", client.bytesSent},
                           {"bytesDropped", client.bytesDropped},
                           {"sentencesLimited", client.sentencesLimited}});
    }
    tcp["clients"] = std::move(clients);
    object["tcp"] = std::move(tcp);
    object["udp"] = {{"target", network.udpTarget},
                     {"sending", network.udpSending},
                     {"datagramsSent", network.datagramsSent},
                     {"datagramsDropped", network.datagramsDropped}};
}

Json TimeExportJson(const TimeReport& time) {
    Json timeExport;
    timeExport["unit"] = time.unit != ntpUnitNone ? Json(time.unit) : Json(nullptr);
    timeExport["attached"] = time.attached;
    timeExport["samples"] = time.samples;
    timeExport["lastOffsetMs"] = time.samples != 0 ? Json(time.lastOffsetNs / 1e6) : Json(nullptr);
    timeExport["refused"] = time.refused;
    timeExport["pps"] = time.pps;
    timeExport["ppsEdges"] = time.ppsEdges;
    timeExport["ppsAvailable"] = !time.ppsUnavailable;
    return timeExport;
}

} // namespace

std::string StatusLine(const StatusFacts& facts) {
    if (!facts.running) {
        return hubNotRunningText;
    }
    if (!facts.responding) {
        return facts.pid > 0 ? Format("%s, pid %d", hubNotRespondingText, facts.pid)
                             : hubNotRespondingText;
    }
    char text[statusTextSize];
    if (InputOpen(facts)) {
        FormatStreamStatus(facts.block, text);
    } else {
        // Only the hub knows why; a reader of the block alone sees a closed port.
        FormatClosedReason(facts.hasReport ? facts.report.lastOpenError : 0, text);
    }
    return text;
}

std::string StatusJson(const StatusFacts& facts, const ReportWording& wording) {
    Json object;
    object["hubRunning"] = facts.running;
    // False also when no hub runs; a running hub that does not answer has no report.
    object["responding"] = facts.running && facts.responding;
    object["statusLine"] = StatusLine(facts);
    // How fresh the fix is: the hub tells (a hub that does not answer tells nothing).
    const bool told = facts.running && facts.responding && facts.hasReport;
    const FreshnessReport freshness = told ? facts.report.freshness : FreshnessReport{};
    object["current"] = freshness.current;
    object["fixAgeSeconds"] = SecondsOrNull(freshness.fixAgeMs);
    object["fixIntervalSeconds"] =
        freshness.fixIntervalMs != 0 ? Json(freshness.fixIntervalMs / 1000.0) : Json(nullptr);
    object["dataAgeSeconds"] = SecondsOrNull(freshness.dataAgeMs);
    if (facts.running && facts.hasReport) {
        const HubReport& report = facts.report;
        object["version"] = report.version;
        object["pid"] = report.pid;
        object["directory"] = report.directory;
        object["input"] = InputJson(report, wording);
        object["virtualPorts"] = VirtualPortsJson(report);
        Json options = Json::array();
        for (const OptionName& option : optionNames) {
            if ((report.optionFlags & option.bit) != 0) {
                options.push_back(option.text);
            }
        }
        object["options"] = std::move(options);
        object["logging"] = report.logging;
        object["logFile"] = TextOrNull(report.logFile);
        object["logNotWritten"] = report.logNotWritten;
        object["logError"] =
            report.logNotWritten != 0 ? Json(wording.ErrorWords(report.logError)) : Json(nullptr);
        AddNetworkJson(report.network, object);
        object["timeExport"] = TimeExportJson(report.time);
    } else {
        object["directory"] = facts.directory;
        if (facts.pid > 0) {
            object["pid"] = facts.pid;
        }
    }
    object["warnings"] = wording.Warnings(facts);
    if (facts.running && facts.responding && !facts.blockTorn) {
        AddBlockJson(facts.block, object);
        if (facts.hasReport) {
            NullWhatWasNotGiven(facts.report, object);
        }
        object["precise"] = facts.hasReport ? PreciseJson(facts.report.fix) : Json(nullptr);
        // The whole sky where the hub knows more than the block's twelve, else null.
        Json sky = nullptr;
        if (facts.hasReport && !facts.report.sky.empty()) {
            sky = Json::array();
            for (const SkySatellite& satellite : facts.report.sky) {
                sky.push_back(SatelliteJson(satellite.entry, satellite.used));
            }
        }
        object["sky"] = std::move(sky);
    }
    // Paths are bytes: what is no UTF-8 is shown as U+FFFD rather than ending the program.
    return object.dump(-1, ' ', false, Json::error_handler_t::replace);
}

void AddPortClashWarnings(const HubReport& report, std::vector<std::string>& warnings) {
    for (uint32_t i = 0; i < virtualPortCount; ++i) {
        if (report.inputPort != 0 && report.ports[i].comNumber == report.inputPort) {
            warnings.push_back(Format("COM%u is both the input port and virtual port %u",
                                      report.inputPort, i + 1));
        }
    }
}

void AddOutputWarnings(const HubReport& report, const ReportWording& wording,
                       std::vector<std::string>& warnings) {
    const NetworkReport& network = report.network;
    if (network.tcpPort != 0 && !network.listening && network.listenError != 0) {
        warnings.push_back(Format("no NMEA over TCP on %s port %u: %s", network.tcpAddress.c_str(),
                                  network.tcpPort,
                                  wording.ErrorWords(network.listenError).c_str()));
    }
    if (network.openToNetwork) {
        warnings.push_back(Format("NMEA over TCP is open to other computers (\"TCP Address\" "
                                  "%s); 127.0.0.1 keeps it to this one",
                                  network.tcpAddress.c_str()));
    }
    if (!network.udpTarget.empty() && !network.udpSending && network.udpError != 0) {
        warnings.push_back(Format("no NMEA over UDP to %s: %s", network.udpTarget.c_str(),
                                  wording.ErrorWords(network.udpError).c_str()));
    }
    const TimeReport& time = report.time;
    if (time.unit <= ntpUnitMax) {
        if (time.attachError != 0) {
            warnings.push_back(Format("no time export to NTP unit %u: %s", time.unit,
                                      wording.ErrorWords(time.attachError).c_str()));
        }
        if (time.samples == 0 && time.unmeasured != 0) {
            warnings.push_back("the time export knows of no fix when it arrived: it needs "
                               "\"Immediate Relay\" on, and a receiver that pauses between its "
                               "fixes (a faster line, or fewer sentences)");
        }
        if (time.refused != 0) {
            warnings.push_back(Format("the receiver's time jumped: %llu samples were not given to "
                                      "the time service",
                                      static_cast<unsigned long long>(time.refused)));
        }
        if ((report.optionFlags & OptionFlags::autoTimeSync) != 0) {
            warnings.push_back("\"Auto Time Sync\" and a time service both set the clock: turn "
                               "\"Auto Time Sync\" off while \"NTP Unit\" feeds one");
        }
    }
    if (time.pps && time.ppsUnavailable) {
        warnings.push_back("PPS not available on this port");
    }
}

} // namespace tavro
