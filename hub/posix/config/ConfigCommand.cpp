#include "hub/posix/config/ConfigCommand.h"

#include "common/DriverExchangeBlock.h"
#include "common/SpeedTable.h"
#include "hub/posix/config/ForceOption.h"
#include "hub/posix/config/SelfFeed.h"
#include "hub/settings/RestartDevice.h"
#include "hub/settings/Settings.h"
#include "hub/settings/SettingsStore.h"

#include <arpa/inet.h>
#include <cctype>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <vector>

namespace tavro {
namespace {

enum class Kind { Entry, VirtualPort, Option };

struct Name {
    Kind kind;
    size_t index;     // SettingsTable entry or virtual port
    uint32_t option;  // OptionFlags bit
    const char* text; // as shown
};

constexpr const char* virtualPortNames[virtualPortCount] = {"Port0", "Port1", "Port2", "Port3",
                                                            "Port4", "Port5", "Port6", "Port7"};
constexpr char virtualPortHelp[] =
    "the COM numbers of virtual ports 1 to 8 (Port0 is port 1), from 0 (not used) to 255";

// Lower case without blanks, hyphens, underscores and brackets: "Read Only (2-8)" and
// "read-only-2-8" both become "readonly28".
std::string Folded(const char* text) {
    std::string folded;
    for (; *text != '\0'; ++text) {
        const auto c = static_cast<unsigned char>(*text);
        if (c == ' ' || c == '-' || c == '_' || c == '(' || c == ')') {
            continue;
        }
        folded += static_cast<char>(std::tolower(c));
    }
    return folded;
}

bool FindName(const char* given, Name& name) {
    const std::string wanted = Folded(given);
    if (wanted.empty()) {
        return false;
    }
    for (size_t i = 0; i < std::size(SettingsTable); ++i) {
        if (Folded(SettingsTable[i].name) == wanted) {
            name = {Kind::Entry, i, 0, SettingsTable[i].name};
            return true;
        }
    }
    for (size_t i = 0; i < virtualPortCount; ++i) {
        if (Folded(virtualPortNames[i]) == wanted) {
            name = {Kind::VirtualPort, i, 0, virtualPortNames[i]};
            return true;
        }
    }
    for (const OptionName& option : optionNames) {
        // "Read Only (2-8)" may also be called read-only.
        if (Folded(option.text) == wanted ||
            (option.bit == OptionFlags::readOnly && wanted == "readonly")) {
            name = {Kind::Option, 0, option.bit, option.text};
            return true;
        }
    }
    return false;
}

uint32_t& NumberField(Settings& settings, size_t entry) {
    return *reinterpret_cast<uint32_t*>(reinterpret_cast<unsigned char*>(&settings) +
                                        SettingsTable[entry].offset);
}

bool ParseNumber(const char* text, uint32_t& value) {
    if (text == nullptr || *text == '\0' || *text == '-' || *text == '+' ||
        std::isspace(static_cast<unsigned char>(*text))) {
        return false;
    }
    const bool hex = text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* digits = hex ? text + 2 : text;
    if (*digits == '\0') {
        return false;
    }
    uint64_t number = 0;
    for (const char* c = digits; *c != '\0'; ++c) {
        const int digit = std::isdigit(static_cast<unsigned char>(*c))
                              ? *c - '0'
                              : (hex && std::isxdigit(static_cast<unsigned char>(*c))
                                     ? std::tolower(static_cast<unsigned char>(*c)) - 'a' + 10
                                     : -1);
        if (digit < 0) {
            return false;
        }
        number = number * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
        if (number > UINT32_MAX) {
            return false;
        }
    }
    value = static_cast<uint32_t>(number);
    return true;
}

bool ParseSwitch(const char* text, bool& on) {
    const std::string folded = Folded(text);
    if (folded == "on" || folded == "1" || folded == "true" || folded == "yes") {
        on = true;
        return true;
    }
    if (folded == "off" || folded == "0" || folded == "false" || folded == "no") {
        on = false;
        return true;
    }
    return false;
}

// A numeric address of this machine's (or every interface's), IPv6 also in brackets.
bool IsNumericAddress(const char* value) {
    unsigned char address[sizeof(in6_addr)];
    std::string host = value;
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    return inet_pton(AF_INET, host.c_str(), address) == 1 ||
           inet_pton(AF_INET6, host.c_str(), address) == 1;
}

// Empty, or "host:port" with a port from 1 to 65535.
bool IsHostPortOrEmpty(const char* value) {
    if (value[0] == '\0') {
        return true;
    }
    const char* colon = std::strrchr(value, ':');
    char* end = nullptr;
    const unsigned long port = colon != nullptr ? std::strtoul(colon + 1, &end, 10) : 0;
    return colon != nullptr && colon != value && colon[1] != '\0' && *end == '\0' && port != 0 &&
           port <= 65535;
}

// The refusal of a value the setting does not take, in the table's words.
bool Refuse(const char* name, const char* help, std::string& errors) {
    errors += std::string("\"") + name + "\" is " + help + "\n";
    return false;
}

std::string ValueText(const Name& name, const Settings& settings,
                      const DriverExchangeBlock& exchange) {
    char text[logPathSize + 16];
    switch (name.kind) {
    case Kind::Option:
        return (settings.optionFlags & name.option) != 0 ? "on" : "off";
    case Kind::VirtualPort:
        std::snprintf(text, sizeof text, "%u",
                      static_cast<unsigned>(exchange.comNumber[name.index]));
        return text;
    case Kind::Entry:
        break;
    }
    if (SettingsTable[name.index].type == platform::regSz) {
        return reinterpret_cast<const char*>(&settings) + SettingsTable[name.index].offset;
    }
    const uint32_t number = NumberField(const_cast<Settings&>(settings), name.index);
    if (SettingsTable[name.index].form == SettingForm::Unit && number == ntpUnitNone) {
        return "off";
    }
    std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(number));
    return text;
}

// Applies `value` to the loaded settings; false with a message when it does not fit the name.
// Whether COM<number> is free for the input port or virtual port `name`: no other of them has
// it, and it names no device in the COM directory except as one of the virtual ports (whose
// links are the hub's own). False with a message otherwise.
bool ComNumberFree(const Name& name, uint32_t number, const Settings& settings,
                   const DriverExchangeBlock& exchange, const ConfigSurroundings* surroundings,
                   std::string& errors) {
    const std::string com = "COM" + std::to_string(number);
    bool virtualPortNumber = false;
    for (size_t i = 0; i < virtualPortCount; ++i) {
        if (exchange.comNumber[i] != number) {
            continue;
        }
        virtualPortNumber = true;
        if (name.kind != Kind::VirtualPort || name.index != i) {
            errors += com + " is virtual port " + std::to_string(i + 1) + " already (" +
                      virtualPortNames[i] + "; --force stores it anyway)\n";
            return false;
        }
    }
    if (name.kind == Kind::VirtualPort && settings.port == number) {
        errors += com + " is the input port (Port; --force stores it anyway)\n";
        return false;
    }
    std::string device;
    if (name.kind == Kind::VirtualPort && !virtualPortNumber && surroundings != nullptr &&
        surroundings->ComNamesDevice(number, device)) {
        errors += com + " names " + device +
                  " in the COM directory, a device that is not the hub's (--force stores it "
                  "anyway)\n";
        return false;
    }
    return true;
}

bool Assign(const Name& name, const char* value, bool force, Settings& settings,
            DriverExchangeBlock& exchange, const ConfigSurroundings* surroundings,
            std::string& errors) {
    bool on = false;
    if (name.kind == Kind::Option) {
        if (!ParseSwitch(value, on)) {
            errors += std::string("\"") + name.text + "\" takes on or off, not \"" + value + "\"\n";
            return false;
        }
        settings.optionFlags = WithOption(settings.optionFlags, name.option, on);
        return true;
    }
    uint32_t number = 0;
    if (name.kind == Kind::VirtualPort) {
        if (!ParseNumber(value, number)) {
            errors += std::string("\"") + name.text + "\" takes a number, not \"" + value + "\"\n";
            return false;
        }
        if (number > comNumberMax) {
            return Refuse(name.text, virtualPortHelp, errors);
        }
        if (number != 0 && !force &&
            !ComNumberFree(name, number, settings, exchange, surroundings, errors)) {
            return false;
        }
        exchange.comNumber[name.index] = number;
        return true;
    }
    const SettingsEntry& entry = SettingsTable[name.index];
    if (entry.type == platform::regSz) {
        if (std::strlen(value) >= entry.size) {
            errors += std::string("\"") + name.text + "\" holds at most " +
                      std::to_string(entry.size - 1) + " characters\n";
            return false;
        }
        // The hub listens on numeric addresses only; the one name everybody types is stored as
        // the address it stands for.
        if (entry.form == SettingForm::Address && strcasecmp(value, "localhost") == 0) {
            value = "127.0.0.1";
        }
        if ((entry.form == SettingForm::Address && !IsNumericAddress(value)) ||
            (entry.form == SettingForm::HostPort && !IsHostPortOrEmpty(value))) {
            return Refuse(name.text, entry.help, errors);
        }
        SourceAddress source;
        const char* reason = "";
        if (entry.form == SettingForm::Source && !ParseSource(value, source, reason)) {
            errors += std::string("\"") + name.text + "\" \"" + value + "\" " + reason +
                      "; it is " + entry.help + "\n";
            return false;
        }
        std::snprintf(reinterpret_cast<char*>(&settings) + entry.offset, entry.size, "%s", value);
        return true;
    }
    if (entry.form == SettingForm::Switch && ParseSwitch(value, on)) {
        number = on ? 1 : 0;
    } else if (entry.form == SettingForm::Unit && Folded(value) == "off") {
        number = ntpUnitNone;
    } else if (!ParseNumber(value, number)) {
        errors += std::string("\"") + name.text + "\" takes " +
                  (entry.form == SettingForm::Switch ? "on or off" : "a number") + ", not \"" +
                  value + "\"\n";
        return false;
    }
    switch (entry.form) {
    case SettingForm::Number:
    case SettingForm::Unit:
        if ((number < entry.minimum || number > entry.maximum) &&
            !(entry.form == SettingForm::Unit && number == ntpUnitNone)) {
            return Refuse(name.text, entry.help, errors);
        }
        break;
    case SettingForm::ComNumber:
        if (number < entry.minimum || number > entry.maximum) {
            return Refuse(name.text, entry.help, errors);
        }
        if (number != 0 && !force &&
            !ComNumberFree(name, number, settings, exchange, surroundings, errors)) {
            return false;
        }
        break;
    case SettingForm::LineSpeed:
        if (!IsTableSpeed(number)) {
            return Refuse(name.text, entry.help, errors);
        }
        break;
    case SettingForm::Record:
        if (!force) {
            errors += std::string("\"") + name.text +
                      "\" is the driver installer's record, not a setting (--force changes it)\n";
            return false;
        }
        break;
    case SettingForm::OptionBits:
        if ((number & ~optionBits) != 0 && !force) {
            char bits[16];
            std::snprintf(bits, sizeof bits, "0x%X", static_cast<unsigned>(number & ~optionBits));
            errors += std::string("\"") + name.text + "\" bits " + bits +
                      " are no option (options are bits 0x1F; --force stores them anyway)\n";
            return false;
        }
        break;
    case SettingForm::Switch:
    case SettingForm::Text:
    case SettingForm::Address:
    case SettingForm::HostPort:
    case SettingForm::Source:
        break;
    }
    NumberField(settings, name.index) = number;
    return true;
}

void Load(platform::Registry& registry, Settings& settings, DriverExchangeBlock& exchange) {
    exchange = DriverExchangeBlock{};
    RestartDeviceTable devices{};
    LoadEditionSettings(registry, settings, exchange, devices);
}

const char usage[] = "usage: tavro config list | get NAME | set NAME VALUE [--force]\n";

// What a stored value will not do on this system, for the user to hear at once.
void Notes(const Name& name, const Settings& settings, const ConfigSurroundings* surroundings,
           std::string& errors) {
    if (surroundings == nullptr) {
        return;
    }
    const uint32_t options = settings.optionFlags;
    const bool touchesOptions = name.kind == Kind::Option || std::strcmp(name.text, "Sync") == 0;
    if (touchesOptions && (options & OptionFlags::videoReset) != 0 &&
        (name.kind != Kind::Option || name.option == OptionFlags::videoReset)) {
        errors += "note: \"Video Reset\" has no effect on this system\n";
    }
    if (touchesOptions && (options & OptionFlags::autoTimeSync) != 0 &&
        (name.kind != Kind::Option || name.option == OptionFlags::autoTimeSync) &&
        !surroundings->MaySetClock()) {
        errors += "note: \"Auto Time Sync\" needs the right to set the clock (CAP_SYS_TIME), "
                  "which this user lacks; run the hub as root or give it that capability\n";
    }
    std::string device;
    if (name.kind == Kind::Entry && std::strcmp(name.text, "Port") == 0 && settings.port != 0 &&
        !surroundings->ComNamesDevice(settings.port, device)) {
        errors += "note: COM" + std::to_string(settings.port) +
                  " names no device in the COM directory yet (tavro link COM" +
                  std::to_string(settings.port) + " DEVICE)\n";
    }
}

} // namespace

