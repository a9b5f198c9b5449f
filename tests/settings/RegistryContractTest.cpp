// The Registry contract, run against the in-memory registry and the file store alike.
#include "TestRegistries.h"

#include <cstring>
#include <vector>

namespace tavro::testing {
namespace {

using platform::RegistryKey;

class RegistryContract : public RegistryTest {
protected:
    RegistryKey Create(const char* path, RegistryKey root = RegistryKey::currentUser) {
        RegistryKey key = RegistryKey::none;
        EXPECT_EQ(registry().CreateKey(root, path, key), error::success) << path;
        return key;
    }
};

TEST_P(RegistryContract, CreateMakesTheWholePathAndOpenFindsItInAnyCase) {
    RegistryKey key = RegistryKey::none;
    EXPECT_EQ(registry().OpenKey(RegistryKey::currentUser, "Software\\Brindle", key),
              error::fileNotFound);
    EXPECT_EQ(key, RegistryKey::none);
    const RegistryKey created = Create("Software\\Brindle\\Tavro3");
    ASSERT_EQ(registry().OpenKey(RegistryKey::currentUser, "SOFTWARE\\brindle", key),
              error::success);
    RegistryKey child = RegistryKey::none;
    ASSERT_EQ(registry().OpenKey(key, "tavro3\\", child), error::success);
    ASSERT_EQ(registry().SetValue(created, "Port", platform::regDword, "\x05\0\0\0", 4),
              error::success);
    uint32_t port = 0;
    uint32_t size = sizeof port;
    EXPECT_EQ(registry().QueryValue(child, "PORT", nullptr, &port, &size), error::success);
    EXPECT_EQ(port, 5u);
    for (RegistryKey open : {created, key, child}) {
        EXPECT_EQ(registry().CloseKey(open), error::success);
    }
    EXPECT_EQ(registry().OpenKeyCount(), 0u);
    EXPECT_EQ(registry().CloseKey(child), error::invalidHandle);
    EXPECT_EQ(registry().CloseKey(RegistryKey::currentUser), error::success);
}

TEST_P(RegistryContract, BadPathsAndHandlesAreRefused) {
    RegistryKey key = RegistryKey::none;
    EXPECT_EQ(registry().CreateKey(RegistryKey::currentUser, "\\Software", key),
              error::badPathName);
    EXPECT_EQ(registry().CreateKey(RegistryKey::currentUser, "a\\\\b", key), error::badPathName);
    EXPECT_EQ(registry().CreateKey(RegistryKey::currentUser, std::string(256, 'k').c_str(), key),
              error::invalidParameter);
    EXPECT_EQ(registry().CreateKey(RegistryKey::currentUser, "a\nb", key), error::invalidParameter);
    EXPECT_EQ(registry().CreateKey(RegistryKey::none, "a", key), error::invalidHandle);
    EXPECT_EQ(registry().SetValue(static_cast<RegistryKey>(77), "x", platform::regDword, "", 0),
              error::invalidHandle);
    const RegistryKey open = Create("a");
    EXPECT_EQ(registry().SetValue(open, "x", platform::regBinary, nullptr, 3),
              error::invalidParameter);
    EXPECT_EQ(registry().SetValue(open, "tab\tname", platform::regBinary, "", 0),
              error::invalidParameter);
    uint32_t size = 0;
    EXPECT_EQ(registry().QueryValue(open, "x", nullptr, nullptr, &size), error::fileNotFound);
    registry().CloseKey(open);
}

// RegQueryValueEx's size rules: size query, too small (required size, nothing copied), exact.
TEST_P(RegistryContract, QueryReportsSizesTheWin32Way) {
    const RegistryKey key = Create("k");
    const uint8_t blob[20] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19};
    ASSERT_EQ(registry().SetValue(key, "Dev0", platform::regBinary, blob, sizeof blob),
              error::success);

    uint32_t type = 0;
    uint32_t size = 0;
    EXPECT_EQ(registry().QueryValue(key, "Dev0", &type, nullptr, &size), error::success);
    EXPECT_EQ(size, 20u);
    EXPECT_EQ(type, platform::regBinary);

    uint8_t small[19];
    std::memset(small, 0xAA, sizeof small);
    size = sizeof small;
    EXPECT_EQ(registry().QueryValue(key, "Dev0", &type, small, &size), error::moreData);
    EXPECT_EQ(size, 20u);
    EXPECT_EQ(std::vector<uint8_t>(small, small + sizeof small),
              std::vector<uint8_t>(sizeof small, 0xAA));

    uint8_t big[64] = {};
    size = sizeof big;
    EXPECT_EQ(registry().QueryValue(key, "Dev0", &type, big, &size), error::success);
    EXPECT_EQ(size, 20u);
    EXPECT_EQ(std::memcmp(big, blob, sizeof blob), 0);

