// The error of the time "Auto Time Sync" sets: the hub engine in this process, on a loop of
// its own (the tick, and the receiver's descriptor with "Immediate Relay"), reading a receiver
// on a pseudo-terminal that sends a burst at known instants; a clock that records instead of
// setting. Each burst is labelled with a whole minute (the hub sets the clock only then) and
// the label's true instant is known, so the error is what the hub added to the label less the
// time that had really passed since the burst's epoch.
#include "tools/relay-bench/ClockBench.h"

#include "hub/engine/HubContext.h"
#include "hub/engine/HubEngine.h"
#include "hub/engine/MainWindow.h"
#include "hub/engine/MessageWindow.h"
#include "platform/ControlDevice.h"
#include "platform/ErrorCodes.h"
#include "platform/Notifier.h"
#include "platform/SerialPort.h"
#include "platform/SerialPortMap.h"
#include "platform/SharedMemory.h"
#include "platform/Sound.h"
#include "platform/SystemClock.h"
#include "platform/Timing.h"
#include "platform/Tray.h"
#include "platform/testing/MemoryRegistry.h"
#include "tools/relay-bench/Bench.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <poll.h>
#include <sys/timerfd.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace tavro::bench {
namespace {

using namespace std::chrono_literals;

int64_t RealNs() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

struct Setting {
    SystemTime time;
    int64_t realNs;
};

class RecordingClock final : public platform::SystemClock {
public:
    uint32_t SetSystemTime(const SystemTime& utc) override {
        std::lock_guard guard(lock_);
        settings_.push_back({utc, RealNs()});
        return error::success;
    }
    std::vector<Setting> Settings() {
        std::lock_guard guard(lock_);
        return settings_;
    }

private:
    std::mutex lock_;
    std::vector<Setting> settings_;
};

class NoDevice final : public platform::ControlDevice {
public:
    uint32_t Open(const char*) override { return error::fileNotFound; }
    bool IsOpen() const override { return false; }
    uint32_t Exchange(DriverExchangeBlock&) override { return error::invalidHandle; }
    uint32_t Broadcast(const uint8_t*, uint32_t) override { return error::invalidHandle; }
    void Close() override {}
};

class NoTray final : public platform::Tray {
public:
    bool ShowTrayIcon(platform::TrayOperation, uint32_t, const char*) override { return true; }
};

class NoSound final : public platform::Sound {
public:
    bool PlayFile(const char*) override { return true; }
};

class NoNotifier final : public platform::Notifier {
public:
    void ShowMessage(const char*) override {}
};

class TimerWindow final : public MessageWindow {
public:
    TimerWindow() { fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC); }
    ~TimerWindow() override { close(fd); }
    void Publish() override {}
    void StartTimer(uint32_t periodMs) override {
        const timespec period{0, static_cast<long>(periodMs) * 1000000L};
        itimerspec every{period, period};
        timerfd_settime(fd, 0, &every, nullptr);
    }
    void StopTimer() override {
        itimerspec stopped{};
        timerfd_settime(fd, 0, &stopped, nullptr);
    }
    void AllowCommandsFromLowerIntegrity() override {}
    int fd = -1;
};

// hh:mm:00.000 of burst `k`: a whole minute, different for every burst.
void Label(uint32_t k, char (&text)[16], uint16_t& hour, uint16_t& minute) {
    hour = static_cast<uint16_t>(10 + k / 60);
    minute = static_cast<uint16_t>(k % 60);
    std::snprintf(text, sizeof text, "%02u%02u00.000", hour, minute);
}

// The epoch's sentences, the RMC last (as MTK receivers order them).
std::string Burst(uint32_t k) {
    char time[16];
    uint16_t hour = 0;
    uint16_t minute = 0;
    Label(k, time, hour, minute);
    const std::string t = time;
    std::string burst =
        Sentence("GPGGA," + t + ",4807.0380,N,01131.0000,E,1,08,0.9,545.4,M,46.9,M,,");
    burst += Sentence("GPGSA,A,3,04,05,09,12,24,25,29,31,,,,,1.8,0.9,1.5");
    burst += Sentence("GPGSV,3,1,12,04,77,125,45,05,32,296,41,09,23,048,38,12,55,220,44");
    burst += Sentence("GPGSV,3,2,12,24,12,171,33,25,45,089,42,29,39,309,40,31,08,262,29");
    burst += Sentence("GPGSV,3,3,12,02,05,027,,10,03,110,,16,02,330,,20,01,190,");
    burst += Sentence("GPRMC," + t + ",A,4807.0380,N,01131.0000,E,022.4,084.4,230313,003.1,W");
    return burst;
}

// Writes `bytes` at the line's byte rate, in slices of 2 ms.
void Paced(const Pty& receiver, const std::string& bytes, uint32_t baud) {
    const uint64_t start = NowNs();
    size_t written = 0;
    while (written < bytes.size()) {
        const size_t due =
            std::min(bytes.size(), static_cast<size_t>((NowNs() - start) * 1e-9 * baud / 10.0) + 1);
        if (due > written) {
            receiver.WriteAll(bytes.substr(written, due - written));
            written = due;
        }
        std::this_thread::sleep_for(2ms);
    }
}

} // namespace