int RunConfigCommand(platform::Registry& registry, const ConfigSurroundings* surroundings, int argc,
                     const char* const* argv, std::string& output, std::string& errors) {
    bool force = false;
    const std::vector<const char*> words = posixhub::WordsAndForce(argc, argv, force);
    if (words.empty()) {
        errors += usage;
        return configUsage;
    }
    const std::string verb = words[0];
    const size_t count = words.size();
    Settings settings;
    DriverExchangeBlock exchange{};
    if (verb == "list" && count == 1 && !force) {
        Load(registry, settings, exchange);
        auto line = [&](const Name& name) {
            output += name.text;
            output += " = ";
            output += ValueText(name, settings, exchange);
            output += '\n';
        };
        for (size_t i = 0; i < std::size(SettingsTable); ++i) {
            line({Kind::Entry, i, 0, SettingsTable[i].name});
        }
        for (size_t i = 0; i < virtualPortCount; ++i) {
            line({Kind::VirtualPort, i, 0, virtualPortNames[i]});
        }
        for (const OptionName& option : optionNames) {
            line({Kind::Option, 0, option.bit, option.text});
        }
        return configOk;
    }
    if ((verb != "get" || count != 2 || force) && (verb != "set" || count != 3)) {
        errors += usage;
        return configUsage;
    }
    Name name{};
    if (!FindName(words[1], name)) {
        errors +=
            std::string("unknown setting \"") + words[1] + "\" (tavro config list shows them)\n";
        return configUsage;
    }
    Load(registry, settings, exchange);
    if (verb == "get") {
        output += ValueText(name, settings, exchange) + "\n";
        return configOk;
    }
    // Only the settings that route frames can close a loop; others never resolve names here.
    const bool routing = name.kind == Kind::Entry &&
                         (SettingsTable[name.index].form == SettingForm::Source ||
                          SettingsTable[name.index].offset == offsetof(Settings, udpTarget) ||
                          SettingsTable[name.index].offset == offsetof(Settings, tcpPort) ||
                          SettingsTable[name.index].offset == offsetof(Settings, tcpAddress));
    const bool loopedBefore = routing && !force && !SelfFeed(settings).empty();
    if (!Assign(name, words[2], force, settings, exchange, surroundings, errors)) {
        return configUsage;
    }
    if (routing && !force && !loopedBefore) {
        const std::string loop = SelfFeed(settings);
        if (!loop.empty()) {
            errors += loop + ": every frame would go round for ever (--force stores it anyway)\n";
            return configUsage;
        }
    }
    const std::string wanted = ValueText(name, settings, exchange);
    SaveSettings(registry, settings, exchange, nullptr, false);
    // The store is silent about failures: read the value back so the user hears of one.
    Load(registry, settings, exchange);
    const std::string stored = ValueText(name, settings, exchange);
    if (stored != wanted) {
        errors += std::string("\"") + name.text + "\" could not be stored: the settings file " +
                  "cannot be written (it still reads " + stored + ")\n";
        return configNotStored;
    }
    output += std::string(name.text) + " = " + stored + "\n";
    Notes(name, settings, surroundings, errors);
    return configOk;
}

