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

    bool wasConnected = false;
    bool overflowing = false;
    // A recording played once waits for its listener, so that every byte of it is heard.
    bool sending = !options.once;
    std::vector<uint8_t> output(16 * 1024);
    char input[1024];
    while (!stopRequested) {
        bool readable = false;
        bool connected = false;
        line.Wait(10, readable, connected);
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
        const size_t produced = sending ? simulator.Transmit(MonotonicMs(), UtcMs(), lineBaud,
                                                             output.data(), output.size())
                                        : 0;
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
