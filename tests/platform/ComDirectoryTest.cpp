// The COM directory: where it is, and links made, replaced, resolved, listed and removed.
#include "platform/posix/ComDirectory.h"

#include "platform/ErrorCodes.h"
#include "platform/SerialPortMap.h"
#include "tests/platform/TestPty.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace tavro::platform::posix {
namespace {

using tavro::testing::TestComDirectory;
using tavro::testing::TestPty;

// Sets or clears an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        const char* previous = std::getenv(name);
        had_ = previous != nullptr;
        previous_ = had_ ? previous : "";
        if (value != nullptr) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (had_) {
            setenv(name_, previous_.c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::string previous_;
    bool had_ = false;
};

TEST(ComDirectoryLocation, TavroDevDirWinsThenTheRuntimeDirThenTmp) {
    {
        ScopedEnv devDir("TAVRO_DEVDIR", "/srv/ports/");
        ScopedEnv runtime("XDG_RUNTIME_DIR", "/run/user/1000");
        EXPECT_STREQ(ComDirectory::FromEnvironment().Path(), "/srv/ports");
    }
    {
        ScopedEnv devDir("TAVRO_DEVDIR", "");
        ScopedEnv runtime("XDG_RUNTIME_DIR", "/run/user/1000");
        EXPECT_STREQ(ComDirectory::FromEnvironment().Path(), "/run/user/1000/tavro");
    }
    const std::string tmp = "/tmp/tavro-" + std::to_string(getuid());
    {
        ScopedEnv devDir("TAVRO_DEVDIR", nullptr);
        ScopedEnv runtime("XDG_RUNTIME_DIR", nullptr);
        EXPECT_EQ(ComDirectory::FromEnvironment().Path(), tmp);
    }
    {
        // A relative runtime directory is not trustworthy: fall back.
        ScopedEnv devDir("TAVRO_DEVDIR", nullptr);
        ScopedEnv runtime("XDG_RUNTIME_DIR", "relative/dir");
        EXPECT_EQ(ComDirectory::FromEnvironment().Path(), tmp);
    }
    {
        const std::string huge(2000, 'd');
        ScopedEnv devDir("TAVRO_DEVDIR", huge.c_str());
        EXPECT_FALSE(ComDirectory::FromEnvironment().IsValid());
        char path[comPathCapacity];
        EXPECT_EQ(ComDirectory::FromEnvironment().LinkPath(1, path), error::badPathName);
    }
}

class ComDirectoryTest : public ::testing::Test {
protected:
    ComDirectory Directory() const { return ComDirectory::FromEnvironment(); }
    std::filesystem::path Entry(const std::string& name) const {
        return std::filesystem::path(env_.Path()) / name;
    }

    TestComDirectory env_;
};

TEST_F(ComDirectoryTest, LinkCreatesMissingDirectoriesAndResolves) {
    ScopedEnv nested("TAVRO_DEVDIR", (env_.Path() + "/a/b/ports").c_str());
    const ComDirectory directory = Directory();
    ASSERT_EQ(directory.Link(3, "/dev/null"), error::success);
    char device[comPathCapacity];
    bool present = false;
    ASSERT_EQ(directory.Resolve(3, device, present), error::success);
    EXPECT_STREQ(device, "/dev/null");
    EXPECT_TRUE(present);
    EXPECT_EQ(std::filesystem::status(env_.Path() + "/a/b/ports").permissions() &
                  std::filesystem::perms::all,
              std::filesystem::perms::owner_all);
}

TEST_F(ComDirectoryTest, RelinkReplacesAndLeavesNothingBehind) {
    const ComDirectory directory = Directory();
    ASSERT_EQ(directory.Link(4, "/dev/null"), error::success);
    ASSERT_EQ(directory.Link(4, "/dev/zero"), error::success);
    char device[comPathCapacity];
    bool present = false;
    ASSERT_EQ(directory.Resolve(4, device, present), error::success);
    EXPECT_STREQ(device, "/dev/zero");
    size_t entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(env_.Path())) {
        EXPECT_EQ(entry.path().filename(), "COM4");
        ++entries;
    }
    EXPECT_EQ(entries, 1u) << "no temporary link may stay behind";
}

TEST_F(ComDirectoryTest, RelativeDevicesAreMadeAbsolute) {
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path("/dev");
    const uint32_t result = Directory().Link(2, "null");
    std::filesystem::current_path(cwd);
    ASSERT_EQ(result, error::success);
    EXPECT_EQ(std::filesystem::read_symlink(Entry("COM2")), "/dev/null");
}

TEST_F(ComDirectoryTest, RemoveAndRemoveIf) {
    const ComDirectory directory = Directory();
    ASSERT_EQ(directory.Link(5, "/dev/null"), error::success);
    EXPECT_EQ(directory.RemoveIf(5, "/dev/zero"), error::accessDenied)
        << "somebody else's link must stay";
    EXPECT_TRUE(std::filesystem::is_symlink(Entry("COM5")));
    EXPECT_EQ(directory.RemoveIf(5, "/dev/null"), error::success);
    EXPECT_FALSE(std::filesystem::is_symlink(Entry("COM5")));
    EXPECT_EQ(directory.Remove(5), error::fileNotFound);
    char device[comPathCapacity];
    bool present = true;
    EXPECT_EQ(directory.Resolve(5, device, present), error::fileNotFound);
    EXPECT_FALSE(present);
}

TEST_F(ComDirectoryTest, DanglingLinksResolveButAreNotPresent) {
    const ComDirectory directory = Directory();
    ASSERT_EQ(directory.Link(6, "/dev/ttyGone999"), error::success);
    char device[comPathCapacity];
    bool present = true;
    ASSERT_EQ(directory.Resolve(6, device, present), error::success);
    EXPECT_STREQ(device, "/dev/ttyGone999");
    EXPECT_FALSE(present);
}

TEST_F(ComDirectoryTest, ListingIsTheSerialPortMap) {
    TestPty pty;
    ASSERT_TRUE(pty.Valid());
    const ComDirectory directory = Directory();
    ASSERT_EQ(directory.Link(12, pty.SlavePath().c_str()), error::success);
    ASSERT_EQ(directory.Link(3, "/dev/null"), error::success);
    ASSERT_EQ(directory.Link(7, "/dev/ttyGone999"), error::success); // unplugged: absent
    ASSERT_EQ(directory.Link(300, "/dev/null"), error::success);     // listed; callers filter
    ASSERT_TRUE(env_.AddLink(0, "/dev/null"));
    std::filesystem::create_symlink("/dev/null", Entry("COMx"));        // atoi reads 0
    std::filesystem::create_symlink("/dev/null", Entry("TavroMsgWnd")); // not a port

    SerialPortList list;
    ASSERT_EQ(directory.List(list), error::success);
    ASSERT_EQ(list.count, 5u);
    EXPECT_EQ(list.comNumbers[0], 0);
    EXPECT_EQ(list.comNumbers[1], 0);
    EXPECT_EQ(list.comNumbers[2], 3);
    EXPECT_EQ(list.comNumbers[3], 12);
    EXPECT_EQ(list.comNumbers[4], 300);
    EXPECT_FALSE(list.truncated);

    // The system adapter lists the same directory.
    SerialPortList system;
    ASSERT_EQ(SystemSerialPortMap().List(system), error::success);
    EXPECT_EQ(system.count, list.count);
}

TEST_F(ComDirectoryTest, AMissingDirectoryIsAnErrorAndAnEmptyList) {
    ScopedEnv missing("TAVRO_DEVDIR", (env_.Path() + "/not-there").c_str());
    SerialPortList list;
    list.count = 3;
    EXPECT_EQ(Directory().List(list), error::pathNotFound);
    EXPECT_EQ(list.count, 0u);
}

TEST(AtoiNumber, ReadsPortNamesAsAtoiDoes) {
    EXPECT_EQ(AtoiNumber("5"), 5);
    EXPECT_EQ(AtoiNumber("12"), 12);
    EXPECT_EQ(AtoiNumber(" 42abc"), 42);
    EXPECT_EQ(AtoiNumber("+7"), 7);
    EXPECT_EQ(AtoiNumber("-3"), -3);
    EXPECT_EQ(AtoiNumber("x9"), 0);
    EXPECT_EQ(AtoiNumber(""), 0);
    EXPECT_EQ(AtoiNumber(nullptr), 0);
    EXPECT_EQ(AtoiNumber("99999999999999999999"), INT32_MAX);
    EXPECT_EQ(AtoiNumber("-99999999999999999999"), INT32_MIN);
}

} // namespace
} // namespace tavro::platform::posix
