#include "hub/posix/StatusReport.h"

#include "common/SatelliteIds.h"
#include "hub/settings/Settings.h"
#include "hub/ui/StatusText.h"
#include "platform/ErrorCodes.h"
#include "platform/posix/PosixErrors.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace tavro {
namespace {

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

std::string ErrorWords(uint32_t code) {
    char text[96];
    platform::posix::ErrorText(code, text);
    return text;
}

void AppendJsonString(std::string& json, std::string_view value) {
    json += '"';
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '"' || byte == '\\') {
            json += '\\';
            json += c;
        } else if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            json += escaped;
        } else {
            json += c; // paths are bytes; UTF-8 passes as it is
        }
    }
    json += '"';
}

// A JSON object written member by member.
class JsonObject {
public:
    explicit JsonObject(std::string& json) : json_(json) { json_ += '{'; }
    void End() { json_ += '}'; }

    JsonObject& Name(const char* name) {
        json_ += first_ ? "" : ",";
        first_ = false;
        AppendJsonString(json_, name);
        json_ += ':';
        return *this;
    }
    void Text(const char* name, std::string_view value) {
        Name(name);
        AppendJsonString(json_, value);
    }
    void Integer(const char* name, long long value) {
        Name(name);
        json_ += std::to_string(value);
    }
    void Flag(const char* name, bool value) {
        Name(name);
        json_ += value ? "true" : "false";
    }
    void Null(const char* name) {
        Name(name);
        json_ += "null";
    }
    // The shortest text that reads back as the same float; null when it is not a number.
    void Real(const char* name, float value) {
        Name(name);
        if (!std::isfinite(value)) {
            json_ += "null";
            return;
        }
        char text[32];
        const auto result = std::to_chars(text, text + sizeof text, value);
        json_.append(text, result.ptr);
    }
    template <typename T, size_t N>
    void Integers(const char* name, const T (&values)[N]) {
        Name(name);
        json_ += '[';
        for (size_t i = 0; i < N; ++i) {
            json_ += (i == 0 ? "" : ",") + std::to_string(values[i]);
        }
        json_ += ']';
    }
    std::string& Raw() { return json_; }

private:
    std::string& json_;
    bool first_ = true;
};

// "2024-05-01T12:34:56.789Z", or "" while the block holds no calendar date.
std::string IsoTime(const SystemTime& time) {
    if (time.wYear < 1980 || time.wMonth < 1 || time.wMonth > 12 || time.wDay < 1 ||
        time.wDay > 31 || time.wHour > 23 || time.wMinute > 59 || time.wSecond > 60 ||
        time.wMilliseconds > 999) {
        return "";
    }
    return Format("%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", time.wYear, time.wMonth, time.wDay,
                  time.wHour, time.wMinute, time.wSecond, time.wMilliseconds);
}

void InputJson(JsonObject& object, const StatusFacts& facts) {
    const HubReport& report = facts.report;
    std::string& json = object.Name("input").Raw();
    JsonObject input(json);
    input.Integer("port", report.inputPort);
    input.Integer("baud", report.baud);
    input.Flag("open", report.inputOpen);
    if (report.inputDevice.empty()) {
        input.Null("device");
    } else {
        input.Text("device", report.inputDevice);
    }
    input.Flag("searching", report.searching);
    if (report.inputOpen) {
        input.Null("closedReason");
        input.Null("fix");
    } else {
        char reason[statusTextSize];
        FormatClosedReason(report.lastOpenError, reason);
        input.Text("closedReason", reason);
        input.Text("fix", InputPortFix(report));
    }
    input.End();
}

void VirtualPortsJson(JsonObject& object, const StatusFacts& facts) {
    std::string& json = object.Name("virtualPorts").Raw();
    json += '[';
    bool first = true;
    for (uint32_t i = 0; i < virtualPortCount; ++i) {
        const VirtualPortReport& port = facts.report.ports[i];
        if (port.comNumber == 0) {
            continue;
        }
        json += first ? "" : ",";
        first = false;
        JsonObject entry(json);
        entry.Integer("number", i + 1);
        entry.Integer("com", port.comNumber);
        entry.Text("link", facts.report.directory + "/" + ComName(port.comNumber));
        if (port.terminal.empty()) {
            entry.Null("terminal");
        } else {
            entry.Text("terminal", port.terminal);
        }
        entry.Integer("programs", port.programs);
        if (port.hasCounters) {
            entry.Integer("bytesRelayed", static_cast<long long>(port.bytesRelayed));
            entry.Integer("bytesDropped", static_cast<long long>(port.bytesDropped));
        } else {
            entry.Null("bytesRelayed");
            entry.Null("bytesDropped");
        }
        entry.End();
    }
    json += ']';
}

