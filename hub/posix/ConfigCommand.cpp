#include "hub/posix/ConfigCommand.h"

#include "common/DriverExchangeBlock.h"
#include "common/SpeedTable.h"
#include "hub/ui/RestartDevice.h"
#include "hub/ui/Settings.h"
#include "hub/ui/SettingsStore.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace tavro {
namespace {

// COM numbers the hub can use: its bitmap of taken numbers has 256 bits.
constexpr uint32_t comNumberMax = 255;

enum class Kind { Entry, VirtualPort, Option };

struct Name {
    Kind kind;
    size_t index;     // SettingsTable entry or virtual port
    uint32_t option;  // OptionFlags bit
    const char* text; // as shown
};

constexpr const char* virtualPortNames[virtualPortCount] = {"Port0", "Port1", "Port2", "Port3",
                                                            "Port4", "Port5", "Port6", "Port7"};

struct OptionName {
    uint32_t bit;
    const char* text;
};

constexpr OptionName optionNames[] = {
    {OptionFlags::nmeaFilter, "NMEA Filter"},   {OptionFlags::batterySaver, "Battery Saver"},
    {OptionFlags::readOnly, "Read Only (2-8)"}, {OptionFlags::autoTimeSync, "Auto Time Sync"},
    {OptionFlags::videoReset, "Video Reset"},
};

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
    for (size_t i = 0; i < SettingsTable.size(); ++i) {
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
        return settings.logPath;
    }
    std::snprintf(text, sizeof text, "%u",
                  static_cast<unsigned>(NumberField(const_cast<Settings&>(settings), name.index)));
    return text;
}

// Applies `value` to the loaded settings; false with a message when it does not fit the name.
bool Assign(const Name& name, const char* value, Settings& settings, DriverExchangeBlock& exchange,
            std::string& errors) {
    if (name.kind == Kind::Option) {
        bool on = false;
        if (!ParseSwitch(value, on)) {
            errors += std::string("\"") + name.text + "\" takes on or off, not \"" + value + "\"\n";
            return false;
        }
        settings.optionFlags = WithOption(settings.optionFlags, name.option, on);
        return true;
    }
    if (name.kind == Kind::Entry && SettingsTable[name.index].type == platform::regSz) {
        if (std::strlen(value) >= logPathSize) {
            errors += std::string("\"") + name.text + "\" holds at most " +
                      std::to_string(logPathSize - 1) + " characters\n";
            return false;
        }
        std::snprintf(settings.logPath, sizeof settings.logPath, "%s", value);
        return true;
    }
    uint32_t number = 0;
    bool on = false;
    const bool isSwitchEntry =
        name.kind == Kind::Entry &&
        (std::strcmp(name.text, "Logging") == 0 || std::strcmp(name.text, "Bluetooth") == 0);
    if (isSwitchEntry && ParseSwitch(value, on)) {
        number = on ? 1 : 0;
    } else if (!ParseNumber(value, number)) {
        errors += std::string("\"") + name.text + "\" takes a number, not \"" + value + "\"\n";
        return false;
    }
    const bool isComNumber = name.kind == Kind::VirtualPort || std::strcmp(name.text, "Port") == 0;
    if (isComNumber && number > comNumberMax) {
        errors += std::string("\"") + name.text + "\" is a COM number from 0 (none) to " +
                  std::to_string(comNumberMax) + "\n";
        return false;
    }
    if (name.kind == Kind::VirtualPort) {
        exchange.comNumber[name.index] = number;
        return true;
    }
    if (std::strcmp(name.text, "Baud") == 0) {
        bool listed = false;
        std::string speeds;
        for (const uint32_t speed : speedTable) {
            listed = listed || speed == number;
            speeds += (speeds.empty() ? "" : ", ") + std::to_string(speed);
        }
        if (!listed) {
            errors += "\"Baud\" is one of " + speeds + "\n";
            return false;
        }
    }
    NumberField(settings, name.index) = number;
    return true;
}

void Load(platform::Registry& registry, Settings& settings, DriverExchangeBlock& exchange) {
    char logPath[logPathSize];
    EditionLogPathDefault(logPath);
    settings = DefaultSettings(logPath);
    exchange = DriverExchangeBlock{};
    RestartDeviceTable devices{};
    LoadSettings(registry, settings, exchange, devices);
}

const char usage[] = "usage: tavro config get NAME | set NAME VALUE | list\n";

} // namespace

int RunConfigCommand(platform::Registry& registry, int argc, const char* const* argv,
                     std::string& output, std::string& errors) {
    if (argc < 1) {
        errors += usage;
        return configFailed;
    }
    const std::string verb = argv[0];
    Settings settings;
    DriverExchangeBlock exchange{};
    if (verb == "list" && argc == 1) {
        Load(registry, settings, exchange);
        auto line = [&](const Name& name) {
            output += name.text;
            output += " = ";
            output += ValueText(name, settings, exchange);
            output += '\n';
        };
        for (size_t i = 0; i < SettingsTable.size(); ++i) {
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
    if ((verb != "get" || argc != 2) && (verb != "set" || argc != 3)) {
        errors += usage;
        return configFailed;
    }
    Name name{};
    if (!FindName(argv[1], name)) {
        errors +=
            std::string("unknown setting \"") + argv[1] + "\" (tavro config list shows them)\n";
        return configFailed;
    }
    Load(registry, settings, exchange);
    if (verb == "get") {
        output += ValueText(name, settings, exchange) + "\n";
        return configOk;
    }
    if (!Assign(name, argv[2], settings, exchange, errors)) {
        return configFailed;
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
    return configOk;
}

} // namespace tavro
