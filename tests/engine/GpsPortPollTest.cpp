// Reading the receiver: framing, stream recognition, the relay to the virtual ports, the log
// buffer and the parser's recovery re-open.
#include "tests/engine/HubFixture.h"

namespace tavro::testing {
namespace {

using platform::testing::SerialOperation;

class GpsPortPoll : public HubFixture {
protected:
    GpsPortPoll() {
        port_->Open();
        EXPECT_TRUE(port_->IsOpen());
    }
};

TEST_F(GpsPortPoll, ASentenceSplitAcrossReadsCompletesOnALaterTick) {
    const size_t cut = 30;
    EXPECT_EQ(Feed(rmc.substr(0, cut)), 0u);
    EXPECT_EQ(port_->framing.PendingLength(), cut);
    EXPECT_EQ(Block().rmcCount, 0);
    EXPECT_EQ(port_->Poll(), 0u) << "nothing queued";
    EXPECT_EQ(Feed(rmc.substr(cut)), rmc.size());
    EXPECT_EQ(LineBuffer(rmc.size() + 1), rmc + '\0') << "the frame, then a zero byte";
    EXPECT_EQ(Block().rmcCount, 1);
    EXPECT_EQ(Block().fixValid, 1);
    EXPECT_EQ(Block().streamState, static_cast<uint8_t>(StreamState::NmeaStream));
    EXPECT_EQ(Feed(gga.substr(0, 5)), 0u);
    EXPECT_EQ(port_->framing.PendingLength(), 5u);
}

TEST_F(GpsPortPoll, ReturnsTheLengthOfTheLastFrameOfTheRead) {
    EXPECT_EQ(Feed(rmc + gga + "$GPGS"), gga.size());
    EXPECT_EQ(Block().rmcCount, 1);
    EXPECT_EQ(Block().fixQuality, 1) << "both frames were parsed";
}

TEST_F(GpsPortPoll, FiveHundredTenBytesWithoutTerminatorMakeOneFrame) {
    const std::string noise(510, 'x');
    EXPECT_EQ(Feed(noise + "Y1234\n"), 510u) << "one read takes at most 510 bytes";
    EXPECT_EQ(LineBuffer(511), noise + '\0');
    EXPECT_EQ(port_->Poll(), 6u) << "the 511th byte begins the next frame";
    EXPECT_EQ(LineBuffer(6), "Y1234\n");
}

TEST_F(GpsPortPoll, ReadsAtMostFiveHundredTenBytesATick) {
    std::string stream;
    while (stream.size() < 1500) {
        stream += rmc;
    }
    device_.QueueInput(stream);
    port_->Poll();
    EXPECT_EQ(log_.logged.size() + static_cast<size_t>(port_->logCount), 510u);
    port_->Poll();
    port_->Poll();
    EXPECT_EQ(port_->logCount, 3 * 510 - 1024);
    EXPECT_EQ(log_.logged, stream.substr(0, 1024)) << "one block of 1024 bytes, in order";
}

TEST_F(GpsPortPoll, StreamRecognitionMovesTheTerminator) {
    Feed("noise $PMTK001,604,3*32\r\n");
    EXPECT_EQ(port_->framing.terminator, nmeaTerminator);
    EXPECT_EQ(Block().streamState, static_cast<uint8_t>(StreamState::NmeaStream));

    Feed(std::string("\xA0\xA2\x00\x02\x84\x00\x00\x84\xB0\xB3", 10));
    EXPECT_EQ(port_->framing.terminator, sirfTerminator);
    EXPECT_EQ(Block().streamState, static_cast<uint8_t>(StreamState::SirfStream));
    EXPECT_EQ(port_->sirfMode, 1);

    // A prefix cut by the end of a read is not recognised, in either read.
    Feed("\xA0\xA2..$G");
    Feed("PGGA");
    EXPECT_EQ(port_->framing.terminator, sirfTerminator);
    Feed("!AIVDM");
    EXPECT_EQ(port_->framing.terminator, nmeaTerminator);
    for (const char* prefix : {"$PG", "$PM", "$PS", "$SD", "$HC", "$VW", "$II", "$GP"}) {
        Feed("\xA0\xA2");
        Feed(prefix);
        EXPECT_EQ(port_->framing.terminator, nmeaTerminator) << prefix;
    }
}

TEST_F(GpsPortPoll, RelaysEveryByteAsReadToTheVirtualPorts) {
    auto application = Application();
    const std::string read = "junk\xFF\n" + rmc + "$GPGGA,bad*00\r\n$GPG";
    Feed(read);
    EXPECT_EQ(application->ReadNow(), read) << "unchanged, garbage and bad sentences included";
    EXPECT_EQ(port_->checksumErrors, 1);
}

TEST_F(GpsPortPoll, NmeaFilterRelaysOnlyVerifiedFrames) {
    hub_.settings.optionFlags = OptionFlags::nmeaFilter;
    auto application = Application();
    Feed("junk\xFF\n" + rmc + "$GPGGA,bad*00\r\n" + gga.substr(0, 9));
    EXPECT_EQ(application->ReadNow(), rmc) << "the raw read is never broadcast";
    Feed(gga.substr(9));
    EXPECT_EQ(application->ReadNow(), gga);
}

TEST_F(GpsPortPoll, AHeldRelaySendsNothingButStillLogs) {
    auto application = Application();
    port_->relayHeld = 1;
    Feed(rmc);
    EXPECT_EQ(application->ReadNow(), "");
    EXPECT_EQ(Block().rmcCount, 0) << "receiver frames are not decoded while held";
    EXPECT_EQ(port_->logCount, static_cast<int32_t>(rmc.size()));

    hub_.settings.optionFlags = OptionFlags::nmeaFilter;
    Feed(rmc);
    EXPECT_EQ(application->ReadNow(), "") << "nor with the filter on";

    port_->relayHeld = 0;
    Feed(rmc);
    EXPECT_EQ(application->ReadNow(), rmc);
}

TEST_F(GpsPortPoll, WithoutTheControlDeviceReadingAndParsingGoOn) {
    auto application = Application();
    driver_.Control().Close();
    Feed(rmc);
    EXPECT_EQ(Block().rmcCount, 1);
    EXPECT_EQ(application->ReadNow(), "");
}

TEST_F(GpsPortPoll, AFrameThatBeginsWithAZeroByteShowsInLineBuffer) {
    const std::string frame = std::string(1, '\0') + rmc;
    EXPECT_EQ(Feed(frame), frame.size());
    EXPECT_EQ(hub_.lineBuffer[0], 0) << "what the timer loop looks at after a re-open";
    EXPECT_EQ(LineBuffer(frame.size()), frame);
}

TEST_F(GpsPortPoll, FailedCallsAreTreatedAsNoData) {
    device_.QueueInput(rmc);
    device_.Fail(SerialOperation::ClearCommError, error::genFailure);
    EXPECT_EQ(port_->Poll(), 0u);
    device_.Fail(SerialOperation::ClearCommError, error::success);
    device_.Fail(SerialOperation::Read, error::genFailure);
    EXPECT_EQ(port_->Poll(), 0u);
    EXPECT_EQ(port_->logCount, 0);
    device_.Fail(SerialOperation::Read, error::success);
    EXPECT_EQ(port_->Poll(), rmc.size());

    port_->Close();
    device_.QueueInput(rmc);
    EXPECT_EQ(port_->Poll(), 0u) << "a closed port reads nothing";
}

TEST_F(GpsPortPoll, LogBlocksOfTenTwentyFourBytesGoToTheTrackLog) {
    std::string stream;
    for (int i = 0; stream.size() < 3000; ++i) {
        stream += Sentence("GPTXT,01,01,02,line " + std::to_string(i));
    }
    for (size_t at = 0; at < stream.size(); at += 300) {
        Feed(stream.substr(at, 300));
    }
    EXPECT_EQ(log_.calls, (std::vector<std::string>{"FlushLog 1024", "FlushLog 1024"}));
    EXPECT_EQ(port_->logCount, static_cast<int32_t>(stream.size() - 2048));
    port_->Close();
    EXPECT_EQ(log_.logged, stream) << "every byte, in order, once";
}

// Six consecutive bad frames with "NMEA Filter" on: the seventh frame re-opens the port.
class GpsPortRecovery : public GpsPortPoll {
protected:
    void FeedBadFrames(int count) {
        for (int i = 0; i < count; ++i) {
            Feed("$GPGGA,1,2,3*00\r\n");
        }
    }
    // The timer loop's tick once the recovery's 100 ms pause is over.
    GpsPort::Reopen EndPause() {
        timing_.Advance(100);
        return port_->ReopenWhenDue();
    }
};

TEST_F(GpsPortRecovery, SixBadFramesReopenThePortAtItsOwnNumberAndSpeed) {
    hub_.settings.optionFlags = OptionFlags::nmeaFilter;
    FeedBadFrames(6);
    EXPECT_EQ(port_->checksumErrors, 6);
    EXPECT_EQ(ports_.OpenAttempts(), 1u);
    // The settings changed meanwhile; the recovery does not consult them.
    hub_.settings.port = 9;
    hub_.settings.baud = 9600;
    log_.calls.clear();

    Feed(rmc);
    // Closed at once, and the caller is not held up: the timer loop opens it again.
    EXPECT_FALSE(port_->IsOpen());
    EXPECT_EQ(device_.OpenHandles(), 0u);
    EXPECT_EQ(log_.calls.front(), "CloseLog");
    EXPECT_EQ(Block().streamState, static_cast<uint8_t>(StreamState::PortClosed));
    EXPECT_TRUE(timing_.Sleeps().empty());
    timing_.Advance(99);
    EXPECT_EQ(port_->ReopenWhenDue(), GpsPort::Reopen::None) << "not before 100 ms";
    EXPECT_EQ(ports_.OpenAttempts(), 1u);

    timing_.Advance(1);
    EXPECT_EQ(port_->ReopenWhenDue(), GpsPort::Reopen::Recovery);
    EXPECT_EQ(ports_.OpenAttempts(), 2u);
    EXPECT_TRUE(port_->IsOpen());
    EXPECT_EQ(device_.OpenHandles(), 1u);
    EXPECT_EQ(port_->checksumErrors, 0);
    EXPECT_EQ(device_.State().BaudRate, 4800u);
    EXPECT_EQ(Block().streamState, static_cast<uint8_t>(StreamState::PortOpen));
    EXPECT_EQ(Block().comPort, inputCom);
    EXPECT_EQ(Block().baudRate, 4800u);
    EXPECT_EQ(Block().rmcCount, 0) << "the frame that triggered it is not decoded";
}

TEST_F(GpsPortRecovery, ARequestedSpeedIsAppliedByTheRecovery) {
    hub_.settings.optionFlags = OptionFlags::nmeaFilter;
    FeedBadFrames(6);
    Feed(rmc);
    hub_.requestedBaud = 38400; // asked for during the pause
    EXPECT_EQ(EndPause(), GpsPort::Reopen::Recovery);
    EXPECT_EQ(hub_.requestedBaud, 0u);
    EXPECT_EQ(port_->baudRate, 38400u);
    EXPECT_EQ(device_.State().BaudRate, 38400u);
    EXPECT_EQ(Block().baudRate, 38400u);
    EXPECT_EQ(hub_.settings.baud, 4800u) << "the setting is not changed here";
}

TEST_F(GpsPortRecovery, AFailedReopenLeavesThePortClosedWithItsError) {
    hub_.settings.optionFlags = OptionFlags::nmeaFilter;
    FeedBadFrames(6);
    device_.FailOpen(error::accessDenied);
    Feed(rmc);
    EXPECT_EQ(EndPause(), GpsPort::Reopen::Recovery);
    EXPECT_FALSE(port_->IsOpen());
    EXPECT_EQ(port_->lastOpenError, error::accessDenied);
    EXPECT_EQ(Block().streamState, static_cast<uint8_t>(StreamState::PortClosed));
    EXPECT_EQ(Block().comPort, 0);
    EXPECT_EQ(port_->checksumErrors, 0);
    EXPECT_EQ(Feed(rmc), 0u) << "closed until the timer loop opens it again";
}

// A close meanwhile (standby, a search, the end) is not undone by the recovery.
TEST_F(GpsPortRecovery, ACloseDuringThePauseCancelsTheReopen) {
    hub_.settings.optionFlags = OptionFlags::nmeaFilter;
    FeedBadFrames(7);
    ASSERT_TRUE(port_->ReopenWaiting());
    port_->Close();
    EXPECT_EQ(EndPause(), GpsPort::Reopen::None);
    EXPECT_EQ(ports_.OpenAttempts(), 1u);
}

TEST_F(GpsPortRecovery, WithoutTheFilterBadFramesOnlyCount) {
    FeedBadFrames(8);
    Feed(rmc);
    EXPECT_EQ(ports_.OpenAttempts(), 1u);
    EXPECT_FALSE(port_->ReopenWaiting());
    EXPECT_EQ(Block().rmcCount, 1);
}

TEST_F(GpsPortRecovery, APlainFrameAfterChangeBaudAsksForAReopen) {
    hub_.requestedBaud = 9600;
    Feed("$PMTK001,251,3*?\r\n");
    EXPECT_EQ(hub_.reopenPending, 0) << "a frame with '?' does not count";
    Feed(rmc);
    EXPECT_EQ(hub_.reopenPending, 1);
    EXPECT_EQ(hub_.requestedBaud, 9600u) << "the timer loop applies it";
}

} // namespace
} // namespace tavro::testing
