// `tavro find [--apply]`: the GPS search from the command line. Every port of the COM directory
// is tried at every speed, one thread per port, exactly as the hub's "Find GPS" does; the
// progress line is printed whenever it changes, then the result. With --apply a receiver found
// becomes the input port ("Port", "Baud", "Bluetooth") of the next `tavro run`.
//
// A running hub holds its input port (and its virtual ports are in the same directory), so the
// search refuses to run beside it.
#include "hub/posix/cli/Verbs.h"

#include "common/DriverExchangeBlock.h"
#include "hub/engine/GpsSearch.h"
#include "hub/engine/HubContext.h"
#include "hub/engine/SearchProgress.h"
#include "hub/posix/command/CommandSocket.h"
#include "hub/settings/RestartDevice.h"
#include "hub/settings/Settings.h"
#include "hub/settings/SettingsStore.h"
#include "platform/ControlDevice.h"
#include "platform/ErrorCodes.h"
#include "platform/Registry.h"
#include "platform/SerialPort.h"
#include "platform/SerialPortMap.h"
#include "platform/SharedMemory.h"
#include "platform/SystemClock.h"
#include "platform/Threads.h"
#include "platform/Timing.h"
#include "platform/posix/ComDirectory.h"

#include <cstdio>
#include <cstring>

namespace tavro::posixhub {
namespace {

using platform::posix::ComDirectory;

// How often the progress line is looked at (the main window's timer period).
constexpr uint32_t progressPeriodMs = 200;

// No driver beside the search: no virtual port is left out, nothing is relayed.
class NoControlDevice final : public platform::ControlDevice {
public:
    uint32_t Open(const char*) override { return error::fileNotFound; }
    bool IsOpen() const override { return false; }
    uint32_t Exchange(DriverExchangeBlock&) override { return error::invalidHandle; }
    uint32_t Broadcast(const uint8_t*, uint32_t) override { return error::invalidHandle; }
    void Close() override {}
};

bool AnyPortPresent(const SearchValues& values) {
    for (const auto& state : values.portScanState) {
        if (state.load() != 0) {
            return true;
        }
    }
    return false;
}

// The found receiver becomes the input port; every other setting is written back as stored.
bool StoreResult(uint32_t port, uint32_t baud, bool slowOpen) {
    platform::Registry& registry = platform::SystemRegistry();
    Settings settings;
    DriverExchangeBlock numbers{};
    RestartDeviceTable devices{};
    LoadEditionSettings(registry, settings, numbers, devices);
    settings.port = port;
    settings.baud = baud;
    settings.bluetooth = slowOpen ? 1 : 0;
    // No program path: the autostart entry is left as it is.
    SaveSettings(registry, settings, numbers, nullptr, false);
    Settings check;
    LoadEditionSettings(registry, check, numbers, devices);
    return check.port == port && check.baud == baud && check.bluetooth == settings.bluetooth;
}

} // namespace

int FindVerb(int argc, char** argv) {
    bool apply = false;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--apply") == 0) {
            apply = true;
        } else {
            std::fputs("usage: tavro find [--apply]\n", stderr);
            return exitUsage;
        }
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const ComDirectory directory = ComDirectory::FromEnvironment();
    if (!directory.IsValid()) {
        std::fputs("tavro find: the COM directory's path is too long (TAVRO_DEVDIR)\n", stderr);
        return exitFailed;
    }
    if (platform::posix::HubListens(directory)) {
        std::fprintf(stderr,
                     "tavro find: a hub runs in %s and holds its input port; stop it first\n",
                     directory.Path());
        return exitFailed;
    }

    {
        Settings stored;
        DriverExchangeBlock numbers{};
        RestartDeviceTable devices{};
        LoadEditionSettings(platform::SystemRegistry(), stored, numbers, devices);
        if (stored.source[0] != '\0') {
            std::printf("tavro find: note: Source is %s; the search is for serial receivers, "
                        "and Port is read only while Source is empty\n",
                        stored.source);
        }
    }
    NoControlDevice noDriver;
    platform::Timing& timing = platform::SystemTiming();
    HubContext hub({platform::SystemSerialPorts(), noDriver, platform::SystemSharedMemory(),
                    platform::RealSystemClock(), timing});
    GpsSearch search(hub, platform::SystemSerialPortMap(), &platform::SystemThreads());
    search.StartSearch();
    if (!AnyPortPresent(hub.search)) {
        std::printf("tavro find: no serial ports in %s (tavro link COM<n> DEVICE adds one)\n",
                    directory.Path());
    }

    char shown[searchProgressSize] = {};
    while (search.ThreadsRunning()) {
        char progress[searchProgressSize];
        FormatSearchProgress(hub.search, progress);
        if (progress[0] != '\0' && std::strcmp(progress, shown) != 0) {
            std::printf("%s\n", progress);
            std::memcpy(shown, progress, sizeof shown);
        }
        timing.Sleep(progressPeriodMs);
    }
    search.ReleaseFinished();

    const uint32_t port = hub.search.FoundPort();
    const uint32_t baud = hub.search.FoundBaud();
    if (port == 0) {
        std::printf("No GPS Found\n");
        return exitFailed;
    }
    std::printf("GPS on COM%u at %u\n", static_cast<unsigned>(port), static_cast<unsigned>(baud));
    if (apply) {
        if (!StoreResult(port, baud, search.FoundSlowOpen())) {
            std::fputs("tavro find: the settings could not be stored\n", stderr);
            return exitFailed;
        }
        std::printf("tavro find: Port %u, Baud %u stored\n", static_cast<unsigned>(port),
                    static_cast<unsigned>(baud));
    }
    return exitOk;
}

} // namespace tavro::posixhub
