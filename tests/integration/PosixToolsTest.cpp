// The logic behind `tavro config` and `tavro status`: settings by name through the settings
// store with their checks, and the status text and JSON made from the status block and the
// hub's report.
#include "hub/posix/command/CommandSocket.h"
#include "hub/posix/config/ConfigCommand.h"
#include "hub/posix/status/HubReport.h"
#include "hub/posix/status/StatusReport.h"

#include "hub/settings/Settings.h"
#include "hub/settings/SettingsStore.h"
#include "platform/ErrorCodes.h"
#include "platform/posix/ConsoleLog.h"
#include "platform/posix/PosixErrors.h"
#include "platform/testing/MemoryRegistry.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <string>
#include <vector>

namespace tavro {
namespace {

// The COM directory and the clock right as a test sets them.
class FakeSurroundings final : public ConfigSurroundings {
public:
    bool ComNamesDevice(uint32_t comNumber, std::string& device) const override {
        const auto found = devices.find(comNumber);
        if (found == devices.end()) {
            return false;
        }
        device = found->second;
        return true;
    }
    bool MaySetClock() const override { return maySetClock; }
    std::map<uint32_t, std::string> devices;
    bool maySetClock = true;
};

class ConfigCommandTest : public ::testing::Test {
protected:
    int Run(std::vector<const char*> arguments) {
        output_.clear();
        errors_.clear();
        return RunConfigCommand(registry_, &surroundings_, static_cast<int>(arguments.size()),
                                arguments.data(), output_, errors_);
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
    FakeSurroundings surroundings_;
    std::string output_;
    std::string errors_;
};

TEST_F(ConfigCommandTest, ValuesAreWrittenThroughTheSettingsStore) {
    EXPECT_EQ(Get("Port"), "1\n") << "the default before anything is stored";
    EXPECT_EQ(Run({"set", "Port0", "5"}), configOk) << errors_;
    EXPECT_EQ(output_, "Port0 = 5\n");
    EXPECT_EQ(Run({"set", "port1", "COM6"}), configUsage) << "a number, not a name";
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
    EXPECT_EQ(Run({"set", "TCP Address", "LocalHost"}), configOk) << errors_;
    EXPECT_EQ(Get("TCP Address"), "127.0.0.1\n");

    EXPECT_EQ(Run({"list"}), configOk);
    EXPECT_NE(output_.find("Port = 1\n"), std::string::npos) << output_;
    EXPECT_NE(output_.find("Port0 = 5\nPort1 = 6\nPort2 = 0\n"), std::string::npos);
    EXPECT_NE(output_.find("LogPath = /var/log/gps/track\n"), std::string::npos);
    EXPECT_NE(output_.find("Read Only (2-8) = off\n"), std::string::npos);
}

TEST_F(ConfigCommandTest, OptionsAreBitsOfSyncByTheirNames) {
    // Bits without a name survive every change.
    ASSERT_EQ(Run({"set", "Sync", "0x40", "--force"}), configOk);
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
        {{"set", "TCP Address", "gpsbox"}, "numeric address"},
        {{"set", "TCP Port", "70000"}, "from 1 to 65535"},
        {{"set", "TCP Clients", "0"}, "from 1 to 128"},
        {{"set", "UDP Target", "gpsbox"}, "host:port"},
        {{"set", "Source", "gpsbox:10110"}, "begins with none of tcp://"},
        {{"get", ""}, "unknown setting"},
        {{"get"}, "usage"},
        {{"set", "Port"}, "usage"},
        {{"list", "extra"}, "usage"},
        {{"remove", "Port"}, "usage"},
        {{}, "usage"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Run(c.arguments), configUsage) << c.complaint;
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

// Settings that would feed the hub its own output (one frame going round for ever at full
// speed) are refused whichever setting closes the loop; a target elsewhere is not.
TEST_F(ConfigCommandTest, SettingsThatFeedTheHubItsOwnOutputAreRefused) {
    struct Case {
        std::vector<std::vector<const char*>> steps; // each but the last succeeds
        int code;
    };
    const Case cases[] = {
        {{{"set", "Source", "udp://:10110"}, {"set", "UDP Target", "127.0.0.1:10110"}},
         configUsage},
        {{{"set", "Source", "udp://:10110"}, {"set", "UDP Target", "255.255.255.255:10110"}},
         configUsage},
        {{{"set", "UDP Target", "localhost:10110"}, {"set", "Source", "udp://:10110"}},
         configUsage},
        {{{"set", "TCP Port", "10110"}, {"set", "Source", "tcp://localhost:10110"}}, configUsage},
        {{{"set", "Source", "gpsd://127.0.0.1:10110"}, {"set", "TCP Port", "10110"}}, configUsage},
        {{{"set", "Source", "udp://:10110"}, {"set", "UDP Target", "192.0.2.77:10110"}}, configOk},
        {{{"set", "Source", "udp://:10110"}, {"set", "UDP Target", "127.0.0.1:10111"}}, configOk},
        {{{"set", "Source", "udp://:10110"}, {"set", "UDP Target", "127.0.0.1:10110", "--force"}},
         configOk},
    };
    for (const Case& c : cases) {
        registry_ = platform::MemoryRegistry{};
        for (size_t i = 0; i + 1 < c.steps.size(); ++i) {
            ASSERT_EQ(Run(c.steps[i]), configOk) << errors_;
        }
        EXPECT_EQ(Run(c.steps.back()), c.code) << c.steps.back()[2];
        EXPECT_EQ(errors_.find("round for ever") != std::string::npos, c.code != configOk)
            << errors_;
    }
}

// A value beyond a setting's range is refused in the words of its row.
TEST_F(ConfigCommandTest, ValuesOutOfRangeAreRefusedWithTheTablesLine) {
    for (const SettingsEntry& entry : SettingsTable) {
        if ((entry.form != SettingForm::Number && entry.form != SettingForm::ComNumber &&
             entry.form != SettingForm::Unit) ||
            entry.maximum == UINT32_MAX) {
            continue;
        }
        const std::string beyond = std::to_string(uint64_t{entry.maximum} + 1);
        EXPECT_EQ(Run({"set", entry.name, beyond.c_str()}), configUsage) << entry.name;
        EXPECT_EQ(errors_, "\"" + std::string(entry.name) + "\" is " + entry.help + "\n");
    }
}

std::string Collapsed(const std::string& text) {
    return std::regex_replace(text, std::regex("\\s+"), " ");
}

// The man page's way of writing a setting's name in bold, and a line of text.
std::string ManBold(const std::string& name) {
    return name.find(' ') != std::string::npos ? ".B \"" + name + "\"" : ".B " + name;
}
std::string ManText(const std::string& text) {
    return std::regex_replace(text, std::regex("-"), "\\-");
}

// `tavro config --help` and the man page's SETTINGS name every setting with its line, the
// virtual ports and the options, and nothing the table does not have.
TEST(ConfigHelpTest, TheHelpAndTheManPageListEverySettingWithItsLine) {
    const std::string help = Collapsed(ConfigHelp());
    std::ifstream file(TAVRO_MAN_PAGE);
    ASSERT_TRUE(file.is_open()) << TAVRO_MAN_PAGE;
    const std::string page((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    const size_t start = page.find(".SH SETTINGS\n");
    ASSERT_NE(start, std::string::npos);
    const std::string section = page.substr(start, page.find("\n.SH ", start + 1) + 1 - start);
    size_t entries = 0;
    for (const SettingsEntry& entry : SettingsTable) {
        SCOPED_TRACE(entry.name);
        EXPECT_NE(help.find(std::string(" ") + entry.name + " " + entry.help + " "),
                  std::string::npos)
            << help;
        std::string expected = ".TP\n" + ManBold(entry.name) + "\n" + ManText(entry.help) + "\n";
        if (entry.form == SettingForm::Record) {
            expected += "(changed only with \\-\\-force)\n";
        } else if (!entry.live) {
            expected += "(a running hub takes it when it next opens the input port)\n";
            EXPECT_NE(help.find(std::string(entry.name) + ": when it next opens the input port"),
                      std::string::npos);
        }
        EXPECT_NE(section.find(expected), std::string::npos) << expected;
        ++entries;
    }
    EXPECT_NE(help.find(" Port0..Port7 the COM numbers of virtual ports 1 to 8"),
              std::string::npos);
    EXPECT_NE(section.find(".BR Port0 \" to \" Port7\n"), std::string::npos);
    ++entries;
    for (const OptionName& option : optionNames) {
        SCOPED_TRACE(option.text);
        EXPECT_NE(help.find(std::string(" ") + option.text + " " + option.help + " "),
                  std::string::npos);
        EXPECT_NE(section.find(".TP\n" + ManBold(option.text) + "\n" + ManText(option.help) + "\n"),
                  std::string::npos);
        ++entries;
    }
    size_t listed = 0;
    for (size_t at = section.find(".TP\n"); at != std::string::npos;
         at = section.find(".TP\n", at + 1)) {
        ++listed;
    }
    EXPECT_EQ(listed, entries) << "the man page lists a setting the table does not have";
}

TEST_F(ConfigCommandTest, ARegistryThatCannotBeWrittenIsReported) {
    registry_.FailWith(error::accessDenied);
    EXPECT_EQ(Run({"set", "Port0", "5"}), configNotStored);
    EXPECT_NE(errors_.find("could not be stored"), std::string::npos) << errors_;
}

TEST_F(ConfigCommandTest, ConflictingNumbersAndInternalValuesNeedForce) {
    ASSERT_EQ(Run({"set", "Port0", "5"}), configOk);
    surroundings_.devices = {{5, "/dev/pts/3"}, {7, "/dev/pts/9"}, {1, "/dev/ttyUSB0"}};
    struct Case {
        std::vector<const char*> arguments;
        const char* complaint; // refused without --force; null: accepted
    };
    const Case cases[] = {
        {{"set", "Port1", "5"}, "COM5 is virtual port 1 already"},
        {{"set", "Port2", "1"}, "COM1 is the input port"},
        {{"set", "Port", "5"}, "COM5 is virtual port 1 already"},
        {{"set", "Port3", "7"}, "COM7 names /dev/pts/9"},
        {{"set", "Version", "3"}, "installer's record"},
        {{"set", "Sum", "7"}, "installer's record"},
        {{"set", "Sync", "0x41"}, "bits 0x40 are no option"},
        {{"set", "Port0", "5"}, nullptr}, // its own number, its own link
        {{"set", "Port1", "0"}, nullptr},
        {{"set", "Sync", "0x1F"}, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments[1]);
        if (c.complaint == nullptr) {
            EXPECT_EQ(Run(c.arguments), configOk) << errors_;
            continue;
        }
        EXPECT_EQ(Run(c.arguments), configUsage);
        EXPECT_NE(errors_.find(c.complaint), std::string::npos) << errors_;
        EXPECT_NE(errors_.find("--force"), std::string::npos) << errors_;
        std::vector<const char*> forced = c.arguments;
        forced.push_back("--force");
        EXPECT_EQ(Run(forced), configOk) << errors_;
        Run({"set", c.arguments[1], "0", "--force"}); // back, for the next case
    }
}

TEST_F(ConfigCommandTest, SettingsWithoutEffectHereAreNamedWhenSet) {
    surroundings_.maySetClock = false;
    EXPECT_EQ(Run({"set", "Video Reset", "on"}), configOk);
    EXPECT_NE(errors_.find("\"Video Reset\" has no effect"), std::string::npos) << errors_;
    EXPECT_EQ(Run({"set", "Auto Time Sync", "on"}), configOk);
    EXPECT_NE(errors_.find("CAP_SYS_TIME"), std::string::npos) << errors_;
    EXPECT_EQ(Run({"set", "Port", "3"}), configOk);
    EXPECT_NE(errors_.find("tavro link COM3"), std::string::npos) << errors_;
    surroundings_.devices = {{3, "/dev/ttyACM0"}};
    EXPECT_EQ(Run({"set", "NMEA Filter", "on"}), configOk);
    EXPECT_EQ(errors_, "") << "nothing to say about an option that works";
}

GpsSharedStatus Block(uint8_t stream, uint8_t fix, uint8_t sats, uint16_t second) {
    GpsSharedStatus block{};
    block.streamState = stream;
    block.fixState = fix;
    block.satsUsed = sats;
    block.utcTime.wSecond = second;
    return block;
}

StatusFacts Running(bool open, uint32_t lastOpenError = 0) {
    StatusFacts facts;
    facts.running = true;
    facts.hasReport = true;
    facts.block = Block(open ? 3 : 1, 3, 8, 7);
    facts.report.version = "1";
    facts.report.directory = "/run/tavro";
    facts.report.inputPort = 1;
    facts.report.baud = 4800;
    facts.report.inputOpen = open;
    facts.report.lastOpenError = lastOpenError;
    return facts;
}

TEST(StatusReportTest, TheStatusLineAndExitCodeOfEveryState) {
    StatusFacts gone;
    StatusFacts blockOnly;
    blockOnly.running = true;
    blockOnly.block = Block(1, 0, 0, 0);
    StatusFacts blockOpen = blockOnly;
    blockOpen.block = Block(2, 0, 0, 12);
    struct Case {
        StatusFacts facts;
        const char* line;
        int code;
    };
    const Case cases[] = {
        {gone, "Hub not running", statusHubNotRunning},
        {blockOnly, "Port Closed", statusInputClosed},
        {blockOpen, "Unknown Data | No Fix | 0 SVs :12", statusInputOpen},
        {Running(true), "NMEA Stream | 3D Fix | 8 SVs :07", statusInputOpen},
        {Running(false), "Port Closed", statusInputClosed},
        {Running(false, 2), "Port Doesn't Exist", statusInputClosed},
        {Running(false, 1168), "Port Doesn't Exist", statusInputClosed},
        {Running(false, 5), "Port Access Denied", statusInputClosed},
        {Running(false, 121), "Port Open Timeout", statusInputClosed},
        {Running(false, 31), "Port Open Failed: 31", statusInputClosed},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(StatusLine(c.facts), c.line);
        EXPECT_EQ(StatusExitCode(c.facts), c.code) << c.line;
        EXPECT_EQ(StatusText(c.facts).substr(0, std::strlen(c.line) + 1),
                  c.line + std::string("\n"));
    }
}

TEST(StatusReportTest, AClosedInputPortComesWithWhatToDo) {
    struct Case {
        uint32_t error;
        const char* device;
        bool present;
        bool accessible;
        uint32_t options;
        const char* fix;
    };
    const Case cases[] = {
        {2, "", false, true, 0, "COM1 is not in /run/tavro: tavro link COM1 DEVICE"},
        {2, "/dev/ttyUSB0", false, true, 0, "names /dev/ttyUSB0, which is not there"},
        {5, "/dev/ttyUSB0", true, false, 0, "sudo adduser $USER dialout"},
        {5, "/dev/ttyUSB0", true, true, 0, "another program holds it (fuser -v /dev/ttyUSB0"},
        {121, "/dev/ttyUSB0", true, true, 0, "did not open in time"},
        {31, "/dev/ttyUSB0", true, true, 0, "input/output error"},
        {0, "/dev/ttyUSB0", true, true, OptionFlags::batterySaver, "Battery Saver keeps it"},
    };
    for (const Case& c : cases) {
        StatusFacts facts = Running(false, c.error);
        facts.report.inputDevice = c.device;
        facts.report.inputPresent = c.present;
        facts.report.inputAccessible = c.accessible;
        facts.report.inputGroup = "dialout";
        facts.report.optionFlags = c.options;
        EXPECT_NE(InputPortFix(facts.report).find(c.fix), std::string::npos)
            << InputPortFix(facts.report);
        EXPECT_NE(StatusText(facts).find(c.fix), std::string::npos);
        EXPECT_NE(StatusJson(facts).find(c.fix), std::string::npos);
    }
    // The system's own error goes with the words: in the fix, the text and the JSON.
    StatusFacts failed = Running(false, error::genFailure);
    failed.report.inputDevice = "/dev/ttyUSB0";
    failed.report.lastOpenOsError = 71;
    EXPECT_NE(InputPortFix(failed.report).find("input/output error (errno 71)"), std::string::npos);
    EXPECT_NE(StatusText(failed).find("closed: input/output error (errno 71)"), std::string::npos)
        << StatusText(failed);
    EXPECT_NE(StatusJson(failed).find("\"osError\":71"), std::string::npos);
    StatusFacts none = Running(false);
    none.report.inputPort = 0;
    EXPECT_NE(InputPortFix(none.report).find("tavro config set Port"), std::string::npos);
    EXPECT_EQ(InputPortFix(Running(true).report), "");
}

TEST(StatusReportTest, WarningsNameWhatDoesNothingOrIsMissing) {
    struct Case {
        void (*change)(StatusFacts&);
        const char* warning; // null: none expected
    };
    const Case cases[] = {
        {[](StatusFacts&) {}, nullptr},
        {[](StatusFacts& f) { f.report.optionFlags = OptionFlags::videoReset; },
         "\"Video Reset\" has no effect"},
        {[](StatusFacts& f) {
             f.report.optionFlags = OptionFlags::autoTimeSync;
             f.report.clockSettable = false;
         },
         "needs CAP_SYS_TIME"},
        {[](StatusFacts& f) { f.report.optionFlags = OptionFlags::autoTimeSync; }, nullptr},
        {[](StatusFacts& f) {
             f.report.portsResult = 183;
             f.report.portsConflict = 5;
             f.report.ports[0].comNumber = 5;
             f.report.ports[2].comNumber = 5;
         },
         "no virtual ports: virtual ports 1 and 3 all have COM5"},
        {[](StatusFacts& f) {
             f.report.portsResult = 183;
             f.report.portsConflict = 7;
             f.report.ports[0].comNumber = 7;
         },
         "COM7 in /run/tavro names a device that is not the hub's"},
        {[](StatusFacts& f) { f.report.portsResult = 2; }, "virtual port 1 has no COM number"},
        {[](StatusFacts& f) { f.block.relayHeld = 1; }, "the relay is held"},
        {[](StatusFacts& f) {
             f.report.time.unit = 0;
             f.report.time.attachError = 5;
         },
         "no time export to NTP unit 0: "},
        {[](StatusFacts& f) {
             f.report.time.unit = 1;
             f.report.time.unmeasured = 4;
         },
         "the time export knows of no fix when it arrived: it needs \"Immediate Relay\" on"},
        {[](StatusFacts& f) {
             f.report.time.unit = 1;
             f.report.time.samples = 9;
             f.report.time.refused = 2;
         },
         "the receiver's time jumped: 2 samples"},
        {[](StatusFacts& f) {
             f.report.time.unit = 2;
             f.report.optionFlags = OptionFlags::autoTimeSync;
         },
         "\"Auto Time Sync\" and a time service both set the clock"},
        {[](StatusFacts& f) {
             f.report.time.pps = true;
             f.report.time.ppsUnavailable = true;
         },
         "PPS not available on this port"},
        // Edited into the settings by hand.
        {[](StatusFacts& f) { f.report.baud = 4000000000u; },
         "\"Baud\" is 4000000000 in the settings, which tavro config set refuses"},
        {[](StatusFacts& f) {
             f.report.time.unit = 99;
             f.report.optionFlags = OptionFlags::autoTimeSync;
         },
         "\"NTP Unit\" is 99 in the settings, past the units there are"},
    };
    for (const Case& c : cases) {
        StatusFacts facts = Running(true);
        c.change(facts);
        const std::vector<std::string> warnings = StatusWarnings(facts);
        if (c.warning == nullptr) {
            EXPECT_TRUE(warnings.empty()) << warnings.front();
            continue;
        }
        ASSERT_EQ(warnings.size(), 1u) << c.warning;
        EXPECT_NE(warnings[0].find(c.warning), std::string::npos) << warnings[0];
        EXPECT_NE(StatusText(facts).find("Warning:        " + warnings[0]), std::string::npos);
    }
}

// Every fact the hub reports comes back from the socket's text as it went in.
TEST(StatusReportTest, EveryFactOfTheReportSurvivesTheSocket) {
    HubReport report;
    report.version = "3.0.304";
    report.pid = 4242;
    report.directory = "/run/user/1000/tavro";
    report.inputPort = 1;
    report.baud = 38400;
    report.inputOpen = true;
    report.lastOpenError = 121;
    report.lastOpenOsError = 110;
    report.sourceOsError = 111;
    report.inputDevice = "/dev/ttyUSB0";
    report.inputPresent = true;
    report.inputAccessible = false;
    report.inputGroup = "dialout";
    report.searching = true;
    report.checksumErrors = 3;
    report.droppedSpeedChange = 2304;
    report.droppedUnwritten = 7;
    report.optionFlags = 0x15;
    report.logging = true;
    report.logFile = "/home/ana/GPSLog/Gps2024-02-29.nmea";
    report.logNotWritten = 9216;
    report.logError = 112;
    report.portsResult = 183;
    report.portsConflict = 7;
    report.ports[0] = {5, "/dev/pts/3", 1, true, 10240, 512};
    report.ports[7] = {12, "/dev/pts/9", 0, false, 0, 0};
    report.clockSettable = false;
    NetworkReport& network = report.network;
    network = {10110,
               "0.0.0.0",
               true,
               true,
               98,
               true,
               4,
               32,
               "192.168.1.255:10110",
               true,
               111,
               9000,
               2,
               {{"192.0.2.7:50412", 4096, 0, 5}, {"[::1]:50413", 12, 3}},
               6,
               7,
               8};

    HubReport decoded;
    ASSERT_TRUE(DecodeHubReport(EncodeHubReport(report), decoded));
    EXPECT_EQ(EncodeHubReport(decoded), EncodeHubReport(report));
    EXPECT_EQ(decoded.pid, 4242);
    EXPECT_EQ(decoded.lastOpenOsError, 110);
    EXPECT_EQ(decoded.sourceOsError, 111);
    EXPECT_FALSE(decoded.inputAccessible);
    EXPECT_TRUE(decoded.ports[0].hasCounters);
    EXPECT_FALSE(decoded.ports[7].hasCounters);
    ASSERT_EQ(decoded.network.clients.size(), 2u);
    EXPECT_EQ(decoded.network.clients[1].address, "[::1]:50413");
    EXPECT_EQ(decoded.network.datagramsDropped, 2u);
    EXPECT_EQ(decoded.droppedSpeedChange, 2304u);
    EXPECT_EQ(decoded.network.clients[0].sentencesLimited, 5u);
    EXPECT_EQ(decoded.network.rateLimited, 7u);
}

TEST(StatusReportTest, DropsAreShownByCauseOnlyWhenThereAreAny) {
    // The log's too: a full disk is told beside the file.
    StatusFacts logging = Running(true);
    logging.report.logging = true;
    logging.report.logNotWritten = 9216;
    logging.report.logError = 112;
    EXPECT_NE(StatusText(logging).find("Logging:        on; 9216 bytes not written (no space "
                                       "left on device)\n"),
              std::string::npos)
        << StatusText(logging);

    StatusFacts facts = Running(true);
    EXPECT_EQ(StatusText(facts).find("Dropped:"), std::string::npos);
    facts.report.droppedSpeedChange = 2304;
    facts.report.droppedUnwritten = 7;
    EXPECT_NE(StatusText(facts).find("Dropped:        2304 bytes received, emptied by a re-open "
                                     "for a speed change; 7 bytes for the receiver, not taken "
                                     "by it\n"),
              std::string::npos)
        << StatusText(facts);
    EXPECT_NE(StatusJson(facts).find("\"bytesDropped\":{\"speedChange\":2304,\"reopen\":0,"
                                     "\"closed\":0,\"unwritten\":7}"),
              std::string::npos)
        << StatusJson(facts);
}

TEST(StatusReportTest, TheLargestReportFitsTheQueryReply) {
    HubReport report;
    const std::string path(platform::posix::comPathCapacity - 1, 'p');
    report.version = "255.255.65535";
    report.directory = path;
    report.inputDevice = std::string(4095, 'd'); // a link's target, PATH_MAX at most
    report.inputGroup = std::string(32, 'g');
    report.logFile = std::string(logPathSize + 32, 'l');
    for (VirtualPortReport& port : report.ports) {
        port = {255, path, 1, true, UINT64_MAX, UINT64_MAX, UINT64_MAX, UINT64_MAX};
    }
    report.network.tcpAddress = std::string(tcpAddressSize - 1, 'a');
    report.network.udpTarget = std::string(udpTargetSize - 1, 'u');
    for (uint32_t i = 0; i < tcpClientsMax; ++i) {
        report.network.clients.push_back({"[ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255]:65535",
                                          UINT64_MAX, UINT64_MAX, UINT64_MAX});
    }
    report.droppedSpeedChange = report.droppedReopen = UINT64_MAX;
    report.droppedClosed = report.droppedUnwritten = report.logNotWritten = UINT64_MAX;
    report.logError = UINT32_MAX;
    for (int i = 0; i < maxSkySatellites; ++i) {
        report.sky.push_back({{-32768, -32768, -32768, -32768}, true});
    }
    EXPECT_LE(EncodeHubReport(report).size(), platform::posix::queryReplyMax);
}

TEST(StatusReportTest, TheTimeExportShowsItsUnitOffsetSamplesAndEdges) {
    StatusFacts facts = Running(true);
    EXPECT_EQ(StatusText(facts).find("Time export:"), std::string::npos) << "off: not shown";
    EXPECT_NE(StatusJson(facts).find("\"timeExport\":{\"unit\":null,\"attached\":false,"
                                     "\"samples\":0,\"lastOffsetMs\":null"),
              std::string::npos);
    facts.report.time = {2, true, 0, 120, -1250000, 0, 0, true, 118, false};
    HubReport decoded;
    ASSERT_TRUE(DecodeHubReport(EncodeHubReport(facts.report), decoded));
    facts.report = decoded;
    const std::string text = StatusText(facts);
    EXPECT_NE(text.find("Time export:    unit 2, 120 samples, last offset -1.250 ms, 118 PPS "
                        "edges\n"),
              std::string::npos)
        << text;
    const std::string json = StatusJson(facts);
    EXPECT_NE(json.find("\"timeExport\":{\"unit\":2,\"attached\":true,\"samples\":120,"
                        "\"lastOffsetMs\":-1.25,\"refused\":0,\"pps\":true,\"ppsEdges\":118,"
                        "\"ppsAvailable\":true}"),
              std::string::npos)
        << json;
}

TEST(StatusReportTest, VirtualPortsShowTheirTerminalProgramsAndCounts) {
    StatusFacts facts = Running(true);
    facts.report.ports[0] = {5, "/dev/pts/3", 1, true, 10240, 512, 96, 7};
    facts.report.ports[1] = {6, "/dev/pts/4", 0, false, 0, 0};
    facts.report.ports[3] = {8, "", 0, false, 0, 0};
    HubReport decoded;
    ASSERT_TRUE(DecodeHubReport(EncodeHubReport(facts.report), decoded));
    facts.report = decoded;
    const std::string text = StatusText(facts);
    for (const char* line :
         {"Virtual port 1: COM5 -> /dev/pts/3, in use, 10240 bytes relayed, 512 dropped; 96 "
          "written to the receiver, 7 refused\n",
          "Virtual port 2: COM6 -> /dev/pts/4, no program\n", "Virtual port 4: COM8, not made\n",
          "Input port:     COM1 at 4800 baud, open\n", "Options:        none\n"}) {
        EXPECT_NE(text.find(line), std::string::npos) << line << text;
    }
    const std::string json = StatusJson(facts);
    EXPECT_NE(json.find("{\"number\":1,\"com\":5,\"link\":\"/run/tavro/COM5\",\"terminal\":"
                        "\"/dev/pts/3\",\"programs\":1,\"bytesRelayed\":10240,\"bytesDropped\":512,"
                        "\"bytesWritten\":96,\"bytesRefused\":7}"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"bytesRelayed\":null"), std::string::npos) << "port 2 has no counts";
    EXPECT_FALSE(DecodeHubReport("port1.com=5\n", decoded)) << "not a report without a version";
}

TEST(StatusReportTest, JsonNumbersTimeAndRatesReadAsTheReceiverMeantThem) {
    StatusFacts facts = Running(true);
    GpsSharedStatus& block = facts.block;
    block.altitude = 558.2f;
    block.latitude = 47.5f;
    block.longitude = -8.25f;
    block.hdop = std::nanf("");
    block.utcTime = {2024, 2, 0, 29, 23, 59, 7, 50};
    std::memcpy(block.nmeaRates + 4, "TVRO", 4); // the block's signature before any $PMTK514
    PreciseFix& given = facts.report.fix;
    given.hasPosition = given.hasAltitude = given.hasHdop = given.hasTime = given.hasDate = true;
    std::string json = StatusJson(facts);
    for (const char* expected :
         {"\"altitude\":558.2,", "\"latitude\":47.5,", "\"longitude\":-8.25,", "\"hdop\":null,",
          "\"utcTime\":\"2024-02-29T23:59:07.050Z\"", "\"nmeaRates\":null", "\"fixInterval\":null",
          "\"statusLine\":\"NMEA Stream | 3D Fix | 8 SVs :07\"", "\"streamText\":\"NMEA Stream\"",
          "\"fixText\":\"3D Fix\"", "\"open\":true"}) {
        EXPECT_NE(json.find(expected), std::string::npos) << expected << "\n" << json;
    }
    EXPECT_EQ(json.find("wDayOfWeek"), std::string::npos);
    block.satellites[0] = {302, 40, 120, 35}; // Galileo E02
    block.satellites[1] = {7, 10, 20, 30};
    block.usedPrns[0] = 7;
    json = StatusJson(facts);
    EXPECT_NE(json.find("{\"prn\":302,\"elevation\":40,\"azimuth\":120,\"snr\":35,"
                        "\"constellation\":\"Galileo\",\"used\":false}"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"snr\":30,\"constellation\":\"GPS\",\"used\":true}"), std::string::npos);
    block.usedEntries = 1; // several constellations: the entries' marks decide
    json = StatusJson(facts);
    EXPECT_NE(json.find("\"constellation\":\"Galileo\",\"used\":true}"), std::string::npos);
    block.replyFlags = replyNmeaRates;
    block.utcTime = {};
    json = StatusJson(facts);
    EXPECT_NE(json.find("\"nmeaRates\":[0,0,0,0,84,86,82,79,"), std::string::npos) << json;
    EXPECT_NE(json.find("\"utcTime\":null"), std::string::npos) << "no date yet";
    EXPECT_TRUE(std::regex_match(StatusJson(StatusFacts{}),
                                 std::regex(R"(\{"hubRunning":false,.*"warnings":\[\]\})")));
}

// A hub that has been given nothing since it started (no receiver, or just restarted on a
// block an earlier hub left) shows none of the block's values: null, not zeros or old ones.
TEST(StatusReportTest, JsonHasNullForWhatTheHubWasNotGivenAndTellsHowFreshTheFixIs) {
    StatusFacts facts = Running(true);
    GpsSharedStatus& block = facts.block;
    block.latitude = 47.5f; // left by an earlier hub
    block.longitude = 8.25f;
    block.altitude = 558.2f;
    block.speedKnots = 3.5f;
    block.course = 90.0f;
    block.pdop = block.hdop = block.vdop = 1.5f;
    block.fixQuality = 1;
    block.utcTime = {2024, 2, 0, 29, 23, 59, 7, 50};
    std::string json = StatusJson(facts);
    for (const char* name :
         {"latitude", "longitude", "altitude", "geoidSeparation", "speedKnots", "course", "pdop",
          "hdop", "vdop", "fixQuality", "dgpsAge", "satsUsed", "satsInView", "depthMetres",
          "utcTime", "fixAgeSeconds", "fixIntervalSeconds", "dataAgeSeconds"}) {
        EXPECT_NE(json.find("\"" + std::string(name) + "\":null"), std::string::npos)
            << name << "\n"
            << json;
    }
    EXPECT_NE(json.find("\"current\":false"), std::string::npos) << json;

    PreciseFix& fix = facts.report.fix;
    fix.hasPosition = fix.hasSpeed = fix.hasDops = fix.hasHdop = fix.hasQuality = true;
    facts.report.freshness = {true, 412, 250, 12, true};
    HubReport decoded;
    ASSERT_TRUE(DecodeHubReport(EncodeHubReport(facts.report), decoded));
    facts.report = decoded;
    json = StatusJson(facts);
    for (const char* expected :
         {"\"current\":true,\"fixAgeSeconds\":0.412,\"fixIntervalSeconds\":0.25,"
          "\"dataAgeSeconds\":0.012,",
          "\"latitude\":47.5,", "\"speedKnots\":3.5,", "\"hdop\":1.5,", "\"fixQuality\":1,",
          "\"satsUsed\":8,", "\"altitude\":null,", "\"course\":null,"}) {
        EXPECT_NE(json.find(expected), std::string::npos) << expected << "\n" << json;
    }
    facts.responding = false; // a hub that does not answer tells nothing of its fix
    EXPECT_NE(StatusJson(facts).find("\"current\":false,\"fixAgeSeconds\":null,"),
              std::string::npos);
}

// Under the status line, which keeps the main window's words, the text says how old the fix
// is once it is not current.
TEST(StatusReportTest, TheTextTellsTheAgeOfAFixThatIsNotCurrent) {
    struct Case {
        FreshnessReport freshness;
        const char* line; // the second line
    };
    const Case cases[] = {
        {{true, 400, 1000, 0, true}, "Input port:     COM1 at 4800 baud, open\n"},
        {{false, 42400, 1000, 0, true}, "Freshness:      last fix 42 s ago\n"},
        {{false, 7'500'000, 1000, 0, true}, "Freshness:      last fix 2 h ago\n"},
        {{false, unknownAge, 0, unknownAge, false}, "Input port:     COM1 at 4800 baud, open\n"},
    };
    for (const Case& c : cases) {
        StatusFacts facts = Running(true);
        facts.report.freshness = c.freshness;
        const std::string text = StatusText(facts);
        const size_t second = text.find('\n') + 1;
        EXPECT_EQ(text.substr(0, second), "NMEA Stream | 3D Fix | 8 SVs :07\n");
        EXPECT_EQ(text.substr(second, text.find('\n', second) + 1 - second), c.line);
    }
}

TEST(StatusReportTest, JsonShowsTheFixWithTheReceiversDigits) {
    StatusFacts facts = Running(true);
    facts.report.fix = {.latitude = 48.1173000166666667, // an RTK receiver's 4807.038001 N
                        .longitude = -11.516666675,
                        .altitude = 545.4,
                        .year = 2013,
                        .month = 3,
                        .day = 23,
                        .hour = 12,
                        .minute = 5,
                        .second = 9.25,
                        .hasPosition = true,
                        .hasAltitude = true,
                        .hasTime = true,
                        .hasDate = true};
    HubReport decoded;
    ASSERT_TRUE(DecodeHubReport(EncodeHubReport(facts.report), decoded));
    facts.report = decoded;
    const std::string json = StatusJson(facts);
    EXPECT_NE(json.find("\"precise\":{\"latitude\":48.11730001666667,\"longitude\":-11.516666675,"
                        "\"altitude\":545.4,\"geoidSeparation\":null,\"speedKnots\":null,"
                        "\"course\":null,\"pdop\":null,\"hdop\":null,\"vdop\":null,"
                        "\"utcTime\":\"2013-03-23T12:05:09.25Z\"}"),
              std::string::npos)
        << json;
    facts.hasReport = false;
    EXPECT_NE(StatusJson(facts).find("\"precise\":null"), std::string::npos);
}

TEST(StatusReportTest, JsonListsTheWholeSkyTheHubReports) {
    StatusFacts facts = Running(true);
    for (int16_t prn = 1; prn <= 20; ++prn) {
        facts.report.sky.push_back({{prn, 45, static_cast<int16_t>(prn * 10), 40}, prn < 4});
    }
    HubReport decoded;
    ASSERT_TRUE(DecodeHubReport(EncodeHubReport(facts.report) + "sky.21=x,1,2,3,0\n", decoded));
    ASSERT_EQ(decoded.sky.size(), 20u) << "a malformed line is skipped";
    facts.report = decoded;
    const std::string json = StatusJson(facts);
    EXPECT_NE(json.find("{\"prn\":20,\"elevation\":45,\"azimuth\":200,\"snr\":40,"
                        "\"constellation\":\"GPS\",\"used\":false}]"),
              std::string::npos)
        << json;
    facts.report.sky.clear();
    EXPECT_NE(StatusJson(facts).find("\"sky\":null"), std::string::npos);
}

TEST(ConsoleLogTest, LinesCarryTheTimeUnlessJournaldStampsThem) {
    char line[128];
    const time_t noon = 1700000000;
    platform::posix::ConsoleLog::FormatLine(line, sizeof line, "tavro", false,
                                            platform::posix::LogPriority::Warning, "hello", noon);
    EXPECT_TRUE(
        std::regex_match(line, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d tavro: hello\n)")))
        << line;
    platform::posix::ConsoleLog::FormatLine(line, sizeof line, "tavro", true,
                                            platform::posix::LogPriority::Warning, "hello", noon);
    EXPECT_STREQ(line, "<4>hello\n");
    char words[96];
    platform::posix::ErrorText(5, words);
    EXPECT_STREQ(words, "permission denied or device busy");
    platform::posix::ErrorText(4321, words);
    EXPECT_STREQ(words, "unexpected failure (code 4321)");
    // An errno without a code of its own is kept beside the code it becomes.
    platform::ClearSystemError();
    const uint32_t code = platform::posix::ErrorFromErrno(EPROTO);
    EXPECT_EQ(code, error::genFailure);
    EXPECT_EQ(platform::SystemErrorOf(code).osCode, EPROTO);
    EXPECT_EQ(platform::SystemErrorOf(error::accessDenied).osCode, 0) << "noted for its code only";
}

} // namespace
} // namespace tavro
