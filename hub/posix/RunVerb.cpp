// `tavro run`: the hub in the foreground. The engine is the one the Windows hub runs; this
// file supplies the POSIX services, the event loop and the messages for the terminal.
#include "hub/posix/ComDirectoryRepair.h"
#include "hub/posix/ConsoleTray.h"
#include "hub/posix/EventLoop.h"
#include "hub/posix/LiveSettings.h"
#include "hub/posix/ServiceNotices.h"
#include "hub/posix/Verbs.h"

#include "common/DriverExchangeBlock.h"
#include "hub/engine/FileTrackLog.h"
#include "hub/engine/HubContext.h"
#include "hub/engine/HubEngine.h"
#include "hub/engine/MainWindow.h"
#include "hub/ui/RestartDevice.h"
#include "hub/ui/Settings.h"
#include "hub/ui/SettingsStore.h"
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
#include "platform/posix/ComDirectory.h"
#include "platform/posix/FileRegistry.h"
#include "platform/posix/PtyPortSet.h"
#include "platform/posix/SingleInstance.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <strings.h>

namespace tavro::posixhub {
namespace {

using platform::posix::ComDirectory;
using platform::posix::PtyPortSet;

// Ticks between two attempts to create virtual ports that could not be created (2.5 s).
constexpr uint32_t portRetryTicks = 50;

// What the hub says while it runs, and the POSIX edition's upkeep between ticks: the COM
// directory kept in place, and virtual ports that could not be created tried again.
class RunSupervisor final : public LoopObserver {
public:
    RunSupervisor(const ComDirectory& directory, PtyPortSet& ports,
                  platform::posix::InstanceLock& lock, bool settingsUnreadable)
        : directory_(directory), ports_(ports), lock_(lock),
          settingsUnreadable_(settingsUnreadable) {}

    void Attach(EventLoop& loop, LiveSettings& live, ServiceNotices& notices) {
        loop_ = &loop;
        live_ = &live;
        notices_ = &notices;
        repair_.emplace(lock_, ports_, loop.Server());
    }

    void Started(HubEngine& engine) override {
        engine_ = &engine;
        const Settings& settings = engine.Context().settings;
        std::printf("tavro: hub running, COM directory %s\n", directory_.Path());
        if (settings.port != 0) {
            std::printf("tavro: input port COM%u at %u baud\n", settings.port, settings.baud);
        } else {
            std::printf("tavro: no input port (tavro config set Port <n>)\n");
        }
        ReportPorts();
        reportedPortResult_ = ports_.IsOpen() ? 0 : ports_.LastOpenResult();
        std::fflush(stdout);
        notices_->Ticked(ports_);
        char status[platform::posix::comPathCapacity + 32];
        std::snprintf(status, sizeof status, "running, COM directory %s", directory_.Path());
        notices_->Ready(status);
    }

    uint32_t ReloadSettings() override {
        notices_->Reloading();
        LiveSettings::Outcome outcome;
        const uint32_t result = live_->Apply(outcome);
        if (outcome.inputReopened) {
            const Settings& settings = engine_->Context().settings;
            std::printf("tavro: settings read again: input port COM%u at %u baud\n", settings.port,
                        settings.baud);
        }
        if (outcome.portsChanged || result != error::success) {
            ReportPorts();
            reportedPortResult_ = ports_.IsOpen() ? 0 : ports_.LastOpenResult();
        }
        notices_->Ticked(ports_);
        notices_->Ready("settings read again");
        return result;
    }

    void Stopping(int signal) override {
        notices_->Stopping();
        std::printf("tavro: %s, stopping\n", signal == SIGINT   ? "interrupted"
                                             : signal == SIGHUP ? "hung up"
                                                                : "terminated");
        std::fflush(stdout);
    }

    void PublishFailed(uint32_t result) override {
        publishFailed_ = true;
        if (result == error::alreadyExists) {
            std::fprintf(stderr, "tavro: another hub serves %s\n", directory_.Path());
        } else {
            std::fprintf(stderr, "tavro: cannot make the command socket in %s (error %u)\n",
                         directory_.Path(), static_cast<unsigned>(result));
        }
    }

    void Ticked() override {
        if (repair_) {
            switch (repair_->Tick()) {
            case ComDirectoryRepair::Outcome::Intact:
                break;
            case ComDirectoryRepair::Outcome::Repaired:
                std::printf("tavro: %s was removed; its links and command socket are back\n",
                            directory_.Path());
                break;
            case ComDirectoryRepair::Outcome::Lost:
                std::fprintf(stderr,
                             "tavro: %s was removed and cannot be made again (error %u): "
                             "stopping\n",
                             directory_.Path(), static_cast<unsigned>(repair_->Failure()));
                failed_ = true;
                loop_->RequestStop();
                return;
            }
        }
        RetryPorts();
        ReportEcho();
        live_->StoreSpeedChange();
        notices_->Ticked(ports_);
    }

