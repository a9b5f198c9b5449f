// Commands of other programs (WM_COPYDATA): holding and releasing the relay, injected frames,
// bytes for the receiver, a requested line speed; and what unsafe payloads get.
#include "tests/engine/HubEngineFixture.h"

#include <stdint.h>

namespace tavro::testing {
namespace {

using HubCommandTest = HubEngineFixture;

TEST_F(HubCommandTest, HoldStopsDecodingAndRelayOfTheReceiverUntilRelease) {
    StartAndOpen();
    auto application = Application();
    Receive(validRmc);
    ASSERT_EQ(Block().rmcCount, 1);
    ASSERT_EQ(application->ReadNow(), validRmc);

    Command(HubCommand::HoldRelay);
    EXPECT_EQ(Port().relayHeld, 1);
    EXPECT_EQ(Block().relayHeld, 1);
    Receive(validRmc);
    Receive(validRmc);
    EXPECT_EQ(Block().rmcCount, 1);
    EXPECT_EQ(application->ReadNow(), "");
    // The bytes are still read: the receiver's queue is drained.
    EXPECT_EQ(Hub().loop.sentenceCount, 3u);

    // The hold survives a re-open of the port.
    Tick(150);
    ASSERT_EQ(ReceiverOpens(), 2u);
    EXPECT_EQ(Port().relayHeld, 1);
    EXPECT_EQ(Block().relayHeld, 1);

    Command(HubCommand::ReleaseRelay);
    EXPECT_EQ(Port().relayHeld, 0);
    EXPECT_EQ(Block().relayHeld, 0);
    Receive(validRmc);
    EXPECT_EQ(Block().rmcCount, 2);
    EXPECT_EQ(application->ReadNow(), validRmc);
}

TEST_F(HubCommandTest, InjectedFramesAreDecodedWhileHeldButNotRelayed) {
    StartAndOpen();
    auto application = Application();
    Command(HubCommand::HoldRelay);
    Command(HubCommand::InjectFrame, validRmc);
    EXPECT_EQ(Block().rmcCount, 1);
    EXPECT_FLOAT_EQ(Block().speedKnots, 22.4f);
    Tick();
    EXPECT_EQ(application->ReadNow(), "");

    Command(HubCommand::ReleaseRelay);
    Command(HubCommand::InjectFrame, validRmc);
    EXPECT_EQ(Block().rmcCount, 2);
    Tick();
    EXPECT_EQ(application->ReadNow(), validRmc);
}

TEST_F(HubCommandTest, InjectedFramesAreRelayedWhateverTheNmeaFilter) {
    StoreSetting("Sync", OptionFlags::nmeaFilter);
    StartAndOpen();
    auto application = Application();
    Command(HubCommand::InjectFrame, validRmc);
    Tick();
    EXPECT_EQ(application->ReadNow(), validRmc);
}

TEST_F(HubCommandTest, InjectionLeavesTheSendersBytesAndAHalfReceivedFrameAlone) {
    StartAndOpen();
    // Half a sentence from the receiver waits in the frame buffer.
    const std::string first = validRmc.substr(0, 20);
    Receive(first);
    ASSERT_EQ(Port().framing.PendingLength(), first.size());

    const std::string payload = validRmc;
    Command(HubCommand::InjectFrame, payload);
    EXPECT_EQ(payload, validRmc);
    EXPECT_EQ(Block().rmcCount, 1);

    Receive(validRmc.substr(20));
    EXPECT_EQ(Block().rmcCount, 2);
}

TEST_F(HubCommandTest, InjectFrameTakesUpTo510BytesAndRefusesLongerPayloads) {
    StartAndOpen();
    auto application = Application();

    // 510 bytes: a sentence padded with blanks after its line feed, as long as a frame can be.
    std::string longest = validRmc;
    longest.resize(510, ' ');
    Command(HubCommand::InjectFrame, longest);
    EXPECT_EQ(Block().rmcCount, 1);

    std::string tooLong = validRmc;
    tooLong.resize(511, ' ');
    Command(HubCommand::InjectFrame, tooLong);
    std::string huge(100000, 'x');
    huge.replace(0, validRmc.size(), validRmc);
    Command(HubCommand::InjectFrame, huge);
    EXPECT_EQ(Block().rmcCount, 1);
    Tick();
    EXPECT_EQ(application->ReadNow().size(), 510u);
}

TEST_F(HubCommandTest, EmptyOrMissingPayloadsDoNothing) {
    StartAndOpen();
    const uint32_t checksumErrors = Port().checksumErrors;
    Command(HubCommand::InjectFrame, nullptr, 0);
    Command(HubCommand::InjectFrame, nullptr, 80);
    Command(HubCommand::InjectFrame, validRmc.data(), 0);
    Command(HubCommand::WriteToReceiver, nullptr, 16);
    Command(HubCommand::ChangeBaud, nullptr, 4);
    EXPECT_EQ(Block().rmcCount, 0);
    EXPECT_EQ(Port().checksumErrors, checksumErrors);
    EXPECT_EQ(receiver_.Output(), "");
    EXPECT_EQ(Hub().requestedBaud, 0u);
}

TEST_F(HubCommandTest, InjectedFrameWithABadChecksumCountsAsAChecksumError) {
    StartAndOpen();
    std::string bad = validRmc;
    bad[10] = bad[10] == '1' ? '2' : '1';
    Command(HubCommand::InjectFrame, bad);
    EXPECT_EQ(Block().rmcCount, 0);
    EXPECT_EQ(Port().checksumErrors, 1);
}

TEST_F(HubCommandTest, WriteGoesToAnOpenReceiverExactlyAndIsDroppedWhileClosed) {
    Start(true);
    // Before the first open: the port is closed.
    const char sentence[] = "$PMTK220,1000*1F\r\n"; // sent with its NUL, as the setup tool does
    Command(HubCommand::WriteToReceiver, sentence, sizeof sentence);
    Tick(ticksToFirstOpen);
    ASSERT_TRUE(Hub().InputPortOpen());
    EXPECT_EQ(receiver_.Output(), "");

    Command(HubCommand::WriteToReceiver, sentence, sizeof sentence);
    EXPECT_EQ(receiver_.TakeOutput(), std::string(sentence, sizeof sentence));
    // A payload larger than any exchange is still written whole, in one write, up to the
    // bound; above it, it is dropped whole.
    const std::string big(writeToReceiverMax, 'a');
    Command(HubCommand::WriteToReceiver, big);
    EXPECT_EQ(receiver_.TakeOutput(), big);
    Command(HubCommand::WriteToReceiver, big + "a");
    EXPECT_EQ(receiver_.TakeOutput(), "");
}

TEST_F(HubCommandTest, ChangeBaudWaitsForAFrameWithoutAQuestionMarkThenReopensAtTheSpeed) {
    StartAndOpen();
    mainWindow_.exists = true;
    const uint32_t speed = 38400;
    Command(HubCommand::ChangeBaud, &speed, sizeof speed);
    EXPECT_EQ(Hub().requestedBaud, 38400u);

    // The receiver's acknowledgement still carries "?" in garbage: the port stays as it is.
    Receive("$PMTK001,251,3*36 ?garbled\r\n");
    EXPECT_EQ(ReceiverOpens(), 1u);
    EXPECT_EQ(Hub().settings.baud, 4800u);

    auto application = Application();
    Receive(validRmc);
    EXPECT_EQ(Hub().settings.baud, 38400u);
    EXPECT_EQ(Hub().requestedBaud, 0u);
    EXPECT_EQ(Hub().reopenPending, 0);
    EXPECT_EQ(mainWindow_.baudChanges, 1u);
    // Closed at once; the receiver's 200 ms pass on the timer loop, which keeps relaying.
    EXPECT_FALSE(Hub().InputPortOpen());
    application->ReadNow(); // the received frame
    Command(HubCommand::InjectFrame, validRmc);
    TickAfter(199);
    EXPECT_EQ(application->ReadNow(), validRmc);
    EXPECT_EQ(ReceiverOpens(), 1u);
    TickAfter(1);
    EXPECT_EQ(ReceiverOpens(), 2u);
    EXPECT_TRUE(timing_.Sleeps().empty());
    EXPECT_EQ(receiver_.State().BaudRate, 38400u);
    EXPECT_EQ(Block().baudRate, 38400u);
    EXPECT_EQ(Hub().loop.lastStatus, 5u);
}

TEST_F(HubCommandTest, ChangeBaudWithoutAMainWindowPostsNothing) {
    StartAndOpen();
    const uint32_t speed = 9600;
    Command(HubCommand::ChangeBaud, &speed, sizeof speed);
    Receive(validRmc);
    EXPECT_EQ(Hub().settings.baud, 9600u);
    EXPECT_EQ(mainWindow_.baudChanges, 0u);
}

TEST_F(HubCommandTest, ChangeBaudRefusesShortPayloadsAndReadsOnlyFourBytes) {
    Start(true);
    const uint8_t three[3] = {0x80, 0x25, 0x00};
    Command(HubCommand::ChangeBaud, three, sizeof three);
    EXPECT_EQ(Hub().requestedBaud, 0u);

    const uint8_t six[6] = {0x80, 0x25, 0x00, 0x00, 0xFF, 0xFF}; // 9600, then trailing bytes
    Command(HubCommand::ChangeBaud, six, sizeof six);
    EXPECT_EQ(Hub().requestedBaud, 9600u);

    // Unaligned payloads are read byte by byte.
    uint8_t shifted[5] = {0, 0x00, 0xC2, 0x01, 0x00}; // 115200 from offset 1
    Command(HubCommand::ChangeBaud, shifted + 1, 4);
    EXPECT_EQ(Hub().requestedBaud, 115200u);
}

TEST_F(HubCommandTest, RelayAndWriteNeedTheInputPortObject) {
    // Before the message window is initialised there is no input port object.
    Command(HubCommand::HoldRelay);
    Command(HubCommand::InjectFrame, validRmc);
    const uint32_t speed = 9600;
    Command(HubCommand::ChangeBaud, &speed, sizeof speed);
    EXPECT_EQ(Hub().requestedBaud, 9600u);
    EXPECT_EQ(Block().relayHeld, 0);
    EXPECT_EQ(Block().rmcCount, 0);
}

TEST_F(HubCommandTest, UnknownCodesAreIgnored) {
    StartAndOpen();
    engine_.CopyData(5, validRmc.data(), static_cast<uint32_t>(validRmc.size()));
    engine_.CopyData(0xFFFFFFFF, validRmc.data(), static_cast<uint32_t>(validRmc.size()));
    EXPECT_EQ(Block().rmcCount, 0);
    EXPECT_EQ(receiver_.Output(), "");
    EXPECT_EQ(Hub().requestedBaud, 0u);
    EXPECT_EQ(Block().relayHeld, 0);
}

} // namespace
} // namespace tavro::testing
