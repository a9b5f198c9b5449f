// The track log of the input port on a file system in memory: when files are begun, what
// goes into them, when they are deleted, and what happens when the file system refuses.
#include "hub/engine/FileTrackLog.h"
#include "hub/engine/LogFileName.h"
#include "platform/testing/MemoryFileSystem.h"
#include "tests/engine/HubFixture.h"

#include <gmock/gmock.h>

#include <string.h>

#include <algorithm>

namespace tavro::testing {
namespace {

using platform::PathStyle;
using platform::testing::MemoryFileSystem;

// The fake's clock stands at 14:03 on 7 May 2013.
const std::string firstName = "C:\\GPSLog\\Gps.2013-05-07.14.03.gps";
const std::string secondName = "C:\\GPSLog\\Gps.2013-05-07.14.03-2.gps";

// `count` bytes of every value, NMEA and SiRF start bytes and zeros included.
std::string Bytes(size_t count, uint32_t seed = 1) {
    std::string bytes(count, '\0');
    for (size_t i = 0; i < count; ++i) {
        seed = seed * 1103515245u + 12345u;
        bytes[i] = static_cast<char>(seed >> 16);
    }
    return bytes;
}

class TrackLogFiles : public HubFixture {
protected:
    explicit TrackLogFiles(PathStyle style = PathStyle::Windows)
        : files_(style), trackLog_(files_) {
        files_.AddDirectory("C:");
        SetLogPath("C:\\GPSLog\\Gps");
        hub_.settings.logging = 1;
        port_ = &hub_.CreateInputPort(&trackLog_);
        port_->Open();
        EXPECT_TRUE(port_->IsOpen());
        files_.ClearCalls();
    }
    ~TrackLogFiles() override { hub_.DestroyInputPort(); }

    void SetLogPath(const std::string& path) {
        ASSERT_LT(path.size(), sizeof hub_.settings.logPath);
        memcpy(hub_.settings.logPath, path.c_str(), path.size() + 1);
    }

    // The receiver sends `bytes`; the port reads them over as many ticks as it takes.
    void Receive(const std::string& bytes) {
        for (size_t at = 0; at < bytes.size(); at += GpsPort::maxReadLength) {
            device_.QueueInput(bytes.substr(at, GpsPort::maxReadLength));
            port_->Poll();
        }
    }

    // Closes the input port and opens it again, as the timer loop's idle re-open does.
    void Reopen() {
        port_->Close();
        port_->Open();
        ASSERT_TRUE(port_->IsOpen());
    }