    bool Failed() const { return publishFailed_ || failed_; }

private:
    // The winner of a start always gets its ports, or says why not and keeps trying: a COM
    // number taken by another device may be freed, a clash of another hub's links resolved.
    void RetryPorts() {
        if (ports_.IsOpen() || !Retryable(ports_.LastOpenResult()) ||
            ++ticksSinceAttempt_ < portRetryTicks) {
            return;
        }
        ticksSinceAttempt_ = 0;
        const uint32_t result = ports_.Open(controlDeviceName);
        if (result != reportedPortResult_) {
            ReportPorts();
            reportedPortResult_ = result;
        }
    }

    void ReportEcho() {
        for (uint32_t i = 0; i < virtualPortCount; ++i) {
            const bool echoing = ports_.Echoing(i);
            if (echoing && !echoReported_[i]) {
                std::printf("tavro: COM%u echoes what it receives (its program turned echo on): "
                            "its bytes are not sent to the receiver while it does\n",
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

    void ReportPorts() const {
        if (ports_.IsOpen()) {
            for (uint32_t i = 0; i < virtualPortCount; ++i) {
                if (ports_.DevicePath(i)[0] != '\0') {
                    std::printf("tavro: virtual port %u: %s/COM%u -> %s\n", i + 1,
                                directory_.Path(), ports_.ComNumber(i), ports_.DevicePath(i));
                }
            }
            return;
        }
        const uint32_t result = ports_.LastOpenResult();
        const unsigned number = ports_.ConflictingComNumber();
        if (result == error::fileNotFound && settingsUnreadable_) {
            std::printf("tavro: no virtual ports: the settings could not be read (see above)\n");
        } else if (result == error::fileNotFound) {
            std::printf("tavro: no virtual ports (virtual port 1 needs a number: tavro config "
                        "set Port0 <n>)\n");
        } else if (result == error::alreadyExists) {
            std::printf("tavro: no virtual ports yet: COM%u is taken (another device, or given "
                        "twice); trying again every few seconds\n",
                        number);
        } else if (result == error::invalidParameter) {
            std::printf("tavro: no virtual ports: COM%u is beyond COM255\n", number);
        } else if (result == error::genFailure) {
            std::printf("tavro: no virtual ports yet: another program holds them in %s; trying "
                        "again every few seconds\n",
                        directory_.Path());
        } else {
            std::printf("tavro: no virtual ports yet (error %u); trying again every few "
                        "seconds\n",
                        static_cast<unsigned>(result));
        }
    }

    ComDirectory directory_;
    PtyPortSet& ports_;
    platform::posix::InstanceLock& lock_;
    EventLoop* loop_ = nullptr;
    HubEngine* engine_ = nullptr;
    LiveSettings* live_ = nullptr;
    ServiceNotices* notices_ = nullptr;
    std::optional<ComDirectoryRepair> repair_;
    const bool settingsUnreadable_;
    uint32_t reportedPortResult_ = 0;
    uint32_t ticksSinceAttempt_ = 0;
    bool echoReported_[virtualPortCount] = {};
    bool publishFailed_ = false;
    bool failed_ = false;
};

} // namespace

int RunVerb(int argc, char** argv) {
    bool hide = false;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--hide") == 0 || strcasecmp(argv[i], "HIDE") == 0) {
            hide = true;
        } else {
            std::fputs("usage: tavro run [--hide]\n", stderr);
            return exitUsage;
        }
    }
    // Lines reach a pipe or a log file as they happen.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const HangUp hangUp = HangUpMeaning();
    if (!BlockStopSignals(hangUp)) {
        std::perror("tavro: cannot take over the stop signals");
        return exitFailed;
    }
    const ComDirectory directory = ComDirectory::FromEnvironment();
    if (!directory.IsValid()) {
        std::fputs("tavro: the COM directory's path is too long (TAVRO_DEVDIR)\n", stderr);
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
    ConsoleTray tray(stdout);
    NoMainWindow mainWindow;
    RunSupervisor supervisor(directory, ports, instance.Lock(), settingsUnreadable);
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
                               &platform::SystemThreads()};
    HubEngine engine(services);
    LiveSettings live(engine, ports, registry);
    ServiceNotices notices;
    supervisor.Attach(loop, live, notices);
    // Terminals a restart through the service manager hands back are taken for their numbers.
    notices.TakeHandedTerminals(ports);
    const int code = HubMain(hide ? "HIDE" : "", engine, instance, loop);
    if (instance.HandedOver()) {
        std::printf("tavro: a hub already runs for %s; it was asked to show itself\n",
                    instance.RunningHubDirectory());
        return exitOk;
    }
    if (instance.Failure() == error::alreadyExists) {
        std::fprintf(stderr, "tavro: another hub holds %s but does not answer\n",
                     instance.RunningHubDirectory());
        return exitFailed;
    }
    if (instance.Failure() != error::success) {
        std::fprintf(stderr, "tavro: cannot take the hub's lock in %s (error %u)\n",
                     directory.Path(), static_cast<unsigned>(instance.Failure()));
        return exitFailed;
    }
    if (supervisor.Failed()) {
        return exitFailed;
    }
    std::printf("tavro: stopped\n");
    return code;
}

} // namespace tavro::posixhub
