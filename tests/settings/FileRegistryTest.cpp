// The POSIX file store on disk: its files, atomic replacement, damaged and hand-edited files,
// and several writers at once.
#include "TestRegistries.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tavro::testing {
namespace {

using platform::FileRegistry;
using platform::RegistryKey;
namespace fs = std::filesystem;

class FileRegistryTest : public ::testing::Test {
protected:
    std::string Folder() const { return folder_.Path() + "/config/tavro"; }
    std::string UserFile() const { return Folder() + "/current-user.reg"; }

    // Sets one REG_DWORD in a fresh key handle.
    uint32_t SetNumber(FileRegistry& registry, const char* path, const char* name, uint32_t n) {
        RegistryKey key = RegistryKey::none;
        uint32_t result = registry.CreateKey(RegistryKey::currentUser, path, key);
        if (result == error::success) {
            result = registry.SetValue(key, name, platform::regDword, &n, 4);
            registry.CloseKey(key);
        }
        return result;
    }
    uint32_t Number(FileRegistry& registry, const char* path, const char* name, uint32_t& n) {
        RegistryKey key = RegistryKey::none;
        uint32_t result = registry.OpenKey(RegistryKey::currentUser, path, key);
        if (result == error::success) {
            uint32_t size = 4;
            result = registry.QueryValue(key, name, nullptr, &n, &size);
            registry.CloseKey(key);
        }
        return result;
    }

    TemporaryFolder folder_;
};

TEST_F(FileRegistryTest, KeepsEachRootInAReadablePrivateFile) {
    FileRegistry registry(Folder());
    ASSERT_EQ(SetNumber(registry, "Software\\Brindle\\Tavro3", "Baud", 4800), error::success);
    RegistryKey key = RegistryKey::none;
    ASSERT_EQ(registry.CreateKey(RegistryKey::localMachine,
                                 "SYSTEM\\CurrentControlSet\\Services\\Tavro\\Parameters", key),
              error::success);
    registry.CloseKey(key);

    EXPECT_EQ(ReadFile(UserFile()), "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Brindle\\Tavro3]\n"
                                    "\"Baud\"=dword:000012c0\n");
    EXPECT_EQ(ReadFile(Folder() + "/local-machine.reg"),
              "REGEDIT4\n\n"
              "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Tavro\\Parameters]\n");
    EXPECT_EQ(fs::status(Folder()).permissions() & fs::perms::all, fs::perms::owner_all);
    EXPECT_EQ(fs::status(UserFile()).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(FileRegistryTest, ReplacesTheFileWholeAndLeavesNothingBehind) {
    FileRegistry registry(Folder());
    ASSERT_EQ(SetNumber(registry, "k", "A", 1), error::success);
    const std::string before = ReadFile(UserFile());
    std::ifstream oldFile(UserFile(), std::ios::binary); // a reader in the middle of reading

    ASSERT_EQ(SetNumber(registry, "k", "B", 2), error::success);
    std::stringstream seenByOldReader;
    seenByOldReader << oldFile.rdbuf();
    EXPECT_EQ(seenByOldReader.str(), before);
    EXPECT_NE(ReadFile(UserFile()).find("\"B\"=dword:00000002"), std::string::npos);
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(Folder())) {
        files.push_back(entry.path().filename());
    }
    EXPECT_EQ(files, std::vector<std::string>{"current-user.reg"});
}

TEST_F(FileRegistryTest, DamagedLinesAreSkippedReportedOnceAndKeptInACopy) {
    fs::create_directories(Folder());
    const std::string damaged = "REGEDIT4\n[HKEY_CURRENT_USER\\k]\n\"Good\"=dword:7\n"
                                "\"Bad\"=dword:xyz\n\"Worse\"=hex:zz\n";
    WriteFile(UserFile(), damaged);
    FileRegistry registry(Folder());
    uint32_t n = 0;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(Number(registry, "k", "Good", n), error::success);
    EXPECT_EQ(Number(registry, "k", "Bad", n), error::fileNotFound);
    const std::string report = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 1) << report;
    EXPECT_NE(report.find("2 unreadable lines"), std::string::npos) << report;
    EXPECT_NE(report.find("line 4"), std::string::npos) << report;
    EXPECT_EQ(ReadFile(UserFile() + ".damaged"), damaged);

    ::testing::internal::CaptureStderr();
    ASSERT_EQ(SetNumber(registry, "k", "New", 8), error::success);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(ReadFile(UserFile()), "REGEDIT4\n\n[HKEY_CURRENT_USER\\k]\n"
                                    "\"Good\"=dword:00000007\n\"New\"=dword:00000008\n");
}

TEST_F(FileRegistryTest, EditsMadeWhileRunningAreSeenAtTheNextCall) {
    FileRegistry registry(Folder());
    ASSERT_EQ(SetNumber(registry, "Software\\Brindle\\Tavro3", "Port", 1), error::success);
    RegistryKey held = RegistryKey::none;
    ASSERT_EQ(registry.OpenKey(RegistryKey::currentUser, "Software\\Brindle\\Tavro3", held),
              error::success);

    WriteFile(UserFile(), "[HKEY_CURRENT_USER\\Software\\Brindle\\Tavro3]\n\"Port\"=dword:4\n"
                          "\"LogPath\"=\"/home/ana/log/\\\"q\\\"\"\n");
    uint32_t port = 0;
    uint32_t size = 4;
    EXPECT_EQ(registry.QueryValue(held, "Port", nullptr, &port, &size), error::success);
    EXPECT_EQ(port, 4u);
    char path[64];
    size = sizeof path;
    EXPECT_EQ(registry.QueryValue(held, "LogPath", nullptr, path, &size), error::success);
    EXPECT_STREQ(path, "/home/ana/log/\"q\"");

    WriteFile(UserFile(), "REGEDIT4\n; all gone\n");
    EXPECT_EQ(registry.QueryValue(held, "Port", nullptr, &port, &size), error::keyDeleted);
    registry.CloseKey(held);
}

TEST_F(FileRegistryTest, AFileThatCannotBeUsedIsNeverReplaced) {
    fs::create_directories(UserFile()); // a folder where the file belongs
    FileRegistry registry(Folder());
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(SetNumber(registry, "k", "A", 1), error::registryCorrupt);
    EXPECT_EQ(SetNumber(registry, "k", "A", 1), error::registryCorrupt);
    const std::string report = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 1) << report;
    EXPECT_TRUE(fs::is_directory(UserFile()));