int ClockError(uint32_t baud, uint32_t count, bool immediate) {
    Stage stage("");
    if (!stage.Prepare()) {
        return 1;
    }
    const std::string link = stage.root + "/dev/COM1";
    if (symlink(stage.hubReceiver.slave.c_str(), link.c_str()) != 0) {
        return 1;
    }
    NoDevice device;
    RecordingClock clock;
    platform::MemoryRegistry registry;
    NoTray tray;
    NoSound sound;
    NoNotifier notifier;
    TimerWindow window;
    NoMainWindow mainWindow;
    HubEngine engine(HubServices{{platform::SystemSerialPorts(), device,
                                  platform::SystemSharedMemory(), clock, platform::SystemTiming()},
                                 registry,
                                 platform::SystemSerialPortMap(),
                                 tray,
                                 sound,
                                 notifier,
                                 window,
                                 mainWindow});
    engine.SetStartHidden(true);
    engine.StaticAttach();
    engine.InitDialog();
    Settings& settings = engine.Context().settings;
    settings.port = 1;
    settings.baud = baud;
    settings.immediateRelay = immediate ? 1 : 0;
    settings.optionFlags = OptionFlags::autoTimeSync;

    std::atomic<bool> stop{false};
    std::vector<int64_t> epochs(count, 0);
    std::thread receiver([&] {
        // Bursts every two seconds on whole seconds, each followed by a lost fix, so that the
        // next one sets the clock again.
        std::this_thread::sleep_for(4s); // the hub opens its input port 2.5 s after starting
        for (uint32_t k = 0; k < count && !stop.load(); ++k) {
            const int64_t now = RealNs();
            const int64_t epoch = (now / 1000000000 + 2) / 2 * 2 * 1000000000;
            std::this_thread::sleep_for(std::chrono::nanoseconds(epoch - now));
            epochs[k] = epoch;
            Paced(stage.hubReceiver, Burst(k), baud);
            std::this_thread::sleep_for(100ms);
            char time[16];
            uint16_t hour = 0;
            uint16_t minute = 0;
            Label(k, time, hour, minute);
            Paced(stage.hubReceiver, Sentence("GPRMC," + std::string(time) + ",V,,,,,,,230313,,"),
                  baud);
        }
        std::this_thread::sleep_for(500ms);
        stop.store(true);
    });
    platform::WaitEntry waits[8];
    while (!stop.load()) {
        pollfd entries[9] = {{window.fd, POLLIN, 0}};
        const uint32_t waitCount = engine.CollectWaits(waits, 8);
        for (uint32_t i = 0; i < waitCount; ++i) {
            entries[1 + i] = {
                static_cast<int>(waits[i].object),
                static_cast<short>(waits[i].events & platform::waitInput ? POLLIN : POLLOUT), 0};
        }
        if (poll(entries, 1 + waitCount, 100) <= 0) {
            continue;
        }
        for (uint32_t i = 0; i < waitCount; ++i) {
            if (entries[1 + i].revents != 0) {
                engine.WaitReady(waits[i].token, waits[i].events);
            }
        }
        if (entries[0].revents & POLLIN) {
            uint64_t expirations = 0;
            if (read(window.fd, &expirations, sizeof expirations) == sizeof expirations) {
                engine.Tick();
            }
        }
    }
    receiver.join();
    engine.Destroy();

    std::vector<double> errors;
    if (std::getenv("BENCH_DEBUG") != nullptr) {
        for (const Setting& set : clock.Settings()) {
            std::printf("set %02u:%02u:%02u.%03u\n", set.time.wHour, set.time.wMinute,
                        set.time.wSecond, set.time.wMilliseconds);
        }
    }
    for (const Setting& set : clock.Settings()) {
        const uint32_t k = (set.time.wHour - 10u) * 60u + set.time.wMinute;
        if (k >= count || epochs[k] == 0) {
            continue;
        }
        const double added = set.time.wSecond * 1000.0 + set.time.wMilliseconds;
        const double passed = (set.realNs - epochs[k]) / 1e6;
        errors.push_back(added - passed);
    }
    std::sort(errors.begin(), errors.end());
    if (errors.empty()) {
        std::printf("%6u baud, %-18s no setting made\n", baud,
                    immediate ? "Immediate Relay 1" : "Immediate Relay 0");
        return 1;
    }
    double mean = 0;
    for (const double e : errors) {
        mean += e / errors.size();
    }
    std::printf("%6u baud, %-18s %3zu settings: error mean %8.1f ms, median %8.1f, min %8.1f, "
                "max %8.1f (negative: the clock is set behind)\n",
                baud, immediate ? "Immediate Relay 1" : "Immediate Relay 0", errors.size(), mean,
                errors[errors.size() / 2], errors.front(), errors.back());
    return 0;
}

} // namespace tavro::bench
