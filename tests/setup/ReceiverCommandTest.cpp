// The MTK sentences and how they travel to the hub.
#include "setup/ReceiverCommand.h"

#include "tests/setup/SetupFakes.h"

#include <gtest/gtest.h>

#include <cstring>

namespace tavro::setup {
namespace {

using testing::RecordingHubLink;

std::string Built(ReceiverCommandKind kind, uint32_t value = 0, const SentenceRates& rates = {}) {
    ReceiverSentence sentence;
    EXPECT_TRUE(BuildReceiverSentence(kind, value, rates, sentence));
    EXPECT_EQ(sentence.length, std::strlen(sentence.text) + 1) << "the NUL is counted";
    return sentence.text;
}

TEST(ReceiverCommandTest, EachKindBuildsItsSentenceWithChecksumAndLineEnd) {
    EXPECT_EQ(Built(ReceiverCommandKind::Speed, 38400), "$PMTK251,38400*27\r\n");
    EXPECT_EQ(Built(ReceiverCommandKind::FixRate, 200), "$PMTK300,200,0,0,0,0*2F\r\n");
    EXPECT_EQ(Built(ReceiverCommandKind::QueryFixRate), "$PMTK400*36\r\n");
    EXPECT_EQ(Built(ReceiverCommandKind::QuerySentenceRates), "$PMTK414*33\r\n");
    EXPECT_EQ(Built(ReceiverCommandKind::DefaultSentenceRates), "$PMTK314,-1*04\r\n");
    SentenceRates rates{};
    rates[1] = 1; // RMC
    rates[3] = 1; // GGA
    rates[4] = 1; // GSA
    rates[5] = 5; // GSV
    EXPECT_EQ(Built(ReceiverCommandKind::SetSentenceRates, 0, rates),
              "$PMTK314,0,1,0,1,1,5,0,0,0,0,0,0,0,0,0,0,0,0,0*2C\r\n");
}

TEST(ReceiverCommandTest, ChecksumDigitsAreUpperCaseAndPadded) {
    // XOR of "PMTK300,1000,0,0,0,0" is 0x1C; of "PMTK251,4800" 0x14: both need two digits.
    EXPECT_EQ(Built(ReceiverCommandKind::FixRate, 1000), "$PMTK300,1000,0,0,0,0*1C\r\n");
    EXPECT_EQ(Built(ReceiverCommandKind::Speed, 4800), "$PMTK251,4800*14\r\n");
    EXPECT_EQ(SentenceChecksum("$"), 0);
    EXPECT_EQ(SentenceChecksum(""), 0);
    EXPECT_EQ(SentenceChecksum("$A"), 'A');
}

TEST(ReceiverCommandTest, ReservedSlotsGoAsZeroAndTheLargestRatesStillFit) {
    SentenceRates rates;
    rates.fill(255);
    const std::string sentence = Built(ReceiverCommandKind::SetSentenceRates, 0, rates);
    EXPECT_EQ(sentence.substr(0, 58), "$PMTK314,255,255,255,255,255,255,255,255,0,0,0,0,0,0,0,0,0");
    EXPECT_EQ(sentence.substr(58, 9), ",255,255*");
    EXPECT_EQ(Built(ReceiverCommandKind::Speed, 4294967295u).substr(0, 20), "$PMTK251,4294967295*");
}

TEST(ReceiverCommandTest, SetBaudRateSendsTheSentenceWithItsNulThenTheSpeed) {
    RecordingHubLink hub;
    EXPECT_EQ(SendReceiverCommand(hub, ReceiverCommandKind::Speed, 38400, {}), error::success);
    ASSERT_EQ(hub.sent.size(), 2u);
    EXPECT_EQ(hub.sent[0].code, HubCommand::WriteToReceiver);
    EXPECT_EQ(hub.sent[0].payload.size(), 20u);
    EXPECT_EQ(hub.sent[0].payload, std::string("$PMTK251,38400*27\r\n", 20));
    EXPECT_EQ(hub.sent[1].code, HubCommand::ChangeBaud);
    EXPECT_EQ(hub.sent[1].payload, std::string("\x00\x96\x00\x00", 4)) << "38400 little-endian";
}

TEST(ReceiverCommandTest, OnlyTheSpeedIsFollowedByChangeBaud) {
    for (const ReceiverCommandKind kind :
         {ReceiverCommandKind::FixRate, ReceiverCommandKind::QueryFixRate,
          ReceiverCommandKind::QuerySentenceRates, ReceiverCommandKind::SetSentenceRates,
          ReceiverCommandKind::DefaultSentenceRates}) {
        RecordingHubLink hub;
        SendReceiverCommand(hub, kind, 1000, {});
        ASSERT_EQ(hub.sent.size(), 1u);
        EXPECT_EQ(hub.sent[0].code, HubCommand::WriteToReceiver);
    }
}

TEST(ReceiverCommandTest, WithoutAHubNothingIsSent) {
    RecordingHubLink hub;
    hub.running = false;
    EXPECT_EQ(SendReceiverCommand(hub, ReceiverCommandKind::Speed, 9600, {}), error::fileNotFound);
    EXPECT_EQ(hub.finds, 1);
    EXPECT_TRUE(hub.sent.empty());
}

TEST(ReceiverCommandTest, TheSpeedFollowsEvenWhenTheSentenceTimedOut) {
    RecordingHubLink hub;
    hub.sendResult = error::semTimeout;
    EXPECT_EQ(SendReceiverCommand(hub, ReceiverCommandKind::Speed, 9600, {}), error::semTimeout);
    ASSERT_EQ(hub.sent.size(), 2u) << "the receiver may have switched: the hub must follow";
    EXPECT_EQ(hub.sent[1].code, HubCommand::ChangeBaud);
}

TEST(ReceiverCommandTest, AnUnknownKindBuildsNothingAndSendsNothing) {
    RecordingHubLink hub;
    const auto unknown = static_cast<ReceiverCommandKind>(42);
    ReceiverSentence sentence;
    EXPECT_FALSE(BuildReceiverSentence(unknown, 0, {}, sentence));
    EXPECT_EQ(sentence.length, 0u);
    EXPECT_EQ(SendReceiverCommand(hub, unknown, 0, {}), error::invalidParameter);
    EXPECT_TRUE(hub.sent.empty());
}

} // namespace
} // namespace tavro::setup