namespace {

constexpr size_t helpWidth = 90;
constexpr size_t helpColumn = 19;

// `text` cut at blanks into lines of at most helpWidth characters, the first continuing a line
// that holds `used` characters already, the others indented by `indent`.
std::string Wrapped(const std::string& text, size_t used, size_t indent) {
    std::string lines;
    size_t length = used;
    bool lineHasWords = false;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find(' ', at);
        end = end == std::string::npos ? text.size() : end;
        const size_t wordLength = end - at;
        if (lineHasWords && length + 1 + wordLength > helpWidth) {
            lines += "\n" + std::string(indent, ' ');
            length = indent;
            lineHasWords = false;
        }
        if (lineHasWords) {
            lines += ' ';
            ++length;
        }
        lines.append(text, at, wordLength);
        length += wordLength;
        lineHasWords = true;
        at = end + 1;
    }
    return lines + "\n";
}

// "  NAME    the line", the line in a column of its own (below the name when that is long).
std::string HelpEntry(const char* name, const char* text) {
    std::string entry = "  " + std::string(name);
    if (entry.size() < helpColumn) {
        entry.append(helpColumn - entry.size(), ' ');
    } else {
        entry += "\n" + std::string(helpColumn, ' ');
    }
    return entry + Wrapped(text, helpColumn, helpColumn);
}

} // namespace

