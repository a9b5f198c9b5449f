// `tavro run`: the hub in the foreground. The engine is the one the Windows hub runs; this
// file supplies the POSIX services, the event loop, the upkeep between ticks and the run log.
#include "hub/posix/ComDirectoryRepair.h"
#include "hub/posix/EventLoop.h"
#include "hub/posix/LiveSettings.h"
#include "hub/posix/ServiceNotices.h"
#include "hub/posix/StatusReport.h"
#include "hub/posix/SystemEvents.h"
#include "hub/posix/Verbs.h"

#include "common/DriverExchangeBlock.h"
#include "hub/engine/FileTrackLog.h"
#include "hub/engine/GpsPort.h"
#include "hub/engine/HubContext.h"
#include "hub/engine/HubEngine.h"
#include "hub/engine/MainWindow.h"
#include "hub/posix/instance/SingleInstance.h"
#include "hub/posix/ports/PtyPortSet.h"
#include "hub/settings/RestartDevice.h"
#include "hub/settings/Settings.h"
#include "hub/settings/SettingsStore.h"
#include "hub/ui/StatusText.h"
#include "platform/ErrorCodes.h"
#include "platform/FileSystem.h"
#include "platform/Network.h"
#include "platform/Notifier.h"
#include "platform/Registry.h"
#include "platform/SerialPort.h"
#include "platform/SerialPortMap.h"
#include "platform/SharedMemory.h"
#include "platform/Sound.h"
#include "platform/SystemClock.h"
#include "platform/Threads.h"
#include "platform/Timing.h"
#include "platform/Tray.h"
#include "platform/linux/SystemClockRights.h"
#include "platform/posix/ComDirectory.h"
#include "platform/posix/ConsoleLog.h"
#include "platform/posix/FileRegistry.h"
#include "platform/posix/PosixErrors.h"
#include "platform/systemd/ServiceManager.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <grp.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace tavro::posixhub {
namespace {

using platform::posix::ComDirectory;
using platform::posix::ConsoleLog;
using platform::posix::LogPriority;
using platform::posix::PtyPortSet;

// Ticks between two attempts to create virtual ports that could not be created (2.5 s).
constexpr uint32_t portRetryTicks = 50;

// A change of the fix must hold this many ticks (1 s) before it is logged: a line with noise
// flips it to "Invalid" and back with every bad sentence.
constexpr uint32_t fixSettleTicks = 20;

std::string Words(uint32_t code) {
    char text[96];
    platform::posix::ErrorText(code, text);
    return text;
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
    network.clientLimit = output.ClientLimit();
    network.udpTarget = settings.udpTarget;
    network.udpSending = output.SendsDatagrams();
    network.udpError = output.DatagramError();
    network.datagramsSent = output.DatagramsSent();
    network.datagramsDropped = output.DatagramsDropped();
    for (uint32_t slot = 0; slot < NetworkOutput::clientSlots; ++slot) {
        NetworkClientInfo info;
        if (output.Client(slot, info)) {
            network.clients.push_back({info.peer, info.bytesSent, info.bytesDropped});
        }
    }
}

// The POSIX edition's upkeep between ticks (the COM directory kept in place, virtual ports that
// could not be created tried again) and the run log: the start, every change of the input
// port's state in the words `tavro status` uses, problems, the stop. It also answers the
// status query.
class RunSupervisor final : public LoopObserver {
public:
    RunSupervisor(const ComDirectory& directory, PtyPortSet& ports,
                  platform::posix::InstanceLock& lock, bool settingsUnreadable, ConsoleLog& log)
        : directory_(directory), ports_(ports), lock_(lock),
          settingsUnreadable_(settingsUnreadable), log_(log) {}

    void Attach(EventLoop& loop, LiveSettings& live, ServiceNotices& notices,
                SystemEventSources& events) {
        loop_ = &loop;
        live_ = &live;
        notices_ = &notices;
        events_ = &events;
        repair_.emplace(lock_, ports_, loop.Server());
    }

