#include "hub/posix/status/StatusReport.h"

#include "common/SpeedTable.h"
#include "hub/decode/StatusBlock.h"
#include "hub/engine/HubContext.h"
#include "hub/posix/command/CommandSocket.h"
#include "hub/posix/status/ErrorWords.h"
#include "hub/settings/Settings.h"
#include "hub/ui/StatusJson.h"
#include "hub/ui/StatusText.h"
#include "platform/ErrorCodes.h"
#include "platform/TextBuilder.h"
#include "platform/posix/PosixErrors.h"

#include <charconv>
#include <cstdio>

namespace tavro {
namespace {

using posixhub::ErrorWords;

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

std::string ComName(uint32_t number) {
    return "COM" + std::to_string(number);
}

std::string OptionList(uint32_t flags) {
    std::string list;
    for (const OptionName& option : optionNames) {
        if ((flags & option.bit) != 0) {
            list += (list.empty() ? "" : ", ") + std::string(option.text);
        }
    }
    return list.empty() ? "none" : list;
}

// Why the virtual ports could not be made, "" when they were (or none are configured).
std::string PortsProblem(const HubReport& report) {
    const uint32_t conflict = report.portsConflict;
    switch (report.portsResult) {
    case error::success:
        return "";
    case error::fileNotFound:
        return "no virtual ports: virtual port 1 has no COM number (tavro config set Port0 <n>)";
    case error::alreadyExists: {
        std::string owners;
        for (uint32_t i = 0; i < virtualPortCount; ++i) {
            if (conflict != 0 && report.ports[i].comNumber == conflict) {
                owners += (owners.empty() ? "" : " and ") + std::to_string(i + 1);
            }
        }
        if (owners.find(" and ") != std::string::npos) {
            return Format("no virtual ports: virtual ports %s all have COM%u (tavro config set "
                          "Port<n> with another number)",
                          owners.c_str(), conflict);
        }
        return Format("no virtual ports: COM%u in %s names a device that is not the hub's "
                      "(tavro unlink COM%u, or give the virtual port another number)",
                      conflict, report.directory.c_str(), conflict);
    }
    case error::invalidParameter:
        return Format("no virtual ports: COM%u is beyond COM255", conflict);
    case error::genFailure:
        return Format("no virtual ports: another hub holds the virtual ports of %s",
                      report.directory.c_str());
    default: {
        char reason[96];
        platform::posix::ErrorText(report.portsResult, reason);
        return Format("no virtual ports: %s", reason);
    }
    }
}

using Json = nlohmann::ordered_json;

// The bytes the hub dropped, by cause; "" while there are none.
std::string DroppedText(const HubReport& report) {
    const DropCounts drops{{report.droppedSpeedChange, report.droppedReopen, report.droppedClosed,
                            report.droppedUnwritten}}; // in the order of DropCause
    char text[droppedTextSize];
    platform::TextBuilder builder(text, sizeof text);
    AppendDropped(drops, builder);
    return text;
}

Json TextOrNull(const std::string& text) {
    return text.empty() ? Json(nullptr) : Json(text);
}

Json SourceJson(const HubReport& report) {
    if (report.source.empty()) {
        return nullptr;
    }
    Json source;
    source["url"] = report.source;
    source["state"] = report.sourceState;
    source["nextTryMs"] =
        report.sourceState == "reconnecting" ? Json(report.sourceNextTryMs) : Json(nullptr);
    source["lastError"] =
        report.sourceError != 0 ? Json(ErrorWords(report.sourceError)) : Json(nullptr);
    source["bytes"] = report.sourceBytes;
    source["reconnects"] = report.sourceReconnects;
    return source;
}

Json InputJson(const HubReport& report) {
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
        input["fix"] = nullptr;
    } else {
        char reason[statusTextSize];
        FormatClosedReason(report.lastOpenError, reason);
        input["closedReason"] = reason;
        input["fix"] = InputPortFix(report);
    }
    input["source"] = SourceJson(report);
    return input;
}

Json VirtualPortsJson(const HubReport& report) {
    Json ports = Json::array();
    for (uint32_t i = 0; i < virtualPortCount; ++i) {
        const VirtualPortReport& port = report.ports[i];
        if (port.comNumber == 0) {
            continue;
        }
        Json entry;
        entry["number"] = i + 1;
        entry["com"] = port.comNumber;
        entry["link"] = report.directory + "/" + ComName(port.comNumber);
        entry["terminal"] = TextOrNull(port.terminal);
        entry["programs"] = port.programs;
        entry["bytesRelayed"] = port.hasCounters ? Json(port.bytesRelayed) : Json(nullptr);
        entry["bytesDropped"] = port.hasCounters ? Json(port.bytesDropped) : Json(nullptr);
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

// "42 s", "17 min", "5 h", "3 days": how long ago, to the unit that reads best.
std::string AgeText(uint64_t milliseconds) {
    const unsigned long long seconds = milliseconds / 1000;
    if (seconds < 120) {
        return Format("%llu s", seconds);
    }
    if (seconds < 120 * 60) {
        return Format("%llu min", seconds / 60);
    }
    if (seconds < 48 * 3600) {
        return Format("%llu h", seconds / 3600);
    }
    return Format("%llu days", seconds / 86400);
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

} // namespace

int StatusExitCode(const StatusFacts& facts) {
    if (!facts.running) {
        return statusHubNotRunning;
    }
    if (!facts.responding) {
        return statusHubNotResponding;
    }
    return InputOpen(facts) ? statusInputOpen : statusInputClosed;
}

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

// "tcp://gpsbox:10110, reconnecting, next try in 4 s (last error: connection refused);
// 51234 bytes, 2 reconnects".
std::string SourceText(const HubReport& report) {
    std::string text = report.source + ", " + report.sourceState;
    if (report.sourceState == "reconnecting") {
        text += Format(", next try in %u s", (report.sourceNextTryMs + 999) / 1000);
    }
    if (report.sourceError != 0) {
        text += " (last error: " + ErrorWords(report.sourceError) + ")";
    }
    text += Format("; %llu bytes, %u reconnects",
                   static_cast<unsigned long long>(report.sourceBytes), report.sourceReconnects);
    return text;
}

std::string InputPortFix(const HubReport& report) {
    if (report.inputOpen) {
        return "";
    }
    const uint32_t port = report.inputPort;
    const char* device = report.inputDevice.c_str();
    if (!report.source.empty() && report.lastOpenError == error::invalidParameter) {
        return "Source names no source the hub can take: tavro config set Source tcp://HOST:PORT "
               "(or udp://[ADDRESS]:PORT, gpsd://HOST[:PORT][/DEVICE], or \"\" for Port)";
    }
    if (!report.source.empty() && report.lastOpenError == error::notSupported) {
        return "this hub reads no network sources: tavro config set Source \"\" reads Port";
    }
    if (port == 0 && report.source.empty()) {
        return "no input port is set: tavro config set Port <n> (tavro find --apply searches "
               "for the receiver)";
    }
    if (report.searching) {
        return "a GPS search runs; the port opens when it ends";
    }
    switch (report.lastOpenError) {
    case error::success:
        if ((report.optionFlags & OptionFlags::batterySaver) != 0) {
            return "Battery Saver keeps it closed until a program opens a virtual port "
                   "(tavro config set \"Battery Saver\" off keeps it open)";
        }
        return "the hub opens it within a few seconds";
    case error::fileNotFound:
    case error::notFound:
        if (report.inputDevice.empty()) {
            return Format("COM%u is not in %s: tavro link COM%u DEVICE (the receiver's "
                          "/dev/ttyUSB0, /dev/ttyACM0 or /dev/serial/by-id/ path)",
                          port, report.directory.c_str(), port);
        }
        if (!report.inputPresent) {
            return Format("COM%u names %s, which is not there: plug the receiver in (or tavro "
                          "link COM%u DEVICE --force); the hub tries again every few seconds",
                          port, device, port);
        }
        return Format("COM%u names %s; the hub tries again every few seconds", port, device);
    case error::accessDenied:
        if (!report.inputAccessible) {
            if (!report.inputGroup.empty()) {
                return Format("this user may not open %s: join its group (sudo adduser $USER "
                              "%s), then log in again",
                              device, report.inputGroup.c_str());
            }
            return Format("this user may not open %s: ask for read and write access to it", device);
        }
        return Format("%s is busy: another program holds it (fuser -v %s shows which)", device,
                      device);
    case error::semTimeout:
        return Format("%s did not open in time: unplug the receiver and plug it in again", device);
    default: {
        char reason[96];
        platform::posix::ErrorText(report.lastOpenError, reason);
        return Format("opening %s failed: %s; the kernel's messages (dmesg) may tell more",
                      device[0] != '\0' ? device : ComName(port).c_str(), reason);
    }
    }
}

std::vector<std::string> StatusWarnings(const StatusFacts& facts) {
    std::vector<std::string> warnings;
    if (!facts.running) {
        return warnings;
    }
    if (!facts.responding) {
        warnings.push_back("the hub does not answer within " +
                           std::to_string(platform::posix::responseDeadlineMs) +
                           " ms: it is stopped or hung, and the rest is what it last wrote");
        return warnings;
    }
    if (facts.blockTorn) {
        warnings.push_back(blockTornWarning);
    }
    if (facts.block.relayHeld != 0) {
        warnings.push_back("the relay is held: programs on the virtual ports receive nothing "
                           "(tavro send release resumes it)");
    }
    if (!facts.hasReport) {
        return warnings;
    }
    const HubReport& report = facts.report;
    const std::string ports = PortsProblem(report);
    if (!ports.empty()) {
        warnings.push_back(ports);
    }
    for (uint32_t i = 0; i < virtualPortCount; ++i) {
        if (report.inputPort != 0 && report.ports[i].comNumber == report.inputPort) {
            warnings.push_back(Format("COM%u is both the input port and virtual port %u",
                                      report.inputPort, i + 1));
        }
    }
    // Values edited into the settings by hand past what tavro config set takes.
    if (report.source.empty() && report.baud != 0 && !IsTableSpeed(report.baud)) {
        warnings.push_back(Format("\"Baud\" is %u in the settings, which tavro config set "
                                  "refuses: it is %s",
                                  report.baud, SettingsTable[baudEntry].help));
    }
    if (report.time.unit != ntpUnitNone && report.time.unit > ntpUnitMax) {
        warnings.push_back(Format("\"NTP Unit\" is %u in the settings, past the units there "
                                  "are: the time export is off (tavro config set \"NTP Unit\" 0 "
                                  "to %u, or off)",
                                  report.time.unit, ntpUnitMax));
    }
    if ((report.optionFlags & OptionFlags::autoTimeSync) != 0 && !report.clockSettable) {
        warnings.push_back("\"Auto Time Sync\" is on, but the hub may not set the clock: it "
                           "needs CAP_SYS_TIME (run it as root, or sudo setcap cap_sys_time+ep "
                           "on the tavro program)");
    }
    const NetworkReport& network = report.network;
    if (network.tcpPort != 0 && !network.listening && network.listenError != 0) {
        warnings.push_back(Format("no NMEA over TCP on %s port %u: %s", network.tcpAddress.c_str(),
                                  network.tcpPort, ErrorWords(network.listenError).c_str()));
    }
    if (network.openToNetwork) {
        warnings.push_back(Format("NMEA over TCP is open to other computers (\"TCP Address\" "
                                  "%s); 127.0.0.1 keeps it to this one",
                                  network.tcpAddress.c_str()));
    }
    if (!network.udpTarget.empty() && !network.udpSending && network.udpError != 0) {
        warnings.push_back(Format("no NMEA over UDP to %s: %s", network.udpTarget.c_str(),
                                  ErrorWords(network.udpError).c_str()));
    }
    const TimeReport& time = report.time;
    if (time.unit <= ntpUnitMax) {
        if (time.attachError != 0) {
            warnings.push_back(Format("no time export to NTP unit %u: %s", time.unit,
                                      ErrorWords(time.attachError).c_str()));
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
    if ((report.optionFlags & OptionFlags::videoReset) != 0) {
        warnings.push_back("\"Video Reset\" has no effect on this system (tavro config set "
                           "\"Video Reset\" off)");
    }
    return warnings;
}

namespace {

// "last fix 42 s ago" while the hub tells of a fix that is not current, else "".
std::string FixAgeText(const StatusFacts& facts) {
    if (!facts.running || !facts.responding || !facts.hasReport) {
        return "";
    }
    const FreshnessReport& freshness = facts.report.freshness;
    if (freshness.current || freshness.fixAgeMs == unknownAge) {
        return "";
    }
    return "last fix " + AgeText(freshness.fixAgeMs) + " ago";
}

} // namespace

std::string StatusText(const StatusFacts& facts) {
    std::string text = StatusLine(facts) + "\n";
    auto line = [&](const char* label, const std::string& value) {
        text += Format("%-15s %s\n", label, value.c_str());
    };
    // Beside the status line, which keeps the main window's words (scripts read it).
    const std::string age = FixAgeText(facts);
    if (!age.empty()) {
        line("Freshness:", age);
    }
    if (!facts.running) {
        line("Fix:", "start the hub: tavro run (COM directory " + facts.directory + ")");
        return text;
    }
    if (!facts.responding) {
        // What the status block says is what the hub last wrote, not what is.
        const std::string pid = facts.pid > 0 ? std::to_string(facts.pid) : "<pid>";
        line("Fix:", "the hub is stopped or hung: resume it (kill -CONT " + pid +
                         "), or restart it (systemctl --user restart tavro, or kill " + pid +
                         " and tavro run)");
        return text;
    }
    if (!facts.hasReport) {
        if (facts.block.comPort != 0) {
            line("Input port:", Format("COM%u at %u baud", facts.block.comPort,
                                       static_cast<unsigned>(facts.block.baudRate)));
        }
    } else {
        const HubReport& report = facts.report;
        std::string input = report.inputPort == 0
                                ? "none"
                                : Format("COM%u at %u baud", report.inputPort, report.baud);
        if (!report.inputDevice.empty()) {
            input += " (" + report.inputDevice + ")";
        }
        input += report.inputOpen ? ", open" : ", closed";
        if (!report.source.empty()) {
            input = SourceText(report);
        }
        line("Input port:", input);
        const std::string fix = InputPortFix(report);
        if (!fix.empty()) {
            line("Fix:", fix);
        }
        const std::string dropped = DroppedText(report);
        if (!dropped.empty()) {
            line("Dropped:", dropped);
        }
        bool anyPort = false;
        for (uint32_t i = 0; i < virtualPortCount; ++i) {
            const VirtualPortReport& port = report.ports[i];
            if (port.comNumber == 0) {
                continue;
            }
            anyPort = true;
            std::string value = ComName(port.comNumber);
            if (port.terminal.empty()) {
                value += ", not made";
            } else {
                value += " -> " + port.terminal + ", ";
                // The hub tells whether a port is in use, not by how many (see PtyPortSet.h).
                value += port.programs == 0 ? "no program" : "in use";
                if (port.hasCounters) {
                    value += Format(", %llu bytes relayed, %llu dropped",
                                    static_cast<unsigned long long>(port.bytesRelayed),
                                    static_cast<unsigned long long>(port.bytesDropped));
                }
            }
            line(Format("Virtual port %u:", i + 1).c_str(), value);
        }
        if (!anyPort) {
            line("Virtual ports:", "none");
        }
        const NetworkReport& network = report.network;
        if (network.tcpPort != 0) {
            std::string value = Format("%s port %u", network.tcpAddress.c_str(), network.tcpPort);
            value += !network.listening
                         ? ", not served"
                         : Format(", %zu client%s (at most %u)", network.clients.size(),
                                  network.clients.size() == 1 ? "" : "s", network.clientLimit);
            value += network.tcpWrite ? ", clients may write to the receiver" : "";
            value += network.stalled != 0 ? Format(", %llu dropped for taking nothing",
                                                   static_cast<unsigned long long>(network.stalled))
                                          : "";
            value += network.displaced != 0
                         ? Format(", %llu made way for newer connections",
                                  static_cast<unsigned long long>(network.displaced))
                         : "";
            value += network.rateLimited != 0
                         ? Format(", %llu sentences over the write rate not written",
                                  static_cast<unsigned long long>(network.rateLimited))
                         : "";
            line("NMEA over TCP:", value);
            for (const NetworkClientReport& client : network.clients) {
                line("  Client:",
                     Format("%s, %llu bytes sent, %llu dropped", client.address.c_str(),
                            static_cast<unsigned long long>(client.bytesSent),
                            static_cast<unsigned long long>(client.bytesDropped)) +
                         (client.sentencesLimited != 0
                              ? Format(", %llu sentences over the write rate",
                                       static_cast<unsigned long long>(client.sentencesLimited))
                              : ""));
            }
        }
        if (!network.udpTarget.empty()) {
            line("NMEA over UDP:",
                 Format("to %s, %llu datagrams sent, %llu dropped", network.udpTarget.c_str(),
                        static_cast<unsigned long long>(network.datagramsSent),
                        static_cast<unsigned long long>(network.datagramsDropped)));
        }
        const TimeReport& time = report.time;
        if (time.unit != ntpUnitNone) {
            std::string value = Format("unit %u, %llu samples", time.unit,
                                       static_cast<unsigned long long>(time.samples));
            if (time.samples != 0) {
                value += Format(", last offset %+.3f ms", time.lastOffsetNs / 1e6);
            }
            if (time.pps && !time.ppsUnavailable) {
                value += Format(", %llu PPS edges", static_cast<unsigned long long>(time.ppsEdges));
            }
            line("Time export:", value);
        }
        line("COM directory:", report.directory);
        line("Options:", OptionList(report.optionFlags));
        std::string logging = !report.logging          ? std::string("off")
                              : report.logFile.empty() ? std::string("on")
                                                       : "on, to " + report.logFile;
        if (report.logNotWritten != 0) {
            logging += Format("; %llu bytes not written (%s)",
                              static_cast<unsigned long long>(report.logNotWritten),
                              ErrorWords(report.logError).c_str());
        }
        line("Logging:", logging);
    }
    for (const std::string& warning : StatusWarnings(facts)) {
        line("Warning:", warning);
    }
    return text;
}

std::string StatusJson(const StatusFacts& facts) {
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
        object["input"] = InputJson(report);
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
            report.logNotWritten != 0 ? Json(ErrorWords(report.logError)) : Json(nullptr);
        AddNetworkJson(report.network, object);
        const TimeReport& time = report.time;
        Json timeExport;
        timeExport["unit"] = time.unit != ntpUnitNone ? Json(time.unit) : Json(nullptr);
        timeExport["attached"] = time.attached;
        timeExport["samples"] = time.samples;
        timeExport["lastOffsetMs"] =
            time.samples != 0 ? Json(time.lastOffsetNs / 1e6) : Json(nullptr);
        timeExport["refused"] = time.refused;
        timeExport["pps"] = time.pps;
        timeExport["ppsEdges"] = time.ppsEdges;
        timeExport["ppsAvailable"] = !time.ppsUnavailable;
        object["timeExport"] = std::move(timeExport);
    } else {
        object["directory"] = facts.directory;
        if (facts.pid > 0) {
            object["pid"] = facts.pid;
        }
    }
    object["warnings"] = StatusWarnings(facts);
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

} // namespace tavro
