#include "setup/posix/FeltroVerbs.h"

#include "hub/posix/command/CommandSocket.h"
#include "platform/ErrorCodes.h"
#include "platform/posix/ComDirectory.h"
#include "platform/posix/MonotonicClock.h"
#include "platform/posix/PosixErrors.h"
#include "setup/SetupTool.h"
#include "setup/StatusText.h"
#include "setup/posix/ConsoleView.h"
#include "setup/posix/SocketHubLink.h"

#include <cstdio>
#include <time.h>

namespace tavro::feltro {
namespace {

using namespace setup;
using platform::posix::ComDirectory;
using platform::posix::MonotonicMs;

constexpr int statusWaitMs = 1500;
constexpr int queryWaitMs = 5000;
constexpr int nmeaWaitMs = 3000;
constexpr int baudWaitMs = 10000;

void SleepMs(unsigned milliseconds) {
    timespec pause{static_cast<time_t>(milliseconds / 1000),
                   static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&pause, &pause) != 0) {
    }
}

bool BothReplies(const GpsSharedStatus& block) {
    return (block.replyFlags & (replyFixInterval | replyNmeaRates)) ==
           (replyFixInterval | replyNmeaRates);
}

// One run of the tool against the hub of the COM directory the environment names.
class Session {
public:
    Session()
        : directory_(ComDirectory::FromEnvironment()),
          hubRunning_(directory_.IsValid() && platform::posix::HubListens(directory_)),
          status_(hubRunning_ ? platform::SystemSharedMemory() : absentMemory_), link_(directory_),
          tool_(status_, link_, view_) {}

    bool HubRunning() const { return hubRunning_; }
    SetupTool& Tool() { return tool_; }
    const ConsoleView& View() const { return view_; }
    const SocketHubLink& Link() const { return link_; }

    // Ticks every 200 ms, as the dialog's timer does, until `done` holds or `waitMs` passed.
    template <typename Condition>
    bool TickUntil(int waitMs, Condition done) {
        const int64_t end = MonotonicMs() + waitMs;
        do {
            SleepMs(setupTickMs);
            tool_.Tick();
            if (done()) {
                return true;
            }
        } while (MonotonicMs() < end);
        return false;
    }

    // Tells what became of a command; the exit code.
    int Report(const char* verb, uint32_t result) {
        if (result == error::fileNotFound) {
            std::fprintf(stderr, "feltro %s: hub not running: command dropped\n", verb);
            return exitFailed;
        }
        if (result == error::semTimeout) {
            std::fprintf(stderr, "feltro %s: the hub did not answer in time\n", verb);
            return exitFailed;
        }
        if (result != error::success) {
            char reason[96];
            platform::posix::ErrorText(result, reason);
            std::fprintf(stderr, "feltro %s: the command did not reach the hub: %s\n", verb,
                         reason);
            return exitFailed;
        }
        for (const std::string& sentence : link_.Sentences()) {
            std::printf("sent %s\n", sentence.c_str());
        }
        if (tool_.Block().streamState < static_cast<uint8_t>(StreamState::PortOpen)) {
            std::fprintf(stderr,
                         "feltro %s: the hub's receiver port is closed: the receiver did not "
                         "hear it\n",
                         verb);
            return exitFailed;
        }
        return exitOk;
    }