    MemoryFileSystem files_;
    FileTrackLog trackLog_;
};

TEST_F(TrackLogFiles, AFileIsBegunWithTheFirstBlockInADirectoryMadeForIt) {
    const std::string stream = Bytes(1100);
    Receive(stream.substr(0, 1000));
    EXPECT_TRUE(files_.Calls().empty()) << "nothing before a block of 1024 bytes";
    EXPECT_FALSE(port_->LogOpen());

    Receive(stream.substr(1000));
    EXPECT_TRUE(files_.HasDirectory("C:\\GPSLog"));
    EXPECT_EQ(files_.Calls(), (std::vector<std::string>{
                                  "MakeDirectory C:\\GPSLog",
                                  "OpenForWriting " + firstName + " CreateNew",
                                  "Write " + firstName + " 1024",
                              }))
        << "the drive is never created";
    EXPECT_EQ(files_.Contents(firstName), stream.substr(0, 1024));
    EXPECT_EQ(std::string(port_->logFileName), firstName);
    EXPECT_EQ(port_->bytesLogged, 1024u);
    EXPECT_EQ(port_->logCount, 76);

    port_->Close();
    EXPECT_EQ(files_.Contents(firstName), stream) << "the pending bytes follow at the close";
    EXPECT_EQ(port_->bytesLogged, 1100u);
    EXPECT_EQ(files_.OpenFiles(), 0u);
    EXPECT_EQ(files_.Files(), std::vector<std::string>{firstName});
}

TEST_F(TrackLogFiles, AtACloseWithFewerBytesPendingTheFileIsMadeWrittenAndClosedAtOnce) {
    const std::string stream = Bytes(300);
    Receive(stream);
    EXPECT_TRUE(files_.Calls().empty());
    port_->Close();
    EXPECT_EQ(files_.Calls(), (std::vector<std::string>{
                                  "MakeDirectory C:\\GPSLog",
                                  "OpenForWriting " + firstName + " CreateNew",
                                  "Write " + firstName + " 300",
                                  "Close " + firstName,
                              }));
    EXPECT_EQ(files_.Contents(firstName), stream);
    EXPECT_FALSE(port_->LogOpen());
}

TEST_F(TrackLogFiles, ALogPathWithoutSeparatorMakesNoDirectory) {
    SetLogPath("Car.nmea");
    Receive(Bytes(1024));
    port_->Close();
    EXPECT_EQ(files_.Directories(), std::vector<std::string>{"C:"});
    EXPECT_EQ(files_.Files(), std::vector<std::string>{"Car.2013-05-07.14.03.nmea"})
        << "relative to the current directory";
    EXPECT_EQ(files_.Contents("Car.2013-05-07.14.03.nmea"), Bytes(1024));
}

TEST_F(TrackLogFiles, APortThatReceivedNothingLeavesNoFile) {
    for (int tick = 0; tick < 20; ++tick) {
        port_->Poll();
    }
    port_->Close();
    port_->Close();
    EXPECT_TRUE(files_.Calls().empty()) << "no directory, no file";

    // A file begun by hand and never written to is removed at the close.
    port_->Open();
    port_->OpenLog();
    EXPECT_TRUE(files_.HasFile(firstName));
    port_->Close();
    const std::vector<std::string>& calls = files_.Calls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[calls.size() - 2], "Close " + firstName);
    EXPECT_EQ(calls.back(), "RemoveFile " + firstName);
    EXPECT_TRUE(files_.Files().empty());
}

TEST_F(TrackLogFiles, AFileThatTookNoByteIsRemoved) {
    files_.LimitWrites(0, error::diskFull);
    Receive(Bytes(2100));
    EXPECT_EQ(port_->bytesLogged, 0u);
    port_->Close();
    EXPECT_TRUE(files_.Files().empty());
}

TEST_F(TrackLogFiles, WithLoggingOffOrNoLogPathBlocksAreDropped) {
    hub_.settings.logging = 0;
    Receive(Bytes(3000));
    EXPECT_EQ(port_->logCount, 3000 - 2048) << "blocks were emptied all the same";
    port_->Close();
    EXPECT_EQ(port_->logCount, 0);

    hub_.settings.logging = 1;
    SetLogPath("");
    port_->Open();
    Receive(Bytes(3000));
    port_->OpenLog();
    port_->Close();
    EXPECT_TRUE(files_.Calls().empty());
}

TEST_F(TrackLogFiles, TurningLoggingOffEndsTheFileAndBeginsNoOther) {
    const std::string stream = Bytes(1500);
    Receive(stream);
    // What the main window does when "Logging" is switched off.
    hub_.settings.logging = 0;
    port_->CloseLog();
    EXPECT_EQ(files_.Contents(firstName), stream);
    EXPECT_FALSE(port_->LogOpen());
    files_.ClearCalls();

    Receive(Bytes(2500));
    port_->Close();
    EXPECT_TRUE(files_.Calls().empty());
    EXPECT_EQ(files_.Files(), std::vector<std::string>{firstName});
}

TEST_F(TrackLogFiles, AChangedLogPathTakesEffectWithTheNextFile) {
    Receive(Bytes(1100));
    SetLogPath("C:\\Trips\\Car.nmea");
    port_->CloseLog();
    Receive(Bytes(1100, 2));
    port_->Close();
    EXPECT_EQ(files_.Contents(firstName), Bytes(1100));
    EXPECT_EQ(files_.Contents("C:\\Trips\\Car.2013-05-07.14.03.nmea"), Bytes(1100, 2));
}

TEST_F(TrackLogFiles, ScanningPortsCreateNoFile) {
    // A port of the GPS search, as its thread makes one: no track log of its own.
    GpsPort scan(hub_, GpsPortKind::Scan);
    scan.logCount = 100;
    scan.FlushLog();
    scan.logCount = 100;
    scan.Close();
    EXPECT_FALSE(scan.LogOpen());
    EXPECT_TRUE(files_.Calls().empty());
}

TEST_F(TrackLogFiles, ASecondFileInTheSameMinuteKeepsTheFirst) {
    Receive(Bytes(1100, 1));
    Reopen();
    Receive(Bytes(1100, 2));
    Reopen();
    Receive(Bytes(200, 3));
    Reopen();
    port_->Close();

    const std::string thirdName = "C:\\GPSLog\\Gps.2013-05-07.14.03-3.gps";
    EXPECT_THAT(files_.Files(), ::testing::UnorderedElementsAre(firstName, secondName, thirdName));
    EXPECT_EQ(files_.Contents(firstName), Bytes(1100, 1));
    EXPECT_EQ(files_.Contents(secondName), Bytes(1100, 2));
    EXPECT_EQ(files_.Contents(thirdName), Bytes(200, 3));

    // The next minute begins with the plain name again.
    files_.SetLocalTime(SystemTime{2013, 5, 2, 7, 14, 4, 0, 0});
    port_->Open();
    Receive(Bytes(1024, 4));
    port_->Close();
    EXPECT_EQ(files_.Contents("C:\\GPSLog\\Gps.2013-05-07.14.04.gps"), Bytes(1024, 4));
}

TEST_F(TrackLogFiles, AFileOfAnEarlierRunIsNeverReplacedOrRemoved) {
    files_.AddDirectory("C:\\GPSLog");
    files_.AddFile(firstName, "earlier");
    port_->OpenLog();
    port_->Close();
    EXPECT_EQ(files_.Contents(firstName), "earlier");
    EXPECT_FALSE(files_.HasFile(secondName)) << "the empty second file was removed";

    // With every name of the minute taken nothing is opened, and the block is dropped.
    for (uint32_t sequence = 2; sequence <= maxLogFilesPerMinute; ++sequence) {
        files_.AddFile("C:\\GPSLog\\Gps.2013-05-07.14.03-" + std::to_string(sequence) + ".gps",
                       "taken");
    }
    port_->Open();
    Receive(Bytes(1024));
    EXPECT_FALSE(port_->LogOpen());
    EXPECT_EQ(port_->logCount, 0);
    port_->Close();
    EXPECT_EQ(files_.Contents(firstName), "earlier");
    EXPECT_EQ(files_.Contents(secondName), "taken");
    EXPECT_EQ(files_.Files().size(), maxLogFilesPerMinute);
}

TEST_F(TrackLogFiles, ALongLogPathAndExtensionMakeAWholeName) {
    // 127 characters with a 40-character extension.
    const std::string directory = "C:\\" + std::string(60, 'd');
    const std::string logPath =
        directory + "\\" + std::string(23, 's') + "." + std::string(39, 'e');
    ASSERT_EQ(logPath.size(), 127u);
    SetLogPath(logPath);
    Receive(Bytes(1024));
    port_->Close();
    const std::string name =
        directory + "\\" + std::string(23, 's') + ".2013-05-07.14.03." + std::string(39, 'e');
    EXPECT_EQ(std::string(port_->logFileName), name);
    EXPECT_EQ(files_.Contents(name), Bytes(1024));
}

TEST_F(TrackLogFiles, ALogPathWithoutTerminatorIsNotUsed) {
    memset(hub_.settings.logPath, 'x', sizeof hub_.settings.logPath);
    Receive(Bytes(2048));
    port_->OpenLog();
    port_->Close();
    EXPECT_TRUE(files_.Calls().empty());
    EXPECT_EQ(port_->logFileName[0], '\0');
}

TEST_F(TrackLogFiles, ADirectoryThatCannotBeMadeCostsOneBlockAndTheNextTriesAgain) {
    files_.FailDirectories(error::accessDenied);
    Receive(Bytes(1024, 1));
    EXPECT_FALSE(port_->LogOpen());
    EXPECT_EQ(port_->logCount, 0) << "the block was dropped";
    EXPECT_EQ(files_.Calls(), (std::vector<std::string>{
                                  "MakeDirectory C:\\GPSLog",
                                  "OpenForWriting " + firstName + " CreateNew",
                              }));

    files_.FailDirectories(error::success);
    Receive(Bytes(1024, 2));
    port_->Close();
    EXPECT_EQ(files_.Contents(firstName), Bytes(1024, 2));
}

TEST_F(TrackLogFiles, AFileThatCannotBeOpenedCostsOneBlockAndTheNextTriesAgain) {
    files_.FailOpens(1, error::accessDenied);
    Receive(Bytes(1024, 1));
    EXPECT_FALSE(port_->LogOpen());
    Receive(Bytes(1024, 2));
    EXPECT_TRUE(port_->LogOpen());

    // A failed open at the close drops the pending bytes, and nothing remains open.
    Reopen();
    files_.FailOpens(1, error::accessDenied);
    Receive(Bytes(100, 3));
    port_->Close();
    EXPECT_EQ(files_.Files(), std::vector<std::string>{firstName});
    EXPECT_EQ(files_.Contents(firstName), Bytes(1024, 2));
    EXPECT_EQ(files_.OpenFiles(), 0u);
}

TEST_F(TrackLogFiles, ShortWritesAreCountedExactly) {
    files_.LimitWrites(1000, error::diskFull);
    const std::string stream = Bytes(2048 + 10);
    Receive(stream);
    EXPECT_EQ(port_->bytesLogged, 2000u);
    files_.LimitWrites(3, error::success); // cut short yet reported as done
    port_->Close();
    EXPECT_EQ(port_->bytesLogged, 2003u);
    EXPECT_EQ(files_.Contents(firstName),
              stream.substr(0, 1000) + stream.substr(1024, 1000) + stream.substr(2048, 3));
}

// What the log could not take is counted with the reason, so that a full disk or a folder that
// cannot be made is told rather than hidden; a port that logs nothing counts nothing.
TEST_F(TrackLogFiles, BytesTheLogCouldNotTakeAreCountedWithTheReason) {
    files_.LimitWrites(1000, error::diskFull);
    Receive(Bytes(1024));
    EXPECT_EQ(port_->bytesNotLogged, 24u);
    EXPECT_EQ(port_->logError, error::diskFull);
    files_.LimitWrites(UINT32_MAX, error::success);
    Reopen();
    files_.FailOpens(1, error::accessDenied);
    Receive(Bytes(1024));
    EXPECT_EQ(port_->bytesNotLogged, 24u + 1024u);
    EXPECT_EQ(port_->logError, error::accessDenied);
    hub_.settings.logging = 0;
    Reopen();
    Receive(Bytes(1024));
    EXPECT_EQ(port_->bytesNotLogged, 24u + 1024u);
}

TEST_F(TrackLogFiles, CreateLogDirectoriesMakesEveryLevelButTheLast) {
    port_->CreateLogDirectories("C:\\a\\bb\\ccc\\Gps");
    EXPECT_EQ(files_.Calls(),
              (std::vector<std::string>{"MakeDirectory C:\\a", "MakeDirectory C:\\a\\bb",
                                        "MakeDirectory C:\\a\\bb\\ccc"}));
    EXPECT_TRUE(files_.HasDirectory("C:\\a\\bb\\ccc"));
    files_.ClearCalls();

    port_->CreateLogDirectories("ab\\Gps");
    port_->CreateLogDirectories("\\\\server\\share\\Gps");
    port_->CreateLogDirectories("C:/Trips/Gps");
    port_->CreateLogDirectories("Gps");
    port_->CreateLogDirectories("");
    port_->CreateLogDirectories(nullptr);
    EXPECT_EQ(files_.Calls(), (std::vector<std::string>{
                                  "MakeDirectory ab",
                                  "MakeDirectory \\\\server",
                                  "MakeDirectory \\\\server\\share",
                                  "MakeDirectory C:/Trips",
                              }));

    // Only the first 259 characters are looked at.
    files_.ClearCalls();
    std::string deep = "C:";
    while (deep.size() < 300) {
        deep += "\\level";
    }
    port_->CreateLogDirectories(deep.c_str());
    ASSERT_FALSE(files_.Calls().empty());
    EXPECT_EQ(files_.Calls().back(), "MakeDirectory " + deep.substr(0, 254));
    EXPECT_EQ(files_.Calls().size(), 42u);
}

TEST_F(TrackLogFiles, TheFileHoldsExactlyTheBytesReceived) {
    // More than two blocks, SiRF and NMEA mixed with noise, read in ticks of various sizes;
    // an application on a virtual port writes to the receiver meanwhile.
    std::string stream;
    for (int i = 0; stream.size() < 5000; ++i) {
        stream += rmc;
        stream += std::string("\xA0\xA2\x00\x02\x84\x00\x00\x84\xB0\xB3", 10);
        stream += Bytes(static_cast<size_t>(37 * (i % 5)), static_cast<uint32_t>(i));
        stream += gga;
    }
    auto application = Application();
    size_t at = 0;
    for (size_t tick = 0; at < stream.size(); ++tick) {
        const size_t length = std::min<size_t>(stream.size() - at, 1 + (tick * 97) % 510);
        device_.QueueInput(stream.substr(at, length));
        at += length;
        if (tick % 3 == 0) {
            ASSERT_EQ(application->Write("$PMTK000*32\r\n"), error::success);
            port_->DriverExchange();
        }
        port_->Poll();
    }
    port_->Close();
    EXPECT_FALSE(device_.Output().empty()) << "the application's bytes reached the receiver";
    EXPECT_EQ(files_.Files(), std::vector<std::string>{firstName});
    EXPECT_EQ(files_.Contents(firstName), stream) << "every byte, in order, nothing added";
    EXPECT_EQ(port_->bytesLogged, stream.size());
}

class TrackLogFilesPosix : public TrackLogFiles {
protected:
    TrackLogFilesPosix() : TrackLogFiles(PathStyle::Posix) {}
};

TEST_F(TrackLogFilesPosix, AbsoluteAndRelativePathsMakeTheirDirectories) {
    files_.AddDirectory("/home");
    files_.AddDirectory("/home/ann");
    SetLogPath("/home/ann/GPSLog/Gps");
    Receive(Bytes(1024));
    port_->Close();
    EXPECT_EQ(files_.Calls().front(), "MakeDirectory /home");
    EXPECT_EQ(files_.Contents("/home/ann/GPSLog/Gps.2013-05-07.14.03.gps"), Bytes(1024));

    files_.ClearCalls();
    port_->CreateLogDirectories("a//b\\c/Gps");
    port_->CreateLogDirectories("C:/x");
    EXPECT_EQ(files_.Calls(), (std::vector<std::string>{"MakeDirectory a", "MakeDirectory a//b\\c",
                                                        "MakeDirectory C:"}))
        << "no level for the empty text between doubled separators";
}

} // namespace
} // namespace tavro::testing
