// Cost of one timer tick of the hub engine: the exchange with the driver (in process), the
// user count, the tray check and the input step, idle and with a receiver that sends a fix
// every tick to an application on a virtual port.
#include "hub/engine/HubEngine.h"
#include "hub/settings/SettingsStore.h"
#include "platform/ErrorCodes.h"
#include "platform/testing/FakeSerialPorts.h"
#include "platform/testing/FakeTiming.h"
#include "platform/testing/MemoryRegistry.h"
#include "platform/testing/RecordingSystemClock.h"
#include "sys/usermode/InProcessDriver.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <string>

namespace tavro {
namespace {

class NoMapping final : public platform::SharedMemory {
public:
    uint32_t CreateOrOpen(const char*, uint32_t, platform::SharedView&) override {
        return error::notSupported;
    }
    uint32_t Open(const char*, platform::SharedView&) override { return error::fileNotFound; }
    void Close(platform::SharedView& view) override { view = {}; }
};

class QuietWindow final : public MessageWindow {
public:
    void Publish() override {}
    void StartTimer(uint32_t) override {}
    void StopTimer() override {}
    void AllowCommandsFromLowerIntegrity() override {}
};

class QuietSound final : public platform::Sound {
public:
    bool PlayFile(const char*) override { return true; }
};

class QuietNotifier final : public platform::Notifier {
public:
    void ShowMessage(const char*) override {}
};

// One second of a receiver at 1 Hz, sent in one piece.
const std::string fixSentences =
    "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n"
    "$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*39\r\n"
    "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n";

struct Hub {
    Hub()
        : driver({7, 0, 0, 0, 0, 0, 0, 0}), receiver(ports.Add(3)),
          engine(HubServices{{ports, driver.Control(), memory, clock, timing},
                             registry,
                             portMap,
                             tray,
                             sound,
                             notifier,
                             window,
                             mainWindow}) {
        platform::ScopedRegistryKey key(registry);
        registry.CreateKey(platform::RegistryKey::currentUser, settingsKeyPath, key.Receive());
        const uint32_t port = 3;
        registry.SetValue(key.Get(), "Port", platform::regDword, &port, sizeof port);
        engine.SetStartHidden(true);
        engine.StaticAttach();
        engine.InitDialog();
        for (int i = 0; i < 50; ++i) {
            engine.Tick(); // the first open of the receiver
        }
        uint32_t error = 0;
        application = driver.OpenPort(7, error);
    }

    platform::testing::FakeSerialPorts ports;
    driver::usermode::InProcessDriver driver;
    platform::testing::FakeSerialDevice& receiver;
    NoMapping memory;
    platform::RecordingSystemClock clock;
    platform::testing::FakeTiming timing;
    platform::MemoryRegistry registry;
    platform::testing::FakeSerialPortMap portMap;
    platform::NoTray tray;
    QuietSound sound;
    QuietNotifier notifier;
    QuietWindow window;
    NoMainWindow mainWindow;
    HubEngine engine;
    std::unique_ptr<driver::usermode::ApplicationPort> application;
};

void IdleTick(benchmark::State& state) {
    Hub hub;
    for (auto _ : state) {
        hub.engine.Tick();
    }
}
BENCHMARK(IdleTick);

void TickWithAFix(benchmark::State& state) {
    Hub hub;
    int64_t ticks = 0;
    for (auto _ : state) {
        hub.receiver.QueueInput(fixSentences);
        hub.engine.Tick();
        if (++ticks % 16 == 0) {
            state.PauseTiming();
            hub.application->ReadNow(1 << 16); // keep the virtual port's ring from filling
            state.ResumeTiming();
        }
    }
    state.SetBytesProcessed(ticks * static_cast<int64_t>(fixSentences.size()));
    if (hub.engine.Status().rmcCount != static_cast<int32_t>(ticks)) {
        state.SkipWithError("the sentences were not decoded");
    }
}
BENCHMARK(TickWithAFix);

} // namespace
} // namespace tavro

BENCHMARK_MAIN();
