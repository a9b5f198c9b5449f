// How "LogPath" becomes log file names and directory levels, on both path styles.
#include "hub/engine/LogFileName.h"

#include <gtest/gtest.h>

#include <string.h>

#include <string>

namespace tavro::testing {
namespace {

using platform::PathStyle;

constexpr SystemTime may7{2013, 5, 2, 7, 14, 3, 41, 250};

std::string Extension(const std::string& path, PathStyle style) {
    return path.substr(FindPathExtension(path.data(), path.size(), style));
}

std::string Name(const std::string& logPath, PathStyle style = PathStyle::Windows,
                 uint32_t sequence = 1, const SystemTime& time = may7) {
    char name[192];
    if (!MakeLogFileName(name, sizeof name, logPath.data(), logPath.size(), time, sequence,
                         style)) {
        return "<refused>";
    }
    return name;
}

TEST(TrackLogName, DatedNamesKeepTheStemAndTheExtensionOfLogPath) {
    EXPECT_EQ(Name("C:\\GPSLog\\Gps"), "C:\\GPSLog\\Gps.2013-05-07.14.03.gps");
    EXPECT_EQ(Name("D:\\Trips\\Car.nmea"), "D:\\Trips\\Car.2013-05-07.14.03.nmea");
    EXPECT_EQ(Name("Gps"), "Gps.2013-05-07.14.03.gps") << "no directory: relative name";
    EXPECT_EQ(Name("/home/ann/GPSLog/Gps", PathStyle::Posix),
              "/home/ann/GPSLog/Gps.2013-05-07.14.03.gps");
    EXPECT_EQ(Name("Car.v1.sirf"), "Car.v1.2013-05-07.14.03.sirf") << "the last dot only";

    // Small fields are padded to two digits; the year is not padded.
    EXPECT_EQ(Name("Gps", PathStyle::Windows, 1, SystemTime{987, 1, 0, 2, 3, 4, 5, 6}),
              "Gps.987-01-02.03.04.gps");
    // Seconds and milliseconds never appear: the name has a resolution of one minute.
    EXPECT_EQ(Name("Gps", PathStyle::Windows, 1, SystemTime{2013, 5, 2, 7, 14, 3, 59, 999}),
              Name("Gps", PathStyle::Windows, 1, SystemTime{2013, 5, 2, 7, 14, 3, 0, 0}));
}

TEST(TrackLogName, LaterFilesOfTheSameMinuteTakeANumberBeforeTheExtension) {
    EXPECT_EQ(Name("C:\\GPSLog\\Gps", PathStyle::Windows, 2),
              "C:\\GPSLog\\Gps.2013-05-07.14.03-2.gps");
    EXPECT_EQ(Name("D:\\Trips\\Car.nmea", PathStyle::Windows, 17),
              "D:\\Trips\\Car.2013-05-07.14.03-17.nmea");
    EXPECT_EQ(Name("Gps", PathStyle::Windows, 0), Name("Gps", PathStyle::Windows, 1));
}

TEST(TrackLogName, TheExtensionIsInTheLastLevelAndHasNoSpace) {
    // A dot in a directory is no extension of the file.
    EXPECT_EQ(Extension("C:\\GPS.Log\\Gps", PathStyle::Windows), "");
    EXPECT_EQ(Extension("C:/GPS.Log/Gps", PathStyle::Windows), "") << "'/' separates too";
    EXPECT_EQ(Extension("/srv/gps.d/Gps", PathStyle::Posix), "");
    // On POSIX a backslash is part of a name.
    EXPECT_EQ(Extension("/srv/Trip.v2\\Gps", PathStyle::Posix), ".v2\\Gps");
    // A space after the dot cancels the extension; a space before it does not.
    EXPECT_EQ(Extension("C:\\Log\\Car.my trips", PathStyle::Windows), "");
    EXPECT_EQ(Extension("C:\\My Log\\My Car.nmea", PathStyle::Windows), ".nmea");
    EXPECT_EQ(Extension("/home/a/Car.my trips", PathStyle::Posix), "");
    // A trailing dot is an extension of its own, as the shell finds it.
    EXPECT_EQ(Extension("C:\\Log\\Gps.", PathStyle::Windows), ".");
    EXPECT_EQ(Name("C:\\Log\\Gps."), "C:\\Log\\Gps.2013-05-07.14.03.");
}

TEST(TrackLogName, ALeadingDotIsAnExtensionOnWindowsAndAHiddenNameOnPosix) {
    EXPECT_EQ(Extension("C:\\GPSLog\\.gps", PathStyle::Windows), ".gps");
    EXPECT_EQ(Name("C:\\GPSLog\\.nmea"), "C:\\GPSLog\\.2013-05-07.14.03.nmea");

    EXPECT_EQ(Extension("/home/a/.gpslog", PathStyle::Posix), "");
    EXPECT_EQ(Name("/home/a/.gpslog", PathStyle::Posix), "/home/a/.gpslog.2013-05-07.14.03.gps");
    EXPECT_EQ(Extension("/home/a/.trip.nmea", PathStyle::Posix), ".nmea");
    EXPECT_EQ(Extension("/home/a/..", PathStyle::Posix), "");
    EXPECT_EQ(Extension(".hidden/Gps", PathStyle::Posix), "");
}

TEST(TrackLogName, ALongLogPathWithALongExtensionStillFits) {
    // 127 characters, the most the setting holds, of which 40 are the extension.
    const std::string stem = "C:\\" + std::string(84, 'd');
    const std::string extension = "." + std::string(39, 'e');
    const std::string logPath = stem + extension;
    ASSERT_EQ(logPath.size(), 127u);
    const std::string expected = stem + ".2013-05-07.14.03-99" + extension;
    EXPECT_EQ(Name(logPath, PathStyle::Windows, 99), expected);

    // Even the widest date the time record can carry fits the 192 bytes.
    const SystemTime widest{65535, 65535, 6, 65535, 65535, 65535, 0, 0};
    const std::string name = Name(logPath, PathStyle::Windows, maxLogFilesPerMinute, widest);
    EXPECT_EQ(name, stem + ".65535-65535-65535.65535.65535-99" + extension);
    EXPECT_LT(name.size(), 192u);
}

TEST(TrackLogName, ANameThatDoesNotFitIsRefusedWithoutWritingPastTheBuffer) {
    const std::string logPath = "C:\\GPSLog\\Car.nmea";
    const std::string full = "C:\\GPSLog\\Car.2013-05-07.14.03.nmea";
    char buffer[64];
    for (size_t size = 1; size <= full.size() + 1; ++size) {
        memset(buffer, '#', sizeof buffer);
        const bool made = MakeLogFileName(buffer, size, logPath.data(), logPath.size(), may7, 1,
                                          PathStyle::Windows);
        if (size == full.size() + 1) {
            EXPECT_TRUE(made);
            EXPECT_EQ(std::string(buffer), full);
        } else {
            EXPECT_FALSE(made) << size;
            EXPECT_EQ(buffer[0], '\0') << "a refused name is empty, not cut";
        }
        for (size_t i = size; i < sizeof buffer; ++i) {
            ASSERT_EQ(buffer[i], '#') << "byte " << i << " written with a size of " << size;
        }
    }
    EXPECT_FALSE(
        MakeLogFileName(buffer, 0, logPath.data(), logPath.size(), may7, 1, PathStyle::Windows));
}

TEST(TrackLogName, DirectoryLevelsSkipEmptyTextAndWindowsDrives) {
    const auto creatable = [](const char* level, PathStyle style) {
        return IsCreatableLevel(level, strlen(level), style);
    };
    EXPECT_FALSE(creatable("", PathStyle::Windows));
    EXPECT_FALSE(creatable("", PathStyle::Posix));
    EXPECT_FALSE(creatable("C:", PathStyle::Windows));
    EXPECT_TRUE(creatable("C:\\GPSLog", PathStyle::Windows));
    // Short levels are directories like any other: "ab\Gps" needs "ab".
    EXPECT_TRUE(creatable("a", PathStyle::Windows));
    EXPECT_TRUE(creatable("ab", PathStyle::Windows));
    EXPECT_TRUE(creatable("\\a", PathStyle::Windows));
    // ':' is an ordinary character on POSIX.
    EXPECT_TRUE(creatable("C:", PathStyle::Posix));
    // The empty level between doubled separators ("a//b", the start of "\\server\share").
    EXPECT_FALSE(creatable("a/", PathStyle::Posix));
    EXPECT_FALSE(creatable("a\\", PathStyle::Windows));
    EXPECT_FALSE(creatable("\\", PathStyle::Windows));
    EXPECT_TRUE(creatable("a\\", PathStyle::Posix)) << "a name ending in a backslash";
}

} // namespace
} // namespace tavro::testing
