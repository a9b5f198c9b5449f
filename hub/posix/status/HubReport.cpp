#include "hub/posix/status/HubReport.h"

#include <charconv>
#include <type_traits>
#include <variant>

namespace tavro {
namespace {

// One fact of a record: its name on the socket and the member it travels in. Each record's
// facts are listed once; encoding and decoding both go through the list.
template <typename Record>
struct Field {
    const char* name;
    std::variant<std::string Record::*, uint32_t Record::*, uint64_t Record::*, long Record::*,
                 bool Record::*>
        member;
};

constexpr Field<HubReport> reportFields[] = {
    {"version", &HubReport::version},
    {"pid", &HubReport::pid},
    {"directory", &HubReport::directory},
    {"input.port", &HubReport::inputPort},
    {"input.baud", &HubReport::baud},
    {"input.open", &HubReport::inputOpen},
    {"input.error", &HubReport::lastOpenError},
    {"input.osError", &HubReport::lastOpenOsError},
    {"input.device", &HubReport::inputDevice},
    {"input.present", &HubReport::inputPresent},
    {"input.accessible", &HubReport::inputAccessible},
    {"input.group", &HubReport::inputGroup},
    {"input.searching", &HubReport::searching},
    {"input.checksumErrors", &HubReport::checksumErrors},
    {"input.dropped.speedChange", &HubReport::droppedSpeedChange},
    {"input.dropped.reopen", &HubReport::droppedReopen},
    {"input.dropped.closed", &HubReport::droppedClosed},
    {"input.dropped.unwritten", &HubReport::droppedUnwritten},
    {"source", &HubReport::source},
    {"source.state", &HubReport::sourceState},
    {"source.nextTryMs", &HubReport::sourceNextTryMs},
    {"source.error", &HubReport::sourceError},
    {"source.osError", &HubReport::sourceOsError},
    {"source.bytes", &HubReport::sourceBytes},
    {"source.reconnects", &HubReport::sourceReconnects},
    {"options", &HubReport::optionFlags},
    {"logging", &HubReport::logging},
    {"logFile", &HubReport::logFile},
    {"log.notWritten", &HubReport::logNotWritten},
    {"log.error", &HubReport::logError},
    {"ports.result", &HubReport::portsResult},
    {"ports.conflict", &HubReport::portsConflict},
    {"clock.settable", &HubReport::clockSettable},
};

// "port<n>.<name>", n from 1, for the virtual ports that have a COM number; the counters only
// where the port set keeps them.
constexpr Field<VirtualPortReport> portFields[] = {
    {"com", &VirtualPortReport::comNumber},
    {"terminal", &VirtualPortReport::terminal},
    {"programs", &VirtualPortReport::programs},
};
constexpr Field<VirtualPortReport> portCounterFields[] = {
    {"relayed", &VirtualPortReport::bytesRelayed},
    {"dropped", &VirtualPortReport::bytesDropped},
    {"written", &VirtualPortReport::bytesWritten},
    {"refused", &VirtualPortReport::bytesRefused},
};

constexpr Field<NetworkReport> networkFields[] = {
    {"tcp.port", &NetworkReport::tcpPort},
    {"tcp.address", &NetworkReport::tcpAddress},
    {"tcp.listening", &NetworkReport::listening},
    {"tcp.open", &NetworkReport::openToNetwork},
    {"tcp.error", &NetworkReport::listenError},
    {"tcp.write", &NetworkReport::tcpWrite},
    {"tcp.refused", &NetworkReport::refused},
    {"tcp.stalled", &NetworkReport::stalled},
    {"tcp.displaced", &NetworkReport::displaced},
    {"tcp.rateLimited", &NetworkReport::rateLimited},
    {"tcp.clientLimit", &NetworkReport::clientLimit},
    {"udp.target", &NetworkReport::udpTarget},
    {"udp.sending", &NetworkReport::udpSending},
    {"udp.error", &NetworkReport::udpError},
    {"udp.sent", &NetworkReport::datagramsSent},
    {"udp.dropped", &NetworkReport::datagramsDropped},
};

constexpr Field<TimeReport> timeFields[] = {
    {"time.unit", &TimeReport::unit},
    {"time.attached", &TimeReport::attached},
    {"time.error", &TimeReport::attachError},
    {"time.samples", &TimeReport::samples},
    {"time.offsetNs", &TimeReport::lastOffsetNs},
    {"time.refused", &TimeReport::refused},
    {"time.unmeasured", &TimeReport::unmeasured},
    {"time.pps", &TimeReport::pps},
    {"time.ppsEdges", &TimeReport::ppsEdges},
    {"time.ppsUnavailable", &TimeReport::ppsUnavailable},
};

constexpr Field<FreshnessReport> freshnessFields[] = {
    {"fresh.current", &FreshnessReport::current},
    {"fresh.fixAgeMs", &FreshnessReport::fixAgeMs},
    {"fresh.intervalMs", &FreshnessReport::fixIntervalMs},
    {"fresh.dataAgeMs", &FreshnessReport::dataAgeMs},
    {"fresh.reported", &FreshnessReport::reported},
};

// "tcp.client<n>.<name>", n from 1, in order.
constexpr char clientPrefix[] = "tcp.client";
constexpr Field<NetworkClientReport> clientFields[] = {
    {"address", &NetworkClientReport::address},
    {"sent", &NetworkClientReport::bytesSent},
    {"dropped", &NetworkClientReport::bytesDropped},
    {"limited", &NetworkClientReport::sentencesLimited},
};

void Put(std::string& text, const std::string& name, std::string_view value) {
    text += name;
    text += '=';
    // A value is one line: a line feed in a path would start a fact of its own.
    for (const char c : value) {
        text += c == '\n' ? ' ' : c;
    }
    text += '\n';
}

void Put(std::string& text, const std::string& name, const std::string& value) {
    Put(text, name, std::string_view(value));
}

template <typename T>
void Put(std::string& text, const std::string& name, T number) {
    if constexpr (std::is_signed_v<T>) {
        Put(text, name, std::to_string(static_cast<int64_t>(number))); // an offset may be < 0
    } else {
        Put(text, name, std::to_string(static_cast<uint64_t>(number)));
    }
}

template <typename Record, size_t count>
void PutFields(std::string& text, const std::string& prefix, const Record& record,
               const Field<Record> (&fields)[count]) {
    for (const Field<Record>& field : fields) {
        std::visit([&](auto member) { Put(text, prefix + field.name, record.*member); },
                   field.member);
    }
}

void Read(std::string_view value, std::string& text) {
    text = value;
}

void Read(std::string_view value, bool& flag) {
    if (value == "1" || value == "0") {
        flag = value == "1";
    }
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

template <typename T>
void Read(std::string_view value, T& number) {
    Number(value, number);
}

// Takes `value` into the member named `name`; false when the list has no such name.
template <typename Record, size_t count>
bool ReadField(std::string_view name, std::string_view value, Record& record,
               const Field<Record> (&fields)[count]) {
    for (const Field<Record>& field : fields) {
        if (name == field.name) {
            std::visit([&](auto member) { Read(value, record.*member); }, field.member);
            return true;
        }
    }
    return false;
}

void ReadPortFact(std::string_view name, std::string_view value, VirtualPortReport& port) {
    uint64_t counter = 0;
    if (!ReadField(name, value, port, portFields) && Number(value, counter) &&
        ReadField(name, value, port, portCounterFields)) {
        port.hasCounters = true;
    }
}

void ReadClientFact(std::string_view name, std::string_view value, NetworkReport& network) {
    const size_t dot = name.find('.', sizeof clientPrefix - 1);
    size_t index = 0;
    if (dot == std::string_view::npos ||
        !Number(name.substr(sizeof clientPrefix - 1, dot - (sizeof clientPrefix - 1)), index) ||
        index == 0 || index > 1024) {
        return;
    }
    if (network.clients.size() < index) {
        network.clients.resize(index);
    }
    ReadField(name.substr(dot + 1), value, network.clients[index - 1], clientFields);
}

// The fix at full precision: a line for each value the receiver has given, none for the
// others.
struct FixFact {
    const char* name;
    double PreciseFix::*value;
    bool PreciseFix::*given;
};
constexpr FixFact fixFacts[] = {
    {"fix.latitude", &PreciseFix::latitude, &PreciseFix::hasPosition},
    {"fix.longitude", &PreciseFix::longitude, &PreciseFix::hasPosition},
    {"fix.altitude", &PreciseFix::altitude, &PreciseFix::hasAltitude},
    {"fix.geoidSeparation", &PreciseFix::geoidSeparation, &PreciseFix::hasGeoidSeparation},
    {"fix.speedKnots", &PreciseFix::speedKnots, &PreciseFix::hasSpeed},
    {"fix.course", &PreciseFix::course, &PreciseFix::hasCourse},
    {"fix.pdop", &PreciseFix::pdop, &PreciseFix::hasDops},
    {"fix.hdop", &PreciseFix::hdop, &PreciseFix::hasHdop},
    {"fix.vdop", &PreciseFix::vdop, &PreciseFix::hasDops},
    {"fix.second", &PreciseFix::second, &PreciseFix::hasTime},
};

// Which of the block's other values the receiver has given.
constexpr Field<PreciseFix> fixGivenFields[] = {
    {"fix.given.quality", &PreciseFix::hasQuality},
    {"fix.given.depth", &PreciseFix::hasDepth},
};

void PutFix(std::string& text, const PreciseFix& fix) {
    PutFields(text, "", fix, fixGivenFields);
    for (const FixFact& fact : fixFacts) {
        if (fix.*fact.given) {
            // The shortest text that reads back as the same double.
            char digits[32];
            const auto end = std::to_chars(digits, digits + sizeof digits, fix.*fact.value).ptr;
            Put(text, fact.name, std::string_view(digits, static_cast<size_t>(end - digits)));
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

void ReadFixFact(std::string_view name, std::string_view value, PreciseFix& fix) {
    if (ReadField(name, value, fix, fixGivenFields)) {
        return;
    }
    for (const FixFact& fact : fixFacts) {
        if (name == fact.name) {
            fix.*fact.given = Number(value, fix.*fact.value);
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

constexpr std::string_view skyPrefix = "sky.";

void PutSky(std::string& text, const std::vector<SkySatellite>& sky) {
    for (size_t i = 0; i < sky.size(); ++i) {
        const SatelliteEntry& s = sky[i].entry;
        Put(text, std::string(skyPrefix) + std::to_string(i + 1),
            std::to_string(s.prn) + ',' + std::to_string(s.elevation) + ',' +
                std::to_string(s.azimuth) + ',' + std::to_string(s.snr) + ',' +
                (sky[i].used ? '1' : '0'));
    }
}

// "sky.N=prn,elevation,azimuth,snr,used"; a malformed line is skipped, as unknown names are.
void ReadSkyFact(std::string_view value, std::vector<SkySatellite>& sky) {
    int numbers[5] = {};
    for (int& number : numbers) {
        const size_t comma = value.find(',');
        if (!Number(value.substr(0, comma), number)) {
            return;
        }
        value = comma == std::string_view::npos ? std::string_view() : value.substr(comma + 1);
    }
    if (sky.size() >= static_cast<size_t>(maxSkySatellites) || numbers[0] <= 0 ||
        numbers[0] > INT16_MAX) {
        return;
    }
    const auto field = [](int v) {
        return static_cast<int16_t>(v < -999 ? -999 : v > 999 ? 999 : v);
    };
    sky.push_back({{static_cast<int16_t>(numbers[0]), field(numbers[1]), field(numbers[2]),
                    field(numbers[3])},
                   numbers[4] != 0});
}

} // namespace

std::string EncodeHubReport(const HubReport& report) {
    std::string text;
    PutFields(text, "", report, reportFields);
    for (uint32_t i = 0; i < virtualPortCount; ++i) {
        const VirtualPortReport& port = report.ports[i];
        if (port.comNumber == 0) {
            continue;
        }
        const std::string prefix = "port" + std::to_string(i + 1) + ".";
        PutFields(text, prefix, port, portFields);
        if (port.hasCounters) {
            PutFields(text, prefix, port, portCounterFields);
        }
    }
    PutFields(text, "", report.network, networkFields);
    for (size_t i = 0; i < report.network.clients.size(); ++i) {
        PutFields(text, clientPrefix + std::to_string(i + 1) + ".", report.network.clients[i],
                  clientFields);
    }
    PutFields(text, "", report.time, timeFields);
    PutFields(text, "", report.freshness, freshnessFields);
    PutFix(text, report.fix);
    PutSky(text, report.sky);
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
        if (ReadField(name, value, report, reportFields)) {
            found = found || name == "version";
            continue;
        }
        if (ReadField(name, value, report.network, networkFields) ||
            ReadField(name, value, report.time, timeFields) ||
            ReadField(name, value, report.freshness, freshnessFields)) {
            continue;
        }
        if (name.substr(0, skyPrefix.size()) == skyPrefix) {
            ReadSkyFact(value, report.sky);
        } else if (name.substr(0, 4) == "fix.") {
            ReadFixFact(name, value, report.fix);
        } else if (name.substr(0, sizeof clientPrefix - 1) == clientPrefix) {
            ReadClientFact(name, value, report.network);
        } else if (name.size() > 6 && name.substr(0, 4) == "port" && name[5] == '.' &&
                   name[4] >= '1' && name[4] < static_cast<char>('1' + virtualPortCount)) {
            ReadPortFact(name.substr(6), value, report.ports[name[4] - '1']);
        }
    }
    return found;
}

} // namespace tavro
