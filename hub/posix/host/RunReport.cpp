#include "hub/posix/host/RunReport.h"

#include "hub/engine/GpsPort.h"
#include "hub/engine/HubContext.h"
#include "hub/engine/NetworkOutput.h"
#include "platform/ErrorCodes.h"
#include "platform/linux/SystemClockRights.h"

#include <climits>
#include <cstdlib>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavro::posixhub {
namespace {

void DescribeSource(const GpsPort& port, uint32_t now, HubReport& report) {
    const SourceRecord& record = port.sourceRecord;
    report.source = record.text;
    report.sourceState = SourceStateName(record.state);
    report.sourceError = record.lastError != 0 ? record.lastError : port.lastOpenError;
    report.sourceOsError = record.lastError != 0 ? record.lastOsError : port.lastOpenOsError;
    report.sourceBytes = record.bytes;
    report.sourceReconnects = record.reconnects;
    if (record.state == SourceState::Waiting) {
        const int32_t left = static_cast<int32_t>(record.nextTryTick - now);
        report.sourceNextTryMs = left > 0 ? static_cast<uint32_t>(left) : 0;
    }
}

void DescribeNetwork(const NetworkOutput& output, const Settings& settings,
                     NetworkReport& network) {
    network.tcpPort = settings.tcpPort;
    network.tcpAddress = output.ListeningAddress();
    network.listening = output.Listening();
    network.openToNetwork = output.OpenToNetwork();
    network.listenError = output.ListenError();
    network.tcpWrite = settings.tcpWrite != 0;
    network.refused = output.Refused();
    network.stalled = output.StallDisconnects();
    network.displaced = output.Displaced();
    network.rateLimited = output.RateLimited();
    network.clientLimit = output.ClientLimit();
    network.udpTarget = settings.udpTarget;
    network.udpSending = output.SendsDatagrams();
    network.udpError = output.DatagramError();
    network.datagramsSent = output.DatagramsSent();
    network.datagramsDropped = output.DatagramsDropped();
    for (uint32_t slot = 0; slot < NetworkOutput::clientSlots; ++slot) {
        NetworkClientInfo info;
        if (output.Client(slot, info)) {
            network.clients.push_back(
                {info.peer, info.bytesSent, info.bytesDropped, info.sentencesLimited});
        }
    }
}

} // namespace

void DescribeRunningHub(HubEngine& engine, const platform::posix::ComDirectory& directory,
                        platform::posix::PtyPortSet& ports, HubReport& report) {
    const HubContext& hub = engine.Context();
    const GpsPort* port = hub.inputPort.get();
    report.version = TAVRO_VERSION;
    report.pid = static_cast<long>(getpid());
    report.directory = directory.Path();
    report.inputPort = hub.settings.port;
    report.baud = hub.settings.baud;
    if (port != nullptr) {
        report.inputOpen = port->IsOpen();
        report.lastOpenError = port->lastOpenError;
        report.lastOpenOsError = port->lastOpenOsError;
        report.checksumErrors = port->checksumErrors;
        // The speed it runs at (a speed change by command moves it before "Baud").
        if (report.inputOpen || report.baud == 0) {
            report.baud = port->baudRate;
        }
        report.logFile = port->LogOpen() ? port->logFileName : "";
        report.logNotWritten = port->bytesNotLogged;
        report.logError = port->logError;
        if (!hub.SourceIsSerial()) {
            DescribeSource(*port, hub.system.timing.GetTickCount(), report);
        }
    }
    report.searching = hub.search.scanning.load() != 0;
    report.droppedSpeedChange = hub.drops.Bytes(DropCause::SpeedChange);
    report.droppedReopen = hub.drops.Bytes(DropCause::Reopen);
    report.droppedClosed = hub.drops.Bytes(DropCause::Closed);
    report.droppedUnwritten = hub.drops.Bytes(DropCause::Unwritten);
    char device[platform::posix::comPathCapacity];
    bool present = false;
    if (report.inputPort != 0 && hub.SourceIsSerial() &&
        directory.Resolve(report.inputPort, device, present) == error::success) {
        // The device itself, not a link to it (gps-sim's leads through /proc).
        char real[PATH_MAX];
        report.inputDevice = present && realpath(device, real) != nullptr ? real : device;
        report.inputPresent = present;
        report.inputAccessible = !present || access(device, R_OK | W_OK) == 0;
        struct stat status {};
        if (present && stat(device, &status) == 0) {
            const group* owner = getgrgid(status.st_gid);
            report.inputGroup = owner != nullptr ? owner->gr_name : "";
        }
    }
    report.optionFlags = hub.settings.optionFlags;
    report.logging = hub.settings.logging != 0;
    report.portsResult = ports.IsOpen() ? 0 : ports.LastOpenResult();
    report.portsConflict = ports.ConflictingComNumber();
    for (uint32_t i = 0; i < virtualPortCount; ++i) {
        VirtualPortReport& entry = report.ports[i];
        entry.comNumber = ports.ConfiguredComNumber(i);
        entry.terminal = ports.DevicePath(i);
        entry.programs = ports.Users(i);
        // Counted since the port set was opened, for the ports that exist.
        if (!entry.terminal.empty()) {
            const platform::posix::PortCounters counters = ports.Counters(i);
            entry.hasCounters = true;
            entry.bytesRelayed = counters.bytesRelayed;
            entry.bytesDropped = counters.bytesDropped;
            entry.bytesWritten = counters.bytesWritten;
            entry.bytesRefused = counters.bytesRefused;
        }
    }
    report.clockSettable = platform::posix::MaySetSystemClock();
    DescribeNetwork(engine.Network(), hub.settings, report.network);
    const TimeExportState& time = engine.Time().State();
    report.time.unit = hub.settings.ntpUnit;
    report.time.attached = time.unit != ntpUnitNone;
    report.time.attachError = time.attachError;
    report.time.samples = time.samples;
    report.time.lastOffsetNs = static_cast<long>(time.lastOffsetNs);
    report.time.refused = time.refused;
    report.time.unmeasured = time.unmeasured;
    report.time.pps = hub.settings.pps != 0;
    if (PulseSource* pulse = engine.Pulse()) {
        report.time.ppsEdges = pulse->Edges();
        report.time.ppsUnavailable = pulse->Unavailable();
    }
    report.fix = engine.Precise();
    const FixFreshness& fresh = hub.freshness;
    const uint64_t now = hub.system.timing.Microseconds();
    FreshnessReport& freshness = report.freshness;
    freshness.current = fresh.Current(now, report.inputOpen);
    freshness.fixAgeMs = fresh.AnyFix() ? fresh.FixAgeUs(now) / 1000 : unknownAge;
    freshness.fixIntervalMs = fresh.IntervalMs();
    freshness.dataAgeMs = fresh.AnyData() ? fresh.DataAgeUs(now) / 1000 : unknownAge;
    freshness.reported = fresh.AnyReport();
    SkySatellite sky[maxSkySatellites];
    report.sky.assign(sky, sky + engine.Sky(sky, maxSkySatellites));
}

} // namespace tavro::posixhub
