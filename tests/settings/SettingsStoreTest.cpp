// The settings store against the in-memory registry and the file store.
#include "hub/settings/SettingsStore.h"

#include "TestRegistries.h"

#include <cstring>
#include <vector>

namespace tavro::testing {
namespace {

using platform::RegistryKey;
using namespace std::string_literals;

DeviceInfoData Device(uint8_t firstGuidByte, uint32_t devInst) {
    DeviceInfoData device{};
    for (uint8_t i = 0; i < 16; ++i) {
        device.classGuid[i] = static_cast<uint8_t>(firstGuidByte + i);
    }
    device.devInst = devInst;
    device.reserved = 0x1234;
    return device;
}

bool SameDevice(const DeviceInfoData& a, const DeviceInfoData& b) {
    return std::memcmp(a.classGuid, b.classGuid, 16) == 0 && a.devInst == b.devInst;
}

class SettingsStore : public RegistryTest {
protected:
    void Load() { LoadSettings(registry(), settings, exchange, devices); }
    void Save(const char* modulePath = "/usr/bin/tavro", bool deviceOpen = false) {
        SaveSettings(registry(), settings, exchange, modulePath, deviceOpen);
    }
    void SaveDevices(const std::vector<DeviceListRow>& rows) {
        SaveRestartDevices(registry(), rows, devices, settings, exchange, "/usr/bin/tavro", false);
    }
    // Starts the next run of the hub: everything in memory back to the built-in state.
    void Restart() {
        Reopen();
        settings = DefaultSettings(windowsLogPathDefault);
        exchange = DriverExchangeBlock{};
        devices = RestartDeviceTable{};
    }

    void Put(const char* name, uint32_t type, const std::string& data,
             const char* path = settingsKeyPath) {
        RegistryKey key = RegistryKey::none;
        ASSERT_EQ(registry().CreateKey(RegistryKey::currentUser, path, key), error::success);
        ASSERT_EQ(
            registry().SetValue(key, name, type, data.data(), static_cast<uint32_t>(data.size())),
            error::success);
        registry().CloseKey(key);
    }
    // The stored value as "<type>:<bytes>", or "missing".
    std::string Stored(const char* name, const char* path = settingsKeyPath) {
        RegistryKey key = RegistryKey::none;
        if (registry().OpenKey(RegistryKey::currentUser, path, key) != error::success) {
            return "no key";
        }
        char data[512];
        uint32_t type = 0;
        uint32_t size = sizeof data;
        const uint32_t result = registry().QueryValue(key, name, &type, data, &size);
        registry().CloseKey(key);
        return result == error::success ? std::to_string(type) + ":" + std::string(data, size)
                                        : "missing";
    }

