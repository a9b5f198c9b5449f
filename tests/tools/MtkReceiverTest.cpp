// The MTK command handling: answers the hub decodes, and settings that follow the commands.
#include "tools/gps-sim/MtkReceiver.h"

#include "tools/gps-sim/NmeaSentence.h"

#include "tests/tools/SentenceCheck.h"

#include <gtest/gtest.h>

namespace tavro::gpssim {
namespace {

using testing::ChecksumHolds;
using testing::Fields;

class MtkReceiverTest : public ::testing::Test {
protected:
    // Sends one command (framed here) and returns the answers.
    std::vector<std::string> Send(const std::string& body) {
        std::vector<MtkReply> replies;
        receiver_.Feed(FrameSentence(body), replies);
        std::vector<std::string> sentences;
        for (const MtkReply& reply : replies) {
            lastSwitch_ = reply.switchBaud;
            for (const std::string& sentence : reply.sentences) {
                EXPECT_TRUE(ChecksumHolds(sentence)) << sentence;
                sentences.push_back(sentence);
            }
        }
        return sentences;
    }

    std::vector<int> QueriedRates() {
        const auto answer = Send("PMTK414");
        EXPECT_EQ(answer.size(), 1u);
        const auto fields = Fields(answer.at(0));
        EXPECT_EQ(fields[0], "PMTK514");
        EXPECT_EQ(fields.size(), 20u) << "19 rates";
        std::vector<int> rates;
        for (size_t i = 1; i < fields.size(); ++i) {
            rates.push_back(std::stoi(fields[i]));
        }
        return rates;
    }