    EXPECT_EQ(registry().QueryValue(key, "Dev0", &type, big, nullptr), error::invalidParameter);
    size = 7;
    EXPECT_EQ(registry().QueryValue(key, "Dev1", &type, big, &size), error::fileNotFound);
    EXPECT_EQ(size, 7u);
    registry().CloseKey(key);
}

TEST_P(RegistryContract, StringsKeepExactlyTheBytesGivenAndSurviveARestart) {
    const RegistryKey key = Create("Software\\Strings");
    const std::string quoted = "say \"C:\\GPSLog\\Gps\" [x] ; = @";
    registry().SetValue(key, "Terminated", platform::regSz, quoted.c_str(),
                        static_cast<uint32_t>(quoted.size() + 1));
    registry().SetValue(key, "Bare", platform::regSz, "abcd", 4);
    registry().SetValue(key, "Lines", platform::regSz, "a\r\nb\0c", 7);
    registry().SetValue(key, "", platform::regSz, "", 0);
    registry().SetValue(key, "Multi", platform::regMultiSz, "a\0b\0\0", 5);
    registry().SetValue(key, "Odd\\\"name", platform::regDword, "\x01\x02", 2);
    registry().CloseKey(key);
    Reopen();

    RegistryKey again = RegistryKey::none;
    ASSERT_EQ(registry().OpenKey(RegistryKey::currentUser, "Software\\Strings", again),
              error::success);
    auto value = [&](const char* name, uint32_t expectedType) {
        char data[128];
        uint32_t type = 0;
        uint32_t size = sizeof data;
        const char* label = name != nullptr ? name : "(default)";
        EXPECT_EQ(registry().QueryValue(again, name, &type, data, &size), error::success) << label;
        EXPECT_EQ(type, expectedType) << label;
        return std::string(data, size);
    };
    EXPECT_EQ(value("Terminated", platform::regSz), quoted + '\0');
    EXPECT_EQ(value("Bare", platform::regSz), "abcd");
    EXPECT_EQ(value("Lines", platform::regSz), std::string("a\r\nb\0c", 7));
    EXPECT_EQ(value(nullptr, platform::regSz), "");
    EXPECT_EQ(value("Multi", platform::regMultiSz), std::string("a\0b\0\0", 5));
    EXPECT_EQ(value("odd\\\"NAME", platform::regDword), "\x01\x02");
    registry().CloseKey(again);
}

TEST_P(RegistryContract, EnumerationFollowsCreationOrderThroughChangesAndDeletes) {
    const RegistryKey key = Create("k");
    for (const char* name : {"Port", "Baud", "Logging", "Sync"}) {
        registry().SetValue(key, name, platform::regDword, "\0\0\0\0", 4);
    }
    registry().SetValue(key, "BAUD", platform::regDword, "\xC0\x12\0\0", 4); // stays second
    EXPECT_EQ(registry().DeleteValue(key, "logging"), error::success);
    EXPECT_EQ(registry().DeleteValue(key, "logging"), error::fileNotFound);
    Reopen();
    RegistryKey again = RegistryKey::none;
    ASSERT_EQ(registry().OpenKey(RegistryKey::currentUser, "k", again), error::success);

    std::vector<std::string> names;
    char name[16];
    uint32_t index = 0;
    for (;; ++index) {
        uint32_t nameSize = sizeof name;
        const uint32_t result =
            registry().EnumValue(again, index, name, &nameSize, nullptr, nullptr, nullptr);
        if (result != error::success) {
            EXPECT_EQ(result, error::noMoreItems);
            break;
        }
        names.emplace_back(name, nameSize);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Port", "Baud", "Sync"}));

    uint32_t nameSize = 4; // "Baud" needs 5 with its terminator
    uint8_t data[4];
    uint32_t dataSize = sizeof data;
    EXPECT_EQ(registry().EnumValue(again, 1, name, &nameSize, nullptr, data, &dataSize),
              error::moreData);
    nameSize = sizeof name;
    dataSize = 2;
    uint32_t type = 0;
    EXPECT_EQ(registry().EnumValue(again, 1, name, &nameSize, &type, data, &dataSize),
              error::moreData);
    EXPECT_EQ(dataSize, 4u);
    nameSize = sizeof name; // it came back as the name's length
    dataSize = sizeof data;
    EXPECT_EQ(registry().EnumValue(again, 1, name, &nameSize, &type, data, &dataSize),
              error::success);
    EXPECT_EQ(std::string(name), "Baud");
    EXPECT_EQ(std::memcmp(data, "\xC0\x12\0\0", 4), 0);
    registry().CloseKey(again);
    registry().CloseKey(key);
}

TEST_P(RegistryContract, CurrentUserAndLocalMachineAreSeparate) {
    const RegistryKey user = Create("SYSTEM\\Shared");
    const RegistryKey machine = Create("SYSTEM\\Shared", RegistryKey::localMachine);
    registry().SetValue(user, "Port0", platform::regDword, "\x01\0\0\0", 4);
    registry().SetValue(machine, "Port0", platform::regDword, "\x07\0\0\0", 4);
    registry().SetValue(machine, "Port8", platform::regDword, "\x00\0\0\0", 4);
    Reopen();
    RegistryKey key = RegistryKey::none;
    uint32_t value = 0;
    uint32_t size = 4;
    ASSERT_EQ(registry().OpenKey(RegistryKey::localMachine, "system\\shared", key), error::success);
    EXPECT_EQ(registry().QueryValue(key, "Port0", nullptr, &value, &size), error::success);
    EXPECT_EQ(value, 7u);
    registry().CloseKey(key);
    ASSERT_EQ(registry().OpenKey(RegistryKey::currentUser, "SYSTEM\\Shared", key), error::success);
    EXPECT_EQ(registry().QueryValue(key, "Port0", nullptr, &value, &size), error::success);
    EXPECT_EQ(value, 1u);
    EXPECT_EQ(registry().QueryValue(key, "Port8", nullptr, &value, &size), error::fileNotFound);
    registry().CloseKey(key);
    registry().CloseKey(user);
    registry().CloseKey(machine);
}

INSTANTIATE_TEST_SUITE_P(Stores, RegistryContract,
                         ::testing::Values(RegistryKind::memory, RegistryKind::file), KindName);

} // namespace
} // namespace tavro::testing
