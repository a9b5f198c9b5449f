// The verbs besides `run`: they work without a hub (config, link, unlink) or talk to the
// running one (status, send).
#include "hub/posix/ConfigApply.h"
#include "hub/posix/ConfigCommand.h"
#include "hub/posix/ForceOption.h"
#include "hub/posix/HubReport.h"
#include "hub/posix/LiveSettings.h"
#include "hub/posix/StatusGather.h"
#include "hub/posix/StatusReport.h"
#include "hub/posix/Verbs.h"

#include "common/GpsSharedStatus.h"
#include "common/HubCommand.h"
#include "hub/posix/command/CommandSocket.h"
#include "hub/posix/instance/InstanceLock.h"
#include "hub/posix/ports/PtyPortSet.h"
#include "platform/ErrorCodes.h"
#include "platform/Registry.h"
#include "platform/SharedMemory.h"
#include "platform/linux/SystemClockRights.h"
#include "platform/linux/TerminalDevices.h"
#include "platform/posix/ComDirectory.h"
#include "platform/posix/FileRegistry.h"
#include "platform/posix/PosixErrors.h"

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace tavro::posixhub {
namespace {

using platform::posix::ComDirectory;
using platform::posix::comPathCapacity;

constexpr unsigned comNumberMax = 255;
constexpr unsigned watchPeriodMs = 1000;

volatile std::sig_atomic_t watchStopped = 0;

void StopWatching(int) {
    watchStopped = 1;
}

ComDirectory DirectoryOrComplain() {
    ComDirectory directory = ComDirectory::FromEnvironment();
    if (!directory.IsValid()) {
        std::fputs("tavro: the COM directory's path is too long (TAVRO_DEVDIR)\n", stderr);
    }
    return directory;
}

// inject and write take a line of text; the receiver and the parser want it ended.
std::string EndedLine(const char* text) {
    std::string line = text;
    if (line.empty() || line.back() != '\n') {
        line += "\r\n";
    }
    return line;
}

bool ParseHex(const char* text, std::string& bytes) {
    std::string digits;
    for (const char* c = text; *c != '\0'; ++c) {
        if (std::isxdigit(static_cast<unsigned char>(*c))) {
            digits += *c;
        } else if (*c != ' ' && *c != ':') {
            return false;
        }
    }
    if (digits.size() % 2 != 0) {
        return false;
    }
    for (size_t i = 0; i < digits.size(); i += 2) {
        bytes += static_cast<char>(std::strtoul(digits.substr(i, 2).c_str(), nullptr, 16));
    }
    return true;
}

bool ParseUnsigned(const char* text, uint32_t& value) {
    if (text == nullptr || !std::isdigit(static_cast<unsigned char>(*text))) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const unsigned long long number = std::strtoull(text, &end, 0);
    if (errno != 0 || *end != '\0' || number > UINT32_MAX) {
        return false;
    }
    value = static_cast<uint32_t>(number);
    return true;
}

void PutLittleEndian(std::string& bytes, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes += static_cast<char>(value >> (8 * i));
    }
}

std::string Words(uint32_t code) {
    char text[96];
    platform::posix::ErrorText(code, text);
    return text;
}

// Whether the character device `rdev` belongs to a terminal driver, by the kernel's list of
// them. Without the list the device is opened and asked.
bool IsTerminalDevice(const char* path, dev_t rdev) {
    bool known = false;
    const bool listed = platform::posix::InTerminalDriverList(rdev, known);
    if (known) {
        return listed;
    }
    const int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return errno == EACCES || errno == EBUSY; // cannot tell: let the hub find out
    }
    const bool terminal = isatty(fd) != 0;
    close(fd);
    return terminal;
}

void SleepMs(unsigned milliseconds) {
    timespec pause{static_cast<time_t>(milliseconds / 1000),
                   static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&pause, &pause) != 0 && !watchStopped) {
    }
}

} // namespace

bool ParseComName(const char* text, unsigned& comNumber) {
    if (text == nullptr) {
        return false;
    }
    if ((text[0] == 'C' || text[0] == 'c') && (text[1] == 'O' || text[1] == 'o') &&
        (text[2] == 'M' || text[2] == 'm')) {
        text += 3;
    }
    uint32_t number = 0;
    if (!std::isdigit(static_cast<unsigned char>(*text)) || !ParseUnsigned(text, number) ||
        number == 0 || number > comNumberMax) {
        return false;
    }
    comNumber = number;
    return true;
}

int ConfigVerb(int argc, char** argv) {
    std::string output;
    std::string errors;
    const int code = ConfigureSettings(argc, argv, output, errors);
    std::fputs(output.c_str(), stdout);
    std::istringstream lines(errors);
    for (std::string line; std::getline(lines, line);) {
        std::fprintf(stderr, "tavro config: %s\n", line.c_str());
    }
    return code;
}

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
        const StatusFacts facts = GatherStatus(directory, platform::posix::commandTimeoutMs);
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

