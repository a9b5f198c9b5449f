// gps-sim: a GPS receiver on a pseudo-terminal that appears in the COM directory as COM<n>.
// The loop wakes every few milliseconds: it takes in what the client wrote, and puts on the
// line what the simulated receiver has sent by now.
#include "platform/ErrorCodes.h"
#include "platform/linux/ProcessBoundPath.h"
#include "platform/posix/ComDirectory.h"
#include "platform/posix/ConsoleLog.h"
#include "platform/posix/PosixErrors.h"
#include "tools/gps-sim/NmeaSentence.h"
#include "tools/gps-sim/Options.h"
#include "tools/gps-sim/PtyLine.h"
#include "tools/gps-sim/Recording.h"
#include "tools/gps-sim/Simulator.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace tavro::gpssim {
namespace {

volatile std::sig_atomic_t stopRequested = 0;

void RequestStop(int) {
    stopRequested = 1;
}

uint64_t MonotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
}

int64_t UtcMs() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

int64_t UtcUs() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

// Sleeps until the system clock reads `utcUs` (at once when it has passed).
void SleepUntilUtc(int64_t utcUs) {
    const timespec until{static_cast<time_t>(utcUs / 1000000),
                         static_cast<long>(utcUs % 1000000) * 1000};
    while (clock_nanosleep(CLOCK_REALTIME, TIMER_ABSTIME, &until, nullptr) == EINTR &&
           !stopRequested) {
    }
}

// --emit-delay: each fix's first byte is written `delay` plus one byte time after the fix's
// time, when its last bit would have reached the far end of a real line.
class EmissionTimer {
public:
    explicit EmissionTimer(int32_t delayMs) : delayUs_(int64_t{delayMs} * 1000) {}
    bool On() const { return delayUs_ >= 0; }

    // How far the fixes' times lie before their first byte is written.
    int64_t ShiftUs(uint32_t baud) const { return delayUs_ + 10000000 / baud; }
    // The next moment a first byte is due after `nowUs`.
    int64_t NextUs(int64_t nowUs, uint32_t baud, uint32_t intervalMs) const {
        const int64_t period = int64_t{intervalMs} * 1000;
        const int64_t shift = ShiftUs(baud);
        return (nowUs - shift) / period * period + period + shift;
    }
    void Written(int64_t lateUs) {
        ++count_;
        totalLateUs_ += lateUs;
        maxLateUs_ = std::max(maxLateUs_, lateUs);
    }
    std::string Summary() const {
        return Format("%llu first bytes written, %lld us late on average, %lld us at most",
                      static_cast<unsigned long long>(count_),
                      static_cast<long long>(count_ != 0 ? totalLateUs_ / count_ : 0),
                      static_cast<long long>(maxLateUs_));
    }

private:
    int64_t delayUs_;
    uint64_t count_ = 0;
    int64_t totalLateUs_ = 0;
    int64_t maxLateUs_ = 0;
};

// Messages to standard error (unless quiet) and to the log file (if any), one line each.
class Messages {
public:
    Messages(bool quiet, const std::string& logPath) : quiet_(quiet), console_("gps-sim") {
        if (!logPath.empty()) {
            log_ = std::fopen(logPath.c_str(), "a");
        }
    }
    ~Messages() {
        if (log_ != nullptr) {
            std::fclose(log_);
        }
    }
    bool LogFailed(const std::string& logPath) const { return !logPath.empty() && log_ == nullptr; }

    void Say(const std::string& text) {
        if (!quiet_) {
            console_.Write(platform::posix::LogPriority::Info, "%s", text.c_str());
        }
        if (log_ != nullptr) {
            const time_t now = std::time(nullptr);
            tm local{};
            localtime_r(&now, &local);
            char stamp[32];
            std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
            std::fprintf(log_, "%s %s\n", stamp, text.c_str());
            std::fflush(log_);
        }
    }

private:
    bool quiet_;
    platform::posix::ConsoleLog console_;
    std::FILE* log_ = nullptr;
};