    fs::remove(UserFile());
    const std::string huge(FileRegistry::maxFileBytes + 1, ';');
    WriteFile(UserFile(), huge);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(SetNumber(registry, "k", "A", 1), error::registryCorrupt);
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(fs::file_size(UserFile()), huge.size());

    FileRegistry nowhere(UserFile() + "/below-a-file");
    EXPECT_EQ(SetNumber(nowhere, "k", "A", 1), error::pathNotFound);
    FileRegistry unset("");
    EXPECT_EQ(SetNumber(unset, "k", "A", 1), error::pathNotFound);
}

// Two processes change the same file at once; the lock and the re-read keep every change.
TEST_F(FileRegistryTest, ConcurrentWritersLoseNothing) {
    constexpr int perWriter = 40;
    FileRegistry registry(Folder());
    ASSERT_EQ(SetNumber(registry, "k", "Start", 0), error::success);
    pid_t children[2];
    for (int writer = 0; writer < 2; ++writer) {
        children[writer] = fork();
        if (children[writer] == 0) {
            FileRegistry own(Folder());
            for (int i = 0; i < perWriter; ++i) {
                const std::string name = "W" + std::to_string(writer) + "_" + std::to_string(i);
                if (SetNumber(own, "k", name.c_str(), static_cast<uint32_t>(i)) != 0) {
                    _exit(1);
                }
            }
            _exit(0);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (int writer = 0; writer < 2; ++writer) {
        for (int i = 0; i < perWriter; ++i) {
            const std::string name = "W" + std::to_string(writer) + "_" + std::to_string(i);
            uint32_t n = 99;
            EXPECT_EQ(Number(registry, "k", name.c_str(), n), error::success) << name;
            EXPECT_EQ(n, static_cast<uint32_t>(i));
        }
    }
}

TEST_F(FileRegistryTest, ALinkedFileIsReplacedWhereItLives) {
    const std::string elsewhere = folder_.Path() + "/dotfiles";
    fs::create_directories(elsewhere);
    fs::create_directories(Folder());
    WriteFile(elsewhere + "/user.reg", "REGEDIT4\n");
    fs::create_symlink(elsewhere + "/user.reg", UserFile());
    FileRegistry registry(Folder());
    ASSERT_EQ(SetNumber(registry, "k", "A", 3), error::success);
    EXPECT_TRUE(fs::is_symlink(UserFile()));
    EXPECT_NE(ReadFile(elsewhere + "/user.reg").find("\"A\"=dword:00000003"), std::string::npos);
}

TEST(FileRegistryDirectory, FollowsTheBaseDirectoryRules) {
    const char* savedConfig = std::getenv("XDG_CONFIG_HOME");
    const char* savedHome = std::getenv("HOME");
    const std::string config = savedConfig ? savedConfig : "";
    const std::string home = savedHome ? savedHome : "";
    std::string directory;

    setenv("XDG_CONFIG_HOME", "/cfg", 1);
    setenv("HOME", "/home/ana", 1);
    ASSERT_TRUE(platform::DefaultRegistryDirectory(directory));
    EXPECT_EQ(directory, "/cfg/tavro");
    setenv("XDG_CONFIG_HOME", "relative/cfg", 1); // not absolute: to be ignored
    ASSERT_TRUE(platform::DefaultRegistryDirectory(directory));
    EXPECT_EQ(directory, "/home/ana/.config/tavro");

    savedConfig ? setenv("XDG_CONFIG_HOME", config.c_str(), 1) : unsetenv("XDG_CONFIG_HOME");
    savedHome ? setenv("HOME", home.c_str(), 1) : unsetenv("HOME");
}

} // namespace
} // namespace tavro::testing