int LinkVerb(int argc, char** argv) {
    bool force = false;
    const std::vector<const char*> positional = WordsAndForce(argc, argv, force);
    unsigned number = 0;
    if (positional.size() != 2 || !ParseComName(positional[0], number)) {
        std::fputs("usage: tavro link COM<n> DEVICE [--force]   (n from 1 to 255)\n", stderr);
        return exitUsage;
    }
    const char* device = positional[1];
    struct stat info {};
    if (stat(device, &info) != 0) {
        std::fprintf(stderr, "tavro link: %s: %s\n", device, std::strerror(errno));
        return exitFailed;
    }
    if (!S_ISCHR(info.st_mode) || !IsTerminalDevice(device, info.st_rdev)) {
        std::fprintf(stderr,
                     "tavro link: %s is not a serial device (not a terminal): the hub could not "
                     "read a receiver there\n",
                     device);
        return exitFailed;
    }
    const ComDirectory directory = DirectoryOrComplain();
    if (!directory.IsValid()) {
        return exitFailed;
    }
    char current[comPathCapacity];
    bool present = false;
    if (!force && directory.Resolve(number, current, present) == error::success && present) {
        struct stat existing {};
        if (stat(current, &existing) == 0 && existing.st_rdev == info.st_rdev) {
            return exitOk; // already there
        }
        std::fprintf(stderr, "tavro link: COM%u names %s already (--force replaces it)\n", number,
                     current);
        return exitFailed;
    }
    const uint32_t result = directory.Link(number, device);
    if (result != error::success) {
        std::fprintf(stderr, "tavro link: cannot make COM%u in %s: %s\n", number, directory.Path(),
                     Words(result).c_str());
        return exitFailed;
    }
    return exitOk;
}

int UnlinkVerb(int argc, char** argv) {
    unsigned number = 0;
    if (argc != 1 || !ParseComName(argv[0], number)) {
        std::fputs("usage: tavro unlink COM<n>\n", stderr);
        return exitUsage;
    }
    const ComDirectory directory = DirectoryOrComplain();
    if (!directory.IsValid()) {
        return exitFailed;
    }
    const uint32_t result = directory.Remove(number);
    if (result != error::success) {
        std::fprintf(stderr, "tavro unlink: no COM%u in %s\n", number, directory.Path());
        return exitFailed;
    }
    return exitOk;
}

int CleanVerb(int argc, char**) {
    if (argc != 0) {
        std::fputs("usage: tavro clean\n", stderr);
        return exitUsage;
    }
    const ComDirectory directory = DirectoryOrComplain();
    if (!directory.IsValid()) {
        return exitFailed;
    }
    // Only what a hub that did not stop cleanly left: never a running hub's links, nor links
    // made by others (a receiver's, even one whose device is unplugged).
    const uint32_t result = platform::posix::PtyPortSet::RemoveLinksLeftBehind(directory);
    if (result == error::alreadyExists) {
        std::printf("tavro clean: a hub runs in %s; nothing to clean\n", directory.Path());
        return exitOk;
    }
    if (result != error::success) {
        std::fprintf(stderr, "tavro clean: cannot read the hub's record in %s (error %u)\n",
                     directory.Path(), static_cast<unsigned>(result));
        return exitFailed;
    }
    platform::posix::RemoveStaleSocket(directory);
    return exitOk;
}

int SendVerb(int argc, char** argv) {
    const char* usage = "usage: tavro send hold | release | inject SENTENCE | write TEXT | "
                        "baud SPEED | raw CODE [HEX]\n";
    if (argc < 1) {
        std::fputs(usage, stderr);
        return exitUsage;
    }
    const std::string command = argv[0];
    uint32_t code = 0;
    std::string payload;
    if (command == "hold" && argc == 1) {
        code = static_cast<uint32_t>(HubCommand::HoldRelay);
    } else if (command == "release" && argc == 1) {
        code = static_cast<uint32_t>(HubCommand::ReleaseRelay);
    } else if (command == "inject" && argc == 2) {
        code = static_cast<uint32_t>(HubCommand::InjectFrame);
        payload = EndedLine(argv[1]);
    } else if (command == "write" && argc == 2) {
        code = static_cast<uint32_t>(HubCommand::WriteToReceiver);
        payload = EndedLine(argv[1]);
    } else if (command == "baud" && argc == 2) {
        uint32_t speed = 0;
        if (!ParseUnsigned(argv[1], speed) || speed == 0) {
            std::fputs("tavro send: baud takes a line speed such as 9600\n", stderr);
            return exitUsage;
        }
        code = static_cast<uint32_t>(HubCommand::ChangeBaud);
        PutLittleEndian(payload, speed);
    } else if (command == "raw" && (argc == 2 || argc == 3)) {
        if (!ParseUnsigned(argv[1], code) || (argc == 3 && !ParseHex(argv[2], payload))) {
            std::fputs("tavro send: raw takes a code and hexadecimal bytes\n", stderr);
            return exitUsage;
        }
    } else {
        std::fputs(usage, stderr);
        return exitUsage;
    }
    const ComDirectory directory = DirectoryOrComplain();
    if (!directory.IsValid()) {
        return exitFailed;
    }
    uint32_t answer = 0;
    const uint32_t result = platform::posix::SendHubCommand(
        directory, code, payload.data(), static_cast<uint32_t>(payload.size()), answer);
    if (result == error::fileNotFound) {
        std::fprintf(stderr, "tavro send: %s (no hub listens in %s)\n", hubNotRunningText,
                     directory.Path());
        return exitFailed;
    }
    if (result == error::semTimeout) {
        std::fputs("tavro send: the hub did not answer in time\n", stderr);
        return exitFailed;
    }
    if (result != error::success) {
        std::fprintf(stderr, "tavro send: the request did not reach the hub: %s\n",
                     Words(result).c_str());
        return exitFailed;
    }
    if (answer == error::invalidData && code == static_cast<uint32_t>(HubCommand::InjectFrame)) {
        std::fputs("tavro send: the hub ignored the frame: it failed its checksum (an NMEA "
                   "sentence ends in *hh, the XOR of the characters between $ and *)\n",
                   stderr);
        return exitFailed;
    }
    if (answer != 0) {
        std::fprintf(stderr, "tavro send: the hub refused the request: %s\n",
                     Words(answer).c_str());
        return exitFailed;
    }
    return exitOk;
}

} // namespace tavro::posixhub
