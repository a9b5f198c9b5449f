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

// The shortest text that reads back as the same double.
void PutReal(std::string& text, const char* name, double value) {
    char digits[32];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    Put(text, name, std::string_view(digits, static_cast<size_t>(result.ptr - digits)));
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

void ApplyNetworkFact(std::string_view name, std::string_view value, NetworkReport& network) {
    if (name == "tcp.port") {
        Number(value, network.tcpPort);
    } else if (name == "tcp.address") {
        network.tcpAddress = value;
    } else if (name == "tcp.listening") {
        Flag(value, network.listening);
    } else if (name == "tcp.open") {
        Flag(value, network.openToNetwork);
    } else if (name == "tcp.error") {
        Number(value, network.listenError);
    } else if (name == "tcp.write") {
        Flag(value, network.tcpWrite);
    } else if (name == "tcp.refused") {
        Number(value, network.refused);
    } else if (name == "tcp.clientLimit") {
        Number(value, network.clientLimit);
    } else if (name == "udp.target") {
        network.udpTarget = value;
    } else if (name == "udp.sending") {
        Flag(value, network.udpSending);
    } else if (name == "udp.error") {
        Number(value, network.udpError);
    } else if (name == "udp.sent") {
        Number(value, network.datagramsSent);
    } else if (name == "udp.dropped") {
        Number(value, network.datagramsDropped);
    } else if (name.substr(0, 10) == "tcp.client") {
        // "tcp.client<n>.address|sent|dropped", n from 1, in order.
        const size_t dot = name.find('.', 10);
        size_t index = 0;
        if (dot == std::string_view::npos || !Number(name.substr(10, dot - 10), index) ||
            index == 0 || index > 1024) {
            return;
        }
        if (network.clients.size() < index) {
            network.clients.resize(index);
        }
        NetworkClientReport& client = network.clients[index - 1];
        const std::string_view field = name.substr(dot + 1);
        if (field == "address") {
            client.address = value;
        } else if (field == "sent") {
            Number(value, client.bytesSent);
        } else if (field == "dropped") {
            Number(value, client.bytesDropped);
        }
    }
}

// The values of the fix as lines, by name. A value that is not known has no line.
struct FixFact {
    const char* name;
    double PreciseFix::*value;
    bool PreciseFix::*known;
};
constexpr FixFact fixFacts[] = {
    {"fix.latitude", &PreciseFix::latitude, &PreciseFix::hasPosition},
    {"fix.longitude", &PreciseFix::longitude, &PreciseFix::hasPosition},
    {"fix.altitude", &PreciseFix::altitude, &PreciseFix::hasAltitude},
    {"fix.geoidSeparation", &PreciseFix::geoidSeparation, &PreciseFix::hasGeoidSeparation},
    {"fix.speedKnots", &PreciseFix::speedKnots, &PreciseFix::hasSpeed},
    {"fix.course", &PreciseFix::course, &PreciseFix::hasCourse},
    {"fix.pdop", &PreciseFix::pdop, &PreciseFix::hasDops},
    {"fix.hdop", &PreciseFix::hdop, &PreciseFix::hasDops},
    {"fix.vdop", &PreciseFix::vdop, &PreciseFix::hasDops},
    {"fix.second", &PreciseFix::second, &PreciseFix::hasTime},
};

void EncodeFix(std::string& text, const PreciseFix& fix) {
    for (const FixFact& fact : fixFacts) {
        if (fix.*fact.known) {
            PutReal(text, fact.name, fix.*fact.value);
        }
    }
    if (fix.hasTime) {
        Put(text, "fix.hour", fix.hour);
        Put(text, "fix.minute", fix.minute);
    }
    if (fix.hasDate) {
        Put(text, "fix.year", fix.year);
        Put(text, "fix.month", fix.month);
        Put(text, "fix.day", fix.day);
    }
}

void ApplyFixFact(std::string_view name, std::string_view value, PreciseFix& fix) {
    for (const FixFact& fact : fixFacts) {
        if (name == fact.name) {
            fix.*fact.known = Number(value, fix.*fact.value);
            return;
        }
    }
    if (name == "fix.hour") {
        Number(value, fix.hour);
    } else if (name == "fix.minute") {
        Number(value, fix.minute);
    } else if (name == "fix.year") {
        fix.hasDate = Number(value, fix.year);
    } else if (name == "fix.month") {
        Number(value, fix.month);
    } else if (name == "fix.day") {
        Number(value, fix.day);
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
    const NetworkReport& network = report.network;
    Put(text, "tcp.port", network.tcpPort);
    Put(text, "tcp.address", network.tcpAddress);
    Put(text, "tcp.listening", network.listening);
    Put(text, "tcp.open", network.openToNetwork);
    Put(text, "tcp.error", network.listenError);
    Put(text, "tcp.write", network.tcpWrite);
    Put(text, "tcp.refused", network.refused);
    Put(text, "tcp.clientLimit", network.clientLimit);
    for (size_t i = 0; i < network.clients.size(); ++i) {
        const std::string prefix = "tcp.client" + std::to_string(i + 1) + ".";
        Put(text, (prefix + "address").c_str(), network.clients[i].address);
        Put(text, (prefix + "sent").c_str(), network.clients[i].bytesSent);
        Put(text, (prefix + "dropped").c_str(), network.clients[i].bytesDropped);
    }
    Put(text, "udp.target", network.udpTarget);
    Put(text, "udp.sending", network.udpSending);
    Put(text, "udp.error", network.udpError);
    Put(text, "udp.sent", network.datagramsSent);
    Put(text, "udp.dropped", network.datagramsDropped);
    EncodeFix(text, report.fix);
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
        } else if (name.substr(0, 4) == "fix.") {
            ApplyFixFact(name, value, report.fix);
        } else if (name.substr(0, 4) == "tcp." || name.substr(0, 4) == "udp.") {
            ApplyNetworkFact(name, value, report.network);
        } else if (name.size() > 6 && name.substr(0, 4) == "port" && name[5] == '.' &&
                   name[4] >= '1' && name[4] < static_cast<char>('1' + virtualPortCount)) {
            ApplyPortFact(name.substr(6), value, report.ports[name[4] - '1']);
        }
    }
    return found;
}

} // namespace tavro
