// `tavro send`: one request to the running hub through its command socket, and its answer.
#include "hub/posix/cli/VerbSupport.h"
#include "hub/posix/cli/Verbs.h"
#include "hub/posix/status/ErrorWords.h"

#include "common/HubCommand.h"
#include "common/SpeedTable.h"
#include "hub/posix/command/CommandSocket.h"
#include "hub/posix/status/StatusReport.h"
#include "platform/ErrorCodes.h"
#include "platform/posix/ComDirectory.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace tavro::posixhub {
namespace {

using platform::posix::ComDirectory;

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

void PutLittleEndian(std::string& bytes, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes += static_cast<char>(value >> (8 * i));
    }
}

} // namespace

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
        if (!ParseUnsigned(argv[1], speed) || !IsTableSpeed(speed)) {
            std::fputs("tavro send: baud takes a line speed: 4800, 9600, 19200, 38400, 57600, "
                       "115200 or 187500\n",
                       stderr);
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
        int pid = 0;
        platform::posix::HubListens(directory, &pid);
        std::fprintf(stderr,
                     "tavro send: %s, pid %d: it is stopped or hung (kill -CONT %d resumes it)\n",
                     hubNotRespondingText, pid, pid);
        return exitFailed;
    }
    if (result != error::success) {
        std::fprintf(stderr, "tavro send: the request did not reach the hub: %s\n",
                     ErrorWords(result).c_str());
        return exitFailed;
    }
    if (answer == error::invalidData && code == static_cast<uint32_t>(HubCommand::InjectFrame)) {
        std::fputs("tavro send: the hub ignored the frame: it failed its checksum (an NMEA "
                   "sentence ends in *hh, the XOR of the characters between $ and *)\n",
                   stderr);
        return exitFailed;
    }
    if (answer == error::notSupported &&
        code == static_cast<uint32_t>(HubCommand::WriteToReceiver)) {
        std::fputs("tavro send: this source cannot be written to (Source is udp:// or gpsd://)\n",
                   stderr);
        return exitFailed;
    }
    if (answer == error::notSupported && code == static_cast<uint32_t>(HubCommand::ChangeBaud)) {
        std::fputs("tavro send: speed changes apply to serial receivers only (Source is set)\n",
                   stderr);
        return exitFailed;
    }
    if (answer != 0) {
        std::fprintf(stderr, "tavro send: the hub refused the request: %s\n",
                     ErrorWords(answer).c_str());
        return exitFailed;
    }
    return exitOk;
}

} // namespace tavro::posixhub
