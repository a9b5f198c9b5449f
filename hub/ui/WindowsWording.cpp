// SPDX-License-Identifier: Apache-2.0
#include "hub/ui/WindowsWording.h"

#include "hub/decode/StatusBlock.h"
#include "hub/settings/Settings.h"
#include "platform/ErrorCodes.h"

#include <cstdio>

namespace tavro {
namespace {

std::string Format(const char* format, auto... values) {
    char text[512];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

} // namespace

std::string WindowsWording::InputPortFix(const HubReport& report) const {
    if (report.inputOpen) {
        return "";
    }
    const uint32_t port = report.inputPort;
    if (!report.source.empty() && report.lastOpenError == error::invalidParameter) {
        return "\"Source\" names no source the hub can take: tcp://HOST:PORT, "
               "udp://[ADDRESS]:PORT or gpsd://HOST[:PORT][/DEVICE] (empty reads \"Port\")";
    }
    if (port == 0 && report.source.empty()) {
        return "no input port is chosen: pick the receiver's port in the main window, or let "
               "\"Find GPS\" search for it";
    }
    if (report.searching) {
        return "a GPS search runs; the port opens when it ends";
    }
    switch (report.lastOpenError) {
    case error::success:
        if ((report.optionFlags & OptionFlags::batterySaver) != 0) {
            return "\"Battery Saver\" keeps it closed until a program opens a virtual port";
        }
        return "the hub opens it within a few seconds";
    case error::fileNotFound:
    case error::notFound:
        return Format("COM%u is not there: plug the receiver in, or pick its port in the main "
                      "window (\"Find GPS\" searches); the hub tries again every few seconds",
                      port);
    case error::accessDenied:
        return Format("COM%u is busy: another program holds it; close that program", port);
    case error::semTimeout:
        return Format("COM%u did not open in time: unplug the receiver and plug it in again", port);
    default:
        return Format("opening COM%u failed: %s", port, ErrorWords(report.lastOpenError).c_str());
    }
}

std::vector<std::string> WindowsWording::Warnings(const StatusFacts& facts) const {
    std::vector<std::string> warnings;
    if (!facts.running) {
        return warnings;
    }
    if (!facts.responding) {
        warnings.push_back(Format("the hub does not answer within %u ms: it is stopped or hung, "
                                  "and the rest is what it last wrote",
                                  windowsAnswerTimeoutMs));
        return warnings;
    }
    if (facts.blockTorn) {
        warnings.push_back(blockTornWarning);
    }
    if (facts.block.relayHeld != 0) {
        warnings.push_back("the relay is held: programs on the virtual ports receive nothing");
    }
    if (!facts.hasReport) {
        return warnings;
    }
    const HubReport& report = facts.report;
    bool numbered = false;
    for (const VirtualPortReport& port : report.ports) {
        numbered = numbered || port.comNumber != 0;
    }
    if (numbered && !report.portsEnabled) {
        warnings.push_back("the virtual ports are off: tick \"Enable Ports\" in the main window");
    }
    AddPortClashWarnings(report, warnings);
    AddOutputWarnings(report, *this, warnings);
    return warnings;
}

} // namespace tavro
