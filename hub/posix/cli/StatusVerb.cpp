// `tavro status`: the status block and the running hub's report, as text or JSON, once or
// every second.
#include "hub/posix/cli/VerbSupport.h"
#include "hub/posix/cli/Verbs.h"
#include "hub/posix/status/StatusGather.h"
#include "hub/posix/status/StatusReport.h"

#include "hub/posix/command/CommandSocket.h"
#include "platform/ErrorCodes.h"
#include "platform/posix/ComDirectory.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <time.h>
#include <unistd.h>

namespace tavro::posixhub {
namespace {

using platform::posix::ComDirectory;

constexpr unsigned watchPeriodMs = 1000;

volatile std::sig_atomic_t watchStopped = 0;

void StopWatching(int) {
    watchStopped = 1;
}

void SleepMs(unsigned milliseconds) {
    timespec pause{static_cast<time_t>(milliseconds / 1000),
                   static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&pause, &pause) != 0 && !watchStopped) {
    }
}

} // namespace

int StatusVerb(int argc, char** argv) {
    bool json = false;
    bool watch = false;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--json") == 0) {
            json = true;
        } else if (std::strcmp(argv[i], "--watch") == 0) {
            watch = true;
        } else {
            std::fputs("usage: tavro status [--json] [--watch]\n", stderr);
            return exitUsage;
        }
    }
    const ComDirectory directory = DirectoryOrComplain();
    if (!directory.IsValid()) {
        return exitFailed;
    }
    auto show = [&]() {
        const StatusFacts facts = GatherStatus(directory, platform::posix::responseDeadlineMs);
        std::string text = json ? StatusJson(facts) + "\n" : StatusText(facts);
        return std::pair{StatusExitCode(facts), text};
    };
    if (!watch) {
        const auto [code, text] = show();
        std::fputs(text.c_str(), stdout);
        return code;
    }
    // Like cgps: in place on a terminal (cursor home, clear below); a pipe gets each state in
    // turn. Until Ctrl-C, then the last state's exit code.
    struct sigaction action {};
    action.sa_handler = StopWatching;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    const bool inPlace = !json && isatty(STDOUT_FILENO) != 0;
    int code = exitOk;
    while (!watchStopped) {
        const auto [state, text] = show();
        code = state;
        std::fputs(inPlace ? ("\033[H\033[J" + text).c_str() : text.c_str(), stdout);
        if (!inPlace && !json) {
            std::fputs("\n", stdout);
        }
        std::fflush(stdout);
        SleepMs(watchPeriodMs);
    }
    return code;
}

} // namespace tavro::posixhub