std::string ConfigHelp() {
    std::string help = "usage: tavro config list\n"
                       "       tavro config get NAME\n"
                       "       tavro config set NAME VALUE [--force]\n"
                       "\n"
                       "Settings:\n";
    std::string records;
    std::string atNextOpen;
    for (const SettingsEntry& entry : SettingsTable) {
        help += HelpEntry(entry.name, entry.help);
        if (entry.form == SettingForm::Record) {
            records += (records.empty() ? "" : " and ") + std::string(entry.name);
        } else if (!entry.live) {
            atNextOpen += (atNextOpen.empty() ? "" : ", ") + std::string(entry.name);
        }
    }
    help += HelpEntry("Port0..Port7", virtualPortHelp);
    help += "\nOptions, the bits of Sync, each on or off (also written nmea-filter, read-only,\n"
            "auto-time-sync and so on):\n";
    for (const OptionName& option : optionNames) {
        help += HelpEntry(option.text, option.help);
    }
    help += "\n" +
            Wrapped("A COM number used twice, or one that another device holds in the COM "
                    "directory, is refused, and so is a Source that would read the hub's own "
                    "output (a UDP Target on this machine at its port, or its own TCP Port). "
                    "--force stores them anyway, and stores " +
                        records +
                        " (the driver installer's records) and Sync bits that are no "
                        "option. A running hub takes a change at once (" +
                        atNextOpen +
                        ": when it next opens the input port); otherwise the hub reads it when "
                        "it starts.",
                    0, 0) +
            "\n" +
            Wrapped("Exit codes: 0 done; 2 usage, unknown name or refused value; 5 the settings "
                    "file cannot be read or written (the reason is printed).",
                    0, 0);
    return help;
}

} // namespace tavro