    Settings settings = DefaultSettings(windowsLogPathDefault);
    DriverExchangeBlock exchange{};
    RestartDeviceTable devices{};
};

TEST_P(SettingsStore, ANewUserGetsTheDefaultsAKeyAndAFirstRun) {
    Load();
    EXPECT_TRUE(settings.firstRun);
    EXPECT_EQ(settings.port, 1u);
    EXPECT_EQ(settings.baud, 4800u);
    EXPECT_EQ(settings.vSyncDelay, 2u);
    EXPECT_EQ(settings.optionFlags, 0u);
    EXPECT_STREQ(settings.logPath, "C:\\GPSLog\\Gps");
    EXPECT_EQ(settings.version + settings.sum + settings.logging + settings.bluetooth, 0u);
    EXPECT_EQ(devices[0].state, 0u);
    for (uint32_t number : exchange.comNumber) {
        EXPECT_EQ(number, 0u);
    }
    EXPECT_EQ(Stored("Baud"), "missing"); // the key exists now, still empty
    EXPECT_EQ(registry().OpenKeyCount(), 0u);
}

TEST_P(SettingsStore, AKeyWithOnlyBaudIsNoFirstRun) {
    Put("Baud", platform::regDword, "\x80\x25\0\0"s);
    Load();
    EXPECT_FALSE(settings.firstRun);
    EXPECT_EQ(settings.baud, 9600u);
    EXPECT_EQ(settings.port, 1u);
}

TEST_P(SettingsStore, ValuesOfTheWrongTypeOrSizeKeepTheirDefaults) {
    Put("Port", platform::regSz, "5\0"s);
    Put("Baud", platform::regDword, "\x80\x25"s);
    Put("Logging", platform::regBinary, "\x01\0\0\0"s);
    Put("VSyncDelay", platform::regDword, "\x09\0\0\0\0\0\0\0"s);
    Put("Port2", platform::regBinary, "\x07\0\0\0"s);
    Put("Port3", platform::regDword, "\x07\0\0\0"s);
    Load();
    EXPECT_FALSE(settings.firstRun) << "\"Baud\" exists, even if unusable";
    EXPECT_EQ(settings.port, 1u);
    EXPECT_EQ(settings.baud, 4800u);
    EXPECT_EQ(settings.logging, 0u);
    EXPECT_EQ(settings.vSyncDelay, 2u);
    EXPECT_EQ(exchange.comNumber[2], 0u);
    EXPECT_EQ(exchange.comNumber[3], 7u);
}

TEST_P(SettingsStore, EverythingSavedLoadsBackInTheStoredLayout) {
    settings.port = 3;
    settings.baud = 115200;
    settings.logging = 1;
    settings.optionFlags = 0xABCDEF00 | OptionFlags::readOnly | OptionFlags::autoTimeSync;
    std::strcpy(settings.logPath, "/var/log/gps/Gps");
    settings.version = 304;
    settings.sum = 0xDEADBEEF;
    settings.vSyncDelay = 0;
    settings.bluetooth = 1;
    settings.multiGnss = 0;
    for (uint32_t n = 0; n < virtualPortCount; ++n) {
        exchange.comNumber[n] = n == 5 ? 0 : 10 + n;
    }
    const Settings saved = settings;
    const DriverExchangeBlock savedExchange = exchange;
    Save();
    Restart();
    Load();
    EXPECT_FALSE(settings.firstRun);
    EXPECT_EQ(std::memcmp(&settings, &saved, sizeof settings), 0);
    EXPECT_EQ(std::memcmp(exchange.comNumber, savedExchange.comNumber, 32), 0);

    RegistryKey key = RegistryKey::none;
    ASSERT_EQ(registry().OpenKey(RegistryKey::currentUser, settingsKeyPath, key), error::success);
    std::vector<std::string> names;
    char name[32];
    uint32_t nameSize = sizeof name;
    uint32_t type = 0;
    for (uint32_t i = 0;
         registry().EnumValue(key, i, name, &nameSize, &type, nullptr, nullptr) == error::success;
         ++i, nameSize = sizeof name) {
        names.push_back(name + (type == platform::regSz ? ":sz"s : ""s));
    }
    registry().CloseKey(key);
    EXPECT_EQ(names, (std::vector<std::string>{"Port",
                                               "Baud",
                                               "Logging",
                                               "Sync",
                                               "LogPath:sz",
                                               "Version",
                                               "Sum",
                                               "VSyncDelay",
                                               "Bluetooth",
                                               "Multi GNSS",
                                               "Immediate Relay",
                                               "TCP Port",
                                               "TCP Address:sz",
                                               "UDP Target:sz",
                                               "TCP Write",
                                               "TCP Clients",
                                               "Source:sz",
                                               "NTP Unit",
                                               "PPS",
                                               "Port0",
                                               "Port1",
                                               "Port2",
                                               "Port3",
                                               "Port4",
                                               "Port5",
                                               "Port6",
                                               "Port7"}));
}

TEST_P(SettingsStore, LogPathIsStoredWithoutTerminatorAndAlwaysLoadsTerminated) {
    std::strcpy(settings.logPath, "D:\\g");
    Save();
    EXPECT_EQ(Stored("LogPath"), "1:D:\\g");
    Restart();
    Load();
    EXPECT_STREQ(settings.logPath, "D:\\g");

    const std::string longest(127, 'p');
    const struct {
        uint32_t type;
        std::string data;
        const char* loads;
    } cases[] = {
        {platform::regSz, longest + '\0', longest.c_str()},
        {platform::regSz, std::string(128, 'q'), "C:\\GPSLog\\Gps"},
        {platform::regSz, std::string(200, 'r'), "C:\\GPSLog\\Gps"},
        {platform::regSz, "ab\0cd"s, "ab"},
        {platform::regSz, "", ""},
        {platform::regBinary, "abc"s, "C:\\GPSLog\\Gps"},
    };
    for (const auto& c : cases) {
        Put("LogPath", c.type, c.data);
        Restart();
        Load();
        EXPECT_STREQ(settings.logPath, c.loads) << c.data.size() << " bytes";
    }
}

TEST_P(SettingsStore, DevicesLoadUpToTheFirstMissingOrUnusableValue) {
    uint8_t value[deviceValueSize];
    EncodeDeviceValue(Device(0x60, 0x01020304), value);
    Put("Dev0", platform::regBinary, std::string(reinterpret_cast<char*>(value), 20));
    EncodeDeviceValue(Device(0x00, 7), value); // a class GUID may begin with a zero byte
    Put("Dev1", platform::regBinary, std::string(reinterpret_cast<char*>(value), 20));
    Put("Dev3", platform::regBinary, std::string(reinterpret_cast<char*>(value), 20));
    Load();
    EXPECT_EQ(devices[0].state, restartDeviceListed);
    EXPECT_TRUE(SameDevice(devices[0].device, Device(0x60, 0x01020304)));
    EXPECT_EQ(devices[0].device.reserved, 0u);
    EXPECT_EQ(devices[1].state, restartDeviceListed);
    EXPECT_TRUE(SameDevice(devices[1].device, Device(0x00, 7)));
    EXPECT_EQ(devices[2].state, 0u);

    Put("Dev1", platform::regBinary, "\x01\x02\x03\x04\x05"s); // too short to name a device
    Restart();
    Load();
    EXPECT_EQ(devices[0].state, restartDeviceListed);
    EXPECT_EQ(devices[1].state, 0u);
}

TEST_P(SettingsStore, AutostartIsWrittenExactlyWhileThePortsAreEnabled) {
    Save("/opt/tavro/bin/tavro", true);
    EXPECT_EQ(Stored(autostartValueName, runKeyPath), "1:/opt/tavro/bin/tavro\0"s);
    Save(nullptr, true);
    EXPECT_EQ(Stored(autostartValueName, runKeyPath), "1:/opt/tavro/bin/tavro\0"s);
    Save("/opt/tavro/bin/tavro", false);
    EXPECT_EQ(Stored(autostartValueName, runKeyPath), "missing");
    EXPECT_EQ(Stored("Baud"), "4:\xC0\x12\0\0"s);
}

TEST_P(SettingsStore, TheTickedRowsBecomeTheListAndUntickingAllClearsIt) {
    const std::vector<DeviceListRow> rows = {{true, Device(0x10, 1)},
                                             {false, Device(0x20, 2)},
                                             {true, Device(0x30, 3)},
                                             {true, Device(0x40, 4)}};
    SaveDevices(rows);
    Restart();
    Load();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(devices[i].state, restartDeviceListed);
    }
    EXPECT_TRUE(SameDevice(devices[1].device, Device(0x30, 3)));
    EXPECT_TRUE(SameDevice(devices[2].device, Device(0x40, 4)));
    EXPECT_EQ(devices[3].state, 0u);

