// The POSIX file system adapter on a real temporary folder, and the track log writing through
// it: the Win32 answers of the file functions, local time, the program's path.
#include "hub/engine/FileTrackLog.h"
#include "platform/FileSystem.h"
#include "tests/engine/HubFixture.h"

#include <gmock/gmock.h>

#include <dirent.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace tavro::testing {
namespace {

using platform::FileDisposition;

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

bool Exists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

std::vector<std::string> Names(const std::string& directory) {
    std::vector<std::string> names;
    if (DIR* listing = opendir(directory.c_str())) {
        while (const dirent* entry = readdir(listing)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        }
        closedir(listing);
    }
    return names;
}

void RemoveTree(const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) {
        return;
    }
    if (S_ISDIR(info.st_mode)) {
        for (const std::string& name : Names(path)) {
            RemoveTree(path + "/" + name);
        }
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

class TemporaryFolder {
public:
    TemporaryFolder() {
        const char* base = getenv("TMPDIR");
        std::string pattern =
            std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/tavro-log-XXXXXX";
        if (mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }
    ~TemporaryFolder() {
        if (!path_.empty()) {
            RemoveTree(path_);
        }
    }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

class PosixFiles : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(folder_.Path().empty()); }
    std::string At(const std::string& name) const { return folder_.Path() + "/" + name; }

    TemporaryFolder folder_;
    platform::FileSystem& files_ = platform::SystemFileSystem();
};

TEST_F(PosixFiles, DirectoriesAnswerAsCreateDirectoryDoes) {
    EXPECT_EQ(files_.Style(), platform::PathStyle::Posix);
    EXPECT_EQ(files_.MakeDirectory(At("a").c_str()), error::success);
    EXPECT_EQ(files_.MakeDirectory(At("a").c_str()), error::alreadyExists);
    EXPECT_EQ(files_.MakeDirectory(At("missing/b").c_str()), error::pathNotFound);

    // Default security: what the process's umask allows.
    const mode_t mask = umask(022);
    umask(mask);
    struct stat info {};
    ASSERT_EQ(stat(At("a").c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0777u & ~mask);
}

TEST_F(PosixFiles, CreateNewLeavesAnExistingFileAloneAndCreateAlwaysEmptiesIt) {
    const std::string path = At("log.gps");
    uint32_t error = 1;
    auto file = files_.OpenForWriting(path.c_str(), FileDisposition::CreateNew, error);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(error, error::success);
    uint32_t written = 0;
    EXPECT_EQ(file->Write("first\0run", 9, written), error::success);
    EXPECT_EQ(written, 9u);
    EXPECT_EQ(file->Close(), error::success);
    EXPECT_EQ(file->Close(), error::success) << "a second close does nothing";
    EXPECT_EQ(file->Write("x", 1, written), error::invalidHandle);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(ReadWhole(path), std::string("first\0run", 9));

    EXPECT_EQ(files_.OpenForWriting(path.c_str(), FileDisposition::CreateNew, error), nullptr);
    EXPECT_EQ(error, error::fileExists);
    EXPECT_EQ(ReadWhole(path), std::string("first\0run", 9));

    file = files_.OpenForWriting(path.c_str(), FileDisposition::CreateAlways, error);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->Write("2nd", 3, written), error::success);
    file.reset(); // destroying closes
    EXPECT_EQ(ReadWhole(path), "2nd");

    EXPECT_EQ(files_.OpenForWriting(At("none/log.gps").c_str(), FileDisposition::CreateNew, error),
              nullptr);
    EXPECT_EQ(error, error::pathNotFound);
    EXPECT_EQ(files_.OpenForWriting(folder_.Path().c_str(), FileDisposition::CreateAlways, error),
              nullptr)
        << "a directory is not a file";
    EXPECT_NE(error, error::success);

    EXPECT_EQ(files_.RemoveFile(path.c_str()), error::success);
    EXPECT_FALSE(Exists(path));
    EXPECT_EQ(files_.RemoveFile(path.c_str()), error::fileNotFound);
}

TEST_F(PosixFiles, LocalTimeIsTheMachinesZone) {
    const char* saved = getenv("TZ");
    const std::string savedZone = saved != nullptr ? saved : "";
    // Five and a half hours east of UTC, without daylight saving.
    setenv("TZ", "XST-05:30", 1);
    tzset();
    SystemTime local{};
    time_t before = 0;
    time_t after = 0;
    do {
        before = time(nullptr);
        files_.GetLocalTime(local);
        after = time(nullptr);
    } while (before != after);
    if (saved != nullptr) {
        setenv("TZ", savedZone.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();

    const time_t shifted = before + 5 * 3600 + 30 * 60;
    tm expected{};
    gmtime_r(&shifted, &expected);
    EXPECT_EQ(local.wYear, expected.tm_year + 1900);
    EXPECT_EQ(local.wMonth, expected.tm_mon + 1);
    EXPECT_EQ(local.wDay, expected.tm_mday);
    EXPECT_EQ(local.wDayOfWeek, expected.tm_wday);
    EXPECT_EQ(local.wHour, expected.tm_hour);
    EXPECT_EQ(local.wMinute, expected.tm_min);
    EXPECT_EQ(local.wSecond, expected.tm_sec);
    EXPECT_LT(local.wMilliseconds, 1000);
}

TEST_F(PosixFiles, ModulePathIsThisProgramAndIsNeverCut) {
    char path[4096];
    uint32_t length = 0;
    ASSERT_EQ(files_.ModulePath(path, sizeof path, length), error::success);
    EXPECT_EQ(length, strlen(path));
    EXPECT_EQ(path[0], '/');
    EXPECT_THAT(std::string(path), ::testing::EndsWith("/tavro_track_log_tests"));

    char small[8];
    memset(small, 'x', sizeof small);
    EXPECT_EQ(files_.ModulePath(small, sizeof small, length), error::insufficientBuffer);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(small[0], '\0');
    // Exactly the room of the path without its terminator is too small as well.
    EXPECT_EQ(files_.ModulePath(path, static_cast<uint32_t>(strlen(path)), length),
              error::insufficientBuffer);
}

// The track log on the real file system, fed through the input port.
class PosixTrackLog : public HubFixture {
protected:
    PosixTrackLog() : trackLog_(platform::SystemFileSystem()) {
        hub_.settings.logging = 1;
        port_ = &hub_.CreateInputPort(&trackLog_);
    }
    ~PosixTrackLog() override { hub_.DestroyInputPort(); }

    void SetUp() override { ASSERT_FALSE(folder_.Path().empty()); }

    void SetLogPath(const std::string& path) {
        ASSERT_LT(path.size(), sizeof hub_.settings.logPath);
        memcpy(hub_.settings.logPath, path.c_str(), path.size() + 1);
    }

    // One open period of the port in which the receiver sends `bytes`.
    void OpenPeriod(const std::string& bytes) {
        port_->Open();
        ASSERT_TRUE(port_->IsOpen());
        for (size_t at = 0; at < bytes.size(); at += GpsPort::maxReadLength) {
            device_.QueueInput(bytes.substr(at, GpsPort::maxReadLength));
            port_->Poll();
        }
        port_->Close();
    }

    TemporaryFolder folder_;
    FileTrackLog trackLog_;
};

TEST_F(PosixTrackLog, FilesAppearInTheDirectoriesOfTheLogPath) {
    std::string first;
    for (int i = 0; first.size() < 3000; ++i) {
        first += Sentence("GPTXT,01,01,02,entry " + std::to_string(i));
    }
    const std::string second(700, '\xA0');
    const std::string directory = folder_.Path() + "/trips/car";
    SetLogPath(directory + "/Car.nmea");

    OpenPeriod(first);
    OpenPeriod(""); // an open period without data leaves nothing
    OpenPeriod(second);

    const std::vector<std::string> names = Names(directory);
    ASSERT_EQ(names.size(), 2u);
    // Both begun in the same minute, or the second in the next one.
    std::vector<std::string> contents;
    for (const std::string& name : names) {
        EXPECT_THAT(name,
                    ::testing::MatchesRegex(
                        "Car\\.[0-9]{4}-[0-9]{2}-[0-9]{2}\\.[0-9]{2}\\.[0-9]{2}(-2)?\\.nmea"));
        contents.push_back(ReadWhole(directory + "/" + name));
    }
    EXPECT_THAT(contents, ::testing::UnorderedElementsAre(first, second));
}

} // namespace
} // namespace tavro::testing
