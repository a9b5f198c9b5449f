// The verbs besides `run`: they work without a hub (config, link, unlink) or talk to the
// running one (status, send).
#include "hub/posix/ConfigCommand.h"
#include "hub/posix/LiveSettings.h"
#include "hub/posix/StatusLine.h"
#include "hub/posix/Verbs.h"

#include "common/GpsSharedStatus.h"
#include "common/HubCommand.h"
#include "platform/ErrorCodes.h"
#include "platform/Registry.h"
#include "platform/SharedMemory.h"
#include "platform/posix/ComDirectory.h"
#include "platform/posix/CommandSocket.h"
#include "platform/posix/FileRegistry.h"
#include "platform/posix/InstanceLock.h"
#include "platform/posix/PtyPortSet.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace tavro::posixhub {
namespace {

using platform::posix::ComDirectory;
using platform::posix::comPathCapacity;

constexpr unsigned comNumberMax = 255;
constexpr uint32_t trayRightButtonUpMessage = 0x205;

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

// A running hub takes a stored change at once (it reads every setting again).
int ApplyToRunningHub() {
    const ComDirectory directory = ComDirectory::FromEnvironment();
    uint32_t answer = 0;
    const uint32_t result = platform::posix::SendHubCommand(directory, posixhub::reloadSettingsCode,
                                                            nullptr, 0, answer);
    if (result == error::fileNotFound || result == error::badPathName) {
        return exitOk; // no hub: it reads the settings when it starts
    }
    if (result != error::success) {
        std::fprintf(stderr,
                     "tavro config: stored, but the running hub did not take it (error "
                     "%u); it applies at the hub's next start\n",
                     static_cast<unsigned>(result));
        return exitFailed;
    }
    if (answer == error::success || answer == error::fileNotFound) {
        return exitOk; // applied (virtual port 1 without a number: the ports are off)
    }
    if (answer == error::alreadyExists) {
        std::fprintf(stderr, "tavro config: stored, but the running hub cannot use the virtual "
                             "port numbers: one is taken by another device or given twice\n");
    } else {
        std::fprintf(stderr,
                     "tavro config: stored, but the running hub could not apply the "
                     "virtual port numbers (error %u)\n",
                     static_cast<unsigned>(answer));
    }
    return exitFailed;
}

int ConfigVerb(int argc, char** argv) {
    std::string output;
    std::string errors;
    platform::FileRegistry& registry = platform::SystemFileRegistry();
    const uint32_t problems = registry.ProblemCount();
    int code = RunConfigCommand(registry, argc, argv, output, errors);
    std::fputs(output.c_str(), stdout);
    if (!errors.empty()) {
        std::fprintf(stderr, "tavro config: %s", errors.c_str());
    }
    // The store has said why on stderr; what could be done was done.
    if (code == configOk && registry.ProblemCount() != problems) {
        code = exitSettings;
    }
    if (code == configOk && argc >= 1 && std::strcmp(argv[0], "set") == 0) {
        code = ApplyToRunningHub();
    }
    return code;
}

int StatusVerb(int argc, char** argv) {
    bool json = false;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--json") == 0) {
            json = true;
        } else {
            std::fputs("usage: tavro status [--json]\n", stderr);
            return exitUsage;
        }
    }
    // Mapped without counting itself among the block's readers: looking must not count as
    // using the receiver (Battery Saver would open the port for it).
    platform::SharedMemory& memory = platform::SystemSharedMemory();
    platform::SharedView view;
    GpsSharedStatus block{};
    bool found = false;
    if (memory.Open(statusBlockName, view) == error::success) {
        if (view.size >= sizeof block) {
            std::memcpy(&block, view.data, sizeof block);
            found = true;
        }
        memory.Close(view);
    }
    // A hub that was killed leaves its block behind as it was; only a hub that still holds
    // its lock (or listens on its command socket) is running. The lock stays when a cleaner
    // removes the COM directory with the socket in it.
    if (found && block.streamState != static_cast<uint8_t>(StreamState::Detached) &&
        !platform::posix::InstanceLock::HubHoldsBlockName(statusBlockName) &&
        !platform::posix::HubListens(ComDirectory::FromEnvironment())) {
        block.streamState = static_cast<uint8_t>(StreamState::Detached);
    }
    const bool running = found && block.streamState != static_cast<uint8_t>(StreamState::Detached);
    char line[statusLineCapacity];
    FormatReaderStatusLine(block, line);
    if (json) {
        std::printf("%s\n", StatusJson(block, running, line).c_str());
    } else {
        std::printf("%s\n", line);
    }
    return running ? exitOk : exitFailed;
}

int LinkVerb(int argc, char** argv) {
    std::vector<const char*> positional;
    bool force = false;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--force") == 0) {
            force = true;
        } else {
            positional.push_back(argv[i]);
        }
    }
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
    if (!S_ISCHR(info.st_mode)) {
        std::fprintf(stderr, "tavro link: %s is not a serial device\n", device);
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
        std::fprintf(stderr, "tavro link: cannot make COM%u in %s (error %u)\n", number,
                     directory.Path(), static_cast<unsigned>(result));
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
                        "baud SPEED | toggle | raw CODE [HEX]\n";
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
    } else if (command == "toggle" && argc == 1) {
        code = toggleMainWindowMessage;
        PutLittleEndian(payload, trayRightButtonUpMessage);
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
        std::fprintf(stderr, "tavro send: the request did not reach the hub (error %u)\n",
                     static_cast<unsigned>(result));
        return exitFailed;
    }
    if (answer != 0) {
        std::fprintf(stderr, "tavro send: the hub refused the request (error %u)\n",
                     static_cast<unsigned>(answer));
        return exitFailed;
    }
    return exitOk;
}

} // namespace tavro::posixhub
