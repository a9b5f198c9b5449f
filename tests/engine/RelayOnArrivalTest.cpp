// "Immediate Relay": the receiver's bytes read, relayed and decoded when the loop reports them,
// with the tick's meanings kept; writes to the receiver queued and written as its line takes
// them; the clock set from the time the sentence's burst began.
#include "tests/engine/HubEngineFixture.h"

#include <optional>

namespace tavro::testing {
namespace {

using platform::testing::fakeArrivalObject;
using platform::testing::fakeWriteObject;

class RelayOnArrivalTest : public HubEngineFixture {
protected:
    RelayOnArrivalTest() { StoreSetting("Immediate Relay", 1); }

    // What the loop would wait on now.
    std::vector<platform::WaitEntry> Waits() {
        platform::WaitEntry entries[8];
        const uint32_t count = engine_.CollectWaits(entries, 8);
        return {entries, entries + count};
    }
    std::optional<platform::WaitEntry> Wait(uint8_t events) {
        for (const platform::WaitEntry& entry : Waits()) {
            if (entry.events == events) {
                return entry;
            }
        }
        return std::nullopt;
    }

    // The receiver sends `bytes` and the loop reports them at once, between ticks.
    void Arrive(std::string_view bytes, uint8_t more = 0) {
        receiver_.QueueInput(bytes);
        const auto input = Wait(platform::waitInput);
        ASSERT_TRUE(input.has_value());
        EXPECT_EQ(input->object, fakeArrivalObject);
        engine_.WaitReady(input->token, platform::waitInput | more);
    }
    void LineTakesMore() {
        const auto output = Wait(platform::waitOutput);
        ASSERT_TRUE(output.has_value());
        EXPECT_EQ(output->object, fakeWriteObject);
        engine_.WaitReady(output->token, platform::waitOutput);
    }
};

TEST_F(RelayOnArrivalTest, EverythingThatArrivedIsRelayedAndDecodedAtOnceCountedOncePerTick) {
    StartAndOpen();
    auto application = Application();
    // More than one tick's 510 bytes, with a run of 600 bytes that is cut at 510.
    std::string bytes;
    for (int i = 0; i < 6; ++i) {
        bytes += validRmc;
    }
    bytes += std::string(600, 'x') + "\n" + validRmc;
    const uint32_t sentences = Hub().loop.sentenceCount;
    Arrive(bytes);
    EXPECT_EQ(control_.broadcast, bytes) << "relayed as read, no tick needed";
    EXPECT_EQ(application->ReadNow(), bytes);
    EXPECT_EQ(Block().rmcCount, 7);
    EXPECT_EQ(Hub().loop.sentenceCount, sentences + 1) << "counts ticks with a frame";
    Arrive(validRmc);
    EXPECT_EQ(Hub().loop.sentenceCount, sentences + 1);
    Tick();
    Arrive(validRmc);
    EXPECT_EQ(Hub().loop.sentenceCount, sentences + 2);
    EXPECT_EQ(Hub().loop.idleTicks, 0u);
}

TEST_F(RelayOnArrivalTest, NmeaFilterAndHoldKeepTheirMeaning) {
    const std::string broken = "$GPRMC,garbled*00\r\n";
    struct Case {
        uint32_t options;
        HubCommand command;
        std::string relayed;
        int decoded;
    };
    StartAndOpen();
    for (const Case& c : {Case{OptionFlags::nmeaFilter, HubCommand::ReleaseRelay, validRmc, 1},
                          Case{0, HubCommand::HoldRelay, "", 0}}) {
        Hub().settings.optionFlags = c.options;
        Command(c.command);
        control_.broadcast.clear();
        const int before = Block().rmcCount;
        Arrive(broken + validRmc);
        EXPECT_EQ(control_.broadcast, c.relayed) << c.options;
        EXPECT_EQ(Block().rmcCount - before, c.decoded) << c.options;
    }
}

TEST_F(RelayOnArrivalTest, WritesWaitForTheLineWithoutHoldingTheLoopAndDoNotMix) {
    StartAndOpen();
    auto first = Application(firstVirtualCom);
    auto second = Application(firstVirtualCom + 1);
    EXPECT_FALSE(Wait(platform::waitOutput)) << "nothing to write, nothing to wait for";
    receiver_.LimitWrites(10);
    const std::string query = Nmea("PMTK000");
    std::string longLine = "$PMTK314";
    for (int i = 0; i < 40; ++i) {
        longLine += ",1";
    }
    longLine += "*00\r\n";
    ASSERT_EQ(first->Write(longLine), error::success);
    ASSERT_EQ(second->Write(query), error::success);
    Tick();
    EXPECT_EQ(receiver_.Output().size(), 10u) << "what the line took, and no more waiting";
    // A command's sentence waits for the line already begun.
    Command(HubCommand::WriteToReceiver, query);
    for (int i = 0; i < 100 && Wait(platform::waitOutput); ++i) {
        LineTakesMore();
    }
    EXPECT_EQ(receiver_.Output(), longLine + query + query);
    EXPECT_FALSE(Wait(platform::waitOutput));
}

TEST_F(RelayOnArrivalTest, TheDriverKeepsClientBytesWhileTheQueueCannotTakeARecord) {
    StartAndOpen();
    auto application = Application();
    receiver_.LimitWrites(0);
    std::string bytes;
    for (int i = 0; bytes.size() < 5000; ++i) {
        bytes += Nmea("PMTK000," + std::to_string(i));
    }
    ASSERT_EQ(application->Write(bytes.substr(0, 3000)), error::success);
    Tick(3);
    ASSERT_EQ(application->Write(bytes.substr(3000)), error::success);
    Tick();
    const uint32_t exchanges = control_.exchanges;
    Tick(3);
    EXPECT_EQ(control_.exchanges, exchanges) << "no room for a record: no exchange";
    receiver_.LimitWrites(UINT32_MAX);
    LineTakesMore();
    Tick(3);
    EXPECT_GT(control_.exchanges, exchanges);
    EXPECT_EQ(receiver_.Output(), bytes) << "every byte, in order";
}

TEST_F(RelayOnArrivalTest, AHungUpLineIsNoLongerWaitedForUntilItIsOpenedAgain) {
    StartAndOpen();
    Arrive(validRmc, platform::waitHangUp);
    EXPECT_TRUE(Wait(platform::waitInput)) << "bytes came with the hang-up: still up";
    Arrive("", platform::waitHangUp);
    EXPECT_FALSE(Wait(platform::waitInput));
    Tick(150); // the idle re-open
    EXPECT_TRUE(Wait(platform::waitInput));
}

TEST_F(RelayOnArrivalTest, TheClockIsSetFromWhenTheSentencesBurstBegan) {
    StoreSetting("Sync", OptionFlags::autoTimeSync);
    StoreSetting("Baud", 115200);
    StartAndOpen();
    // The first read's bytes took the line this long to carry: its first byte came that early.
    const uint16_t gsaOnTheLine = static_cast<uint16_t>((fix3dGsa.size() - 1) * 10000 / 115200);
    const std::string wholeMinute =
        Nmea("GPRMC,123500.000,A,4807.038,N,01131.000,E,022.4,084.4,230313,003.1,W");
    const std::string lost = Nmea("GPRMC,123400.000,V,,,,,,,230313,,");
    struct Case {
        uint32_t stepMs;   // between the pieces of the burst
        uint32_t steps;    // pieces before the RMC
        uint16_t expectMs; // milliseconds of the time set
    };
    // A burst of 350 ms (pauses under 40 ms); a line that never pauses for a second and more
    // tells nothing, and the fixed allowance of 10 ms stays.
    const std::string gsv = Nmea("GPGSV,1,1,00");
    for (const Case& c : {Case{35, 10, 350}, Case{30, 40, 10}}) {
        timing_.Advance(2000);
        for (uint32_t i = 0; i < c.steps; ++i) {
            Arrive(i == 0 ? fix3dGsa : gsv);
            timing_.Advance(c.stepMs);
        }
        Arrive(wholeMinute);
        ASSERT_FALSE(clock_.Calls().empty());
        EXPECT_EQ(clock_.Calls().back().wMinute, 35);
        EXPECT_EQ(clock_.Calls().back().wSecond, 0);
        EXPECT_EQ(clock_.Calls().back().wMilliseconds,
                  c.expectMs + (c.expectMs != 10 ? gsaOnTheLine : 0));
        Arrive(lost); // a fix lost: the next one may set the clock again
    }
    EXPECT_EQ(clock_.Calls().size(), 2u);
}

} // namespace
} // namespace tavro::testing