    void Started(HubEngine& engine) override {
        engine_ = &engine;
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
        if (report.inputPort != 0) {
            log_.Write(LogPriority::Info, "input port COM%u at %u baud", report.inputPort,
                       report.baud);
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
        events_->Start(*loop_);
        // The service manager hears of the terminals first: a restart gives them back.
        notices_->Ticked(ports_);
        char status[platform::posix::comPathCapacity + 32];
        std::snprintf(status, sizeof status, "running, COM directory %s", directory_.Path());
        notices_->Ready(status);
    }

    // `tavro config set` on the running hub, or SIGHUP under a service manager.
    uint32_t ReloadSettings() override {
        notices_->Reloading();
        LiveSettings::Outcome outcome;
        const uint32_t result = live_->Apply(outcome);
        events_->Refresh();
        HubReport report;
        Describe(*engine_, report);
        log_.Write(LogPriority::Notice, "settings read again");
        if (outcome.portsChanged || result != error::success) {
            ReportPorts(report);
            reportedPortResult_ = report.portsResult;
        }
        notices_->Ticked(ports_);
        notices_->Ready("settings read again");
        return result;
    }

    void Ticked(HubEngine& engine) override {
        if (repair_) {
            switch (repair_->Tick()) {
            case ComDirectoryRepair::Outcome::Intact:
                break;
            case ComDirectoryRepair::Outcome::Repaired:
                log_.Write(LogPriority::Warning,
                           "%s was removed; its links and command socket are back",
                           directory_.Path());
                events_->Refresh();
                break;
            case ComDirectoryRepair::Outcome::Lost:
                log_.Write(LogPriority::Error,
                           "%s was removed and cannot be made again (%s): stopping",
                           directory_.Path(), Words(repair_->Failure()).c_str());
                failed_ = true;
                loop_->RequestStop();
                return;
            }
        }
        RetryPorts(engine);
        ReportEcho();
        FollowInputPort(engine);
        FollowNetwork(engine.Network());
        live_->StoreSpeedChange();
        notices_->Ticked(ports_);
        events_->Ticked();
    }

    void Stopping(int signal) override {
        notices_->Stopping();
        log_.Write(LogPriority::Notice, "%s, stopping",
                   signal == SIGINT   ? "interrupted"
                   : signal == SIGHUP ? "hung up"
                                      : "terminated");
    }

    void PublishFailed(uint32_t result) override {
        publishFailed_ = true;
        if (result == error::alreadyExists) {
            log_.Write(LogPriority::Error, "another hub serves %s", directory_.Path());
        } else {
            log_.Write(LogPriority::Error, "cannot make the command socket in %s: %s",
                       directory_.Path(), Words(result).c_str());
        }
    }

    bool Failed() const { return publishFailed_ || failed_; }

    void Describe(HubEngine& engine, HubReport& report) override {
        const HubContext& hub = engine.Context();
        const GpsPort* port = hub.inputPort.get();
        report.version = TAVRO_VERSION;
        report.pid = static_cast<long>(getpid());
        report.directory = directory_.Path();
        report.inputPort = hub.settings.port;
        report.baud = hub.settings.baud;
        if (port != nullptr) {
            report.inputOpen = port->IsOpen();
            report.lastOpenError = port->lastOpenError;
            report.checksumErrors = port->checksumErrors;
            // The speed it runs at (a speed change by command moves it before "Baud").
            if (report.inputOpen || report.baud == 0) {
                report.baud = port->baudRate;
            }
            report.logFile = port->LogOpen() ? port->logFileName : "";
        }
        report.searching = hub.search.scanning.load() != 0;
        char device[platform::posix::comPathCapacity];
        bool present = false;
        if (report.inputPort != 0 &&
            directory_.Resolve(report.inputPort, device, present) == error::success) {
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
        report.portsResult = ports_.IsOpen() ? 0 : ports_.LastOpenResult();
        report.portsConflict = ports_.ConflictingComNumber();
        for (uint32_t i = 0; i < virtualPortCount; ++i) {
            VirtualPortReport& entry = report.ports[i];
            entry.comNumber = ports_.ConfiguredComNumber(i);
            entry.terminal = ports_.DevicePath(i);
            entry.programs = ports_.Users(i);
            // Counted since the port set was opened, for the ports that exist.
            if (!entry.terminal.empty()) {
                const platform::posix::PortCounters counters = ports_.Counters(i);
                entry.hasCounters = true;
                entry.bytesRelayed = counters.bytesRelayed;
                entry.bytesDropped = counters.bytesDropped;
            }
        }
        report.clockSettable = platform::posix::MaySetSystemClock();
        DescribeNetwork(engine.Network(), hub.settings, report.network);
    }

private:
    // The network output's server and sender as they open, fail and close, once per change;
    // a server other computers may reach is said with a warning.
    void FollowNetwork(const NetworkOutput& output) {
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
                log_.Write(LogPriority::Error, "no NMEA over TCP on %s: %s",
                           output.ListeningAddress(), Words(output.ListenError()).c_str());
            } else if (loggedServer_ != 0) {
                log_.Write(LogPriority::Info, "NMEA over TCP stopped");
            }
            loggedServer_ = server;
            loggedServerError_ = output.ListenError();
            loggedAddress_ = output.ListeningAddress();
        }
        const bool sending = output.SendsDatagrams();
        if (sending != loggedSending_ ||
            (!sending && output.DatagramError() != loggedSenderError_)) {
            if (sending) {
                log_.Write(LogPriority::Info, "NMEA over UDP to %s",
                           engine_->Context().settings.udpTarget);
            } else if (output.DatagramError() != error::success) {
                log_.Write(LogPriority::Error, "no NMEA over UDP to %s: %s",
                           engine_->Context().settings.udpTarget,
                           Words(output.DatagramError()).c_str());
            }
            loggedSending_ = sending;
            loggedSenderError_ = output.DatagramError();
        }
    }

