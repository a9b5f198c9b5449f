#include "hub/posix/HubReport.h"

#include <charconv>
#include <cstdio>

namespace tavro {
namespace {

void Put(std::string& text, const char* name, std::string_view value) {
    text += name;
    text += '=';
    // A value is one line: a line feed in a path would start a fact of its own.
    for (const char c : value) {
        text += c == '\n' ? ' ' : c;
    }
    text += '\n';
}

void Put(std::string& text, const char* name, uint64_t value) {
    Put(text, name, std::to_string(value));
}

template <typename T>
bool Number(std::string_view value, T& number) {
    T parsed{};
    const auto [end, problem] = std::from_chars(value.data(), value.data() + value.size(), parsed);
    if (problem != std::errc() || end != value.data() + value.size()) {
        return false;
    }
    number = parsed;
    return true;
}

bool Flag(std::string_view value, bool& flag) {
    if (value == "1" || value == "0") {
        flag = value == "1";
        return true;
    }
    return false;
}

void ApplyPortFact(std::string_view name, std::string_view value, VirtualPortReport& port) {
    if (name == "com") {
        Number(value, port.comNumber);
    } else if (name == "terminal") {
        port.terminal = value;
    } else if (name == "programs") {
        Number(value, port.programs);
    } else if (name == "relayed") {
        port.hasCounters = Number(value, port.bytesRelayed) || port.hasCounters;
    } else if (name == "dropped") {
        port.hasCounters = Number(value, port.bytesDropped) || port.hasCounters;
    }
}

} // namespace

std::string EncodeHubReport(const HubReport& report) {
    std::string text;
    Put(text, "version", report.version);
    Put(text, "pid", static_cast<uint64_t>(report.pid));
    Put(text, "directory", report.directory);
    Put(text, "input.port", report.inputPort);
    Put(text, "input.baud", report.baud);
    Put(text, "input.open", report.inputOpen);
    Put(text, "input.error", report.lastOpenError);
    Put(text, "input.device", report.inputDevice);
    Put(text, "input.present", report.inputPresent);
    Put(text, "input.accessible", report.inputAccessible);
    Put(text, "input.group", report.inputGroup);
    Put(text, "input.searching", report.searching);
    Put(text, "input.checksumErrors", report.checksumErrors);
    Put(text, "options", report.optionFlags);
    Put(text, "logging", report.logging);
    Put(text, "logFile", report.logFile);
    Put(text, "ports.result", report.portsResult);
    Put(text, "ports.conflict", report.portsConflict);
    for (uint32_t i = 0; i < virtualPortCount; ++i) {
        const VirtualPortReport& port = report.ports[i];
        if (port.comNumber == 0) {
            continue;
        }
        const std::string prefix = "port" + std::to_string(i + 1) + ".";
        Put(text, (prefix + "com").c_str(), port.comNumber);
        Put(text, (prefix + "terminal").c_str(), port.terminal);
        Put(text, (prefix + "programs").c_str(), port.programs);
        if (port.hasCounters) {
            Put(text, (prefix + "relayed").c_str(), port.bytesRelayed);
            Put(text, (prefix + "dropped").c_str(), port.bytesDropped);
        }
    }
    Put(text, "clock.settable", report.clockSettable);
    return text;
}

bool DecodeHubReport(std::string_view text, HubReport& report) {
    report = HubReport{};
    bool found = false;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            continue;
        }
        const std::string_view name = line.substr(0, equals);
        const std::string_view value = line.substr(equals + 1);
        if (name == "version") {
            report.version = value;
            found = true;
        } else if (name == "pid") {
            Number(value, report.pid);
        } else if (name == "directory") {
            report.directory = value;
        } else if (name == "input.port") {
            Number(value, report.inputPort);
        } else if (name == "input.baud") {
            Number(value, report.baud);
        } else if (name == "input.open") {
            Flag(value, report.inputOpen);
        } else if (name == "input.error") {
            Number(value, report.lastOpenError);
        } else if (name == "input.device") {
            report.inputDevice = value;
        } else if (name == "input.present") {
            Flag(value, report.inputPresent);
        } else if (name == "input.accessible") {
            Flag(value, report.inputAccessible);
        } else if (name == "input.group") {
            report.inputGroup = value;
        } else if (name == "input.searching") {
            Flag(value, report.searching);
        } else if (name == "input.checksumErrors") {
            Number(value, report.checksumErrors);
        } else if (name == "options") {
            Number(value, report.optionFlags);
        } else if (name == "logging") {
            Flag(value, report.logging);
        } else if (name == "logFile") {
            report.logFile = value;
        } else if (name == "ports.result") {
            Number(value, report.portsResult);
        } else if (name == "ports.conflict") {
            Number(value, report.portsConflict);
        } else if (name == "clock.settable") {
            Flag(value, report.clockSettable);
        } else if (name.size() > 6 && name.substr(0, 4) == "port" && name[5] == '.' &&
                   name[4] >= '1' && name[4] < static_cast<char>('1' + virtualPortCount)) {
            ApplyPortFact(name.substr(6), value, report.ports[name[4] - '1']);
        }
    }
    return found;
}

} // namespace tavro
