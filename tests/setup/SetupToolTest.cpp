// The dialog's behaviour without the dialog: start-up, the 200 ms tick, the controls, exit.
#include "setup/SetupTool.h"

#include "setup/StatusText.h"
#include "tests/setup/SetupFakes.h"

#include <gtest/gtest.h>

namespace tavro::setup {
namespace {

using testing::HubMapping;
using testing::RecordingHubLink;
using testing::RecordingView;

class SetupToolTest : public ::testing::Test {
protected:
    // A hub whose receiver streams NMEA at 4800 and has not answered any query yet.
    void SetUp() override {
        GpsSharedStatus& block = mapping_.block;
        block.streamState = static_cast<uint8_t>(StreamState::NmeaStream);
        block.fixState = static_cast<uint8_t>(FixState::Fix3D);
        block.refCount = 1;
        block.rmcCount = 17;
        block.baudRate = 4800;
    }

    GpsSharedStatus& HubBlock() { return mapping_.block; }

    // The receiver's answers as the hub decodes them.
    void ReplyFixInterval(int16_t interval) {
        HubBlock().fixInterval = interval;
        HubBlock().replyFlags |= replyFixInterval;
    }
    void ReplyRates(const SentenceRates& rates) {
        for (size_t slot = 0; slot < sentenceSlotCount; ++slot) {
            HubBlock().nmeaRates[slot] = rates[slot];
        }
        HubBlock().replyFlags |= replyNmeaRates;
    }