void InstallSignals() {
    struct sigaction action {};
    action.sa_handler = RequestStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

int Run(const Options& options) {
    Messages messages(options.quiet, options.logPath);
    if (messages.LogFailed(options.logPath)) {
        std::fprintf(stderr, "gps-sim: cannot open the log %s\n", options.logPath.c_str());
        return 1;
    }
    Recording recording;
    if (!options.replayPath.empty()) {
        std::string error;
        if (!Recording::Load(options.replayPath, recording, error)) {
            std::fprintf(stderr, "gps-sim: %s\n", error.c_str());
            return 1;
        }
    }
    // Before the link exists, so that an early Ctrl-C still ends in the clean-up below.
    InstallSignals();
    PtyLine line;
    std::string error;
    if (!line.Open(options.baud, error)) {
        std::fprintf(stderr, "gps-sim: %s\n", error.c_str());
        return 1;
    }

    const platform::posix::ComDirectory directory =
        platform::posix::ComDirectory::FromEnvironment();
    char existing[platform::posix::comPathCapacity];
    bool present = false;
    if (directory.Resolve(options.comNumber, existing, present) == error::success && present &&
        !options.force) {
        std::fprintf(stderr,
                     "gps-sim: COM%u already names %s, which is present; --force replaces it\n",
                     static_cast<unsigned>(options.comNumber), existing);
        return 1;
    }
    // The link leads to the terminal only while this process lives: once it is gone (killed
    // included), the terminal number may be handed to somebody's session, and nobody must be
    // led there.
    platform::posix::ProcessBoundPath bound;
    if (!bound.Hold(line.SlavePath().c_str())) {
        std::fprintf(stderr, "gps-sim: cannot hold %s: %s\n", line.SlavePath().c_str(),
                     std::strerror(errno));
        return 1;
    }
    const uint32_t linked = directory.Link(options.comNumber, bound.Path());
    if (linked != error::success) {
        char reason[96];
        platform::posix::ErrorText(linked, reason);
        std::fprintf(stderr, "gps-sim: cannot link COM%u in %s: %s\n",
                     static_cast<unsigned>(options.comNumber), directory.Path(), reason);
        return 1;
    }

    SimulatorSettings settings;
    settings.baud = options.baud;
    settings.fixIntervalMs = options.fixIntervalMs;
    settings.garbage = options.garbage;
    settings.replayOnce = options.once;
    settings.seed = options.seed;
    settings.drive.startLatitude = options.startLatitude;
    settings.drive.startLongitude = options.startLongitude;
    settings.drive.seed = static_cast<uint32_t>(options.seed);
    settings.drive.fix = options.fix;
    settings.drive.systems = options.systems;
    settings.drive.startUtcMs = UtcMs();
    Simulator simulator(settings, MonotonicMs(), options.replayPath.empty() ? nullptr : &recording);

    const std::string source =
        options.replayPath.empty()
            ? Format("drive from %.5f,%.5f", options.startLatitude, options.startLongitude)
            : "replay of " + options.replayPath;
    messages.Say(Format("COM%u -> %s at %u baud, %s", static_cast<unsigned>(options.comNumber),
                        line.SlavePath().c_str(), static_cast<unsigned>(options.baud),
                        source.c_str()));

    EmissionTimer timer(options.replayPath.empty() ? options.emitDelayMs : -1);
    if (timer.On()) {
        messages.Say(Format("each fix's first byte leaves %d ms after its time and is written "
                            "%lld us later: the clock lags %.3f ms at %u baud",
                            options.emitDelayMs,
                            static_cast<long long>(timer.ShiftUs(options.baud) -
                                                   int64_t{options.emitDelayMs} * 1000),
                            timer.ShiftUs(options.baud) / 1000.0,
                            static_cast<unsigned>(options.baud)));
    }
    bool wasConnected = false;
    bool overflowing = false;
    // A recording played once waits for its listener, so that every byte of it is heard.
    bool sending = !options.once;
    std::vector<uint8_t> output(16 * 1024);
    char input[1024];
    while (!stopRequested) {
        bool readable = false;
        bool connected = false;
        int64_t dueUs = 0;
        uint32_t waitMs = 10;
        if (timer.On()) {
            const int64_t now = UtcUs();
            dueUs = timer.NextUs(now, simulator.Baud(), simulator.Receiver().FixIntervalMs());
            // Wakes a little early; the last stretch is slept to the microsecond below.
            waitMs = static_cast<uint32_t>(std::clamp<int64_t>((dueUs - now) / 1000 - 2, 0, 10));
        }
        line.Wait(waitMs, readable, connected);
        const uint32_t lineBaud = line.LineBaud();
        if (connected != wasConnected) {
            messages.Say(connected ? Format("a client opened COM%u", options.comNumber)
                                   : Format("COM%u closed", options.comNumber));
            wasConnected = connected;
        }
        if (readable) {
            const size_t count = line.Read(input, sizeof input);
            simulator.Receive(std::string_view(input, count), lineBaud);
        }
        sending = sending || connected;
        size_t capacity = output.size();
        int64_t utcMs = UtcMs();
        if (timer.On()) {
            if (simulator.Idle() && dueUs - UtcUs() < 3000) {
                SleepUntilUtc(dueUs);
                capacity = 1; // the first byte alone, the rest at the line's rate
            }
            // The fix falls due when its first byte is.
            utcMs = (UtcUs() - timer.ShiftUs(simulator.Baud())) / 1000;
        }
        const size_t produced =
            sending ? simulator.Transmit(MonotonicMs(), utcMs, lineBaud, output.data(), capacity)
                    : 0;
        if (capacity == 1 && produced == 1 && connected) {
            line.Write(output.data(), 1);
            timer.Written(UtcUs() - dueUs);
            simulator.SpendCredit(MonotonicMs());
            continue;
        }
        // Nobody listening: the bytes go out on a line without a listener.
        if (produced > 0 && connected) {
            const bool full = line.Write(output.data(), produced) < produced;
            if (full && !overflowing) {
                messages.Say("the client does not read: output dropped");
            }
            overflowing = full;
        }
        for (const std::string& event : simulator.TakeEvents()) {
            messages.Say(event);
        }
    }

    if (timer.On()) {
        messages.Say(timer.Summary());
    }
    directory.RemoveIf(options.comNumber, bound.Path());
    messages.Say(Format("stopped, COM%u removed", static_cast<unsigned>(options.comNumber)));
    return 0;
}

} // namespace
} // namespace tavro::gpssim

int main(int argc, char** argv) {
    using namespace tavro::gpssim;
    std::vector<std::string> arguments(argv + 1, argv + argc);
    Options options;
    std::string error;
    if (!ParseOptions(arguments, options, error)) {
        std::fprintf(stderr, "gps-sim: %s\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(HelpText().c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("gps-sim %s\n", TAVRO_VERSION);
        return 0;
    }
    return Run(options);
}