    // The winner of a start always gets its ports, or says why not and keeps trying: a COM
    // number taken by another device may be freed, a clash of another hub's links resolved.
    void RetryPorts(HubEngine& engine) {
        if (ports_.IsOpen() || !Retryable(ports_.LastOpenResult()) ||
            ++ticksSinceAttempt_ < portRetryTicks) {
            return;
        }
        ticksSinceAttempt_ = 0;
        const uint32_t result = ports_.Open(controlDeviceName);
        if (result != reportedPortResult_) {
            HubReport report;
            Describe(engine, report);
            ReportPorts(report);
            reportedPortResult_ = result;
        }
    }

    void ReportEcho() {
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

    static bool Retryable(uint32_t result) {
        // Without a number, or with one beyond COM255, only new settings can help.
        return result != error::success && result != error::fileNotFound &&
               result != error::invalidParameter;
    }

    // The virtual ports made, or why there are none, in the words `tavro status` uses.
    void ReportPorts(const HubReport& report) {
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
                const bool retried = Retryable(report.portsResult);
                log_.Write(LogPriority::Error, "%s%s", warning.c_str(),
                           retried ? "; trying again every few seconds" : "");
            }
        }
    }

    // Logs every change of the input port's state, and of the stream and fix once it has
    // settled.
    void FollowInputPort(HubEngine& engine) {
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

    void LogInputPort(HubEngine& engine) {
        HubReport report;
        Describe(engine, report);
        if (report.inputPort == 0) {
            return; // said at the start
        }
        if (report.inputOpen) {
            log_.Write(LogPriority::Info, "input port COM%u open at %u baud%s%s%s",
                       report.inputPort, report.baud, report.inputDevice.empty() ? "" : " (",
                       report.inputDevice.c_str(), report.inputDevice.empty() ? "" : ")");
            return;
        }
        char reason[statusTextSize];
        FormatClosedReason(report.lastOpenError, reason);
        log_.Write(report.lastOpenError != 0 ? LogPriority::Warning : LogPriority::Info,
                   "input port COM%u: %s: %s", report.inputPort, reason,
                   InputPortFix(report).c_str());
    }

    ComDirectory directory_;
    PtyPortSet& ports_;
    platform::posix::InstanceLock& lock_;
    EventLoop* loop_ = nullptr;
    HubEngine* engine_ = nullptr;
    LiveSettings* live_ = nullptr;
    ServiceNotices* notices_ = nullptr;
    SystemEventSources* events_ = nullptr;
    std::optional<ComDirectoryRepair> repair_;
    const bool settingsUnreadable_;
    ConsoleLog& log_;
    uint32_t reportedPortResult_ = 0;
    uint32_t ticksSinceAttempt_ = 0;
    bool echoReported_[virtualPortCount] = {};
    bool publishFailed_ = false;
    bool failed_ = false;
    uint32_t loggedServer_ = 0; // the TCP port last said to be served, 0 when none
    uint32_t loggedServerError_ = 0;
    std::string loggedAddress_;
    bool loggedSending_ = false;
    uint32_t loggedSenderError_ = 0;
    bool logged_ = false;
    bool wasOpen_ = false;
    uint32_t lastError_ = 0;
    std::pair<uint8_t, uint8_t> shownStream_{};
    std::pair<uint8_t, uint8_t> pendingStream_{};
    uint32_t pendingTicks_ = 0;
};

} // namespace

