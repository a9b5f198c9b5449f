// The hub's persistent settings: the process-wide values that the settings store loads from
// and saves to the user's registry key, the table that maps them to registry values, and the
// option bits of "Sync".
#pragma once

#include "hub/settings/SourceAddress.h"
#include "platform/Registry.h"

#include <array>
#include <iterator>
#include <stddef.h>
#include <stdint.h>

namespace tavro {

// "LogPath" holds at most 127 characters and its terminator.
inline constexpr uint32_t logPathSize = 128;

// The Windows edition's default "LogPath".
inline constexpr char windowsLogPathDefault[] = "C:\\GPSLog\\Gps";

inline constexpr uint32_t portDefault = 1;
inline constexpr uint32_t baudDefault = 4800;
inline constexpr uint32_t vSyncDelayDefault = 2;
// "Multi GNSS": 1 reads today's receivers the way their owners would (talkers GN, GL, GA, GB,
// BD, GQ, QZ, GI, PQ, IN, EC besides GP, and the rules of hub/decode/GnssFix.cpp); 0
// recognises and decodes only the nine talker prefixes of GPS-only days, as they always were.
inline constexpr uint32_t multiGnssDefault = 1;
inline constexpr uint32_t immediateRelayDefault = 1;
inline constexpr uint32_t tcpClientsDefault = 32;
// "NTP Unit" when no time service is fed.
inline constexpr uint32_t ntpUnitNone = 0xFFFFFFFF;
inline constexpr uint32_t ntpUnitMax = 3;

// The network output: "TCP Address" and "UDP Target" hold at most 63 and 127 characters.
inline constexpr uint32_t tcpAddressSize = 64;
inline constexpr uint32_t udpTargetSize = 128;
// The longest text setting, terminator included.
inline constexpr uint32_t textSettingMax = 128;

// OptionFlags, the value "Sync": one bit per check box of the main window. Bits not named
// here are kept as they were read.
struct OptionFlags {
    static constexpr uint32_t videoReset = 0x01;   // "Video Reset"
    static constexpr uint32_t nmeaFilter = 0x02;   // "NMEA Filter"
    static constexpr uint32_t batterySaver = 0x04; // "Battery Saver"
    static constexpr uint32_t readOnly = 0x08;     // "Read Only (2-8)"
    static constexpr uint32_t autoTimeSync = 0x10; // "Auto Time Sync"
};

// The options by their check box texts, in the order the main window shows them, each with
// the line `tavro config --help` and the man page say of it.
struct OptionName {
    uint32_t bit;
    const char* text;
    const char* help;
};
inline constexpr OptionName optionNames[] = {
    {OptionFlags::nmeaFilter, "NMEA Filter",
     "only sentences with a valid checksum reach the virtual ports"},
    {OptionFlags::readOnly, "Read Only (2-8)",
     "what programs write on virtual ports 2 to 8 does not reach the receiver"},
    {OptionFlags::batterySaver, "Battery Saver",
     "the input port stays closed while no program uses the receiver"},
    {OptionFlags::videoReset, "Video Reset", "the display is switched off and on after a resume"},
    {OptionFlags::autoTimeSync, "Auto Time Sync",
     "the system clock is set from GPS time at the top of a minute"},
};
// Every bit that is an option.
inline constexpr uint32_t optionBits = OptionFlags::videoReset | OptionFlags::nmeaFilter |
                                       OptionFlags::batterySaver | OptionFlags::readOnly |
                                       OptionFlags::autoTimeSync;

// `flags` with `option` set or cleared and every other bit unchanged.
constexpr uint32_t WithOption(uint32_t flags, uint32_t option, bool on) {
    return on ? (flags | option) : (flags & ~option);
}

// The settings of one hub, with SettingsTable's defaults as initial values (but see
// DefaultSettings for "LogPath"; a test holds the two together). Owned by the hub's context and
// touched only on the user-interface thread (a search's result is applied there too).
struct Settings {
    uint32_t port = portDefault;             // "Port": COM number of the input port, 0 = none
    uint32_t baud = baudDefault;             // "Baud": line speed of the input port
    uint32_t logging = 0;                    // "Logging": 1 = raw input is logged to files
    uint32_t optionFlags = 0;                // "Sync": OptionFlags
    char logPath[logPathSize] = {};          // "LogPath": path and name prefix of the log files
    uint32_t version = 0;                    // "Version": build that recorded the driver
    uint32_t sum = 0;                        // "Sum": recorded with "Version"
    uint32_t vSyncDelay = vSyncDelayDefault; // "VSyncDelay": display off time, 100 ms units
    uint32_t bluetooth = 0;                  // "Bluetooth": 1 when the found port opened slowly
    uint32_t multiGnss = multiGnssDefault;   // "Multi GNSS": not 0 = multi-constellation NMEA
    // "Immediate Relay": 1 = receiver bytes are relayed as they arrive and writes to the
    // receiver are queued; 0 = the 50 ms tick reads (at most 510 bytes) and writes. Taken
    // when the input port is opened.
    uint32_t immediateRelay = immediateRelayDefault;
    // The network output. "TCP Port": the TCP server's port, 0 = no server (10110 is the
    // registered "nmea-0183" port). "TCP Address": the address it listens on ("127.0.0.1":
    // this machine only; "0.0.0.0", "::" or an interface's address open it to the network).
    // "UDP Target": "host:port" that receives each frame as one datagram, "" = none. "TCP
    // Write": 1 lets network clients write whole, checksum-valid sentences to the receiver.
    uint32_t tcpPort = 0;
    char tcpAddress[tcpAddressSize] = "127.0.0.1";
    char udpTarget[udpTargetSize] = {};
    uint32_t tcpWrite = 0;
    // "TCP Clients": how many network clients are served at once (1 to 128; the Windows
    // edition serves at most 32); a connection beyond them is closed at once.
    uint32_t tcpClients = tcpClientsDefault;
    // "Source": "" = the serial port of "Port" and "Baud"; else tcp://, udp:// or gpsd:// (see
    // SourceAddress.h), in place of that port.
    char source[sourceSize] = {};
    // "NTP Unit": the time service's shared-memory unit (0 to 3) that every valid fix is
    // written to, ntpUnitNone for no time export.
    uint32_t ntpUnit = ntpUnitNone;
    // "PPS": 1 watches the input port's carrier-detect line for the receiver's pulse and
    // writes each to unit "NTP Unit" + 1.
    uint32_t pps = 0;
    bool firstRun = false; // "Baud" was missing when the settings were loaded
};

// The defaults of SettingsTable, with `logPathDefault` as "LogPath" (cut to 127 characters;
// null gives an empty path).
Settings DefaultSettings(const char* logPathDefault);

// The edition's default "LogPath": "C:\GPSLog\Gps" on Windows; elsewhere "$HOME/GPSLog/Gps",
// or "GPSLog/Gps" (in the working folder) when HOME is not set or the path would not fit.
void EditionLogPathDefault(char (&logPath)[logPathSize]);

// What a setting holds and accepts, for `tavro config` to read, check and show it.
enum class SettingForm : uint8_t {
    Number,     // from `minimum` to `maximum`
    Switch,     // on or off (stored as 1 or 0; a number is stored as given)
    ComNumber,  // a COM number from `minimum` (0: none) to `maximum`
    LineSpeed,  // one of speedTable
    OptionBits, // OptionFlags; other bits only with --force
    Record,     // written by the driver installer, not a setting: changed only with --force
    Text,       // at most `size` - 1 characters
    Address,    // a numeric IP address ("localhost" is stored as 127.0.0.1)
    HostPort,   // "host:port", or empty for none
    Source,     // empty, or a URL that ParseSource takes
    Unit,       // a number from `minimum` to `maximum`, or off (stored as 0xFFFFFFFF)
};

// The highest COM number the hub can use: its bitmap of taken numbers has 256 bits.
inline constexpr uint32_t comNumberMax = 255;
// The most network clients one hub serves at once ("TCP Clients").
inline constexpr uint32_t tcpClientsMax = 128;

// One row of SettingsTable.
struct SettingsEntry {
    char name[16];           // registry value name
    uint32_t offset;         // of the variable inside Settings
    uint32_t type;           // platform::regDword or platform::regSz
    uint32_t size;           // read buffer size, and the write length of numbers
    uint32_t numberDefault;  // initial value of a number
    const char* textDefault; // initial value of a text ("LogPath" takes the edition's)
    SettingForm form;
    uint32_t minimum; // Number and ComNumber: the range `tavro config set` accepts
    uint32_t maximum;
    bool live; // a running hub applies a change at once (Immediate Relay: at the next open)
    // One line, read after the name and "is": what the value means and takes. `tavro config
    // --help`, the refusals of `tavro config set` and the man page's SETTINGS say it.
    const char* help;
};

// Every setting of the hub, in the order they are loaded and saved. A new setting is a member
// of Settings and a row here; the store, `tavro config` and its help follow, and a test holds
// the man page to this list.
inline constexpr SettingsEntry SettingsTable[] = {
    {"Port", offsetof(Settings, port), platform::regDword, 4, portDefault, nullptr,
     SettingForm::ComNumber, 0, comNumberMax, true,
     "the input port's COM number, from 0 (none) to 255"},
    {"Baud", offsetof(Settings, baud), platform::regDword, 4, baudDefault, nullptr,
     SettingForm::LineSpeed, 0, 0, true,
     "the input port's line speed, one of 4800, 9600, 19200, 38400, 57600, 115200, 187500"},
    {"Logging", offsetof(Settings, logging), platform::regDword, 4, 0, nullptr, SettingForm::Switch,
     0, 0, true, "on or off: the receiver's raw stream is logged to dated files (see LogPath)"},
    {"Sync", offsetof(Settings, optionFlags), platform::regDword, 4, 0, nullptr,
     SettingForm::OptionBits, 0, 0, true,
     "the option bits, 0x1F at most: the five options below, each also set by its name"},
    {"LogPath", offsetof(Settings, logPath), platform::regSz, logPathSize, 0, nullptr,
     SettingForm::Text, 0, 0, true,
     "the folder and name prefix of the log files (by default $HOME/GPSLog/Gps)"},
    {"Version", offsetof(Settings, version), platform::regDword, 4, 0, nullptr, SettingForm::Record,
     0, 0, false, "the build that installed the driver, the driver installer's record"},
    {"Sum", offsetof(Settings, sum), platform::regDword, 4, 0, nullptr, SettingForm::Record, 0, 0,
     false, "recorded with Version by the driver installer"},
    {"VSyncDelay", offsetof(Settings, vSyncDelay), platform::regDword, 4, vSyncDelayDefault,
     nullptr, SettingForm::Number, 0, UINT32_MAX, true,
     "how long the display stays off after a resume with Video Reset, in 100 ms units"},
    {"Bluetooth", offsetof(Settings, bluetooth), platform::regDword, 4, 0, nullptr,
     SettingForm::Switch, 0, 0, true,
     "on or off: the receiver's port opens slowly (the GPS search sets it)"},
    {"Multi GNSS", offsetof(Settings, multiGnss), platform::regDword, 4, multiGnssDefault, nullptr,
     SettingForm::Switch, 0, 0, true,
     "on or off: today's receivers are read (talkers GN, GL, GA, GB, BD, GQ, QZ, GI, PQ, IN, "
     "EC too)"},
    {"Immediate Relay", offsetof(Settings, immediateRelay), platform::regDword, 4,
     immediateRelayDefault, nullptr, SettingForm::Switch, 0, 0, false,
     "on or off: the receiver's bytes are relayed as they arrive (off: every 50 ms tick)"},
    {"TCP Port", offsetof(Settings, tcpPort), platform::regDword, 4, 0, nullptr,
     SettingForm::Number, 0, 65535, true,
     "the port of NMEA over TCP, from 1 to 65535, or 0 for no server (10110 is the usual one)"},
    {"TCP Address", offsetof(Settings, tcpAddress), platform::regSz, tcpAddressSize, 0, "127.0.0.1",
     SettingForm::Address, 0, 0, true,
     "the numeric address the server listens on: 127.0.0.1 (this machine only), 0.0.0.0 "
     "(every IPv4 interface), :: (every IPv6 interface), or one interface's address"},
    {"UDP Target", offsetof(Settings, udpTarget), platform::regSz, udpTargetSize, 0, "",
     SettingForm::HostPort, 0, 0, true,
     "host:port that receives each frame as one datagram (for example 192.168.1.255:10110), or "
     "empty for none"},
    {"TCP Write", offsetof(Settings, tcpWrite), platform::regDword, 4, 0, nullptr,
     SettingForm::Switch, 0, 0, true,
     "on or off: network clients may write whole, checksum-valid sentences to the receiver"},
    {"TCP Clients", offsetof(Settings, tcpClients), platform::regDword, 4, tcpClientsDefault,
     nullptr, SettingForm::Number, 1, tcpClientsMax, true,
     "how many network clients are served at once, from 1 to 128"},
    {"Source", offsetof(Settings, source), platform::regSz, sourceSize, 0, "", SettingForm::Source,
     0, 0, true,
     "where the receiver's stream comes from: empty for the serial port of Port and Baud, "
     "tcp://host:port, udp://[address]:port or gpsd://host[:port][/device]"},
    {"NTP Unit", offsetof(Settings, ntpUnit), platform::regDword, 4, ntpUnitNone, nullptr,
     SettingForm::Unit, 0, ntpUnitMax, true,
     "the time service's shared-memory unit that each fix's time is written to, from 0 to 3, "
     "or off"},
    {"PPS", offsetof(Settings, pps), platform::regDword, 4, 0, nullptr, SettingForm::Switch, 0, 0,
     true,
     "on or off: the receiver's pulse-per-second on the carrier-detect line (DCD) goes to the "
     "time service's unit after NTP Unit"},
};

// What the settings store needs of each row, taken from SettingsTable when compiling, so that
// a program that shows no help (the Windows hub) does not carry the help lines.
struct StoredSetting {
    char name[16];
    uint32_t offset;
    uint32_t type;
    uint32_t size;
    uint32_t numberDefault;
    const char* textDefault;
};
inline constexpr auto storedSettings = [] {
    std::array<StoredSetting, std::size(SettingsTable)> rows{};
    for (size_t i = 0; i < rows.size(); ++i) {
        const SettingsEntry& entry = SettingsTable[i];
        for (size_t c = 0; c < sizeof entry.name; ++c) {
            rows[i].name[c] = entry.name[c];
        }
        rows[i].offset = entry.offset;
        rows[i].type = entry.type;
        rows[i].size = entry.size;
        rows[i].numberDefault = entry.numberDefault;
        rows[i].textDefault = entry.textDefault;
    }
    return rows;
}();

// The position of "Baud", whose absence marks the first run.
inline constexpr size_t baudEntry = 1;

} // namespace tavro