void NetworkJson(JsonObject& object, const NetworkReport& network) {
    JsonObject tcp(object.Name("tcp").Raw());
    tcp.Integer("port", network.tcpPort);
    tcp.Text("address", network.tcpAddress);
    tcp.Flag("listening", network.listening);
    tcp.Flag("openToNetwork", network.openToNetwork);
    tcp.Flag("write", network.tcpWrite);
    tcp.Integer("refused", static_cast<long long>(network.refused));
    tcp.Integer("clientLimit", network.clientLimit);
    std::string& clients = tcp.Name("clients").Raw();
    clients += '[';
    for (size_t i = 0; i < network.clients.size(); ++i) {
        clients += i == 0 ? "" : ",";
        JsonObject client(clients);
        client.Text("address", network.clients[i].address);
        client.Integer("bytesSent", static_cast<long long>(network.clients[i].bytesSent));
        client.Integer("bytesDropped", static_cast<long long>(network.clients[i].bytesDropped));
        client.End();
    }
    clients += ']';
    tcp.End();
    JsonObject udp(object.Name("udp").Raw());
    udp.Text("target", network.udpTarget);
    udp.Flag("sending", network.udpSending);
    udp.Integer("datagramsSent", static_cast<long long>(network.datagramsSent));
    udp.Integer("datagramsDropped", static_cast<long long>(network.datagramsDropped));
    udp.End();
}

// Whether satellites entry `index` is in the fix: marked in usedEntries when the receiver
// reports several constellations, else its id is among usedPrns.
bool SatelliteUsed(const GpsSharedStatus& block, size_t index) {
    const int id = block.satellites[index].prn;
    if (id <= 0) {
        return false;
    }
    if (block.usedEntries != 0) {
        return EntryUsed(block.usedEntries, static_cast<int>(index));
    }
    for (const uint8_t used : block.usedPrns) {
        if (used != 0 && used == id) {
            return true;
        }
    }
    return false;
}

void BlockJson(JsonObject& object, const GpsSharedStatus& block) {
    const bool receiving = block.streamState >= static_cast<uint8_t>(StreamState::PortOpen);
    object.Integer("streamState", block.streamState);
    object.Text("streamText", StreamText(block.streamState));
    object.Integer("fixState", block.fixState);
    object.Text("fixText", receiving ? FixText(block.fixState) : "");
    object.Integer("fixValid", block.fixValid);
    object.Integer("comPort", block.comPort);
    object.Integer("relayHeld", block.relayHeld);
    object.Integer("refCount", block.refCount);
    object.Integer("replyFlags", block.replyFlags);
    object.Integer("rmcCount", block.rmcCount);
    object.Integer("baudRate", block.baudRate);
    const std::string time = IsoTime(block.utcTime);
    if (time.empty()) {
        object.Null("utcTime");
    } else {
        object.Text("utcTime", time);
    }
    object.Real("latitude", block.latitude);
    object.Real("longitude", block.longitude);
    object.Integer("fixQuality", block.fixQuality);
    object.Real("altitude", block.altitude);
    object.Real("geoidSeparation", block.geoidSeparation);
    object.Real("dgpsAge", block.dgpsAge);
    object.Integer("dgpsStation", block.dgpsStation);
    object.Real("pdop", block.pdop);
    object.Real("hdop", block.hdop);
    object.Real("vdop", block.vdop);
    object.Integer("satsUsed", block.satsUsed);
    object.Integer("selectionMode", block.selectionMode);
    object.Integer("satsInView", block.satsInView);
    object.Integers("usedPrns", block.usedPrns);
    std::string& json = object.Name("satellites").Raw();
    json += '[';
    for (size_t i = 0; i < std::size(block.satellites); ++i) {
        const SatelliteEntry& satellite = block.satellites[i];
        json += i == 0 ? "" : ",";
        JsonObject entry(json);
        entry.Integer("prn", satellite.prn);
        entry.Integer("elevation", satellite.elevation);
        entry.Integer("azimuth", satellite.azimuth);
        entry.Integer("snr", satellite.snr);
        entry.Text("constellation", ConstellationName(ConstellationOf(satellite.prn)));
        entry.Flag("used", SatelliteUsed(block, i));
        entry.End();
    }
    json += ']';
    object.Real("speedKnots", block.speedKnots);
    object.Real("course", block.course);
    object.Real("depthFeet", block.depthFeet);
    object.Real("depthMetres", block.depthMetres);
    // The receiver's MTK answers: null until it has given them (the bytes hold the block's
    // signature and zeros before).
    if ((block.replyFlags & replyFixInterval) != 0) {
        object.Integer("fixInterval", block.fixInterval);
    } else {
        object.Null("fixInterval");
    }
    if ((block.replyFlags & replyNmeaRates) != 0) {
        object.Integers("nmeaRates", block.nmeaRates);
    } else {
        object.Null("nmeaRates");
    }
    if ((block.replyFlags & replyEpoStatus) != 0) {
        object.Integers("epoStatus", block.epoStatus);
    } else {
        object.Null("epoStatus");
    }
}

} // namespace

