// The logic behind `tavro config` and `tavro status`: settings by name through the settings
// store, and the status line and JSON made from a status block.
#include "hub/posix/ConfigCommand.h"
#include "hub/posix/StatusLine.h"

#include "hub/ui/Settings.h"
#include "hub/ui/SettingsStore.h"
#include "platform/ErrorCodes.h"
#include "platform/testing/MemoryRegistry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace tavro {
namespace {

class ConfigCommandTest : public ::testing::Test {
protected:
    int Run(std::vector<const char*> arguments) {
        output_.clear();
        errors_.clear();
        return RunConfigCommand(registry_, static_cast<int>(arguments.size()), arguments.data(),
                                output_, errors_);
    }

    std::string Get(const char* name) {
        EXPECT_EQ(Run({"get", name}), configOk) << errors_;
        return output_;
    }

    uint32_t StoredNumber(const char* name) {
        platform::ScopedRegistryKey key(registry_);
        EXPECT_EQ(
            registry_.OpenKey(platform::RegistryKey::currentUser, settingsKeyPath, key.Receive()),
            error::success);
        uint32_t value = 0;
        uint32_t size = sizeof value;
        uint32_t type = 0;
        EXPECT_EQ(registry_.QueryValue(key.Get(), name, &type, &value, &size), error::success)
            << name;
        EXPECT_EQ(type, platform::regDword);
        return value;
    }

