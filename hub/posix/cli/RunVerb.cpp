// `tavro run`: the hub in the foreground. The engine is the one the Windows hub runs; this
// file supplies the POSIX services and starts the event loop with the supervisor
// (RunSupervisor), which keeps the run log, the upkeep and the service manager's notices.
#include "hub/posix/cli/VerbSupport.h"
#include "hub/posix/cli/Verbs.h"
#include "hub/posix/host/EventLoop.h"
#include "hub/posix/host/LinkGuardian.h"
#include "hub/posix/host/LiveSettings.h"
#include "hub/posix/host/RunSupervisor.h"
#include "hub/posix/host/ServiceNotices.h"
#include "hub/posix/host/SystemEvents.h"
#include "hub/posix/status/ErrorWords.h"

#include "common/DriverExchangeBlock.h"
#include "hub/engine/FileTrackLog.h"
#include "hub/engine/HubEngine.h"
#include "hub/engine/MainWindow.h"
#include "hub/posix/instance/SingleInstance.h"
#include "hub/posix/ports/PtyPortSet.h"
#include "hub/settings/RestartDevice.h"
#include "hub/settings/Settings.h"
#include "hub/settings/SettingsStore.h"
#include "hub/time/PulsePerSecond.h"
#include "platform/ErrorCodes.h"
#include "platform/FileSystem.h"
#include "platform/Network.h"
#include "platform/Notifier.h"
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
#include "platform/posix/FileRegistry.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tavro::posixhub {

using platform::posix::ComDirectory;
using platform::posix::ConsoleLog;
using platform::posix::LogPriority;
using platform::posix::PtyPortSet;

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
    // Started before any thread: the kernel tells it when this thread (the process) ends.
    const int guardian = StartLinkGuardian();
    if (guardian < 0) {
        log.Write(LogPriority::Warning,
                  "cannot start the guardian of the virtual ports' links (%s): after a crash "
                  "they stay until tavro clean",
                  std::strerror(errno));
    }
    platform::FileRegistry& registry = platform::SystemFileRegistry();

    // The virtual ports take their numbers when they are created, as the driver reads its
    // own at its start; until "Enable Ports" has a POSIX form, "Port0" set means enabled.
    // Problems with the settings file are reported (naming it) by the store itself.
    Settings initial;
    DriverExchangeBlock numbers{};
    RestartDeviceTable devices{};
    LoadEditionSettings(registry, initial, numbers, devices);
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
    PulsePerSecond pulse(&platform::SystemThreads(), &platform::SystemTimeService());
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
                               platform::SystemNetwork(),
                               &platform::SystemTimeService(),
                               &pulse};
    HubEngine engine(services);
    LiveSettings live(engine, ports, registry);
    ServiceNotices notices;
    SystemEventSources events(engine, directory);
    supervisor.Attach(loop, live, notices, events);
    supervisor.KeepGuardian(guardian);
    // Terminals a restart through the service manager hands back are taken for their numbers.
    notices.TakeHandedTerminals(ports);
    const int code = HubMain("", engine, instance, loop);
    if (instance.HandedOver()) {
        log.Write(LogPriority::Notice, "a hub already runs for %s; this one ends",
                  instance.RunningHubDirectory());
        return exitOk;
    }
    if (instance.Failure() == error::semTimeout) {
        const int pid = instance.HolderPid();
        log.Write(LogPriority::Error,
                  "hub not responding, pid %d (%s): it is stopped or hung; resume it (kill -CONT "
                  "%d) or end it (kill %d), then start again",
                  pid, instance.RunningHubDirectory(), pid, pid);
        return exitFailed;
    }
    if (instance.Failure() == error::alreadyExists) {
        log.Write(LogPriority::Error, "another hub holds %s but does not answer",
                  instance.RunningHubDirectory());
        return exitFailed;
    }
    if (instance.Failure() != error::success) {
        log.Write(LogPriority::Error, "cannot take the hub's lock in %s: %s", directory.Path(),
                  ErrorWords(instance.Failure()).c_str());
        return exitFailed;
    }
    if (loop.FailedStep() != nullptr) {
        log.Write(LogPriority::Error, "the event loop failed (%s: %s): stopping", loop.FailedStep(),
                  std::strerror(loop.FailedErrno()));
        return exitFailed;
    }
    if (supervisor.Failed()) {
        return exitFailed;
    }
    log.Write(LogPriority::Notice, "stopped");
    return code;
}

} // namespace tavro::posixhub