int StatusExitCode(const StatusFacts& facts) {
    if (!facts.running) {
        return statusHubNotRunning;
    }
    return InputOpen(facts) ? statusInputOpen : statusInputClosed;
}

std::string StatusLine(const StatusFacts& facts) {
    if (!facts.running) {
        return hubNotRunningText;
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

std::string InputPortFix(const HubReport& report) {
    if (report.inputOpen) {
        return "";
    }
    const uint32_t port = report.inputPort;
    const char* device = report.inputDevice.c_str();
    if (port == 0) {
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
    if ((report.optionFlags & OptionFlags::videoReset) != 0) {
        warnings.push_back("\"Video Reset\" has no effect on this system (tavro config set "
                           "\"Video Reset\" off)");
    }
    return warnings;
}

std::string StatusText(const StatusFacts& facts) {
    std::string text = StatusLine(facts) + "\n";
    auto line = [&](const char* label, const std::string& value) {
        text += Format("%-15s %s\n", label, value.c_str());
    };
    if (!facts.running) {
        line("Fix:", "start the hub: tavro run (COM directory " + facts.directory + ")");
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
        line("Input port:", input);
        const std::string fix = InputPortFix(report);
        if (!fix.empty()) {
            line("Fix:", fix);
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
            line("NMEA over TCP:", value);
            for (const NetworkClientReport& client : network.clients) {
                line("  Client:",
                     Format("%s, %llu bytes sent, %llu dropped", client.address.c_str(),
                            static_cast<unsigned long long>(client.bytesSent),
                            static_cast<unsigned long long>(client.bytesDropped)));
            }
        }
        if (!network.udpTarget.empty()) {
            line("NMEA over UDP:",
                 Format("to %s, %llu datagrams sent, %llu dropped", network.udpTarget.c_str(),
                        static_cast<unsigned long long>(network.datagramsSent),
                        static_cast<unsigned long long>(network.datagramsDropped)));
        }
        line("COM directory:", report.directory);
        line("Options:", OptionList(report.optionFlags));
        line("Logging:", !report.logging          ? std::string("off")
                         : report.logFile.empty() ? std::string("on")
                                                  : "on, to " + report.logFile);
    }
    for (const std::string& warning : StatusWarnings(facts)) {
        line("Warning:", warning);
    }
    return text;
}

std::string StatusJson(const StatusFacts& facts) {
    std::string json;
    JsonObject object(json);
    object.Flag("hubRunning", facts.running);
    object.Text("statusLine", StatusLine(facts));
    if (facts.running && facts.hasReport) {
        object.Text("version", facts.report.version);
        object.Integer("pid", facts.report.pid);
        object.Text("directory", facts.report.directory);
        InputJson(object, facts);
        VirtualPortsJson(object, facts);
        std::string& options = object.Name("options").Raw();
        options += '[';
        bool first = true;
        for (const OptionName& option : optionNames) {
            if ((facts.report.optionFlags & option.bit) != 0) {
                options += first ? "" : ",";
                first = false;
                AppendJsonString(options, option.text);
            }
        }
        options += ']';
        object.Flag("logging", facts.report.logging);
        NetworkJson(object, facts.report.network);
    } else {
        object.Text("directory", facts.directory);
    }
    std::string& warnings = object.Name("warnings").Raw();
    warnings += '[';
    bool first = true;
    for (const std::string& warning : StatusWarnings(facts)) {
        warnings += first ? "" : ",";
        first = false;
        AppendJsonString(warnings, warning);
    }
    warnings += ']';
    if (facts.running) {
        BlockJson(object, facts.block);
    }
    object.End();
    return json;
}

} // namespace tavro