    int HubNotRunning(const char* verb) {
        std::fprintf(stderr, "feltro %s: hub not running: command dropped (no hub listens in %s)\n",
                     verb, directory_.Path());
        return exitFailed;
    }

private:
    ComDirectory directory_;
    bool hubRunning_;
    AbsentSharedMemory absentMemory_;
    StatusBlock status_;
    SocketHubLink link_;
    ConsoleView view_;
    SetupTool tool_;
};

int Status(int waitMs) {
    Session session;
    SetupTool& tool = session.Tool();
    tool.Start();
    // Without a hub nothing can answer: one tick shows what the dialog shows.
    const int wait = !session.HubRunning() ? 0 : waitMs >= 0 ? waitMs : statusWaitMs;
    session.TickUntil(wait, [&] { return BothReplies(tool.Block()); });
    std::fputs(StatusReport(tool, session.View()).c_str(), stdout);
    std::fflush(stdout);
    if (!session.HubRunning()) {
        std::fputs("feltro status: hub not running\n", stderr);
        return exitFailed;
    }
    return exitOk;
}

int Query(int waitMs) {
    Session session;
    if (!session.HubRunning()) {
        return session.HubNotRunning("query");
    }
    SetupTool& tool = session.Tool();
    tool.Start();
    if (session.Link().Sentences().size() != 2) {
        std::fputs("feltro query: the queries did not reach the hub\n", stderr);
        return exitFailed;
    }
    session.TickUntil(waitMs >= 0 ? waitMs : queryWaitMs,
                      [&] { return BothReplies(tool.Block()); });
    const GpsSharedStatus& block = tool.Block();
    const bool interval = (block.replyFlags & replyFixInterval) != 0;
    if (interval) {
        char label[fixRateLabelCapacity];
        FixRateLabel(FixRateIndexForInterval(block.fixInterval), label);
        std::printf("$PMTK500: fix interval %d ms (listed as %s)\n",
                    static_cast<int>(block.fixInterval), label);
    } else {
        std::puts("$PMTK500: no answer");
    }
    if (tool.RatesLoaded()) {
        std::printf("$PMTK514: %s\n", RatesText(tool.Rates()).c_str());
    } else {
        std::puts("$PMTK514: no answer");
    }
    if (!interval && !tool.RatesLoaded()) {
        std::printf("%s\n", unsupportedNotice);
        std::fflush(stdout);
        if (block.streamState < static_cast<uint8_t>(StreamState::PortOpen)) {
            std::fputs("feltro query: the hub's receiver port is closed: the receiver did not "
                       "hear the queries\n",
                       stderr);
        } else {
            std::fputs("feltro query: the receiver did not answer\n", stderr);
        }
        return exitFailed;
    }
    if (!session.View().lineLoad.empty()) {
        std::printf("%s\n", session.View().lineLoad.c_str());
    }
    if (!interval || !tool.RatesLoaded()) {
        std::fputs("feltro query: the receiver answered only one of the two queries\n", stderr);
        return exitFailed;
    }
    return exitOk;
}

int Baud(const std::vector<std::string>& arguments, int waitMs) {
    size_t index = 0;
    if (arguments.size() != 1 || !ParseLineSpeed(arguments[0].c_str(), index)) {
        std::fputs("usage: feltro baud SPEED   (4800, 9600, 19200, 38400, 57600 or 115200)\n",
                   stderr);
        return exitUsage;
    }
    Session session;
    if (!session.HubRunning()) {
        return session.HubNotRunning("baud");
    }
    SetupTool& tool = session.Tool();
    tool.Attach();
    tool.SpeedChanged(static_cast<int>(index));
    const int code = session.Report("baud", tool.SetBaudRate());
    if (code != exitOk) {
        return code;
    }
    const uint32_t speed = lineSpeeds[index];
    // The hub re-opens its port at the new speed once the receiver's next sentence arrives.
    const int64_t end = MonotonicMs() + (waitMs >= 0 ? waitMs : baudWaitMs);
    while (tool.Block().baudRate != speed && MonotonicMs() < end) {
        SleepMs(setupTickMs);
    }
    if (tool.Block().baudRate != speed) {
        std::fprintf(stderr, "feltro baud: the hub still reads the receiver at %u\n",
                     static_cast<unsigned>(tool.Block().baudRate));
        return exitFailed;
    }
    std::printf("the hub reads the receiver at %u now\n", static_cast<unsigned>(speed));
    return exitOk;
}

int Rate(const std::vector<std::string>& arguments) {
    size_t index = 0;
    if (arguments.size() != 1 || !ParseFixRate(arguments[0].c_str(), index)) {
        std::fputs("usage: feltro rate RATE   (1-5 or 1Hz-5Hz, or 1000, 500, 333, 250, 200 ms)\n",
                   stderr);
        return exitUsage;
    }
    Session session;
    if (!session.HubRunning()) {
        return session.HubNotRunning("rate");
    }
    SetupTool& tool = session.Tool();
    tool.Attach();
    tool.FixRateChanged(static_cast<int>(index));
    return session.Report("rate", tool.SetUpdateRate());
}

int Nmea(const std::vector<std::string>& arguments, int waitMs) {
    std::vector<RateAssignment> assignments;
    std::string problem;
    if (!ParseRateAssignments(arguments, assignments, problem)) {
        std::fprintf(stderr, "feltro nmea: %s\nusage: feltro nmea NAME=RATE ...\n",
                     problem.c_str());
        return exitUsage;
    }
    Session session;
    if (!session.HubRunning()) {
        return session.HubNotRunning("nmea");
    }
    SetupTool& tool = session.Tool();
    tool.Start();
    session.TickUntil(waitMs >= 0 ? waitMs : nmeaWaitMs, [&] { return tool.RatesLoaded(); });
    if (!tool.RatesLoaded()) {
        std::fputs("feltro nmea: the receiver did not report its sentence rates: sentences "
                   "not named get their defaults\n",
                   stderr);
    }
    const SentenceRates rates =
        MergeRates(assignments, tool.RatesLoaded() ? &tool.Rates() : nullptr);
    for (const size_t slot : listedSlots) {
        tool.SentenceRateChanged(slot, rates[slot]);
    }
    const int code = session.Report("nmea", tool.SetNmea());
    if (code == exitOk) {
        std::printf("rates: %s\n", RatesText(tool.Rates()).c_str());
    }
    return code;
}

int ResetNmea(const std::vector<std::string>& arguments) {
    if (!arguments.empty()) {
        std::fputs("usage: feltro reset-nmea\n", stderr);
        return exitUsage;
    }
    Session session;
    if (!session.HubRunning()) {
        return session.HubNotRunning("reset-nmea");
    }
    SetupTool& tool = session.Tool();
    tool.Attach();
    return session.Report("reset-nmea", tool.ResetNmea());
}

} // namespace

int RunVerb(const std::string& verb, const std::vector<std::string>& arguments, int waitMs) {
    if (verb == "status" || verb == "query") {
        if (!arguments.empty()) {
            std::fprintf(stderr, "usage: feltro %s [--wait SECONDS]\n", verb.c_str());
            return exitUsage;
        }
        return verb == "status" ? Status(waitMs) : Query(waitMs);
    }
    if (verb == "baud") {
        return Baud(arguments, waitMs);
    }
    if (verb == "rate") {
        return Rate(arguments);
    }
    if (verb == "nmea") {
        return Nmea(arguments, waitMs);
    }
    if (verb == "reset-nmea") {
        return ResetNmea(arguments);
    }
    std::fprintf(stderr, "feltro: unknown verb \"%s\" (feltro --help lists them)\n", verb.c_str());
    return exitUsage;
}

} // namespace tavro::feltro
