// `tavro run`: the hub in the foreground. The engine is the one the Windows hub runs; this
// file supplies the POSIX services, the event loop and the messages for the terminal.
#include "hub/posix/EventLoop.h"
#include "hub/posix/StatusReport.h"
#include "hub/posix/Verbs.h"

#include "common/DriverExchangeBlock.h"
#include "hub/engine/FileTrackLog.h"
#include "hub/engine/GpsPort.h"
#include "hub/engine/HubContext.h"
#include "hub/engine/HubEngine.h"
#include "hub/engine/MainWindow.h"
#include "hub/ui/RestartDevice.h"
#include "hub/ui/Settings.h"
#include "hub/ui/SettingsStore.h"
#include "hub/ui/StatusText.h"
#include "platform/ErrorCodes.h"
#include "platform/FileSystem.h"
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
#include "platform/posix/ComDirectory.h"
#include "platform/posix/ConsoleLog.h"
#include "platform/posix/PosixErrors.h"
#include "platform/posix/PtyPortSet.h"
#include "platform/posix/SocketRunningHub.h"
#include "platform/posix/SystemClockRights.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace tavro::posixhub {
namespace {

using platform::posix::ComDirectory;
using platform::posix::ConsoleLog;
using platform::posix::LogPriority;
using platform::posix::PtyPortSet;

// A change of the fix must hold this many ticks (1 s) before it is logged: a line with noise
// flips it to "Invalid" and back with every bad sentence.
constexpr uint32_t fixSettleTicks = 20;

// The run log: the start, every change of the input port's state in the words `tavro status`
// uses, problems, the stop. It also answers the status query.
class RunReport final : public LoopObserver {
public:
    RunReport(const ComDirectory& directory, const PtyPortSet& ports, ConsoleLog& log)
        : directory_(directory), ports_(ports), log_(log) {}

    void Started(HubEngine& engine) override {
        log_.Write(LogPriority::Notice, "hub %s running, COM directory %s", TAVRO_VERSION,
                   directory_.Path());
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
        for (uint32_t i = 0; i < virtualPortCount; ++i) {
            if (ports_.DevicePath(i)[0] != '\0') {
                log_.Write(LogPriority::Info, "virtual port %u: %s/COM%u -> %s", i + 1,
                           directory_.Path(), ports_.ComNumber(i), ports_.DevicePath(i));
            }
        }
        for (const std::string& warning : StatusWarnings(facts)) {
            const bool noPorts = warning.rfind("no virtual ports", 0) == 0;
            log_.Write(noPorts ? LogPriority::Error : LogPriority::Warning, "%s", warning.c_str());
        }
    }

    void Ticked(HubEngine& engine) override {
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

    void Stopping(int signal) override {
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
            char reason[96];
            platform::posix::ErrorText(result, reason);
            log_.Write(LogPriority::Error, "cannot make the command socket in %s: %s",
                       directory_.Path(), reason);
        }
    }

    bool PublishFailed() const { return publishFailed_; }

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
            report.inputDevice = device;
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
        }
        report.clockSettable = platform::posix::MaySetSystemClock();
    }

private:
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
    const PtyPortSet& ports_;
    ConsoleLog& log_;
    bool publishFailed_ = false;
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
    if (!BlockStopSignals()) {
        log.Write(LogPriority::Error, "cannot take over the stop signals: %s",
                  std::strerror(errno));
        return exitFailed;
    }
    const ComDirectory directory = ComDirectory::FromEnvironment();
    if (!directory.IsValid()) {
        log.Write(LogPriority::Error, "the COM directory's path is too long (TAVRO_DEVDIR)");
        return exitFailed;
    }
    platform::Registry& registry = platform::SystemRegistry();

    // The virtual ports take their numbers when they are created, as the driver reads its
    // own at its start; until "Enable Ports" has a POSIX form, "Port0" set means enabled.
    Settings initial = DefaultSettings("");
    DriverExchangeBlock numbers{};
    RestartDeviceTable devices{};
    LoadSettings(registry, initial, numbers, devices);
    PtyPortSet& ports = platform::posix::SystemPtyPortSet();
    ports.Configure(numbers.comNumber);

    // The run log tells the fix state; there is no tray.
    platform::NoTray tray;
    NoMainWindow mainWindow;
    RunReport report(directory, ports, log);
    EventLoop loop(directory, report);
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
                               &platform::SystemThreads()};
    HubEngine engine(services);
    platform::posix::SocketRunningHub runningHub(directory);
    const int code = HubMain("", engine, runningHub, loop);
    if (runningHub.Found()) {
        log.Write(LogPriority::Error, "a hub already runs in %s", directory.Path());
        return exitFailed;
    }
    if (report.PublishFailed()) {
        return exitFailed;
    }
    log.Write(LogPriority::Notice, "stopped");
    return code;
}

} // namespace tavro::posixhub