    std::vector<DeviceListRow> unticked = rows;
    for (DeviceListRow& row : unticked) {
        row.ticked = false;
    }
    SaveDevices(unticked);
    EXPECT_EQ(devices[0].state, 0u);
    for (const char* name : {"Dev0", "Dev1", "Dev2"}) {
        EXPECT_EQ(Stored(name), "missing") << name;
    }
    EXPECT_EQ(Stored("Port0"), "4:\0\0\0\0"s) << "the settings were saved too";
    Restart();
    Load();
    EXPECT_EQ(devices[0].state, 0u);
}

TEST_P(SettingsStore, NoMoreThanSixtyFourDevicesAreKept) {
    std::vector<DeviceListRow> rows;
    for (uint32_t i = 0; i < 70; ++i) {
        rows.push_back({true, Device(static_cast<uint8_t>(i), i)});
    }
    SaveDevices(rows);
    EXPECT_EQ(Stored("Dev64"), "missing");
    Restart();
    Load();
    EXPECT_EQ(devices[63].state, restartDeviceListed);
    EXPECT_TRUE(SameDevice(devices[63].device, Device(63, 63)));
}

INSTANTIATE_TEST_SUITE_P(Stores, SettingsStore,
                         ::testing::Values(RegistryKind::memory, RegistryKind::file), KindName);

TEST(SettingsStoreUnavailable, ARegistryThatRefusesChangesNothingButTheSessionsTicks) {
    platform::MemoryRegistry registry;
    registry.FailWith(error::accessDenied);
    Settings settings = DefaultSettings("x");
    DriverExchangeBlock exchange{};
    RestartDeviceTable devices{};
    LoadSettings(registry, settings, exchange, devices);
    EXPECT_FALSE(settings.firstRun);
    EXPECT_EQ(settings.baud, 4800u);
    const DeviceListRow row{true, Device(1, 1)};
    SaveRestartDevices(registry, std::span(&row, 1), devices, settings, exchange, "/t", true);
    EXPECT_EQ(devices[0].state, restartDeviceListed);
    registry.FailWith(error::success);
    EXPECT_EQ(registry.ChangeCount(), 0u);
}

TEST(SettingsDefaults, LogPathFollowsTheEditionAndFits) {
    const char* saved = std::getenv("HOME");
    const std::string home = saved ? saved : "";
    char path[logPathSize];
    setenv("HOME", "/home/ana", 1);
    EditionLogPathDefault(path);
    EXPECT_STREQ(path, "/home/ana/GPSLog/Gps");
    setenv("HOME", ("/" + std::string(120, 'h')).c_str(), 1);
    EditionLogPathDefault(path);
    EXPECT_STREQ(path, "GPSLog/Gps");
    unsetenv("HOME");
    EditionLogPathDefault(path);
    EXPECT_STREQ(path, "GPSLog/Gps");
    saved ? setenv("HOME", home.c_str(), 1) : unsetenv("HOME");

    const Settings defaults = DefaultSettings(std::string(300, 'x').c_str());
    EXPECT_EQ(std::strlen(defaults.logPath), 127u);
    EXPECT_EQ(WithOption(0xF0 | OptionFlags::videoReset, OptionFlags::videoReset, false), 0xF0u);
}

} // namespace
} // namespace tavro::testing
