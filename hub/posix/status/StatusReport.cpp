#include "hub/posix/status/StatusReport.h"

#include "common/SpeedTable.h"
#include "hub/decode/StatusBlock.h"
#include "hub/engine/HubContext.h"
#include "hub/posix/command/CommandSocket.h"
#include "hub/posix/status/ErrorWords.h"
#include "hub/settings/Settings.h"
#include "hub/ui/ReportJson.h"
#include "hub/ui/StatusText.h"
#include "platform/ErrorCodes.h"
#include "platform/TextBuilder.h"
#include "platform/posix/PosixErrors.h"

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

// The bytes the hub dropped, by cause; "" while there are none.
std::string DroppedText(const HubReport& report) {
    const DropCounts drops{{report.droppedSpeedChange, report.droppedReopen, report.droppedClosed,
                            report.droppedUnwritten}}; // in the order of DropCause
    char text[droppedTextSize];
    platform::TextBuilder builder(text, sizeof text);
    AppendDropped(drops, builder);
    return text;
}

// The edition's words for the report's JSON (hub/ui/ReportJson.h).
class PosixWording final : public ReportWording {
public:
    std::string ErrorWords(uint32_t code) const override { return posixhub::ErrorWords(code); }
    std::string InputPortFix(const HubReport& report) const override {
        return tavro::InputPortFix(report);
    }
    std::vector<std::string> Warnings(const StatusFacts& facts) const override {
        return StatusWarnings(facts);
    }
};

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

// "tcp://gpsbox:10110, reconnecting, next try in 4 s, last error: connection refused (errno
// 111); 51234 bytes, 2 reconnects".
std::string SourceText(const HubReport& report) {
    std::string text = report.source + ", " + report.sourceState;
    if (report.sourceState == "reconnecting") {
        text += Format(", next try in %u s", (report.sourceNextTryMs + 999) / 1000);
    }
    if (report.sourceError != 0) {
        text += ", last error: " + ErrorWords(report.sourceError, report.sourceOsError);
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
    default:
        return Format("opening %s failed: %s; the kernel's messages (dmesg) may tell more",
                      device[0] != '\0' ? device : ComName(port).c_str(),
                      ErrorWords(report.lastOpenError, report.lastOpenOsError).c_str());
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
    AddPortClashWarnings(report, warnings);
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
    AddOutputWarnings(report, PosixWording(), warnings);
    if ((report.optionFlags & OptionFlags::videoReset) != 0) {
        warnings.push_back("\"Video Reset\" has no effect on this system (tavro config set "
                           "\"Video Reset\" off)");
    }
    return warnings;
}

namespace {

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
        if (!report.inputOpen && report.lastOpenOsError != 0) {
            input += ": " + ErrorWords(report.lastOpenError, report.lastOpenOsError);
        }
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
                if (port.bytesWritten != 0 || port.bytesRefused != 0) {
                    value += Format("; %llu written to the receiver, %llu refused",
                                    static_cast<unsigned long long>(port.bytesWritten),
                                    static_cast<unsigned long long>(port.bytesRefused));
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
    return StatusJson(facts, PosixWording());
}

} // namespace tavro
