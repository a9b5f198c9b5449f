// `tavro run`: the hub in the foreground. The engine is the one the Windows hub runs; this
// file supplies the POSIX services, the event loop and the messages for the terminal.
#include "hub/posix/ConsoleTray.h"
#include "hub/posix/EventLoop.h"
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
#include "platform/posix/PtyPortSet.h"
#include "platform/posix/SocketRunningHub.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <strings.h>

namespace tavro::posixhub {
namespace {

using platform::posix::ComDirectory;
using platform::posix::PtyPortSet;

class RunReport final : public LoopObserver {
public:
    RunReport(const ComDirectory& directory, const PtyPortSet& ports)
        : directory_(directory), ports_(ports) {}

    void Started(HubEngine& engine) override {
        const Settings& settings = engine.Context().settings;
        std::printf("tavro: hub running, COM directory %s\n", directory_.Path());
        if (settings.port != 0) {
            std::printf("tavro: input port COM%u at %u baud\n", settings.port, settings.baud);
        } else {
            std::printf("tavro: no input port (tavro config set Port <n>)\n");
        }
        ReportPorts();
        std::fflush(stdout);
    }

    void Stopping(int signal) override {
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

    bool PublishFailed() const { return publishFailed_; }

private:
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
        if (result == error::fileNotFound) {
            std::printf("tavro: no virtual ports (virtual port 1 needs a number: tavro config "
                        "set Port0 <n>)\n");
        } else if (result == error::alreadyExists) {
            std::printf("tavro: no virtual ports: COM%u is taken (another device, or given "
                        "twice)\n",
                        number);
        } else if (result == error::invalidParameter) {
            std::printf("tavro: no virtual ports: COM%u is beyond COM255\n", number);
        } else if (result == error::genFailure) {
            std::printf("tavro: no virtual ports: another hub holds them in %s\n",
                        directory_.Path());
        } else {
            std::printf("tavro: no virtual ports (error %u)\n", static_cast<unsigned>(result));
        }
    }

    ComDirectory directory_;
    const PtyPortSet& ports_;
    bool publishFailed_ = false;
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
    if (!BlockStopSignals()) {
        std::perror("tavro: cannot take over the stop signals");
        return exitFailed;
    }
    const ComDirectory directory = ComDirectory::FromEnvironment();
    if (!directory.IsValid()) {
        std::fputs("tavro: the COM directory's path is too long (TAVRO_DEVDIR)\n", stderr);
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

    ConsoleTray tray(stdout);
    NoMainWindow mainWindow;
    RunReport report(directory, ports);
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
    const int code = HubMain(hide ? "HIDE" : "", engine, runningHub, loop);
    if (runningHub.Found()) {
        std::fprintf(stderr, "tavro: a hub already runs in %s (it was sent message 1025)\n",
                     directory.Path());
        return exitFailed;
    }
    if (report.PublishFailed()) {
        return exitFailed;
    }
    std::printf("tavro: stopped\n");
    return code;
}

} // namespace tavro::posixhub