    MtkReceiver receiver_{4800, 1000};
    uint32_t lastSwitch_ = 0;
};

TEST_F(MtkReceiverTest, QueriesReportTheCurrentSettings) {
    EXPECT_EQ(Send("PMTK400"), std::vector<std::string>{"$PMTK500,1000,0,0,0,0*1A\r\n"});
    EXPECT_EQ(QueriedRates(),
              (std::vector<int>{0, 1, 0, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Send("PMTK607"),
              std::vector<std::string>{FrameSentence("PMTK707,0,0,0,0,0,0,0,0,0")});
    EXPECT_EQ(Send("PMTK000"), std::vector<std::string>{"$PMTK001,0,3*30\r\n"});
}

TEST_F(MtkReceiverTest, FixIntervalIsObeyedWithinItsRange) {
    EXPECT_EQ(Send("PMTK300,200,0,0,0,0"), std::vector<std::string>{"$PMTK001,300,3*33\r\n"});
    EXPECT_EQ(receiver_.FixIntervalMs(), 200u);
    EXPECT_EQ(Send("PMTK400"), std::vector<std::string>{FrameSentence("PMTK500,200,0,0,0,0")});
    EXPECT_EQ(Send("PMTK220,500"), std::vector<std::string>{FrameSentence("PMTK001,220,3")});
    EXPECT_EQ(receiver_.FixIntervalMs(), 500u);
    for (const char* refused : {"PMTK300,50,0,0,0,0", "PMTK300,20000,0,0,0,0", "PMTK300,fast",
                                "PMTK300", "PMTK300,-100"}) {
        SCOPED_TRACE(refused);
        EXPECT_EQ(Send(refused), std::vector<std::string>{FrameSentence("PMTK001,300,2")});
        EXPECT_EQ(receiver_.FixIntervalMs(), 500u);
    }
}

TEST_F(MtkReceiverTest, SentenceRatesAreSetQueriedAndReset) {
    // What the setup tool sends for RMC, GGA and GSA each fix and GSV every 5th.
    EXPECT_EQ(Send("PMTK314,0,1,0,1,1,5,0,0,0,0,0,0,0,0,0,0,0,0,0"),
              std::vector<std::string>{FrameSentence("PMTK001,314,3")});
    EXPECT_EQ(QueriedRates(),
              (std::vector<int>{0, 1, 0, 1, 1, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(receiver_.Rates()[slotGsv], 5);

    // Fewer values: the rest are off. Reserved slots stay 0 whatever is sent.
    Send("PMTK314,1,1,1,0,0,0,0,0,3,3,3");
    EXPECT_EQ(QueriedRates(),
              (std::vector<int>{1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));

    EXPECT_EQ(Send("PMTK314,-1"), std::vector<std::string>{FrameSentence("PMTK001,314,3")});
    EXPECT_EQ(QueriedRates(),
              (std::vector<int>{0, 1, 0, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(MtkReceiverDefaults, AMultiConstellationReceiverStartsWithAndRestoresItsOwn) {
    MtkReceiver receiver(4800, 1000, multiGnssSentenceRates);
    EXPECT_EQ(receiver.Rates(), multiGnssSentenceRates);
    std::vector<MtkReply> replies;
    receiver.Feed(FrameSentence("PMTK314,0,1,0,0,0,0"), replies);
    EXPECT_EQ(receiver.Rates()[slotVtg], 0);
    receiver.Feed(FrameSentence("PMTK314,-1"), replies);
    EXPECT_EQ(receiver.Rates(), multiGnssSentenceRates);
    EXPECT_EQ(receiver.Rates()[slotGll], 1);
    EXPECT_EQ(receiver.Rates()[slotVtg], 1);
}

TEST_F(MtkReceiverTest, ImpossibleRatesAreRefusedAndChangeNothing) {
    Send("PMTK314,0,1,0,1,1,2,0,0,0,0,0,0,0,0,0,0,0,0,0");
    const auto before = QueriedRates();
    for (const char* refused :
         {"PMTK314,0,1,0,1,1,6,0,0,0,0,0,0,0,0,0,0,0,0,0",  // above 5
          "PMTK314,0,-1,0,1,1,1,0,0,0,0,0,0,0,0,0,0,0,0,0", // a list without a selection
          "PMTK314,0,1,x,1,1,1,0,0,0,0,0,0,0,0,0,0,0,0,0",
          "PMTK314,0,1,0,1,1,1,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0", // 21 values
          "PMTK314"}) {
        SCOPED_TRACE(refused);
        EXPECT_EQ(Send(refused), std::vector<std::string>{FrameSentence("PMTK001,314,2")});
        EXPECT_EQ(QueriedRates(), before);
    }
    // A twentieth value, which some firmware has, is accepted.
    EXPECT_EQ(Send("PMTK314,0,1,0,1,1,1,0,0,0,0,0,0,0,0,0,0,0,0,0,0"),
              std::vector<std::string>{FrameSentence("PMTK001,314,3")});
}

TEST_F(MtkReceiverTest, SpeedChangesAreAcknowledgedThenTakeEffect) {
    EXPECT_EQ(Send("PMTK251,38400"), std::vector<std::string>{FrameSentence("PMTK001,251,3")});
    EXPECT_EQ(lastSwitch_, 38400u);
    EXPECT_EQ(Send("PMTK251,0"), std::vector<std::string>{FrameSentence("PMTK001,251,3")});
    EXPECT_EQ(lastSwitch_, 4800u) << "0 means the default speed";
    EXPECT_EQ(Send("PMTK251,1234"), std::vector<std::string>{FrameSentence("PMTK001,251,2")});
    EXPECT_EQ(lastSwitch_, 0u);
    EXPECT_EQ(Send("PMTK251,187500"), std::vector<std::string>{FrameSentence("PMTK001,251,2")})
        << "an MTK receiver has no 187500";
}

TEST_F(MtkReceiverTest, UnknownCommandsAreUnsupportedAndNoiseIsIgnored) {
    EXPECT_EQ(Send("PMTK605"), std::vector<std::string>{FrameSentence("PMTK001,605,1")});
    EXPECT_TRUE(Send("PSRF100,1,9600,8,1,0").empty()) << "not an MTK command";
    EXPECT_TRUE(Send("PMTK40").empty());
    EXPECT_TRUE(Send("PMTKABC").empty());

    std::vector<MtkReply> replies;
    receiver_.Feed("$PMTK400*37\r\n", replies); // wrong checksum
    receiver_.Feed("$PMTK400\r\n", replies);    // none at all
    EXPECT_TRUE(replies.empty());
    receiver_.Feed("$pmtk400*36\r\n", replies); // lower case is another sentence
    EXPECT_TRUE(replies.empty());
}

TEST_F(MtkReceiverTest, CommandsAreAssembledAcrossReadsAndNoise) {
    std::vector<MtkReply> replies;
    receiver_.Feed("\xFF\x13garbage$PMT", replies);
    receiver_.Feed("K4", replies);
    EXPECT_TRUE(replies.empty());
    receiver_.Feed("14*33\r", replies);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].command, "PMTK414");
    // A cut sentence is abandoned at the next "$".
    receiver_.Feed("$PMTK30$PMTK400*36\n", replies);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[1].sentences.at(0), "$PMTK500,1000,0,0,0,0*1A\r\n");
    // A runaway line is dropped whole, and the next command still works.
    receiver_.Feed("$" + std::string(10000, 'A'), replies);
    receiver_.Feed("*00\r\n$PMTK000*32\r\n", replies);
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_EQ(replies[2].command, "PMTK000");
}

} // namespace
} // namespace tavro::gpssim