int RunVerb(int argc, char**) {
    if (argc != 0) {
        std::fputs("usage: tavro run   (tavro run --help tells more)\n", stderr);
        return exitUsage;
    }
    ConsoleLog log("tavro");
    const HangUp hangUp = HangUpMeaning();
    if (!BlockStopSignals(hangUp)) {
        log.Write(LogPriority::Error, "cannot take over the stop signals: %s",
                  std::strerror(errno));
        return exitFailed;
    }
    const ComDirectory directory = ComDirectory::FromEnvironment();
    if (!directory.IsValid()) {
        log.Write(LogPriority::Error, "the COM directory's path is too long (TAVRO_DEVDIR)");
        return exitFailed;
    }
    platform::FileRegistry& registry = platform::SystemFileRegistry();

    // The virtual ports take their numbers when they are created, as the driver reads its
    // own at its start; until "Enable Ports" has a POSIX form, "Port0" set means enabled.
    // Problems with the settings file are reported (naming it) by the store itself.
    Settings initial = DefaultSettings("");
    DriverExchangeBlock numbers{};
    RestartDeviceTable devices{};
    LoadSettings(registry, initial, numbers, devices);
    const bool settingsUnreadable = registry.ProblemCount() != 0;
    PtyPortSet& ports = platform::posix::SystemPtyPortSet();
    ports.Configure(numbers.comNumber);

    // One lock decides which hub runs, before anything is created; a second start hands over.
    platform::posix::SingleInstance instance(directory, statusBlockName);
    // The run log tells the fix state; there is no tray.
    platform::NoTray tray;
    NoMainWindow mainWindow;
    RunSupervisor supervisor(directory, ports, instance.Lock(), settingsUnreadable, log);
    EventLoop loop(directory, supervisor, hangUp);
    FileTrackLog trackLog(platform::SystemFileSystem());
    const HubServices services{{platform::SystemSerialPorts(), ports,
                                platform::SystemSharedMemory(), platform::RealSystemClock(),
                                platform::SystemTiming()},
                               registry,
                               platform::SystemSerialPortMap(),
                               tray,
                               platform::SystemSound(),
                               platform::SystemNotifier(),
                               loop,
                               mainWindow,
                               &trackLog,
                               &platform::SystemThreads(),
                               nullptr,
                               nullptr,
                               nullptr,
                               platform::SystemNetwork()};
    HubEngine engine(services);
    LiveSettings live(engine, ports, registry);
    ServiceNotices notices;
    SystemEventSources events(engine, directory);
    supervisor.Attach(loop, live, notices, events);
    // Terminals a restart through the service manager hands back are taken for their numbers.
    notices.TakeHandedTerminals(ports);
    const int code = HubMain("", engine, instance, loop);
    if (instance.HandedOver()) {
        log.Write(LogPriority::Notice, "a hub already runs for %s; this one ends",
                  instance.RunningHubDirectory());
        return exitOk;
    }
    if (instance.Failure() == error::alreadyExists) {
        log.Write(LogPriority::Error, "another hub holds %s but does not answer",
                  instance.RunningHubDirectory());
        return exitFailed;
    }
    if (instance.Failure() != error::success) {
        log.Write(LogPriority::Error, "cannot take the hub's lock in %s: %s", directory.Path(),
                  Words(instance.Failure()).c_str());
        return exitFailed;
    }
    if (supervisor.Failed()) {
        return exitFailed;
    }
    log.Write(LogPriority::Notice, "stopped");
    return code;
}

} // namespace tavro::posixhub