    platform::MemoryRegistry registry_;
    std::string output_;
    std::string errors_;
};

TEST_F(ConfigCommandTest, ValuesAreWrittenThroughTheSettingsStore) {
    EXPECT_EQ(Get("Port"), "1\n") << "the default before anything is stored";
    EXPECT_EQ(Run({"set", "Port0", "5"}), configOk) << errors_;
    EXPECT_EQ(output_, "Port0 = 5\n");
    EXPECT_EQ(Run({"set", "port1", "COM6"}), configFailed) << "a number, not a name";
    EXPECT_EQ(Run({"set", "port1", "6"}), configOk);
    EXPECT_EQ(StoredNumber("Port0"), 5u);
    EXPECT_EQ(StoredNumber("Port1"), 6u);
    // The whole table is saved, so the first run is over.
    EXPECT_EQ(StoredNumber("Baud"), 4800u);
    EXPECT_EQ(Run({"set", "Baud", "0x2580"}), configOk);
    EXPECT_EQ(Get("baud"), "9600\n");
    EXPECT_EQ(Run({"set", "LogPath", "/var/log/gps/track"}), configOk);
    EXPECT_EQ(Get("log-path"), "/var/log/gps/track\n");
    EXPECT_EQ(Run({"set", "Logging", "on"}), configOk);
    EXPECT_EQ(StoredNumber("Logging"), 1u);

    EXPECT_EQ(Run({"list"}), configOk);
    EXPECT_NE(output_.find("Port = 1\n"), std::string::npos) << output_;
    EXPECT_NE(output_.find("Port0 = 5\nPort1 = 6\nPort2 = 0\n"), std::string::npos);
    EXPECT_NE(output_.find("LogPath = /var/log/gps/track\n"), std::string::npos);
    EXPECT_NE(output_.find("Read Only (2-8) = off\n"), std::string::npos);
}

TEST_F(ConfigCommandTest, OptionsAreBitsOfSyncByTheirNames) {
    // Bits without a name survive every change.
    ASSERT_EQ(Run({"set", "Sync", "0x40"}), configOk);
    EXPECT_EQ(Run({"set", "NMEA Filter", "on"}), configOk) << errors_;
    EXPECT_EQ(Run({"set", "battery-saver", "yes"}), configOk);
    EXPECT_EQ(Run({"set", "read_only", "1"}), configOk);
    EXPECT_EQ(StoredNumber("Sync"),
              0x40u | OptionFlags::nmeaFilter | OptionFlags::batterySaver | OptionFlags::readOnly);
    EXPECT_EQ(Get("Read Only (2-8)"), "on\n");
    EXPECT_EQ(Run({"set", "READ-ONLY-(2-8)", "off"}), configOk);
    EXPECT_EQ(Run({"set", "auto time sync", "true"}), configOk);
    EXPECT_EQ(Run({"set", "videoreset", "on"}), configOk);
    EXPECT_EQ(StoredNumber("Sync"), 0x40u | OptionFlags::nmeaFilter | OptionFlags::batterySaver |
                                        OptionFlags::autoTimeSync | OptionFlags::videoReset);
    EXPECT_EQ(Get("Sync"), "87\n");
}

TEST_F(ConfigCommandTest, BadNamesAndValuesAreRefusedAndNothingIsStored) {
    struct Case {
        std::vector<const char*> arguments;
        const char* complaint;
    };
    const std::string longPath(128, 'p');
    const Case cases[] = {
        {{"set", "Colour", "red"}, "unknown setting"},
        {{"set", "Port", "256"}, "COM number"},
        {{"set", "Port7", "-1"}, "takes a number"},
        {{"set", "Baud", "1234"}, "one of 4800"},
        {{"set", "Baud", "4800x"}, "takes a number"},
        {{"set", "Sum", "4294967296"}, "takes a number"},
        {{"set", "NMEA Filter", "maybe"}, "on or off"},
        {{"set", "LogPath", longPath.c_str()}, "at most 127"},
        {{"get", ""}, "unknown setting"},
        {{"get"}, "usage"},
        {{"set", "Port"}, "usage"},
        {{"list", "extra"}, "usage"},
        {{"remove", "Port"}, "usage"},
        {{}, "usage"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Run(c.arguments), configFailed) << c.complaint;
        EXPECT_NE(errors_.find(c.complaint), std::string::npos) << errors_;
        EXPECT_EQ(output_, "");
    }
    // A refused value stores nothing (looking may create the empty key, as loading does).
    platform::ScopedRegistryKey key(registry_);
    ASSERT_EQ(
        registry_.CreateKey(platform::RegistryKey::currentUser, settingsKeyPath, key.Receive()),
        error::success);
    char name[32];
    uint32_t nameSize = sizeof name;
    EXPECT_EQ(registry_.EnumValue(key.Get(), 0, name, &nameSize, nullptr, nullptr, nullptr),
              error::noMoreItems);
}

TEST_F(ConfigCommandTest, ARegistryThatCannotBeWrittenIsReported) {
    registry_.FailWith(error::accessDenied);
    EXPECT_EQ(Run({"set", "Port0", "5"}), configNotStored);
    EXPECT_NE(errors_.find("could not be stored"), std::string::npos) << errors_;
}

GpsSharedStatus Block(uint8_t stream, uint8_t fix, uint8_t sats, uint16_t second) {
    GpsSharedStatus block{};
    block.streamState = stream;
    block.fixState = fix;
    block.satsUsed = sats;
    block.utcTime.wSecond = second;
    return block;
}

TEST(StatusLineTest, TheMainWindowsLineFromTheBlock) {
    char line[statusLineCapacity];
    FormatStatusLine(Block(3, 3, 8, 7), true, 0, line);
    EXPECT_STREQ(line, "NMEA Stream | 3D Fix | 8 SVs :07");
    FormatStatusLine(Block(4, 1, 0, 59), true, 0, line);
    EXPECT_STREQ(line, "SiRF Stream | Low Signal | 0 SVs :59");
    FormatStatusLine(Block(2, 5, 3, 0), true, 0, line);
    EXPECT_STREQ(line, "Unknown Data | Invalid | 3 SVs :00");
    // Below stream state 2 there is no fix or satellite text.
    FormatStatusLine(Block(1, 3, 8, 7), true, 0, line);
    EXPECT_STREQ(line, "Port Closed |  |  :07");
    FormatStatusLine(Block(3, 4, 8, 7), true, 0, line);
    EXPECT_STREQ(line, "NMEA Stream |  | 8 SVs :07") << "fix status 4 has no text";

    const std::pair<uint32_t, const char*> reasons[] = {
        {0, "Port Closed"},        {2, "Port Doesn't Exist"},  {1168, "Port Doesn't Exist"},
        {5, "Port Access Denied"}, {121, "Port Open Timeout"}, {31, "Port Open Failed: 31"},
    };
    for (const auto& [code, text] : reasons) {
        FormatStatusLine(Block(3, 3, 8, 7), false, code, line);
        EXPECT_STREQ(line, text) << code;
    }
}

TEST(StatusLineTest, AReaderTellsAHubThatIsGoneOrClosedFromTheBlockAlone) {
    char line[statusLineCapacity];
    FormatReaderStatusLine(Block(0, 3, 8, 7), line);
    EXPECT_STREQ(line, hubNotRunningText);
    FormatReaderStatusLine(Block(1, 0, 0, 0), line);
    EXPECT_STREQ(line, "Port Closed");
    FormatReaderStatusLine(Block(2, 0, 0, 12), line);
    EXPECT_STREQ(line, "Unknown Data | No Fix | 0 SVs :12");
}

TEST(StatusLineTest, JsonCarriesTheFieldsAndNoInvalidNumbers) {
    GpsSharedStatus block = Block(3, 3, 8, 7);
    block.latitude = 47.5f;
    block.longitude = -8.25f;
    block.altitude = std::nanf("");
    block.satellites[0] = {12, 45, 270, 38};
    block.satellites[1] = {305, 20, 90, 41};
    block.usedEntries = 0x2;
    block.utcTime.wYear = 2024;
    const std::string json = StatusJson(block, true, "NMEA \"Stream\"\n");
    EXPECT_EQ(json.front(), '{');
    EXPECT_EQ(json.back(), '}');
    for (const char* expected :
         {"\"hubRunning\":true", "\"statusLine\":\"NMEA \\\"Stream\\\"\\u000a\"",
          "\"streamState\":3", "\"fixState\":3", "\"fixText\":\"3D Fix\"", "\"satsUsed\":8",
          "\"latitude\":47.5", "\"longitude\":-8.25", "\"altitude\":null", "\"wYear\":2024",
          "\"wSecond\":7",
          "{\"prn\":12,\"elevation\":45,\"azimuth\":270,\"snr\":38,\"constellation\":\"GPS\","
          "\"used\":false}",
          "{\"prn\":305,\"elevation\":20,\"azimuth\":90,\"snr\":41,"
          "\"constellation\":\"Galileo\",\"used\":true}",
          "{\"prn\":0,\"elevation\":0,\"azimuth\":0,\"snr\":0,\"constellation\":\"\","
          "\"used\":false}"}) {
        EXPECT_NE(json.find(expected), std::string::npos) << expected << "\n" << json;
    }
    EXPECT_EQ(json.find(",}"), std::string::npos);
    EXPECT_EQ(json.find(",]"), std::string::npos);
}

} // namespace
} // namespace tavro
