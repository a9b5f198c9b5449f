#include "hub/posix/host/RunLog.h"

#include "common/GpsSharedStatus.h"
#include "hub/engine/GpsPort.h"
#include "hub/engine/HubContext.h"
#include "hub/engine/NetworkOutput.h"
#include "hub/posix/host/RunReport.h"
#include "hub/posix/host/RunUpkeep.h"
#include "hub/posix/status/ErrorWords.h"
#include "hub/posix/status/StatusReport.h"
#include "hub/settings/Settings.h"
#include "hub/ui/StatusText.h"
#include "platform/ErrorCodes.h"
#include "platform/systemd/ServiceManager.h"

#include <csignal>
#include <cstring>

namespace tavro::posixhub {
namespace {

using platform::posix::LogPriority;

// A change of the fix must hold this many ticks (1 s) before it is logged: a line with noise
// flips it to "Invalid" and back with every bad sentence.
constexpr uint32_t fixSettleTicks = 20;

} // namespace

void RunLog::Started(HubEngine& engine) {
    log_.Write(LogPriority::Notice, "hub %s running, COM directory %s", TAVRO_VERSION,
               directory_.Path());
    if (!platform::posix::ServiceManager::Built()) {
        log_.Write(LogPriority::Info,
                   "readiness and watchdog notices, the descriptor store, the sleep signal "
                   "and journal priorities: %s (built without systemd)",
                   platform::posix::notAvailableHere);
    }
    StatusFacts facts;
    facts.running = true;
    facts.hasReport = true;
    Describe(engine, facts.report);
    const HubReport& report = facts.report;
    if (!report.source.empty()) {
        log_.Write(LogPriority::Info, "input source %s", report.source.c_str());
    } else if (report.inputPort != 0) {
        log_.Write(LogPriority::Info, "input port COM%u at %u baud", report.inputPort, report.baud);
    } else {
        log_.Write(LogPriority::Warning, "no input port (tavro config set Port <n>)");
    }
    ReportPorts(report);
    reportedPortResult_ = report.portsResult;
    for (const std::string& warning : StatusWarnings(facts)) {
        if (warning.rfind("no virtual ports", 0) != 0) { // said by ReportPorts
            log_.Write(LogPriority::Warning, "%s", warning.c_str());
        }
    }
}

void RunLog::SettingsReadAgain(HubEngine& engine, bool portsTouched) {
    HubReport report;
    Describe(engine, report);
    log_.Write(LogPriority::Notice, "settings read again");
    if (portsTouched) {
        ReportPorts(report);
        reportedPortResult_ = report.portsResult;
    }
}

void RunLog::PortsRetried(HubEngine& engine, uint32_t result) {
    if (result == reportedPortResult_) {
        return;
    }
    HubReport report;
    Describe(engine, report);
    ReportPorts(report);
    reportedPortResult_ = result;
}

void RunLog::Ticked(HubEngine& engine) {
    ReportEcho();
    FollowInputPort(engine);
    FollowNetwork(engine);
    FollowDrops(engine);
    FollowTime(engine);
}

void RunLog::FollowTime(HubEngine& engine) {
    const TimeExportState& time = engine.Time().State();
    if (time.unit != loggedTimeUnit_) {
        loggedTimeUnit_ = time.unit;
        if (time.unit != ntpUnitNone) {
            log_.Write(LogPriority::Info, "time export to NTP unit %u", time.unit);
        }
    }
    if (time.attachError != loggedTimeError_) {
        loggedTimeError_ = time.attachError;
        if (time.attachError != 0) {
            log_.Write(LogPriority::Warning, "no time export to NTP unit %u: %s",
                       engine.Context().settings.ntpUnit, ErrorWords(time.attachError).c_str());
        }
    }
    if (engine.Pulse() != nullptr && engine.Pulse()->TakeUnavailableNotice()) {
        log_.Write(LogPriority::Warning, "PPS not available on this port");
    }
    if (engine.Time().TakeJumpWarning()) {
        log_.Write(LogPriority::Warning,
                   "the receiver's time jumped (a replay, a week rollover?): its samples are not "
                   "given to the time service until it agrees with the last one again");
    }
}

// The first drop of each cause is said; later ones only counted, so that a recurring cause
// cannot flood the log.
void RunLog::FollowDrops(HubEngine& engine) {
    static constexpr const char* causes[dropCauseCount] = {
        "received bytes emptied by a re-open for a speed change",
        "received bytes emptied by a re-open of the input port",
        "received bytes emptied by closing the input port",
        "bytes for the receiver that it did not take",
    };
    const DropCounts& drops = engine.Context().drops;
    for (uint32_t i = 0; i < dropCauseCount; ++i) {
        if (!dropsLogged_[i] && drops.bytes[i] != 0) {
            dropsLogged_[i] = true;
            log_.Write(LogPriority::Warning,
                       "dropped %llu %s (further drops are counted in "
                       "tavro status)",
                       static_cast<unsigned long long>(drops.bytes[i]), causes[i]);
        }
    }
    // The same for the log file: each new reason once.
    const GpsPort* port = engine.Context().inputPort.get();
    if (port != nullptr && port->bytesNotLogged != 0 && port->logError != loggedLogError_) {
        loggedLogError_ = port->logError;
        log_.Write(LogPriority::Warning,
                   "the log file cannot be written (%s): %llu received bytes not logged "
                   "(further ones are counted in tavro status)",
                   ErrorWords(port->logError).c_str(),
                   static_cast<unsigned long long>(port->bytesNotLogged));
    }
}

void RunLog::GuardianRestarted(int ended, int started) {
    if (started > 0) {
        log_.Write(LogPriority::Warning, "the links' guardian (pid %d) ended; pid %d took over",
                   ended, started);
    } else {
        log_.Write(LogPriority::Error,
                   "the links' guardian (pid %d) ended and no other can be started (%s): after "
                   "a crash the links stay until tavro clean",
                   ended, std::strerror(errno));
    }
}

void RunLog::FollowCommandSocket(const platform::posix::CommandServer& server) {
    if ((server.AcceptFailure() != 0) == (loggedCommandFailure_ != 0)) {
        return;
    }
    loggedCommandFailure_ = server.AcceptFailure();
    if (loggedCommandFailure_ != 0) {
        log_.Write(LogPriority::Warning,
                   "the command socket cannot take connections (%s); trying again shortly",
                   std::strerror(loggedCommandFailure_));
    } else {
        log_.Write(LogPriority::Info, "the command socket takes connections again");
    }
}

void RunLog::DirectoryRepaired() {
    // Only a link may have gone (rm COM5), or the whole folder (a tmp cleaner).
    log_.Write(LogPriority::Warning,
               "something the hub keeps in %s was removed (a link, the command socket or the "
               "folder itself); it is back",
               directory_.Path());
}

void RunLog::StatusBlockKept(uint32_t result, bool restored) {
    if (restored) {
        log_.Write(LogPriority::Warning,
                   "the status block or its lock was removed from /dev/shm (a cleaner?); it is "
                   "back, and programs find it when they open it again");
    }
    if (result != 0 && result != loggedBlockError_) {
        log_.Write(LogPriority::Error,
                   "the status block or its lock was removed from /dev/shm and cannot be made "
                   "again (%s): programs that open it now may not find this hub's",
                   ErrorWords(result).c_str());
    }
    loggedBlockError_ = result;
}

void RunLog::DirectoryLost(uint32_t failure) {
    log_.Write(LogPriority::Error, "%s was removed and cannot be made again (%s): stopping",
               directory_.Path(), ErrorWords(failure).c_str());
}

void RunLog::Stopping(int signal) {
    log_.Write(LogPriority::Notice, "%s, stopping",
               signal == SIGINT   ? "interrupted"
               : signal == SIGHUP ? "hung up"
                                  : "terminated");
}

void RunLog::PublishFailed(uint32_t result) {
    if (result == error::alreadyExists) {
        log_.Write(LogPriority::Error, "another hub serves %s", directory_.Path());
    } else {
        log_.Write(LogPriority::Error, "cannot make the command socket in %s: %s",
                   directory_.Path(), ErrorWords(result).c_str());
    }
}

// The virtual ports made, or why there are none, in the words `tavro status` uses.
void RunLog::ReportPorts(const HubReport& report) {
    if (ports_.IsOpen()) {
        for (uint32_t i = 0; i < virtualPortCount; ++i) {
            if (ports_.DevicePath(i)[0] != '\0') {
                log_.Write(LogPriority::Info, "virtual port %u: %s/COM%u -> %s", i + 1,
                           directory_.Path(), ports_.ComNumber(i), ports_.DevicePath(i));
            }
        }
        return;
    }
    if (report.portsResult == error::fileNotFound && settingsUnreadable_) {
        log_.Write(LogPriority::Error,
                   "no virtual ports: the settings could not be read (see above)");
        return;
    }
    StatusFacts facts;
    facts.running = true;
    facts.hasReport = true;
    facts.report = report;
    for (const std::string& warning : StatusWarnings(facts)) {
        if (warning.rfind("no virtual ports", 0) == 0) {
            const bool retried = PortsRetryable(report.portsResult);
            log_.Write(LogPriority::Error, "%s%s", warning.c_str(),
                       retried ? "; trying again every few seconds" : "");
        }
    }
}

// COM ports whose programs turned echo on, once per change.
void RunLog::ReportEcho() {
    for (uint32_t i = 0; i < virtualPortCount; ++i) {
        const bool echoing = ports_.Echoing(i);
        if (echoing && !echoReported_[i]) {
            log_.Write(LogPriority::Warning,
                       "COM%u echoes what it receives (its program turned echo on): its "
                       "bytes are not sent to the receiver while it does",
                       ports_.ComNumber(i));
        }
        echoReported_[i] = echoing;
    }
}

// Every change of the input port's state, and of the stream and fix once it has settled.
void RunLog::FollowInputPort(HubEngine& engine) {
    const HubContext& hub = engine.Context();
    const GpsPort* port = hub.inputPort.get();
    if (port == nullptr) {
        return;
    }
    const bool open = port->IsOpen();
    const uint32_t error = open ? 0 : port->lastOpenError;
    if (!logged_ || open != wasOpen_ || error != lastError_) {
        // Closed without a failure before the first attempt says nothing new, unless
        // Battery Saver keeps it so.
        const bool news = open || error != 0 || wasOpen_ ||
                          (hub.settings.optionFlags & OptionFlags::batterySaver) != 0;
        if (news) {
            LogInputPort(engine);
        }
        logged_ = true;
        wasOpen_ = open;
        lastError_ = error;
        shownStream_ = {};
        pendingTicks_ = 0;
    }
    if (!open) {
        return;
    }
    FollowSource(*port, hub.system.timing.GetTickCount());
    const GpsSharedStatus& block = engine.Status();
    const std::pair<uint8_t, uint8_t> now{block.streamState, block.fixState};
    if (now == shownStream_) {
        pendingTicks_ = 0;
        return;
    }
    if (now != pendingStream_) {
        pendingStream_ = now;
        pendingTicks_ = 0;
    }
    if (++pendingTicks_ >= fixSettleTicks && block.streamState >= 2) {
        log_.Write(LogPriority::Info, "%s, %s", StreamText(block.streamState),
                   FixText(block.fixState));
        shownStream_ = now;
        pendingTicks_ = 0;
    }
}

// A network source's connection as it comes and goes (its transient states unsaid).
void RunLog::FollowSource(const GpsPort& port, uint32_t now) {
    const SourceRecord& record = port.sourceRecord;
    if (port.Source() == nullptr ||
        (record.state != SourceState::Connected && record.state != SourceState::Listening &&
         record.state != SourceState::Waiting)) {
        return;
    }
    const auto state = static_cast<uint8_t>(record.state);
    if (state == loggedSourceState_) {
        return;
    }
    loggedSourceState_ = state;
    if (record.state == SourceState::Waiting) {
        const int32_t left = static_cast<int32_t>(record.nextTryTick - now);
        log_.Write(LogPriority::Warning, "source %s: %s; next try in %.1f s", record.text,
                   ErrorWords(record.lastError, record.lastOsError).c_str(),
                   left > 0 ? left / 1000.0 : 0.0);
        return;
    }
    log_.Write(LogPriority::Info, "source %s: %s", record.text, SourceStateName(record.state));
}

void RunLog::LogInputPort(HubEngine& engine) {
    HubReport report;
    Describe(engine, report);
    if (!report.source.empty()) {
        if (!report.inputOpen) {
            char reason[statusTextSize];
            FormatClosedReason(report.lastOpenError, reason);
            log_.Write(LogPriority::Warning, "source %s: %s: %s", report.source.c_str(), reason,
                       InputPortFix(report).c_str());
        }
        loggedSourceState_ = 0;
        return;
    }
    if (report.inputPort == 0) {
        return; // said at the start
    }
    if (report.inputOpen) {
        log_.Write(LogPriority::Info, "input port COM%u open at %u baud%s%s%s", report.inputPort,
                   report.baud, report.inputDevice.empty() ? "" : " (", report.inputDevice.c_str(),
                   report.inputDevice.empty() ? "" : ")");
        return;
    }
    char reason[statusTextSize];
    FormatClosedReason(report.lastOpenError, reason);
    // The system's own error, where it said more than the reason does.
    const std::string system = report.lastOpenOsError != 0
                                   ? ": " + ErrorWords(report.lastOpenError, report.lastOpenOsError)
                                   : std::string();
    log_.Write(report.lastOpenError != 0 ? LogPriority::Warning : LogPriority::Info,
               "input port COM%u: %s%s: %s", report.inputPort, reason, system.c_str(),
               InputPortFix(report).c_str());
}

// The network output's server and sender as they open, fail and close, once per change; a
// server other computers may reach is said with a warning.
void RunLog::FollowNetwork(HubEngine& engine) {
    const NetworkOutput& output = engine.Network();
    const uint32_t server = output.Listening() ? output.ListeningPort() : 0;
    if (server != loggedServer_ || output.ListenError() != loggedServerError_ ||
        loggedAddress_ != output.ListeningAddress()) {
        if (server != 0) {
            log_.Write(output.OpenToNetwork() ? LogPriority::Warning : LogPriority::Info,
                       "NMEA over TCP on %s port %u%s", output.ListeningAddress(), server,
                       output.OpenToNetwork()
                           ? ": open to other computers (\"TCP Address\" 127.0.0.1 keeps "
                             "it to this one)"
                           : "");
        } else if (output.ListenError() != error::success) {
            log_.Write(LogPriority::Error, "no NMEA over TCP on %s: %s", output.ListeningAddress(),
                       ErrorWords(output.ListenError()).c_str());
        } else if (loggedServer_ != 0) {
            log_.Write(LogPriority::Info, "NMEA over TCP stopped");
        }
        loggedServer_ = server;
        loggedServerError_ = output.ListenError();
        loggedAddress_ = output.ListeningAddress();
    }
    if ((output.AcceptError() != 0) != loggedAcceptError_) {
        loggedAcceptError_ = output.AcceptError() != 0;
        if (loggedAcceptError_) {
            log_.Write(LogPriority::Warning,
                       "NMEA over TCP cannot take connections (%s); trying again every second",
                       ErrorWords(output.AcceptError()).c_str());
        } else {
            log_.Write(LogPriority::Info, "NMEA over TCP takes connections again");
        }
    }
    const bool sending = output.SendsDatagrams();
    if (sending != loggedSending_ || (!sending && output.DatagramError() != loggedSenderError_)) {
        if (sending) {
            log_.Write(LogPriority::Info, "NMEA over UDP to %s",
                       engine.Context().settings.udpTarget);
        } else if (output.DatagramError() != error::success) {
            log_.Write(LogPriority::Error, "no NMEA over UDP to %s: %s",
                       engine.Context().settings.udpTarget,
                       ErrorWords(output.DatagramError()).c_str());
        }
        loggedSending_ = sending;
        loggedSenderError_ = output.DatagramError();
    }
}

void RunLog::Describe(HubEngine& engine, HubReport& report) {
    DescribeRunningHub(engine, directory_, ports_, report);
}

} // namespace tavro::posixhub
