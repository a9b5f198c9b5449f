// The hub's persistent settings: the process-wide values that the settings store loads from
// and saves to the user's registry key, the table that maps them to registry values, and the
// option bits of "Sync".
#pragma once

#include "platform/Registry.h"

#include <array>
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
// "Multi GNSS": 1 reads today's multi-constellation receivers (talkers GN, GL, GA, GB, BD, GQ,
// GI besides GP); 0 recognises and decodes only the nine talker prefixes of GPS-only days.
inline constexpr uint32_t multiGnssDefault = 1;
inline constexpr uint32_t immediateRelayDefault = 1;
inline constexpr uint32_t tcpClientsDefault = 32;

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

// The options by their check box texts, in the order the main window shows them.
struct OptionName {
    uint32_t bit;
    const char* text;
};
inline constexpr OptionName optionNames[] = {
    {OptionFlags::nmeaFilter, "NMEA Filter"},      {OptionFlags::readOnly, "Read Only (2-8)"},
    {OptionFlags::batterySaver, "Battery Saver"},  {OptionFlags::videoReset, "Video Reset"},
    {OptionFlags::autoTimeSync, "Auto Time Sync"},
};
// Every bit that is an option.
inline constexpr uint32_t optionBits = OptionFlags::videoReset | OptionFlags::nmeaFilter |
                                       OptionFlags::batterySaver | OptionFlags::readOnly |
                                       OptionFlags::autoTimeSync;

// `flags` with `option` set or cleared and every other bit unchanged.
constexpr uint32_t WithOption(uint32_t flags, uint32_t option, bool on) {
    return on ? (flags | option) : (flags & ~option);
}

// The settings of one hub, with the built-in defaults as initial values (but see
// DefaultSettings for "LogPath"). Owned by the hub's context and touched only on the
// user-interface thread (a search's result is applied there too).
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
    bool firstRun = false; // "Baud" was missing when the settings were loaded
};

// The built-in defaults with `logPathDefault` as "LogPath" (cut to 127 characters; null
// gives an empty path).
Settings DefaultSettings(const char* logPathDefault);

// The edition's default "LogPath": "C:\GPSLog\Gps" on Windows; elsewhere "$HOME/GPSLog/Gps",
// or "GPSLog/Gps" (in the working folder) when HOME is not set or the path would not fit.
void EditionLogPathDefault(char (&logPath)[logPathSize]);

// One row of SettingsTable.
struct SettingsEntry {
    char name[16];          // registry value name
    uint32_t offset;        // of the variable inside Settings
    uint32_t type;          // platform::regDword or platform::regSz
    uint32_t size;          // read buffer size, and the write length of numbers
    uint32_t numberDefault; // initial value of a number; "LogPath" takes the edition's
};

// The settings in the order they are loaded and saved.
inline constexpr std::array<SettingsEntry, 16> SettingsTable = {{
    {"Port", offsetof(Settings, port), platform::regDword, 4, portDefault},
    {"Baud", offsetof(Settings, baud), platform::regDword, 4, baudDefault},
    {"Logging", offsetof(Settings, logging), platform::regDword, 4, 0},
    {"Sync", offsetof(Settings, optionFlags), platform::regDword, 4, 0},
    {"LogPath", offsetof(Settings, logPath), platform::regSz, logPathSize, 0},
    {"Version", offsetof(Settings, version), platform::regDword, 4, 0},
    {"Sum", offsetof(Settings, sum), platform::regDword, 4, 0},
    {"VSyncDelay", offsetof(Settings, vSyncDelay), platform::regDword, 4, vSyncDelayDefault},
    {"Bluetooth", offsetof(Settings, bluetooth), platform::regDword, 4, 0},
    {"Multi GNSS", offsetof(Settings, multiGnss), platform::regDword, 4, multiGnssDefault},
    {"Immediate Relay", offsetof(Settings, immediateRelay), platform::regDword, 4,
     immediateRelayDefault},
    {"TCP Port", offsetof(Settings, tcpPort), platform::regDword, 4, 0},
    {"TCP Address", offsetof(Settings, tcpAddress), platform::regSz, tcpAddressSize, 0},
    {"UDP Target", offsetof(Settings, udpTarget), platform::regSz, udpTargetSize, 0},
    {"TCP Write", offsetof(Settings, tcpWrite), platform::regDword, 4, 0},
    {"TCP Clients", offsetof(Settings, tcpClients), platform::regDword, 4, tcpClientsDefault},
}};

// The position of "Baud", whose absence marks the first run.
inline constexpr size_t baudEntry = 1;

} // namespace tavro