    HubMapping mapping_;
    StatusBlock status_{mapping_};
    RecordingHubLink hub_;
    RecordingView view_;
    SetupTool tool_{status_, hub_, view_};
};

TEST_F(SetupToolTest, StartCountsItselfInClearsTheRepliesAndAsksTheReceiver) {
    HubBlock().replyFlags = replyFixInterval | replyNmeaRates | replyEpoStatus;
    tool_.Start();
    EXPECT_EQ(HubBlock().refCount, 2);
    EXPECT_EQ(HubBlock().replyFlags, 0) << "old answers must not pass for new ones";
    EXPECT_EQ(hub_.Sentences(), (std::vector<std::string>{"$PMTK400*36", "$PMTK414*33"}));
    EXPECT_EQ(view_.speedSelection, 0) << "the hub's 4800";
    EXPECT_EQ(tool_.SelectedSpeed(), 4800u);

    tool_.Finish();
    EXPECT_EQ(HubBlock().refCount, 1);
    EXPECT_EQ(mapping_.openViews, 0);
    tool_.Finish();
    EXPECT_EQ(HubBlock().refCount, 1) << "a second exit counts nothing";
}

TEST_F(SetupToolTest, WithoutAHubTheToolShowsNoGpsTheNoticeAndDropsEveryCommand) {
    mapping_.exists = false;
    hub_.running = false;
    tool_.Start();
    EXPECT_FALSE(status_.IsShared());
    EXPECT_EQ(tool_.Block().refCount, 1) << "counted in the private block";
    EXPECT_EQ(hub_.finds, 2);
    EXPECT_TRUE(hub_.sent.empty());
    EXPECT_EQ(view_.speedSelection, -1);

    tool_.Tick();
    EXPECT_EQ(view_.fixStatus, "Fix: No GPS   Fix counter: 0");
    EXPECT_EQ(view_.lineLoad, unsupportedNotice);
    EXPECT_EQ(view_.graphDrawings, 1);
    EXPECT_EQ(view_.fixRateSelections, 0) << "an interval of 0 changes nothing";

    tool_.SpeedChanged(1);
    EXPECT_EQ(view_.lineLoad, "Bandwidth: 0%") << "the lists still work";
    EXPECT_EQ(tool_.SetBaudRate(), error::fileNotFound);
    EXPECT_EQ(tool_.SetUpdateRate(), error::fileNotFound);
    EXPECT_EQ(tool_.SetNmea(), error::fileNotFound);
    EXPECT_EQ(tool_.ResetNmea(), error::fileNotFound);
    EXPECT_TRUE(hub_.sent.empty());
    tool_.Finish();
    EXPECT_EQ(HubBlock().refCount, 1) << "the hub's block was never touched";
}

TEST_F(SetupToolTest, TheTickShowsTheFixStatusFromTheBlock) {
    tool_.Start();
    tool_.Tick();
    EXPECT_EQ(view_.fixStatus, "Fix: 3D   Fix counter: 17");
    HubBlock().fixState = static_cast<uint8_t>(FixState::NoFix);
    HubBlock().rmcCount = 18;
    tool_.Tick();
    EXPECT_EQ(view_.fixStatus, "Fix: None   Fix counter: 18");
    HubBlock().streamState = static_cast<uint8_t>(StreamState::PortClosed);
    tool_.Tick();
    EXPECT_EQ(view_.fixStatus, "Fix: No GPS   Fix counter: 18");
    EXPECT_EQ(view_.graphDrawings, 3);
}

TEST_F(SetupToolTest, TheFixRateListFollowsEveryChangeOfTheInterval) {
    tool_.Start();
    ReplyFixInterval(200);
    tool_.Tick();
    EXPECT_EQ(view_.fixRateSelection, 4);
    EXPECT_EQ(tool_.RateIndex(), 4u);
    tool_.Tick();
    EXPECT_EQ(view_.fixRateSelections, 1) << "only a change selects";
    HubBlock().fixInterval = 100; // 10 Hz is not listed
    tool_.Tick();
    EXPECT_EQ(view_.fixRateSelection, 0);
    EXPECT_EQ(tool_.RateIndex(), 0u);
    EXPECT_EQ(hub_.Sentences().size(), 2u);
    tool_.SetUpdateRate();
    EXPECT_EQ(hub_.Sentences().back(), "$PMTK300,1000,0,0,0,0*1C");
}

TEST_F(SetupToolTest, RatesAreLoadedOnceAndReplaceTheNotice) {
    tool_.Start();
    tool_.Tick();
    EXPECT_EQ(view_.lineLoad, unsupportedNotice) << "no answer within the first tick";

    SentenceRates rates = DefaultSentenceRates();
    ReplyFixInterval(1000);
    ReplyRates(rates);
    tool_.Tick();
    EXPECT_TRUE(tool_.RatesLoaded());
    EXPECT_EQ(tool_.Rates(), rates);
    EXPECT_EQ(view_.sentenceSelections[5], 1);
    EXPECT_EQ(view_.sentenceSelections[0], 0);
    EXPECT_EQ(view_.sentenceSelections[8], -2) << "reserved slots have no list";
    EXPECT_EQ(view_.lineLoad, "Bandwidth: 100%");

    // A later $PMTK514 (after Reset NMEA, say) does not reload the lists.
    const int selections = view_.sentenceSelectionCalls;
    rates[0] = 3;
    ReplyRates(rates);
    tool_.Tick();
    tool_.Tick();
    EXPECT_EQ(tool_.Rates()[0], 0);
    EXPECT_EQ(view_.sentenceSelectionCalls, selections);
    EXPECT_EQ(view_.lineLoad, "Bandwidth: 100%");

    HubBlock().replyFlags = 0; // another tool started and cleared the flags
    tool_.Tick();
    EXPECT_EQ(view_.lineLoad, "Bandwidth: 100%") << "the notice is shown once per run";
}

TEST_F(SetupToolTest, AReceiverRateTheListsDoNotOfferIsKeptAndSentAsItIs) {
    tool_.Start();
    SentenceRates rates{};
    rates[1] = 1;
    rates[3] = 10;
    ReplyRates(rates);
    tool_.Tick();
    EXPECT_EQ(view_.sentenceSelections[3], -1);
    tool_.SetNmea();
    EXPECT_EQ(hub_.Sentences().back(), "$PMTK314,0,1,0,10,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0*18");
}

TEST_F(SetupToolTest, ListChangesRecomputeTheEstimate) {
    tool_.Start();
    tool_.Tick();
    for (const size_t slot : {1u, 3u, 4u, 5u}) {
        tool_.SentenceRateChanged(slot, 1);
    }
    EXPECT_EQ(view_.lineLoad, "Bandwidth: 100%");
    tool_.FixRateChanged(4);
    EXPECT_EQ(view_.lineLoad, "Bandwidth: 501%");
    tool_.SpeedChanged(5);
    EXPECT_EQ(view_.lineLoad, "Bandwidth: 20%");
    const int updates = view_.lineLoadUpdates;
    tool_.SpeedChanged(6);
    tool_.FixRateChanged(-1);
    tool_.SentenceRateChanged(5, 6);
    tool_.SentenceRateChanged(9, 1);
    EXPECT_EQ(view_.lineLoadUpdates, updates) << "indexes outside a list are ignored";
    EXPECT_EQ(tool_.SelectedSpeed(), 115200u);
    EXPECT_EQ(tool_.RateIndex(), 4u);
    EXPECT_EQ(tool_.Rates()[9], 0);
}

TEST_F(SetupToolTest, TheButtonsSendTheirSentences) {
    tool_.Start();
    tool_.SpeedChanged(3);
    tool_.SetBaudRate();
    ASSERT_EQ(hub_.sent.size(), 4u);
    EXPECT_EQ(hub_.sent[2].payload, std::string("$PMTK251,38400*27\r\n", 20));
    EXPECT_EQ(hub_.sent[3].code, HubCommand::ChangeBaud);

    tool_.FixRateChanged(4);
    tool_.SetUpdateRate();
    EXPECT_EQ(hub_.Sentences().back(), "$PMTK300,200,0,0,0,0*2F");

    tool_.SentenceRateChanged(1, 1);
    tool_.SentenceRateChanged(3, 1);
    tool_.SentenceRateChanged(4, 1);
    tool_.SentenceRateChanged(5, 5);
    for (const size_t slot : {0u, 2u, 6u, 7u, 17u, 18u}) {
        tool_.SentenceRateChanged(slot, 0);
    }
    tool_.SetNmea();
    EXPECT_EQ(hub_.Sentences().back(), "$PMTK314,0,1,0,1,1,5,0,0,0,0,0,0,0,0,0,0,0,0,0*2C");
}

TEST_F(SetupToolTest, SetNmeaSendsUntouchedListsAtTheirCurrentRateNeverMinusOne) {
    tool_.Start();
    tool_.Tick();
    tool_.SentenceRateChanged(5, 2); // only GSV chosen; nothing loaded or reset
    tool_.SetNmea();
    const std::string sent = hub_.Sentences().back();
    EXPECT_EQ(sent, "$PMTK314,0,0,0,0,0,2,0,0,0,0,0,0,0,0,0,0,0,0,0*2A");
    EXPECT_EQ(sent.find("-1"), std::string::npos);
    EXPECT_EQ(view_.sentenceSelections[0], 0) << "the lists show what the receiver was sent";
    EXPECT_EQ(view_.sentenceSelections[5], 2);

    // After a reset, untouched lists go at their defaults.
    tool_.ResetNmea();
    EXPECT_EQ(hub_.Sentences().back(), "$PMTK314,-1*04");
    EXPECT_EQ(tool_.Rates(), DefaultSentenceRates());
    EXPECT_EQ(view_.sentenceSelections[1], 1);
    EXPECT_EQ(view_.sentenceSelections[5], 1);
    EXPECT_EQ(view_.lineLoad, "Bandwidth: 100%");
    tool_.SentenceRateChanged(0, 1);
    tool_.SetNmea();
    EXPECT_EQ(hub_.Sentences().back(), "$PMTK314,1,1,0,1,1,1,0,0,0,0,0,0,0,0,0,0,0,0,0*29");
}

TEST_F(SetupToolTest, AHubSpeedTheListLacksSelectsNothingAndSetBaudRateWaitsForAChoice) {
    HubBlock().baudRate = 187500;
    tool_.Start();
    EXPECT_EQ(view_.speedSelection, -1);
    EXPECT_EQ(tool_.SelectedSpeed(), 0u);
    EXPECT_EQ(tool_.SetBaudRate(), error::invalidParameter);
    EXPECT_EQ(hub_.sent.size(), 2u) << "no $PMTK251,0: the receiver would fall back to its default";
    tool_.SpeedChanged(1);
    EXPECT_EQ(tool_.SetBaudRate(), error::success);
    EXPECT_EQ(hub_.Sentences().back(), "$PMTK251,9600*17");
}

TEST_F(SetupToolTest, AttachAloneAsksTheReceiverNothing) {
    HubBlock().replyFlags = replyNmeaRates;
    HubBlock().nmeaRates[0] = 2;
    tool_.Attach();
    EXPECT_TRUE(hub_.sent.empty());
    EXPECT_EQ(HubBlock().replyFlags, replyNmeaRates);
    tool_.Tick();
    EXPECT_TRUE(tool_.RatesLoaded()) << "rates an earlier query left are shown";
    EXPECT_EQ(tool_.Rates()[0], 2);
}

} // namespace
} // namespace tavro::setup
